#pragma once

#include "feeds/tfeed.h"
#include "platform/tstream.h"

#include <QByteArrayView>

#include <optional>
#include <span>

namespace feeds {

enum class TFeedFormat { Rss, Atom10, Atom03 };

struct TFeedFormatEntry {
    TFeedFormat Format;
    // "rss", "atom10", "atom03".
    const char* Name;
    TFeedFormatterClass FormatterClass;
};

// The formatters in the order the detection offers a document to them: RSS, Atom 1.0, Atom 0.3.
std::span<const TFeedFormatEntry> FeedFormats();

// The detection loop: parses the bytes once and offers the document to each formatter in turn.
// The first that reads it wins; one that finds another dialect passes it on. Bytes that are not
// well-formed XML, any other failure, or no formatter accepting give nothing and leave the feed
// empty (cleared). Never raises.
std::optional<TFeedFormat> ParseFeed(QByteArrayView bytes, TFeed& feed);
// The same for the whole of a stream, read from its start.
std::optional<TFeedFormat> ParseFeed(platform::TStream& stream, TFeed& feed);

} // namespace feeds
