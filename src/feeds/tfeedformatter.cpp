#include "feeds/tfeedformatter.h"

#include "feeds/xmlnode.h"

namespace feeds {

void TFeedFormatter::Read(platform::TStream& stream, TFeed& feed) {
    parsed_ = TXmlHost::Instance().Parse(stream);
    Read(*parsed_, feed);
}

void TFeedFormatter::Read(const xmlDoc& document, TFeed& feed) {
    Document = &document;
    localOffset_ = LocalUtcOffset();
    FirstItemNode = nullptr;
    CurrentItemNode = nullptr;
    if (!Root() || !Accepts())
        throw EFeedIsNotSupported();
    ReadChannel(feed.ChannelInfo);
    FirstItem();
    while (NextItem()) {
        TTopic& topic = feed.AddTopic();
        ReadItem(topic);
        if (topic.Author.isEmpty())
            topic.Author = feed.ChannelInfo.Author;
        if (topic.Title.isEmpty())
            topic.Title = feed.ChannelInfo.Title;
    }
}

bool TFeedFormatter::FindNextItem(QByteArrayView name) {
    if (!CurrentItemNode) {
        if (!FirstItemNode)
            return false;
        CurrentItemNode = FirstItemNode;
        return true;
    }
    for (const xmlNode* sibling = CurrentItemNode->next; sibling; sibling = sibling->next) {
        if (TLowerName(sibling) == name) {
            CurrentItemNode = sibling;
            return true;
        }
    }
    return false;
}

platform::TDateTime TFeedFormatter::Rfc822Date(const xmlNode* element) const {
    return ParseRfc822DateTime(TextUtf8(element), localOffset_);
}

platform::TDateTime TFeedFormatter::Iso8601Date(const xmlNode* element) const {
    return ParseIso8601DateTime(TextUtf8(element), localOffset_);
}

const xmlNode* TFeedFormatter::Root() const {
    return Document ? xmlDocGetRootElement(Document) : nullptr;
}

} // namespace feeds
