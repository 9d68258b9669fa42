#pragma once

#include "feeds/internetdatetime.h"
#include "feeds/tfeed.h"
#include "feeds/txmlhost.h"
#include "platform/tstream.h"

#include <QByteArrayView>

#include <libxml/tree.h>

namespace feeds {

// The base of the dialect readers. A formatter serves one Read and is then freed.
class TFeedFormatter {
public:
    virtual ~TFeedFormatter() = default;
    TFeedFormatter(const TFeedFormatter&) = delete;
    TFeedFormatter& operator=(const TFeedFormatter&) = delete;

    // Parses the whole stream from its start (EInvalidXmlDocument when not well-formed), then
    // reads it.
    void Read(platform::TStream& stream, TFeed& feed);
    // Reads a parsed document, which must outlive the formatter: EFeedIsNotSupported unless
    // Accepts; then the channel, then every item, each topic without title or author taking the
    // channel's.
    void Read(const xmlDoc& document, TFeed& feed);

protected:
    TFeedFormatter() = default;

    // Whether Document is this formatter's dialect; only the root element is examined.
    virtual bool Accepts() = 0;
    virtual void ReadChannel(TChannelInfo& channel) = 0;
    // Finds the first item element (by its exact name) into FirstItemNode; no current item.
    virtual void FirstItem() = 0;
    // Advances to the next item; false when there is none.
    virtual bool NextItem() = 0;
    // Reads CurrentItemNode; EFeedTopicsExceeded when there is no current item.
    virtual void ReadItem(TTopic& topic) = 0;

    // The first item when there is no current one; else the first following sibling (of any
    // kind) whose lower-cased name is name. False, the current item unchanged, when none.
    bool FindNextItem(QByteArrayView name);

    // The document element.
    const xmlNode* Root() const;

    // The feed's dates in local time, with the offset from UTC read once when Read began.
    platform::TDateTime Rfc822Date(const xmlNode* element) const;
    platform::TDateTime Iso8601Date(const xmlNode* element) const;

    const xmlDoc* Document = nullptr;
    const xmlNode* FirstItemNode = nullptr;
    const xmlNode* CurrentItemNode = nullptr;

private:
    TXmlDocument parsed_;
    TUtcOffset localOffset_;
};

} // namespace feeds
