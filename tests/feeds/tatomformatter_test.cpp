#include "feeds/tatomformatter.h"

#include "feedtesting.h"
#include "support/scopedtimezone.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Qt::StringLiterals;
using feeds::EFeedIsNotSupported;
using feeds::TAtom10Formatter;
using feeds::TAtomFormatter;
using feeds::TFeed;
using feeds::TTopic;
using feedtesting::Local;

namespace {

struct ReaderCase {
    std::string fixture;
    std::function<void(const TFeed&)> check;
};

void ReadAll(feeds::TFeedFormatterClass formatterClass, const ReaderCase* begin,
             const ReaderCase* end) {
    const testsupport::ScopedTimeZone utc("UTC");
    for (const ReaderCase* row = begin; row != end; ++row) {
        SCOPED_TRACE(row->fixture);
        TFeed feed;
        feedtesting::Load(feed, row->fixture, formatterClass);
        row->check(feed);
    }
}

TEST(TAtom10Formatter, ReadsTextConstructsLinksAndEntries) {
    const ReaderCase cases[] = {
        {"atom10/feed.xml",
         [](const TFeed& feed) {
             const feeds::TChannelInfo& c = feed.ChannelInfo;
             EXPECT_EQ(c.Title, u"Salt & Pepper"_s);
             EXPECT_EQ(c.Description, u"Plain <b> text"_s);
             EXPECT_EQ(c.Copyright, u"(c) <b>Cook</b>"_s);
             // A link without "rel" is the alternate one; one without "href" does not count.
             EXPECT_EQ(c.Link, u"http://kitchen.example/?a=1&b=2"_s);
             EXPECT_EQ(c.ImageUrl, u"http://kitchen.example/logo.png"_s);
             EXPECT_EQ(c.Author, u"Chef Salt"_s);
             EXPECT_EQ(Local(c.Date), "2005-04-05 14:03:09");
             ASSERT_EQ(feed.Topics.size(), 4u);

             const TTopic& first = *feed.Topics[0];
             EXPECT_EQ(first.Title, u"Untyped"_s);
             EXPECT_EQ(first.Id, "urn:kitchen:1");
             EXPECT_EQ(first.Link, u"http://kitchen.example/1"_s);
             EXPECT_EQ(first.Enclosure.Url, u"http://kitchen.example/1.ogg"_s);
             EXPECT_EQ(first.Enclosure.Type, u"audio/ogg"_s);
             EXPECT_EQ(first.Enclosure.FileSize, 2048);
             EXPECT_EQ(Local(first.Date), "2005-04-06 14:03:09");
             EXPECT_EQ(first.Description, u"<p>Fried & salted</p>"_s);
             EXPECT_EQ(first.Author, u"Chef Salt"_s);

             const TTopic& second = *feed.Topics[1];
             EXPECT_EQ(Local(second.Date), "2005-04-05 14:03:09");
             EXPECT_EQ(second.Link, QString());
             EXPECT_EQ(second.Enclosure.Url, u"http://kitchen.example/2.ogg"_s);
             EXPECT_EQ(second.Enclosure.FileSize, 0);
             EXPECT_EQ(second.Description, QString());
             EXPECT_EQ(second.Author, u"Pepper"_s);
             EXPECT_TRUE(second.Id.startsWith("tag:"));

             const TTopic& third = *feed.Topics[2];
             EXPECT_EQ(third.Title, u"A <EM>bold</EM> title"_s);
             EXPECT_EQ(third.Description,
                       u"<p>Caf\u00E9 <a href=\"x?a=1&amp;b=2\">menu</a><br/></p>"_s);
             EXPECT_EQ(third.Enclosure.FileSize, 0);

             const TTopic& fourth = *feed.Topics[3];
             EXPECT_EQ(fourth.Title, u"Salt & Pepper"_s);
             EXPECT_EQ(fourth.Description, QString());
             EXPECT_EQ(fourth.Link, QString());
         }},
        {"atom10/no-entries.xml",
         [](const TFeed& feed) {
             EXPECT_EQ(feed.ChannelInfo.Title, u"Empty kitchen"_s);
             EXPECT_TRUE(feed.Topics.empty());
         }},
        {"atom10/first-entry-letter-case.xml",
         [](const TFeed& feed) { EXPECT_TRUE(feed.Topics.empty()); }},
    };
    ReadAll(&TAtom10Formatter::Create, std::begin(cases), std::end(cases));
}

struct TextConstructCase {
    const char* element;
    QString expected;
};

TEST(TAtom10Formatter, TextConstructsFollowTheirType) {
    const TextConstructCase cases[] = {
        {"<title>a &amp;amp; b &amp;lt;</title>", u"a & b <"_s},
        {"<title type=\" HTML \">&lt;b&gt;x&amp;amp;y&lt;/b&gt;</title>", u"<b>x&y</b>"_s},
        {"<title type=\"text/plain\">other types are empty</title>", QString()},
        {"<title type=\"xhtml\"/>", QString()},
        {"<title type=\"xhtml\">no div</title>", QString()},
        {"<title type=\"xhtml\"><p xmlns=\"http://www.w3.org/1999/xhtml\">no div</p></title>",
         QString()},
        {"<title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"/></title>", QString()},
        {"<title type=\"xhtml\"><DIV xmlns=\"http://www.w3.org/1999/xhtml\"> <i>x</i> </DIV>"
         "</title>",
         u" <i>x</i> "_s},
        {"<title type=\"xhtml\"><h:div xmlns:h=\"http://www.w3.org/1999/xhtml\">a&#13;b "
         "<H:i>i</H:i><h:br/></h:div></title>",
         u"a b <i>i</i><br/>"_s},
        {"<title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">&lt;not a tag&gt;"
         "</div></title>",
         u"&lt;not a tag&gt;"_s},
    };
    const testsupport::ScopedTimeZone utc("UTC");
    for (const TextConstructCase& row : cases) {
        SCOPED_TRACE(row.element);
        TFeed feed;
        platform::TMemoryStream stream("<feed xmlns=\"http://www.w3.org/2005/Atom\">" +
                                       QByteArray(row.element) + "</feed>");
        feed.LoadFromStream(stream, &TAtom10Formatter::Create);
        EXPECT_EQ(feed.ChannelInfo.Title, row.expected);
    }
}

TEST(TAtomFormatter, ReadsAtom03WithModifiedWinning) {
    const ReaderCase cases[] = {
        {"atom03/feed.xml",
         [](const TFeed& feed) {
             const feeds::TChannelInfo& c = feed.ChannelInfo;
             EXPECT_EQ(c.Title, u"Old Mill"_s);
             // A link without "rel" is ignored in Atom 0.3.
             EXPECT_EQ(c.Link, u"http://mill.example/?a=1&b=2"_s);
             EXPECT_EQ(c.ImageUrl, u"http://mill.example/icon.png"_s);
             EXPECT_EQ(c.ImageTitle, u" Mill icon "_s);
             EXPECT_EQ(c.Description, u"Grinding since 1850"_s);
             EXPECT_EQ(c.Copyright, u"(c) Miller"_s);
             EXPECT_EQ(c.Author, u"Miller"_s);
             EXPECT_EQ(Local(c.Date), "2005-04-05 14:03:09");
             ASSERT_EQ(feed.Topics.size(), 3u);

             const TTopic& first = *feed.Topics[0];
             EXPECT_EQ(first.Link, u"http://mill.example/1"_s);
             EXPECT_EQ(first.Enclosure.Url, u"http://mill.example/1.mp3"_s);
             EXPECT_EQ(first.Enclosure.Type, u"audio/mpeg"_s);
             EXPECT_EQ(first.Enclosure.FileSize, 512);
             EXPECT_EQ(Local(first.Date), "2005-04-05 14:03:09");
             EXPECT_EQ(first.Description, u"<p>flour</p>"_s);
             EXPECT_EQ(first.Id, "tag:mill.example,2005:1");
             EXPECT_EQ(first.Author, u"Miller"_s);

             const TTopic& second = *feed.Topics[1];
             EXPECT_EQ(Local(second.Date), "2005-04-05 14:03:09");
             EXPECT_EQ(second.Description, u"inline xml"_s);
             EXPECT_EQ(second.Author, u"Apprentice"_s);

             const TTopic& third = *feed.Topics[2];
             EXPECT_EQ(Local(third.Date), "2005-04-02 00:00:00");
             EXPECT_EQ(third.Description, QString());
         }},
    };
    ReadAll(&TAtomFormatter::Create, std::begin(cases), std::end(cases));
}

TEST(AtomFormatters, AcceptOnlyTheirOwnNamespace) {
    const struct {
        const char* text;
        bool atom10;
        bool atom03;
    } cases[] = {
        {"<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", true, false},
        {"<feed xmlns=\"http://www.w3.org/2005/atom\"/>", true, false},
        {"<FEED xmlns=\"HTTP://WWW.W3.ORG/2005/ATOM\"/>", true, false},
        {"<feed xmlns=\"http://purl.org/atom/ns#\"/>", false, true},
        {"<feed version=\"0.3\" xmlns=\"HTTP://PURL.ORG/ATOM/NS#\"/>", false, true},
        {"<feed/>", false, false},
        {"<feed xmlns=\"http://www.w3.org/2005/Atom/\"/>", false, false},
        {"<atom:feed xmlns:atom=\"http://www.w3.org/2005/Atom\"/>", false, false},
        {"<feed xmlns:a=\"http://www.w3.org/2005/Atom\"/>", false, false},
        {"<rss xmlns=\"http://www.w3.org/2005/Atom\"/>", false, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        for (const auto& [formatterClass, accepted] :
             {std::pair{&TAtom10Formatter::Create, row.atom10},
              std::pair{&TAtomFormatter::Create, row.atom03}}) {
            TFeed feed;
            platform::TMemoryStream stream{QByteArray(row.text)};
            if (accepted)
                EXPECT_NO_THROW(feed.LoadFromStream(stream, formatterClass));
            else
                EXPECT_THROW(feed.LoadFromStream(stream, formatterClass), EFeedIsNotSupported);
        }
    }
}

} // namespace
