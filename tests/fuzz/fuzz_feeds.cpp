// Drives the feed readers over arbitrary bytes: the detection loop, then every formatter over one
// parse of the bytes, then the XML writers over the parsed document.
//
// Checks beyond "no crash, no hang, bounded memory":
// - the detection loop reports the first formatter that reads the document, and nothing (with an
//   empty feed) when the bytes are not well-formed XML;
// - a formatter that refuses the document leaves the feed empty;
// - every topic carries a title and an author when the channel has them, enclosure sizes are
//   never below -1 (RSS) or 0 (Atom);
// - the indented output of a document without document type declaration parses again, with the
//   same root element.

#include "feeds/feedformats.h"
#include "feeds/tfeed.h"
#include "feeds/txmlformatter.h"
#include "feeds/txmlhost.h"
#include "feeds/xmlnode.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

using namespace feeds;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Reads every value of the model, as the loader and the tool do.
void Dump(const TFeed& feed, std::optional<TFeedFormat> format) {
    const TChannelInfo& c = feed.ChannelInfo;
    qsizetype total = c.Title.size() + c.Description.size() + c.Link.size() + c.Author.size() +
                      c.Copyright.size() + c.ImageUrl.size() + c.ImageTitle.size() +
                      c.ImageLink.size();
    Require(platform::ToQDateTime(c.Date).isValid());
    for (const auto& topic : feed.Topics) {
        total += topic->Id.size() + topic->Title.size() + topic->Description.size() +
                 topic->Link.size() + topic->Author.size() + topic->Enclosure.Url.size() +
                 topic->Enclosure.Type.size();
        Require(platform::ToQDateTime(topic->Date).isValid());
        Require(c.Title.isEmpty() || !topic->Title.isEmpty());
        Require(c.Author.isEmpty() || !topic->Author.isEmpty());
        Require(topic->Enclosure.FileSize >= (format == TFeedFormat::Rss ? -1 : 0));
    }
    Require(total >= 0);
}

bool IsEmpty(const TFeed& feed) {
    return feed.Topics.empty() && feed.ChannelInfo.Title.isEmpty() &&
           feed.ChannelInfo.Link == QLatin1StringView("http://");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    TFeed detected;
    const std::optional<TFeedFormat> format = ParseFeed(bytes, detected);
    if (format)
        Dump(detected, format);
    else
        Require(IsEmpty(detected));

    const TXmlHost& host = TXmlHost::Instance();
    TXmlDocument document;
    try {
        document = host.Parse(bytes);
    } catch (const EInvalidXmlDocument&) {
        Require(!format);
        return 0;
    }

    std::optional<TFeedFormat> first;
    for (const TFeedFormatEntry& entry : FeedFormats()) {
        TFeed feed;
        try {
            feed.LoadFromDocument(*document, entry.FormatterClass);
        } catch (const EFeedIsNotSupported&) {
            Require(IsEmpty(feed));
            continue;
        }
        if (!first)
            first = entry.Format;
        Dump(feed, entry.Format);
    }
    Require(first == format);

    const xmlNode* root = xmlDocGetRootElement(document.get());
    Require(TNodeFormatter::NodeToText(root).startsWith(u'<'));
    TXmlFormatter formatter;
    platform::TMemoryStream stream;
    formatter.WriteIndented(*document, stream);
    if (!xmlGetIntSubset(document.get())) {
        const TXmlDocument again = host.Parse(stream.Data());
        Require(NodeName(xmlDocGetRootElement(again.get())) == NodeName(root));
    }
    return 0;
}
