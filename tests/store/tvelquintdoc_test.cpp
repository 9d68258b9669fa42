#include "store/tvelquintdoc.h"

#include "support/tempdir.h"
#include "support/tricklestream.h"

#include "platform/tvalueerrors.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

using namespace store;
using platform::TMemoryStream;
using platform::TRootStorage;
using platform::TStorage;
using platform::TStorageStream;
using testsupport::Hex;
using testsupport::TempDir;
using testsupport::ToHex;

const QByteArray kFirstName = "f                           1";

// The bytes of one stream of a closed document file; empty when it is not there.
QByteArray StreamBytes(const QString& file, const QList<QByteArray>& path) {
    TRootStorage root(file, platform::saRead, 0, false, false);
    std::vector<std::unique_ptr<TStorage>> storages;
    TStorage* current = &root;
    for (qsizetype i = 0; i + 1 < path.size(); ++i) {
        storages.push_back(
            std::make_unique<TStorage>(path.at(i), current, platform::saRead, false, false));
        current = storages.back().get();
    }
    if (!current->StreamExists(path.back()))
        return {};
    TStorageStream stream(path.back(), false, platform::saRead, *current);
    QByteArray bytes(static_cast<qsizetype>(stream.Size()), '\0');
    stream.Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    return bytes;
}

void PutStream(const QString& file, const QByteArray& name, const QByteArray& bytes,
               bool create = false) {
    TRootStorage root(file, platform::saReadWrite, 0, false, create);
    TStorageStream stream(name, true, platform::saWrite, root);
    stream.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
}

QByteArray Written(void (*write)(platform::TValueWriter&, const TFolder&), const TFolder& folder) {
    TMemoryStream stream;
    {
        platform::TValueWriter writer(stream);
        write(writer, folder);
    }
    return stream.Data();
}

TEST(DocumentFile, RecordsAreByteExact) {
    TFolder news(nullptr);
    news.SetName("News");
    news.SetUnreadCount(3);
    TChannel channel(nullptr);
    channel.SetUrl("http://h/");
    channel.LastUpdated = 0;

    struct Row {
        const char* what;
        QByteArray bytes;
        const char* hex;
    };
    TMemoryStream channelStream;
    {
        platform::TValueWriter writer(channelStream);
        TVelquintDoc::WriteChannelRecord(writer, channel);
    }
    const Row rows[] = {
        {"folder record", Written(&TVelquintDoc::WriteFolderRecord, news),
         "32000000 06044e657773 08 03000000 0200 08 08"},
        {"channel record", channelStream.Data(),
         "32000000 0609687474703a2f2f682f 1200000000 1200000000 1200000000 110000000000000000 "
         "0600 0600 0600 0201 08 1200000000"},
        {"first storage name", TVelquintDoc::FormatElementName('f', 1),
         "66202020202020202020202020202020202020202020202020202020 31"},
        {"storage name 26", TVelquintDoc::FormatElementName('t', 26).right(3), "20 31 41"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ToHex(row.bytes), ToHex(Hex(row.hex)));
    }
    EXPECT_EQ(TVelquintDoc::FormatElementName('f', 1), kFirstName);
    EXPECT_EQ(TVelquintDoc::FormatElementName('f', 26).size(), 29);
}

TEST(DocumentFile, OlderRecordVersionsReadWithDefaults) {
    struct Row {
        const char* what;
        const char* hex;
        int32_t unread;
        int32_t topicCount;
    };
    // version, name (8-bit before 40), protected, then the fields each version added.
    const Row rows[] = {
        {"version 10", "0a000000 0601 41 09", 0, 0},
        {"version 20", "14000000 0601 41 09 05000000", 5, 0},
        {"version 30", "1e000000 0601 41 09 05000000 0207", 5, 7},
        {"version 40", "28000000 0601 41 09 05000000 0207", 5, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TMemoryStream stream;
        const QByteArray bytes = Hex(row.hex);
        stream.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
        stream.SetPosition(0);
        TFolder folder(nullptr);
        platform::TValueReader reader(stream);
        TVelquintDoc::ReadFolderRecord(reader, folder);
        EXPECT_EQ(folder.Name(), "A");
        EXPECT_TRUE(folder.Protected());
        EXPECT_EQ(folder.UnreadCount(), row.unread);
        EXPECT_EQ(folder.TopicCount(), row.topicCount);
        EXPECT_FALSE(folder.Subscribed);
        EXPECT_FALSE(folder.Hidden);
    }
}

TEST(DocumentFile, ChannelStatusOutsideOneToThreeReadsAsOne) {
    for (const int32_t status : {0, 1, 2, 3, 7}) {
        SCOPED_TRACE(status);
        TMemoryStream stream;
        {
            platform::TValueWriter writer(stream);
            const int32_t version = 30;
            writer.PutRaw(&version, 4);
            for (const char* text : {"http://h/", "d", "l", "c"})
                writer.PutAnsiText(text);
            writer.PutDateTime(1.0);
            for (const char* text : {"it", "il", "iu"})
                writer.PutAnsiText(text);
            writer.PutInteger(status);
        }
        stream.SetPosition(0);
        TChannel channel(nullptr);
        platform::TValueReader reader(stream);
        TVelquintDoc::ReadChannelRecord(reader, channel);
        EXPECT_EQ(channel.Status, status >= 1 && status <= 3 ? status : 1);
        EXPECT_EQ(channel.Url(), "http://h/");
        EXPECT_EQ(channel.Image.Url, "iu");
        EXPECT_FALSE(channel.RequiresAuthentication);
        EXPECT_EQ(channel.Author(), "");
    }
}

TEST(DocumentFile, DamagedRecordRaisesWhenTheDocumentOpens) {
    TempDir dir;
    {
        TVelquintDoc doc(dir.Path());
        TFolder* const folder = doc.AddFolder(nullptr);
        doc.SaveFolder(*folder);
    }
    {
        TRootStorage root(dir.File("Reader.bin"), platform::saReadWrite, 0, false, false);
        TStorage folder(kFirstName, &root, platform::saReadWrite, false, false);
        TStorageStream stream(".folder", true, platform::saWrite, folder);
        const QByteArray truncated = Hex("32000000 0604 4e65");
        stream.Write(truncated.constData(), static_cast<int32_t>(truncated.size()));
    }
    EXPECT_THROW(TVelquintDoc doc(dir.Path()), platform::EReadError);
}

TEST(DocumentFile, NewDocumentHasTheSixteenByteHeaderAndPrivateFile) {
    TempDir dir;
    const QString folder = dir.File("My Velquint");
    { TVelquintDoc doc(folder); }
    const QString file = folder + "/Reader.bin";
    EXPECT_EQ(ToHex(StreamBytes(file, {".velquint"})),
              ToHex(Hex("14000000 01000000 01000000 01000000")));
    EXPECT_EQ(QFile::permissions(file) & (QFile::ReadGroup | QFile::ReadOther), 0);
}

TEST(DocumentFile, OldHeaderKeepsAttachmentCounterAndIsRewrittenAtVersion20) {
    TempDir dir;
    const QString file = dir.File("Reader.bin");
    PutStream(file, ".velquint", Hex("0a000000 05000000 09000000"), true);
    {
        TVelquintDoc doc(dir.Path());
        EXPECT_EQ(doc.NextFolderNumber(), 5);
        EXPECT_EQ(doc.NextTopicNumber(), 9);
        EXPECT_EQ(doc.NextAttachmentNumber(), 1);
        ASSERT_NE(doc.AddFolder(nullptr), nullptr);
    }
    EXPECT_EQ(ToHex(StreamBytes(file, {".velquint"})),
              ToHex(Hex("14000000 06000000 09000000 01000000")));
}

TEST(DocumentFile, AMissingHeaderNeverMakesNewNamesCollideWithStoredOnes) {
    TempDir dir;
    QByteArray topicRecord;
    {
        TVelquintDoc doc(dir.Path());
        TFolder* const folder = doc.AddFolder(nullptr);
        folder->SetName("Precious");
        doc.SaveFolder(*folder);
        TChannel* const channel = doc.AddChannel(folder);
        doc.SaveChannel(*channel);
        topicRecord = doc.NewTopicRecordName();
        TTopicIndex* const entry = channel->AddTopic("k", std::make_unique<TTopic>());
        entry->RecordName = topicRecord;
        doc.SaveTopic(*entry);
    }
    {
        TRootStorage root(dir.File("Reader.bin"), platform::saReadWrite, 0, false, false);
        root.DeleteElement(".velquint");
    }
    TVelquintDoc doc(dir.Path());
    EXPECT_EQ(doc.NextFolderNumber(), 3);
    EXPECT_EQ(doc.NewTopicRecordName(), TVelquintDoc::FormatElementName('t', 2));
    TFolder* const added = doc.AddFolder(nullptr);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->StorageName(), TVelquintDoc::FormatElementName('f', 3));
    ASSERT_EQ(doc.RootFolder().FolderCount(), 2);
    EXPECT_EQ(doc.RootFolder().FolderAt(0)->ChannelCount(), 1);
}

TEST(DocumentFile, PrefersVelquintBinOverReaderBin) {
    TempDir dir;
    PutStream(dir.File("Velquint.bin"), ".velquint", Hex("14000000 07000000 01000000 01000000"),
              true);
    TVelquintDoc doc(dir.Path());
    EXPECT_EQ(doc.FileName(), dir.File("Velquint.bin"));
    EXPECT_EQ(doc.NextFolderNumber(), 7);
    EXPECT_EQ(TVelquintDoc::DocumentFolder({}, "Brand").endsWith("/My Brand/"), true);
}

// Builds News (with the channel Feed) and Sub-folder under it, and a subscribed top channel.
struct Sample {
    TFolder* news;
    TChannel* feed;
    TFolder* sub;
    TChannel* subscribed;
};

Sample BuildSample(TVelquintDoc& doc) {
    Sample s{};
    s.news = doc.AddFolder(nullptr);
    s.news->SetName("News");
    s.news->SetUnreadCount(2);
    doc.SaveFolder(*s.news);
    s.feed = doc.AddChannel(s.news);
    s.feed->SetName("Feed &amp; more");
    s.feed->SetUrl("HTTP://User:pw@Example.org/feed");
    s.feed->SetDescription("About");
    s.feed->Link = "http://example.org/";
    s.feed->SetAuthor("Ann");
    s.feed->Status = 3;
    s.feed->Image.Url = "http://example.org/logo.png";
    s.feed->LastUpdated = 45000.25;
    s.feed->SetTopicCount(12);
    doc.SaveChannel(*s.feed);
    s.sub = doc.AddFolder(s.news);
    s.sub->SetName("Sub-folder");
    doc.SaveFolder(*s.sub);
    s.subscribed = doc.AddChannel(nullptr);
    s.subscribed->SetName("Branded");
    s.subscribed->SetUrl("http://brand.example/rss");
    s.subscribed->Subscribed = true;
    doc.SaveChannel(*s.subscribed);
    return s;
}

TEST(Document, TreeNamesAddressesAndCountsSurviveReopening) {
    TempDir dir;
    QByteArray feedName;
    {
        TVelquintDoc doc(dir.Path());
        const Sample s = BuildSample(doc);
        EXPECT_EQ(s.news->StorageName(), kFirstName);
        EXPECT_EQ(s.feed->StoragePath(),
                  kFirstName + "\\" + TVelquintDoc::FormatElementName('f', 2));
        feedName = s.feed->StorageName();
        EXPECT_EQ(doc.ChannelsByUrl().Find("http://user:pw@example.org/feed"), s.feed);
    }
    TVelquintDoc doc(dir.Path());
    EXPECT_EQ(doc.NextFolderNumber(), 5);
    ASSERT_EQ(doc.RootFolder().FolderCount(), 1);
    ASSERT_EQ(doc.RootFolder().ChannelCount(), 1);
    TFolder* const news = doc.RootFolder().FolderAt(0);
    EXPECT_EQ(news->Name(), "News");
    EXPECT_EQ(news->UnreadCount(), 2);
    ASSERT_EQ(news->ChannelCount(), 1);
    ASSERT_EQ(news->FolderCount(), 1);
    EXPECT_EQ(news->FolderAt(0)->Name(), "Sub-folder");
    TChannel* const feed = news->ChannelAt(0);
    EXPECT_EQ(feed->Name(), "Feed & more");
    EXPECT_EQ(feed->Url(), "HTTP://User:pw@Example.org/feed");
    EXPECT_TRUE(feed->UrlHasCredentials());
    EXPECT_EQ(feed->Description(), "About");
    EXPECT_EQ(feed->Link, "http://example.org/");
    EXPECT_EQ(feed->Author(), "Ann");
    EXPECT_EQ(feed->Status, 3);
    EXPECT_EQ(feed->Image.Url, "http://example.org/logo.png");
    EXPECT_DOUBLE_EQ(feed->LastUpdated, 45000.25);
    EXPECT_EQ(feed->TopicCount(), 12);
    EXPECT_EQ(feed->Parent(), news);
    EXPECT_EQ(doc.FolderByStorageName(feedName), feed);
    EXPECT_EQ(doc.ChannelsByUrl().Find("http://user:pw@example.org/feed"), feed);
    EXPECT_TRUE(doc.RootFolder().ChannelAt(0)->Subscribed);
    EXPECT_EQ(doc.SearchRoot().Name(), "Search Results");
    EXPECT_EQ(doc.HomeUrl(), "https://www.velquint.net/");
}

TEST(Document, DeletingHidesSubscribedItemsAndRemovesOthersWithTheirStorage) {
    TempDir dir;
    const QString file = dir.File("Reader.bin");
    QByteArray newsName;
    QByteArray subscribedName;
    {
        TVelquintDoc doc(dir.Path());
        const Sample s = BuildSample(doc);
        newsName = s.news->StorageName();
        subscribedName = s.subscribed->StorageName();
        doc.DeleteFolder(*s.subscribed);
        EXPECT_TRUE(s.subscribed->Hidden);
        EXPECT_EQ(doc.FolderByStorageName(subscribedName), s.subscribed);

        doc.DeleteFolder(*s.news);
        EXPECT_EQ(doc.RootFolder().FolderCount(), 0);
        EXPECT_EQ(doc.FolderByStorageName(newsName), nullptr);
        EXPECT_EQ(doc.ChannelsByUrl().Find("http://user:pw@example.org/feed"), nullptr);
        doc.DeleteFolder(doc.RootFolder());
    }
    {
        TRootStorage root(file, platform::saRead, 0, false, false);
        EXPECT_FALSE(root.StorageExists(newsName));
        EXPECT_TRUE(root.StorageExists(subscribedName));
    }
    TVelquintDoc doc(dir.Path());
    ASSERT_EQ(doc.RootFolder().ChannelCount(), 1);
    EXPECT_TRUE(doc.RootFolder().ChannelAt(0)->Hidden);
    EXPECT_EQ(doc.RootFolder().FolderCount(), 0);
}

TEST(Document, MovingCarriesTheStorageAndRefusesOwnDescendants) {
    TempDir dir;
    {
        TVelquintDoc doc(dir.Path());
        const Sample s = BuildSample(doc);
        const QByteArray subPath = s.sub->StoragePath();
        try {
            doc.MoveFolder(*s.news, s.sub);
            FAIL() << "a folder moved into its own sub-folder";
        } catch (const platform::ECDStorageError&) {
        }
        EXPECT_EQ(s.news->Parent(), &doc.RootFolder());
        EXPECT_EQ(s.sub->StoragePath(), subPath);
        EXPECT_EQ(s.news->FolderCount(), 1);

        doc.MoveFolder(*s.feed, s.sub);
        EXPECT_EQ(s.feed->StoragePath(), subPath + "\\" + s.feed->StorageName());
        doc.MoveFolder(*s.sub, nullptr);
        EXPECT_EQ(s.sub->StoragePath(), s.sub->StorageName());
        EXPECT_EQ(s.feed->StoragePath(), s.sub->StorageName() + "\\" + s.feed->StorageName());
        doc.MoveFolder(*s.subscribed, s.news);
    }
    TVelquintDoc doc(dir.Path());
    ASSERT_EQ(doc.RootFolder().FolderCount(), 2);
    TFolder* news = doc.RootFolder().FolderAt(0);
    TFolder* sub = doc.RootFolder().FolderAt(1);
    if (news->Name() != "News")
        std::swap(news, sub);
    EXPECT_EQ(sub->Name(), "Sub-folder");
    ASSERT_EQ(sub->ChannelCount(), 1);
    EXPECT_EQ(sub->ChannelAt(0)->Name(), "Feed & more");
    ASSERT_EQ(news->ChannelCount(), 1);
    EXPECT_EQ(news->ChannelAt(0)->Name(), "Branded");
    EXPECT_EQ(doc.RootFolder().ChannelCount(), 0);
}

TEST(Document, SavedSearchesLoadWithTheirOptions) {
    TempDir dir;
    {
        TVelquintDoc doc(dir.Path());
        {
            auto path = doc.OpenStoragePath(".search", platform::saReadWrite, true);
            ASSERT_NE(path, nullptr);
        }
        doc.SearchRoot().SetName("Found");
        doc.SaveFolder(doc.SearchRoot());
        auto* const search = static_cast<TSearchChannel*>(doc.AddChannel(&doc.SearchRoot()));
        ASSERT_NE(search, nullptr);
        EXPECT_TRUE(search->StoragePath().startsWith(".search\\"));
        search->SetName("Mentions");
        search->Options.FindWhat = "Velquint";
        search->Options.MatchCase = true;
        search->Options.SearchFolders = {"fa", "fb"};
        doc.SaveChannel(*search);
        doc.SaveSearchInfo(*search);
    }
    TVelquintDoc doc(dir.Path());
    EXPECT_EQ(doc.SearchRoot().Name(), "Found");
    EXPECT_EQ(doc.RootFolder().FolderCount() + doc.RootFolder().ChannelCount(), 0);
    ASSERT_EQ(doc.SearchRoot().ChannelCount(), 1);
    auto* const search = dynamic_cast<TSearchChannel*>(doc.SearchRoot().ChannelAt(0));
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->Name(), "Mentions");
    EXPECT_TRUE(search->Options.SaveAsPersistent);
    EXPECT_EQ(search->Options.FindWhat, "Velquint");
    EXPECT_TRUE(search->Options.MatchCase);
    EXPECT_FALSE(search->Options.MatchWholeWords);
    EXPECT_EQ(search->Options.SearchFolders, QList<QByteArray>({"fa", "fb"}));
    EXPECT_TRUE(doc.ChannelsByUrl().Count() == 0);
}

TEST(Document, StoragePathsOpenAndFailWithoutRaising) {
    TempDir dir;
    TVelquintDoc doc(dir.Path());
    const Sample s = BuildSample(doc);
    EXPECT_EQ(&doc.OpenStoragePath("", platform::saRead, false)->Storage(), &doc.RootStorage());
    {
        auto path = doc.OpenStoragePath(s.feed->StoragePath(), platform::saRead, false);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(path->Storage().Name(), s.feed->StorageName());
        EXPECT_NE(TVelquintDoc::OpenReader(path->Storage(), ".channel"), nullptr);
        EXPECT_EQ(TVelquintDoc::OpenReader(path->Storage(), ".index"), nullptr);
        EXPECT_EQ(doc.OpenStoragePath(s.news->StoragePath(), platform::saRead, false), nullptr)
            << "an element already open cannot be opened twice";
    }
    EXPECT_EQ(doc.OpenStoragePath(s.news->StoragePath() + "\\nothing\\x", platform::saRead, true),
              nullptr);
    EXPECT_NE(doc.OpenStoragePath(s.news->StoragePath(), platform::saRead, false), nullptr)
        << "a failed open closed what it had opened";
}

TEST(Document, CustomisationAndImageStreams) {
    TempDir dir;
    const QString file = dir.File("Reader.bin");
    { TVelquintDoc doc(dir.Path()); }
    PutStream(file, ".customize", Hex("01000000 0611") + "http://home.test/");
    PutStream(file, ".big", Hex("01000000 02000000 0604") + "link" + "JPEGDATA");
    PutStream(file, ".small", Hex("01000000 09000000 0600"));
    PutStream(file, ".smallbottom", Hex("01000000 04000000 0601") + "L" + "ignored");
    TVelquintDoc doc(dir.Path());
    EXPECT_EQ(doc.HomeUrl(), "http://home.test/");

    TImageRecord image;
    ASSERT_TRUE(doc.ReadImage(".big", true, image));
    EXPECT_EQ(image.PictureType, TImageRecord::Jpeg);
    EXPECT_EQ(image.Link, "link");
    EXPECT_EQ(image.Picture, "JPEGDATA");
    ASSERT_TRUE(doc.ReadImage(".big", false, image));
    EXPECT_TRUE(image.Picture.isEmpty());
    EXPECT_FALSE(doc.ReadImage(".small", true, image)) << "picture type 9";
    ASSERT_TRUE(doc.ReadImage(".smallbottom", true, image));
    EXPECT_TRUE(image.Picture.isEmpty());
    EXPECT_FALSE(doc.ReadImage(".absent", true, image));
}

TEST(Document, DamagedCustomisationKeepsTheDefaultHomePage) {
    TempDir dir;
    { TVelquintDoc doc(dir.Path()); }
    PutStream(dir.File("Reader.bin"), ".customize", Hex("01000000 0640 41"));
    TVelquintDoc doc(dir.Path());
    EXPECT_EQ(doc.HomeUrl(), "https://www.velquint.net/");
}

TEST(Document, EveryChangeIsCommittedAtOnceAndUpdatesCommitOnce) {
    TempDir dir;
    const QString file = dir.File("Reader.bin");
    TVelquintDoc doc(dir.Path());
    TFolder* const folder = doc.AddFolder(nullptr);
    folder->SetName("Kept");
    doc.SaveFolder(*folder);
    // What a crash right now would leave: the file with its rollback journal, if any.
    const QString copy = dir.File("copy.bin");
    auto committedHas = [&](const QByteArray& name) {
        QFile::remove(copy);
        QFile::remove(copy + "-journal");
        EXPECT_TRUE(QFile::copy(file, copy));
        if (QFile::exists(file + "-journal")) {
            EXPECT_TRUE(QFile::copy(file + "-journal", copy + "-journal"));
        }
        TRootStorage root(copy, platform::saRead, 0, false, false);
        return root.StorageExists(name);
    };
    EXPECT_TRUE(committedHas(folder->StorageName()));
    doc.BeginUpdate();
    TFolder* const batched = doc.AddFolder(nullptr);
    doc.SaveFolder(*batched);
    EXPECT_FALSE(committedHas(batched->StorageName())) << "committed inside an update";
    doc.EndUpdate();
    EXPECT_TRUE(committedHas(batched->StorageName()));
}

TEST(Document, WrittenFilePassesTheIndependentVerifier) {
    const QString verifier = QStringLiteral(VELQUINT_SHARED_TOOLS "/cfb-verify");
    if (!QFile::exists(verifier))
        GTEST_SKIP() << "cfb-verify is not there";
    TempDir dir;
    {
        TVelquintDoc doc(dir.Path());
        BuildSample(doc);
    }
    QProcess run;
    run.start(verifier, {dir.File("Reader.bin"), "--strict"});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardOutput().toStdString()
                                 << run.readAllStandardError().toStdString();
}

} // namespace
