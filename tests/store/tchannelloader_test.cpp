#include "store/tchannelloader.h"

#include "store/tvelquintdoc.h"

#include "support/tempdir.h"

#include "config/tbranding.h"
#include "config/tconfiguration.h"

#include <gtest/gtest.h>

namespace {

using namespace store;
using testsupport::TempDir;

const QByteArray kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0"><channel>
  <title>Radio &amp;amp; more</title>
  <description>About &amp;lt;us&amp;gt;</description>
  <link>http://radio.example/</link>
  <copyright>(c) Radio</copyright>
  <managingEditor>editor@radio.example</managingEditor>
  <image><url>http://radio.example/logo.png</url><title>Logo</title><link>http://radio.example/</link></image>
  <item><title>First</title><description>one</description><guid>g1</guid>
    <enclosure url="http://radio.example/1.mp3" type="audio/mpeg" length="1234"/></item>
  <item><description>untitled, no guid</description>
    <enclosure url="http://radio.example/2.ogg" type="audio/ogg"/></item>
  <item><title>Third</title><author>ann@radio.example</author><guid>g3</guid></item>
</channel></rss>
)";

struct Fixture {
    TempDir dir;
    config::TBranding branding{dir.Path()};
    config::TConfiguration configuration{
        branding, config::TConfigurationEnvironment{dir.File("settings.ini"),
                                                    dir.File("autostart.desktop"),
                                                    dir.File("velquint"),
                                                    [this] { return dir.Path() + "/"; },
                                                    {QStringLiteral("Default")}}};
    TVelquintDoc doc{dir.Path()};
    TChannel* channel = nullptr;

    Fixture() {
        doc.SetConfiguration(&configuration);
        channel = doc.AddChannel(nullptr);
        channel->SetUrl("http://radio.example/rss");
        doc.SaveChannel(*channel);
    }
};

TEST(ChannelLoader, MergesChannelFieldsTopicsAndEnclosures) {
    Fixture f;
    int32_t added = -1;
    ASSERT_TRUE(TChannelLoader::LoadChannel(f.doc, kFeed, *f.channel, added));
    EXPECT_EQ(added, 3);
    TChannel& channel = *f.channel;
    EXPECT_EQ(channel.Name(), "Radio & more") << "decoded when set and when read";
    EXPECT_EQ(channel.Description(), "About <us>");
    EXPECT_EQ(channel.Link, "http://radio.example/");
    EXPECT_EQ(channel.Image.Url, "http://radio.example/logo.png");
    EXPECT_EQ(channel.UnreadCount(), 3);
    EXPECT_GT(channel.LastUpdated, platform::Now() - 1.0 / 24);

    TTopicIndex* const first = channel.FindTopic("g1");
    ASSERT_NE(first, nullptr);
    TTopic* const topic = f.doc.GetTopic(*first);
    ASSERT_EQ(topic->AttachmentKeyCount(), 1);
    const TAttachment* const enclosure = f.doc.FindAttachment(topic->AttachmentKeyAt(0));
    ASSERT_NE(enclosure, nullptr);
    EXPECT_EQ(enclosure->Size, 1234);
    EXPECT_EQ(enclosure->MimeType, "audio/mpeg");
    EXPECT_EQ(enclosure->FileName(), "1.mp3");

    int untitled = 0;
    channel.Topics().ForEach([&](const QByteArray&, const TTopicIndex* entry) {
        if (entry->Title() == channel.Name())
            ++untitled;
    });
    EXPECT_EQ(untitled, 1) << "an item without title takes the channel's name";
    EXPECT_EQ(f.doc.Attachments().size(), 2);
    EXPECT_EQ(f.doc.Attachments().at(1)->Size, -1) << "no length given";

    // An unchanged feed adds nothing, also the item without guid (known by its content once the
    // index is read again, as the refresh of a channel that is not on screen does).
    channel.ResetTopics(false);
    f.doc.EnsureIndexLoaded(channel);
    channel.SetName("Renamed");
    ASSERT_TRUE(TChannelLoader::LoadChannel(f.doc, kFeed, channel, added));
    EXPECT_EQ(added, 0);
    EXPECT_EQ(channel.UnreadCount(), 3);
    EXPECT_EQ(channel.Name(), "Radio & more") << "the feed's title wins on every load";
    EXPECT_EQ(f.doc.Attachments().size(), 2);
}

TEST(ChannelLoader, RefusesWhatIsNoFeedAndLeavesTheChannelAlone) {
    const QByteArray inputs[] = {
        "<html><body><p>not xml<br></body></html>",
        R"(<?xml version="1.0"?><opml version="1.1"><head/><body><outline text="x"/></body></opml>)",
        "",
    };
    Fixture f;
    f.channel->SetName("Mine");
    for (const QByteArray& input : inputs) {
        SCOPED_TRACE(input.toStdString());
        int32_t added = -1;
        EXPECT_FALSE(TChannelLoader::LoadChannel(f.doc, input, *f.channel, added));
        EXPECT_EQ(added, 0);
        EXPECT_EQ(f.channel->Name(), "Mine");
        EXPECT_EQ(f.channel->TopicEntries(), 0);
    }
}

} // namespace
