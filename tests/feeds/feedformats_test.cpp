#include "feeds/feedformats.h"

#include "feeds/trssformatter.h"

#include "feedtesting.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace Qt::StringLiterals;
using feeds::ParseFeed;
using feeds::TFeed;
using feeds::TFeedFormat;

namespace {

struct DetectionCase {
    std::string name;
    QByteArray bytes;
    std::optional<TFeedFormat> expected;
};

TEST(ParseFeed, OffersTheDocumentToEachFormatterInTurn) {
    using feedtesting::Fixture;
    const DetectionCase cases[] = {
        {"rss 2.0", Fixture("rss/items.xml"), TFeedFormat::Rss},
        {"RSS in capitals", Fixture("rss/later-item-letter-case.xml"), TFeedFormat::Rss},
        {"rss 1.0 in capitals", Fixture("rss/rdf.xml"), TFeedFormat::Rss},
        {"atom 1.0 in lower case", Fixture("atom10/feed.xml"), TFeedFormat::Atom10},
        {"atom 1.0", Fixture("atom10/no-entries.xml"), TFeedFormat::Atom10},
        {"atom 0.3", Fixture("atom03/feed.xml"), TFeedFormat::Atom03},
        {"rss without channel", Fixture("rss/no-channel.xml"), std::nullopt},
        {"rdf without rss namespace",
         "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><channel/>"
         "</rdf:RDF>",
         std::nullopt},
        {"prefixed atom root",
         "<a:feed xmlns:a=\"http://www.w3.org/2005/Atom\"><a:title>x</a:title></a:feed>",
         std::nullopt},
        {"feed in no namespace", "<feed><title>x</title></feed>", std::nullopt},
        {"opml", Fixture("invalid/opml.xml"), std::nullopt},
        {"html", Fixture("invalid/html-page.html"), std::nullopt},
        {"truncated", Fixture("invalid/truncated.xml"), std::nullopt},
        {"billion laughs", Fixture("hostile/billion-laughs.xml"), std::nullopt},
        {"empty", QByteArray(), std::nullopt},
    };
    for (const DetectionCase& row : cases) {
        SCOPED_TRACE(row.name);
        TFeed feed;
        feedtesting::Load(feed, "rss/items.xml", &feeds::TRSSFormatter::Create);
        EXPECT_EQ(ParseFeed(row.bytes, feed), row.expected);
        if (!row.expected) {
            EXPECT_TRUE(feed.Topics.empty());
            EXPECT_EQ(feed.ChannelInfo.Title, QString());
        } else {
            EXPECT_NE(feed.ChannelInfo.Title, QString());
        }
    }
}

TEST(ParseFeed, ReadsTheWholeStreamFromItsStart) {
    platform::TMemoryStream stream(feedtesting::Fixture("atom03/feed.xml"));
    stream.Seek(0, platform::TSeekOrigin::End);
    TFeed feed;
    EXPECT_EQ(ParseFeed(stream, feed), TFeedFormat::Atom03);
    EXPECT_EQ(feed.Topics.size(), 3u);
}

TEST(ParseFeed, DecodesTheDeclaredEncodingOrByteOrderMark) {
    const struct {
        std::string fixture;
        QString channelTitle;
        QString itemTitle;
        QString description;
    } cases[] = {
        {"encodings/koi8-r.xml", u"Новости дня"_s, u"Новости дня"_s, u"Привет, мир"_s},
        {"encodings/windows-1251.xml", u"Новости дня"_s, u"Новости дня"_s, u"Ёлка и щука"_s},
        {"encodings/windows-1252.xml", u"Café – “Smart” quotes"_s, u"Café – “Smart” quotes"_s,
         u"Price: 5 € · naïve"_s},
        {"encodings/iso-8859-1.xml", u"Café au lait"_s, u"Café au lait"_s, u"Smørrebrød"_s},
        {"encodings/utf-16le-bom.xml", u"Ünïcødé ✓ 日本"_s, u"𝄞 clef"_s, QString()},
        {"encodings/utf-16be-bom.xml", u"Ünïcødé ✓ 日本"_s, u"𝄞 clef"_s, QString()},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.fixture);
        TFeed feed;
        ASSERT_EQ(ParseFeed(feedtesting::Fixture(row.fixture), feed), TFeedFormat::Rss);
        EXPECT_EQ(feed.ChannelInfo.Title, row.channelTitle);
        ASSERT_EQ(feed.Topics.size(), 1u);
        EXPECT_EQ(feed.Topics[0]->Title, row.itemTitle);
        if (!row.description.isNull()) {
            EXPECT_EQ(feed.Topics[0]->Description, row.description);
        }
    }
}

} // namespace
