#include "config/tbranding.h"
#include "platform/tvaluewriter.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;
using config::TBranding;
using platform::TMemoryStream;
using platform::TValueWriter;
using testsupport::TempDir;

namespace {

// A whole brand.cfg for "Acme News" with every value a file of version 3 has, and the offset
// at which each value ends, so that a test can cut the file after any of them.
struct TBrandFile {
    QByteArray Bytes;
    std::vector<qsizetype> Ends;
};

enum TValueIndex {
    kVersion,
    kProductName,
    kIgnored,
    kAbout,
    kHelp,
    kForum,
    kHome,
    kCreateFeed,
    kTheme,
    kThemeLocked,
    kBigHeight,
    kSmallHeight,
    kBigShown,
    kSmallShown,
    kExpandUnread,
    kSubscriptionList,
    kFeedSearch
};

TBrandFile AcmeBrandFile(int32_t version) {
    TMemoryStream stream;
    TValueWriter writer(stream);
    TBrandFile file;
    const auto ended = [&] {
        writer.Finish();
        file.Ends.push_back(stream.Data().size());
    };
    writer.PutInteger(version);
    ended();
    for (const char* text : {"Acme News", "unused", "https://acme.example/about",
                             "https://acme.example/help", "https://acme.example/forum",
                             "https://acme.example/", "https://acme.example/create", "Aluminium"}) {
        writer.PutAnsiText(text);
        ended();
    }
    writer.PutBoolean(true);
    ended();
    writer.PutInteger(120);
    ended();
    writer.PutInteger(60);
    ended();
    writer.PutBoolean(true);
    ended();
    writer.PutBoolean(true);
    ended();
    writer.PutBoolean(false);
    ended();
    writer.PutAnsiText("https://acme.example/list.opml");
    ended();
    writer.PutAnsiText("https://acme.example/find?q=$search$");
    ended();
    file.Bytes = stream.Data();
    return file;
}

class BrandingTest : public ::testing::Test {
protected:
    void WriteFile(const QString& name, const QByteArray& bytes) const {
        QDir().mkpath(QFileInfo(temp_.File(name)).absolutePath());
        QFile file(temp_.File(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    TBranding Loaded() const {
        TBranding branding(temp_.Path());
        branding.Load();
        return branding;
    }

    TempDir temp_;
};

TEST_F(BrandingTest, WithoutBrandCfgEveryValueIsTheBuiltInOne) {
    const TBranding branding = Loaded();
    EXPECT_EQ(branding.DisplayName(), u"Velquint Reader"_s);
    EXPECT_EQ(branding.ProductName, u"Velquint"_s);
    EXPECT_FALSE(branding.BigBannerVisible);
    EXPECT_FALSE(branding.SmallBannerVisible);
    EXPECT_EQ(branding.BigBannerHeight, 81);
    EXPECT_EQ(branding.SmallBannerHeight, 81);
    EXPECT_TRUE(branding.ExpandUnreadFolders);
    EXPECT_FALSE(branding.ThemeLocked);
    EXPECT_EQ(branding.Theme, u"Default"_s);
    EXPECT_TRUE(branding.AboutAddress.isEmpty());
    EXPECT_TRUE(branding.SubscriptionListAddress.isEmpty());
    EXPECT_TRUE(branding.HelpAddress.startsWith(u"https://"_s));
    EXPECT_TRUE(branding.HelpAddress.endsWith(u"/help"_s));
    EXPECT_TRUE(branding.ForumAddress.endsWith(u"/help/V149"_s));
    EXPECT_TRUE(branding.HomeAddress.endsWith(u"/home"_s));
    EXPECT_TRUE(branding.CreateFeedAddress.endsWith(u"/writer"_s));
    EXPECT_TRUE(branding.FeedSearchAddress.endsWith(
        u"/feedlist.php?ShowMatch=$search$&FormShowStatusCheck=on&FormShowStatus=Syndicated"_s));
    EXPECT_EQ(branding.PopupBackground, temp_.File(u"popup.bmp"_s));
    EXPECT_FALSE(branding.ChannelTemplatesPresent);
    EXPECT_FALSE(branding.BrandedTemplatesPresent);
    EXPECT_FALSE(branding.TopicTemplatePresent);
}

TEST_F(BrandingTest, AVersionOneFileBrandsTheProductButNamesNoSubscriptionList) {
    WriteFile(u"brand.cfg"_s, AcmeBrandFile(1).Bytes);
    const TBranding branding = Loaded();
    EXPECT_EQ(branding.ProductName, u"Acme News"_s);
    EXPECT_EQ(branding.DisplayName(), u"Acme News"_s);
    EXPECT_EQ(branding.AboutAddress, u"https://acme.example/about"_s);
    EXPECT_EQ(branding.HelpAddress, u"https://acme.example/help"_s);
    EXPECT_EQ(branding.ForumAddress, u"https://acme.example/forum"_s);
    EXPECT_EQ(branding.HomeAddress, u"https://acme.example/"_s);
    EXPECT_EQ(branding.CreateFeedAddress, u"https://acme.example/create"_s);
    EXPECT_EQ(branding.Theme, u"Aluminium"_s);
    EXPECT_TRUE(branding.ThemeLocked);
    EXPECT_EQ(branding.BigBannerHeight, 120);
    EXPECT_EQ(branding.SmallBannerHeight, 60);
    EXPECT_TRUE(branding.BigBannerVisible);
    EXPECT_TRUE(branding.SmallBannerVisible);
    EXPECT_FALSE(branding.ExpandUnreadFolders);
    // The values a later version adds are in the file but not looked at.
    EXPECT_TRUE(branding.SubscriptionListAddress.isEmpty());
    EXPECT_EQ(branding.FeedSearchAddress, TBranding(temp_.Path()).FeedSearchAddress);
}

TEST_F(BrandingTest, LaterVersionsAddTheSubscriptionListAndTheFeedSearch) {
    struct Row {
        int32_t version;
        bool subscriptionList, feedSearch;
    };
    for (const Row row : {Row{2, true, false}, Row{3, true, true}, Row{7, true, true}}) {
        SCOPED_TRACE(row.version);
        TMemoryStream stream(AcmeBrandFile(row.version).Bytes);
        TBranding branding(temp_.Path());
        branding.Read(stream);
        EXPECT_EQ(branding.SubscriptionListAddress,
                  row.subscriptionList ? u"https://acme.example/list.opml"_s : QString());
        EXPECT_EQ(branding.FeedSearchAddress, row.feedSearch
                                                  ? u"https://acme.example/find?q=$search$"_s
                                                  : TBranding(temp_.Path()).FeedSearchAddress);
    }
}

TEST_F(BrandingTest, AFileCutShortKeepsWhatWasReadAndDefaultsTheRest) {
    const TBrandFile whole = AcmeBrandFile(3);
    const TBranding defaults(temp_.Path());
    struct Row {
        const char* what;
        qsizetype size;
        int lastRead;
    };
    const Row rows[] = {
        {"after the theme", whole.Ends[kTheme], kTheme},
        {"inside the help address", whole.Ends[kHelp] - 3, kAbout},
        {"inside the big banner height", whole.Ends[kBigHeight] - 1, kThemeLocked},
        {"after the first banner flag", whole.Ends[kBigShown], kBigShown},
        {"inside the version", 1, -1},
        {"empty", 0, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(u"brand.cfg"_s, whole.Bytes.left(row.size));
        const TBranding branding = Loaded();
        const auto read = [&](int index) { return row.lastRead >= index; };
        EXPECT_EQ(branding.ProductName, read(kProductName) ? u"Acme News"_s : defaults.ProductName);
        EXPECT_EQ(branding.HelpAddress,
                  read(kHelp) ? u"https://acme.example/help"_s : defaults.HelpAddress);
        EXPECT_EQ(branding.Theme, read(kTheme) ? u"Aluminium"_s : defaults.Theme);
        EXPECT_EQ(branding.ThemeLocked, read(kThemeLocked));
        EXPECT_EQ(branding.BigBannerHeight, read(kBigHeight) ? 120 : 81);
        EXPECT_EQ(branding.SmallBannerHeight, read(kSmallHeight) ? 60 : 81);
        EXPECT_EQ(branding.BigBannerVisible, read(kBigShown));
        EXPECT_FALSE(branding.SmallBannerVisible);
        EXPECT_TRUE(branding.ExpandUnreadFolders);
        EXPECT_TRUE(branding.SubscriptionListAddress.isEmpty());
    }
}

TEST_F(BrandingTest, AValueOfTheWrongKindEndsTheReading) {
    TMemoryStream stream;
    {
        TValueWriter writer(stream);
        writer.PutInteger(3);
        writer.PutAnsiText("Acme News");
        writer.PutInteger(5); // where a text belongs
        writer.PutAnsiText("https://acme.example/about");
    }
    stream.SetPosition(0);
    TBranding branding(temp_.Path());
    branding.Read(stream);
    EXPECT_EQ(branding.ProductName, u"Acme News"_s);
    EXPECT_TRUE(branding.AboutAddress.isEmpty());
}

TEST_F(BrandingTest, AFlagIsTrueOnlyForTheTrueTagAndAnyOtherByteIsConsumedAlone) {
    const TBrandFile whole = AcmeBrandFile(3);
    // The "theme locked" flag replaced by the byte of a one-byte integer's tag.
    QByteArray bytes = whole.Bytes;
    bytes[whole.Ends[kTheme]] = 2;
    TMemoryStream stream(bytes);
    TBranding branding(temp_.Path());
    branding.Read(stream);
    EXPECT_FALSE(branding.ThemeLocked);
    EXPECT_EQ(branding.BigBannerHeight, 120);
    EXPECT_EQ(branding.FeedSearchAddress, u"https://acme.example/find?q=$search$"_s);
}

TEST_F(BrandingTest, TextsInAWesternCodePageAreDecoded) {
    TMemoryStream stream;
    {
        TValueWriter writer(stream);
        writer.PutInteger(1);
        // Tag 6 written by hand: the writer itself would choose UTF-8 for these bytes.
        const char latin1[] = "\x06\x04"
                              "Caf\xe9";
        writer.PutRaw(latin1, sizeof latin1 - 1);
    }
    stream.SetPosition(0);
    TBranding branding(temp_.Path());
    branding.Read(stream);
    EXPECT_EQ(branding.ProductName, u"Caf\u00e9"_s);
}

TEST(Branding, TheCaptionIsVelquintReaderWhenTheProductNameContainsVelquint) {
    struct Row {
        const char* product;
        const char* caption;
    };
    const Row rows[] = {{"Velquint", "Velquint Reader"},
                        {"Velquint Pro", "Velquint Reader"},
                        {"My Velquint Edition", "Velquint Reader"},
                        {"velquint", "velquint"},
                        {"Acme News", "Acme News"},
                        {"", ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.product);
        TBranding branding(u"/nowhere"_s);
        branding.ProductName = QString::fromUtf8(row.product);
        EXPECT_EQ(branding.DisplayName(), QString::fromUtf8(row.caption));
    }
}

TEST_F(BrandingTest, TemplateGroupsCountOnlyWhenComplete) {
    struct Row {
        std::vector<const char*> files;
        bool channel, branded, topic;
    };
    const Row rows[] = {
        {{"web/channel.htm"}, false, false, false},
        {{"web/channel_topic.htm"}, true, false, false},
        {{"web/branded_channel.htm", "web/branded_channel_topic.htm"}, true, false, false},
        {{"web/branded_topic.htm"}, true, true, false},
        {{"web/topic.htm"}, true, true, true},
    };
    // Each row adds its files to those of the rows before it.
    for (const Row& row : rows) {
        SCOPED_TRACE(row.files.front());
        for (const char* name : row.files)
            WriteFile(QString::fromLatin1(name), "<html></html>");
        const TBranding branding = Loaded();
        EXPECT_EQ(branding.ChannelTemplatesPresent, row.channel);
        EXPECT_EQ(branding.BrandedTemplatesPresent, row.branded);
        EXPECT_EQ(branding.TopicTemplatePresent, row.topic);
    }
    EXPECT_EQ(Loaded().ChannelTopicTemplate, temp_.File(u"web/channel_topic.htm"_s));
}

TEST_F(BrandingTest, AFolderNamedLikeATemplateIsNoTemplate) {
    QDir().mkpath(temp_.File(u"web/topic.htm"_s));
    EXPECT_FALSE(Loaded().TopicTemplatePresent);
}

} // namespace
