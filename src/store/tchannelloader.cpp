#include "store/tchannelloader.h"

#include "feeds/feedformats.h"
#include "feeds/htmlentities.h"
#include "feeds/tfeed.h"
#include "platform/ansicodepage.h"
#include "store/tvelquintdoc.h"

namespace store {

namespace {

void CopyChannelInfo(const feeds::TChannelInfo& info, TChannel& channel) {
    channel.SetName(info.Title);
    channel.SetDescription(info.Description);
    channel.Link = info.Link;
    channel.SetCopyright(info.Copyright);
    channel.SetAuthor(info.Author);
    channel.LastUpdated = info.Date;
    channel.Image.Title = info.ImageTitle;
    channel.Image.Link = info.ImageLink;
    channel.Image.Url = info.ImageUrl;
}

std::unique_ptr<TTopic> StoreTopic(const feeds::TTopic& item, TChannel& channel) {
    auto topic = std::make_unique<TTopic>();
    topic->Folder = &channel;
    topic->SetTitle(item.Title);
    if (feeds::DecodeHtmlEntities(item.Title).isEmpty())
        topic->SetTitle(channel.Name());
    topic->Link = item.Link;
    topic->SetDescription(item.Description);
    topic->Date = item.Date;
    topic->Author = item.Author.isEmpty() ? channel.Author() : item.Author;
    topic->Guid = platform::AnsiToWide(item.Id).trimmed();
    return topic;
}

} // namespace

bool TChannelLoader::LoadChannel(TVelquintDoc& doc, QByteArrayView bytes, TChannel& channel,
                                 int32_t& newCount) {
    newCount = 0;
    feeds::TFeed feed;
    if (!feeds::ParseFeed(bytes, feed))
        return false;
    const TDocUpdate update(doc);
    CopyChannelInfo(feed.ChannelInfo, channel);
    for (const std::unique_ptr<feeds::TTopic>& item : feed.Topics) {
        std::unique_ptr<TTopic> topic = StoreTopic(*item, channel);
        // Known topics are dropped before anything else is made for them.
        if (doc.IsKnownTopic(channel, *topic))
            continue;
        if (!item->Enclosure.Url.isEmpty()) {
            auto attachment = std::make_unique<TAttachment>();
            attachment->Url = item->Enclosure.Url;
            attachment->MimeType = item->Enclosure.Type;
            if (item->Enclosure.FileSize != -1)
                attachment->Size = item->Enclosure.FileSize;
            doc.AddAttachment(std::move(attachment), *topic);
        }
        if (doc.AddFeedTopic(channel, std::move(topic)))
            ++newCount;
    }
    channel.SetUnreadCount(channel.UnreadCount() + newCount);
    doc.CompleteRefresh(channel);
    return true;
}

} // namespace store
