#include "feeds/tfeed.h"

#include "feeds/tatomformatter.h"
#include "feeds/trssformatter.h"
#include "feeds/txmlhost.h"
#include "feedtesting.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;
using feeds::EFeedIsNotSupported;
using feeds::EFeedTopicsExceeded;
using feeds::EInvalidXmlDocument;
using feeds::TFeed;

namespace {

TEST(NewTagId, IsATagOfTheYearAGuidAndTheTime) {
    const QRegularExpression shape(
        uR"(^tag:velquint\.net,(\d{4}):[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.(\d+)([.,]\d+)?$)"_s);
    const QByteArray first = feeds::NewTagId();
    const QRegularExpressionMatch match = shape.match(QString::fromUtf8(first));
    ASSERT_TRUE(match.hasMatch()) << first.toStdString();
    EXPECT_EQ(match.captured(1).toInt(), platform::ToQDateTime(platform::Now()).date().year());
    EXPECT_NEAR(match.captured(2).toDouble(), std::floor(platform::Now()), 1.0);
    EXPECT_NE(feeds::NewTagId(), first);
}

TEST(TFeed, TopicsWithoutIdentityGetDifferentTagIdentifiers) {
    TFeed feed;
    const feeds::TTopic& first = feed.AddTopic();
    const feeds::TTopic& second = feed.AddTopic();
    EXPECT_TRUE(first.Id.startsWith("tag:"));
    EXPECT_NE(first.Id, second.Id);
    EXPECT_EQ(feed.Topics.size(), 2u);
}

TEST(TFeed, FailedLoadLeavesTheFeedEmpty) {
    TFeed feed;
    feedtesting::Load(feed, "rss/items.xml", &feeds::TRSSFormatter::Create);
    ASSERT_FALSE(feed.Topics.empty());
    EXPECT_THROW(feedtesting::Load(feed, "rss/items.xml", &feeds::TAtom10Formatter::Create),
                 EFeedIsNotSupported);
    EXPECT_TRUE(feed.Topics.empty());
    EXPECT_EQ(feed.ChannelInfo.Title, QString());
    EXPECT_EQ(feed.ChannelInfo.Link, u"http://"_s);

    feedtesting::Load(feed, "rss/items.xml", &feeds::TRSSFormatter::Create);
    EXPECT_THROW(feedtesting::Load(feed, "invalid/truncated.xml", &feeds::TRSSFormatter::Create),
                 EInvalidXmlDocument);
    EXPECT_TRUE(feed.Topics.empty());
}

// Each reader, asked for an item before it found one.
template <typename Formatter> class ItemReader : public Formatter {
public:
    using Formatter::ReadItem;
};

TEST(TFeedFormatter, ReadingAnItemWithoutCurrentItemFails) {
    feeds::TTopic topic;
    EXPECT_THROW(ItemReader<feeds::TRSSFormatter>().ReadItem(topic), EFeedTopicsExceeded);
    EXPECT_THROW(ItemReader<feeds::TAtom10Formatter>().ReadItem(topic), EFeedTopicsExceeded);
    EXPECT_THROW(ItemReader<feeds::TAtomFormatter>().ReadItem(topic), EFeedTopicsExceeded);
}

} // namespace
