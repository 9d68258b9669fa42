#include "feeds/trssformatter.h"

#include "feedtesting.h"
#include "support/scopedtimezone.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Qt::StringLiterals;
using feeds::EFeedIsNotSupported;
using feeds::TFeed;
using feeds::TRSSFormatter;
using feedtesting::Local;

namespace {

struct ReaderCase {
    std::string fixture;
    std::function<void(const TFeed&)> check;
};

TEST(TRSSFormatter, ReadsEveryDialectAsTheElementTablesSay) {
    const testsupport::ScopedTimeZone utc("UTC");
    const ReaderCase cases[] = {
        {"rss/channel.xml",
         [](const TFeed& feed) {
             const feeds::TChannelInfo& c = feed.ChannelInfo;
             EXPECT_EQ(c.Title, u"Harbour Notes"_s);
             EXPECT_EQ(c.Link, u"http://harbour.example/"_s);
             EXPECT_EQ(c.Description, u"Tides & ships"_s);
             EXPECT_EQ(c.Copyright, u"(c) 2005 Harbour"_s);
             // "webMaster" and "dc:creator": the later one.
             EXPECT_EQ(c.Author, u"Ada Quay"_s);
             // "pubDate" and "lastBuildDate": the later one.
             EXPECT_EQ(Local(c.Date), "2005-04-06 08:00:00");
             EXPECT_EQ(c.ImageUrl, u"http://harbour.example/logo.gif?a=1&b=2"_s);
             EXPECT_EQ(c.ImageTitle, u"Harbour logo"_s);
             EXPECT_EQ(c.ImageLink, u"http://harbour.example/about"_s);
             EXPECT_TRUE(feed.Topics.empty());
         }},
        {"rss/items.xml",
         [](const TFeed& feed) {
             ASSERT_EQ(feed.Topics.size(), 4u);
             const feeds::TTopic& first = *feed.Topics[0];
             EXPECT_EQ(first.Title, u"Encoded after description"_s);
             EXPECT_EQ(first.Link, u"http://harbour.example/1"_s);
             EXPECT_EQ(first.Description, u"<p>full <b>one</b></p>"_s);
             EXPECT_EQ(Local(first.Date), "2005-04-07 10:00:00");
             EXPECT_EQ(first.Author, u"tides@harbour.example"_s);
             EXPECT_EQ(first.Id, "urn:harbour:1");
             EXPECT_TRUE(first.Enclosure.Url.isEmpty());

             const feeds::TTopic& second = *feed.Topics[1];
             EXPECT_EQ(second.Description, u"<p>full two</p>"_s);
             EXPECT_EQ(Local(second.Date), "2005-04-05 14:03:09");
             EXPECT_EQ(second.Author, u"Ben Pier"_s);
             EXPECT_EQ(second.Id, QByteArray());

             const feeds::TTopic& third = *feed.Topics[2];
             EXPECT_EQ(third.Title, u"Harbour Notes"_s);
             EXPECT_EQ(third.Author, u"ops@harbour.example"_s);
             EXPECT_TRUE(third.Id.startsWith("tag:velquint.net,")) << third.Id.toStdString();
             EXPECT_EQ(third.Enclosure.Url, u"http://harbour.example/a.mp3"_s);
             EXPECT_EQ(third.Enclosure.Type, u"audio/mpeg"_s);
             EXPECT_EQ(third.Enclosure.FileSize, 12345);

             const feeds::TTopic& fourth = *feed.Topics[3];
             EXPECT_TRUE(fourth.Enclosure.Url.isEmpty());
             EXPECT_EQ(fourth.Enclosure.Type, u"audio/mpeg"_s);
             EXPECT_EQ(fourth.Enclosure.FileSize, 99);
         }},
        {"rss/rdf.xml",
         [](const TFeed& feed) {
             const feeds::TChannelInfo& c = feed.ChannelInfo;
             EXPECT_EQ(c.Title, u"Lighthouse"_s);
             EXPECT_EQ(c.Author, u"Keeper"_s);
             // The channel reads no "dc:date".
             EXPECT_NE(Local(c.Date), "2005-04-05 14:03:09");
             EXPECT_EQ(c.ImageTitle, u"Lamp"_s);
             EXPECT_EQ(c.ImageUrl, u"http://lighthouse.example/lamp.png"_s);
             ASSERT_EQ(feed.Topics.size(), 2u);
             EXPECT_EQ(feed.Topics[0]->Title, u"First beam"_s);
             EXPECT_EQ(Local(feed.Topics[0]->Date), "2005-04-05 12:03:09");
             EXPECT_EQ(feed.Topics[1]->Link, u"http://lighthouse.example/2"_s);
             EXPECT_EQ(feed.Topics[1]->Author, u"Keeper"_s);
         }},
        {"rss/first-item-letter-case.xml",
         [](const TFeed& feed) {
             EXPECT_EQ(feed.ChannelInfo.Title, u"Letter case"_s);
             EXPECT_TRUE(feed.Topics.empty());
         }},
        {"rss/later-item-letter-case.xml",
         [](const TFeed& feed) {
             ASSERT_EQ(feed.Topics.size(), 3u);
             EXPECT_EQ(feed.Topics[1]->Title, u"two"_s);
             EXPECT_EQ(feed.Topics[2]->Title, u"three"_s);
         }},
        {"rss/empty-channel.xml",
         [](const TFeed& feed) {
             EXPECT_EQ(feed.ChannelInfo.Title, u"Quiet"_s);
             EXPECT_EQ(feed.ChannelInfo.Link, u"http://"_s);
             EXPECT_TRUE(feed.Topics.empty());
         }},
        {"encodings/utf-8-bom.xml",
         [](const TFeed& feed) { EXPECT_EQ(feed.ChannelInfo.Title, u"Bom only \u2713"_s); }},
    };
    for (const ReaderCase& row : cases) {
        SCOPED_TRACE(row.fixture);
        TFeed feed;
        const platform::TDateTime before = platform::Now();
        feedtesting::Load(feed, row.fixture, &TRSSFormatter::Create);
        row.check(feed);
        if (row.fixture == "rss/empty-channel.xml") {
            EXPECT_TRUE(feedtesting::Between(feed.ChannelInfo.Date, before, platform::Now()));
        }
    }
}

TEST(TRSSFormatter, ItemsWithoutDateArePublishedNow) {
    TFeed feed;
    const platform::TDateTime before = platform::Now();
    feedtesting::Load(feed, "rss/later-item-letter-case.xml", &TRSSFormatter::Create);
    ASSERT_FALSE(feed.Topics.empty());
    EXPECT_TRUE(feedtesting::Between(feed.Topics[0]->Date, before, platform::Now()));
}

TEST(TRSSFormatter, RefusesOtherRootsAndFeedsWithoutChannel) {
    const char* cases[] = {
        "<rss/>",
        "<rss><item><title>x</title></item></rss>",
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
        "xmlns=\"http://purl.org/rss/1.0/\"><item/></rdf:RDF>",
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
        "xmlns=\"http://purl.org/rss/0.9/\"><channel/></rdf:RDF>",
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><channel/></rdf:RDF>",
        "<x:rss xmlns:x=\"urn:x\"><channel/></x:rss>",
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"/>",
        "<Channel><title>x</title></Channel>",
        "<rss><Channel><title>the channel is found by its exact name</title></Channel></rss>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        TFeed feed;
        platform::TMemoryStream stream{QByteArray(text)};
        EXPECT_THROW(feed.LoadFromStream(stream, &TRSSFormatter::Create), EFeedIsNotSupported);
        EXPECT_TRUE(feed.Topics.empty());
        EXPECT_EQ(feed.ChannelInfo.Title, QString());
    }
}

} // namespace
