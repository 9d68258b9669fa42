#pragma once

#include <QByteArrayView>

#include <cstdint>

namespace store {

class TChannel;
class TVelquintDoc;

// Merges a downloaded feed into a channel of the document: the channel takes the feed's title,
// description, link, copyright, author and image; every item the channel does not know yet
// becomes a new topic (with its enclosure as an attachment). No state of its own.
class TChannelLoader {
public:
    // False, with newCount 0 and the channel untouched, when no dialect reads the bytes (or
    // they are not well-formed XML). Store errors during the merge pass to the caller; the
    // topics added before them stay. The merge is one commit of the document.
    static bool LoadChannel(TVelquintDoc& doc, QByteArrayView bytes, TChannel& channel,
                            int32_t& newCount);
};

} // namespace store
