#include "feeds/feedformats.h"

#include "feeds/tatomformatter.h"
#include "feeds/trssformatter.h"
#include "feeds/txmlhost.h"

#include <array>
#include <exception>

namespace feeds {

namespace {

const std::array<TFeedFormatEntry, 3> kFeedFormats = {{
    {TFeedFormat::Rss, "rss", &TRSSFormatter::Create},
    {TFeedFormat::Atom10, "atom10", &TAtom10Formatter::Create},
    {TFeedFormat::Atom03, "atom03", &TAtomFormatter::Create},
}};

template <typename Parse> std::optional<TFeedFormat> Detect(Parse parse, TFeed& feed) {
    feed.Clear();
    try {
        const TXmlDocument document = parse();
        for (const TFeedFormatEntry& entry : kFeedFormats) {
            try {
                feed.LoadFromDocument(*document, entry.FormatterClass);
                return entry.Format;
            } catch (const EFeedIsNotSupported&) {
                continue;
            }
        }
    } catch (const std::exception&) {
        feed.Clear();
    }
    return std::nullopt;
}

} // namespace

std::span<const TFeedFormatEntry> FeedFormats() {
    return kFeedFormats;
}

std::optional<TFeedFormat> ParseFeed(QByteArrayView bytes, TFeed& feed) {
    return Detect([&] { return TXmlHost::Instance().Parse(bytes); }, feed);
}

std::optional<TFeedFormat> ParseFeed(platform::TStream& stream, TFeed& feed) {
    return Detect([&] { return TXmlHost::Instance().Parse(stream); }, feed);
}

} // namespace feeds
