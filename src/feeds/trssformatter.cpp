#include "feeds/trssformatter.h"

#include "feeds/htmlentities.h"
#include "feeds/xmlnode.h"

namespace feeds {

namespace {

constexpr char kRss10Namespace[] = "http://purl.org/rss/1.0/";

void ReadImage(const xmlNode* image, TChannelInfo& channel) {
    for (const xmlNode* child = image->children; child; child = child->next) {
        const TLowerName name(child);
        if (name == "title")
            channel.ImageTitle = Text(child);
        else if (name == "link")
            channel.ImageLink = Text(child);
        else if (name == "url")
            channel.ImageUrl = DecodeHtmlEntities(Text(child));
    }
}

} // namespace

std::unique_ptr<TFeedFormatter> TRSSFormatter::Create() {
    return std::make_unique<TRSSFormatter>();
}

bool TRSSFormatter::IsRdf() const {
    return TLowerName(Root()) == "rdf:rdf";
}

const xmlNode* TRSSFormatter::Channel() const {
    const xmlNode* channel = FirstChildElement(Root(), "channel");
    if (!channel)
        throw EFeedIsNotSupported();
    return channel;
}

bool TRSSFormatter::Accepts() {
    const TLowerName name(Root());
    if (name == "rss")
        return true;
    return name == "rdf:rdf" && AttributeValue(Root(), "xmlns").value_or(QString()).toLower() ==
                                    QLatin1StringView(kRss10Namespace);
}

void TRSSFormatter::ReadChannel(TChannelInfo& channel) {
    const bool rdf = IsRdf();
    const xmlNode* element = Channel();
    for (const xmlNode* child = element->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name == "title")
            channel.Title = Text(child);
        else if (name == "link")
            channel.Link = Text(child);
        else if (name == "description")
            channel.Description = Text(child);
        else if (name == "copyright")
            channel.Copyright = Text(child);
        else if (name == "webmaster" || name == "dc:creator")
            channel.Author = Text(child);
        else if (name == "pubdate" || name == "lastbuilddate")
            channel.Date = Rfc822Date(child);
        else if (name == "image" && !rdf)
            ReadImage(child, channel);
    }
    if (rdf) {
        if (const xmlNode* image = FirstChildElement(Root(), "image"))
            ReadImage(image, channel);
    }
}

void TRSSFormatter::FirstItem() {
    FirstItemNode = FirstChildElement(IsRdf() ? Root() : Channel(), "item");
    CurrentItemNode = nullptr;
}

bool TRSSFormatter::NextItem() {
    return FindNextItem("item");
}

void TRSSFormatter::ReadItem(TTopic& topic) {
    if (!CurrentItemNode)
        throw EFeedTopicsExceeded();
    topic.Date = platform::Now();
    bool fullContent = false;
    for (const xmlNode* child = CurrentItemNode->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        const TLowerName name(child);
        if (name == "title") {
            topic.Title = Text(child);
        } else if (name == "link") {
            topic.Link = Text(child);
        } else if (name == "content:encoded") {
            topic.Description = Text(child);
            fullContent = true;
        } else if (name == "description") {
            if (!fullContent)
                topic.Description = Text(child);
        } else if (name == "pubdate") {
            topic.Date = Rfc822Date(child);
        } else if (name == "dc:date") {
            topic.Date = Iso8601Date(child);
        } else if (name == "author" || name == "dc:creator") {
            topic.Author = Text(child);
        } else if (name == "guid") {
            topic.Id = TextUtf8(child);
        } else if (IsElementNamed(child, "enclosure")) {
            topic.Enclosure.ReadFrom(child);
        }
    }
}

} // namespace feeds
