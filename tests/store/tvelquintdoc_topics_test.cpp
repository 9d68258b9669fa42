#include "store/tvelquintdoc.h"

#include "support/tempdir.h"
#include "support/tricklestream.h"

#include "platform/tvalueerrors.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace store;
using platform::TMemoryStream;
using testsupport::Hex;
using testsupport::TempDir;

std::unique_ptr<TTopic> FeedItem(const QString& title, const QString& description,
                                 const QString& link = {}, const QString& guid = {}) {
    auto topic = std::make_unique<TTopic>();
    topic->SetTitle(title);
    topic->SetDescription(description);
    topic->Link = link;
    topic->Guid = guid;
    return topic;
}

// What the channel loader does with one downloaded item.
bool Merge(TVelquintDoc& doc, TChannel& channel, std::unique_ptr<TTopic> topic) {
    if (doc.IsKnownTopic(channel, *topic))
        return false;
    return doc.AddFeedTopic(channel, std::move(topic));
}

TChannel& OnlyChannel(TVelquintDoc& doc) {
    return *doc.RootFolder().ChannelAt(0);
}

TChannel& NewChannel(TVelquintDoc& doc, TFolder* parent = nullptr) {
    TChannel* const channel = doc.AddChannel(parent);
    channel->SetUrl("http://example.org/feed");
    doc.SaveChannel(*channel);
    return *channel;
}

TEST(TopicIndex, EntriesRecordsAndSetsSurviveReopening) {
    TempDir dir;
    QByteArray key;
    {
        TVelquintDoc doc(dir.Path());
        TChannel& channel = NewChannel(doc);
        auto item = FeedItem("Caf&amp;eacute; news", "<p>Body</p>", "http://example.org/1");
        item->Author = "Ann";
        item->Date = 45000.5;
        item->AddAttachmentKey("a1");
        key = item->Id();
        ASSERT_TRUE(Merge(doc, channel, std::move(item)));
        TTopicIndex* const entry = channel.FindTopic(key);
        entry->Read = true;
        entry->Flag = 6;
        channel.SetUnreadCount(0);
        doc.CompleteRefresh(channel);
        EXPECT_EQ(channel.SeenIds.Count(), 1);
    }
    TVelquintDoc doc(dir.Path());
    TChannel& channel = OnlyChannel(doc);
    EXPECT_TRUE(channel.IndexUnloaded());
    EXPECT_EQ(channel.TopicCount(), 1) << "the count is saved with the index";
    doc.EnsureIndexLoaded(channel);
    ASSERT_EQ(channel.TopicEntries(), 1);
    TTopicIndex* const entry = channel.FindTopic(key);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Title(), "Café news");
    EXPECT_EQ(entry->Author(), "Ann");
    EXPECT_TRUE(entry->Read);
    EXPECT_EQ(entry->Flag, 6);
    EXPECT_TRUE(entry->HasAttachments);
    EXPECT_DOUBLE_EQ(entry->Date, 45000.5);
    EXPECT_TRUE(channel.SeenIds.Exists(key));
    EXPECT_TRUE(channel.KnownContent.Exists(entry->ContentHash));
    EXPECT_EQ(entry->Topic(), nullptr) << "records are read on demand";

    TTopic* const topic = doc.GetTopic(*entry);
    ASSERT_NE(topic, nullptr);
    EXPECT_FALSE(topic->NotLoaded);
    EXPECT_EQ(topic->Description(), "<p>Body</p>");
    EXPECT_EQ(topic->Link, "http://example.org/1");
    EXPECT_EQ(topic->AttachmentKeys, QList<QByteArray>({"a1"}));
    EXPECT_EQ(topic->Index, entry);
}

TEST(TopicIndex, OldVersionsAndOutOfRangeFlagsReadWithDefaults) {
    // Version 40: key, 8-bit title, date, record name, read, reserved, flag; no later fields.
    const QByteArray bytes = Hex("28000000 01"
                                 "0601 61 0601 41 11 0000000000408fe4 0602 7431 09 09 0209"
                                 "0601 62 0601 42 02 05 0602 7432 08 09 0201"
                                 "0601 63 0601 43 02 05 0602 7433 08 09 0207"
                                 "00 01 0601 61 00");
    TMemoryStream stream;
    stream.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
    stream.SetPosition(0);
    TChannel channel(nullptr);
    const platform::TDateTime before = platform::Now();
    platform::TValueReader reader(stream);
    TVelquintDoc::ReadIndex(reader, channel);
    ASSERT_EQ(channel.TopicEntries(), 3);
    EXPECT_EQ(channel.FindTopic("a")->Flag, 2) << "9 is out of range";
    EXPECT_EQ(channel.FindTopic("b")->Flag, 2) << "1 is out of range";
    EXPECT_EQ(channel.FindTopic("c")->Flag, 7);
    EXPECT_TRUE(channel.FindTopic("a")->Read);
    EXPECT_EQ(channel.FindTopic("b")->RecordName, "t2");
    EXPECT_DOUBLE_EQ(channel.FindTopic("b")->Date, 5.0);
    EXPECT_EQ(channel.KnownContent.Count(), 0) << "no content hashes before version 50";
    EXPECT_GE(channel.FindTopic("c")->Received, before) << "received when read";
    EXPECT_TRUE(channel.SeenIds.Exists("a"));
}

TEST(TopicIndex, DamagedEntryRaisesKeepsEarlierEntriesAndStaysUnloaded) {
    TempDir dir;
    TVelquintDoc doc(dir.Path());
    TChannel& channel = NewChannel(doc);
    {
        auto path = doc.OpenStoragePath(channel.StoragePath(), platform::saReadWrite, false);
        auto writer = TVelquintDoc::OpenWriter(path->Storage(), ".index");
        const QByteArray bytes = Hex("64000000 01 0601 61 0601 41 0205 0602 7431 08 09 0202"
                                     "0600 08 0600 1200000000 0205"
                                     "0601 62 0601 42 0205 0602");
        writer->Values().PutRaw(bytes.constData(), static_cast<int32_t>(bytes.size()));
        writer->Finish();
    }
    EXPECT_THROW(doc.EnsureIndexLoaded(channel), platform::EReadError);
    EXPECT_TRUE(channel.IndexUnloaded());
    EXPECT_NE(channel.FindTopic("a"), nullptr);
    EXPECT_EQ(channel.FindTopic("b"), nullptr);
}

TEST(TopicRecord, OldVersionsRead) {
    // Version 10: 8-bit texts and the date, no guid and no attachment list.
    const QByteArray bytes = Hex("0a000000 0601 54 0601 44 0601 4c 0601 41 0203");
    TMemoryStream stream;
    stream.Write(bytes.constData(), static_cast<int32_t>(bytes.size()));
    stream.SetPosition(0);
    TTopic topic;
    platform::TValueReader reader(stream);
    TVelquintDoc::ReadTopicRecord(reader, topic);
    EXPECT_EQ(topic.Title(), "T");
    EXPECT_EQ(topic.Description(), "D");
    EXPECT_EQ(topic.Link, "L");
    EXPECT_EQ(topic.Author, "A");
    EXPECT_DOUBLE_EQ(topic.Date, 3.0);
    EXPECT_TRUE(topic.Guid.isEmpty());
    EXPECT_EQ(topic.AttachmentKeyCount(), 0);
}

TEST(KnownTopics, SeenKeysAndContentHashesAcrossRuns) {
    TempDir dir;
    const auto x = [] { return FeedItem("X", "<p>x body</p>", "http://example.org/x"); };
    const auto y = [] { return FeedItem("Y", "y body", "http://example.org/y"); };
    QByteArray xKey;
    {
        // Run 1: both are new; the same item again in the same run is known by its key.
        TVelquintDoc doc(dir.Path());
        TChannel& channel = NewChannel(doc);
        xKey = x()->Id();
        EXPECT_TRUE(Merge(doc, channel, x()));
        EXPECT_TRUE(Merge(doc, channel, y()));
        doc.CompleteRefresh(channel);
        EXPECT_FALSE(Merge(doc, channel, x()));
        // A changed link makes a new key; in the same run only keys are compared.
        EXPECT_TRUE(Merge(doc, channel, FeedItem("Y", "y  body", "http://example.org/y2")));
        doc.CompleteRefresh(channel);
        EXPECT_EQ(channel.TopicEntries(), 3);
    }
    {
        // Run 2: the stored keys make both known, even after the user deleted x.
        TVelquintDoc doc(dir.Path());
        TChannel& channel = OnlyChannel(doc);
        doc.EnsureIndexLoaded(channel);
        doc.DeleteTopic(channel, *channel.FindTopic(xKey));
        doc.SaveIndex(channel);
        EXPECT_FALSE(Merge(doc, channel, x()));
        // The index read from the file knows the content under another link.
        EXPECT_FALSE(Merge(doc, channel, FeedItem("Y", "y body", "http://example.org/y3")));
        doc.CompleteRefresh(channel);
        EXPECT_EQ(channel.SeenIds.Count(), 0) << "nothing was added in this run";
    }
    {
        // Run 3: x is neither a seen key nor in the index any more, so it comes back.
        TVelquintDoc doc(dir.Path());
        TChannel& channel = OnlyChannel(doc);
        doc.EnsureIndexLoaded(channel);
        EXPECT_TRUE(Merge(doc, channel, x()));
        EXPECT_EQ(doc.SessionTopicIds(), QList<QByteArray>({xKey}));
    }
}

TEST(TopicOperations, DeleteOldTopicsCountsWholeDays) {
    TempDir dir;
    TVelquintDoc doc(dir.Path());
    TChannel& channel = NewChannel(doc);
    const platform::TDateTime now = platform::Now();
    for (const char* guid : {"fresh", "day", "old"})
        ASSERT_TRUE(Merge(doc, channel, FeedItem(guid, "", "", guid)));
    channel.FindTopic("fresh")->Received = now - 23.0 / 24;
    channel.FindTopic("day")->Received = now - 1.01;
    channel.FindTopic("old")->Received = now - 40;
    channel.FindTopic("old")->Read = true;
    channel.SetUnreadCount(2);

    EXPECT_FALSE(doc.DeleteOldTopics(channel, 60));
    EXPECT_TRUE(doc.DeleteOldTopics(channel, 1));
    EXPECT_NE(channel.FindTopic("fresh"), nullptr) << "23 hours are 0 days";
    EXPECT_EQ(channel.FindTopic("day"), nullptr);
    EXPECT_EQ(channel.FindTopic("old"), nullptr);
    EXPECT_EQ(channel.UnreadCount(), 1) << "only the unread one counts down";
    EXPECT_TRUE(doc.DeleteOldTopics(channel, 0));
    EXPECT_EQ(channel.TopicEntries(), 0);

    auto path = doc.OpenStoragePath(channel.StoragePath(), platform::saRead, false);
    QList<QByteArray> streams;
    path->Storage().ListStreams(streams);
    std::sort(streams.begin(), streams.end());
    EXPECT_EQ(streams, QList<QByteArray>({".channel", ".folder", ".index"}))
        << "every record went with its entry";
}

TEST(TopicOperations, CopyAndMoveCarryTheRecordAndNeverOverwrite) {
    TempDir dir;
    QByteArray movedName;
    {
        TVelquintDoc doc(dir.Path());
        TChannel& source = NewChannel(doc);
        TFolder* const archive = doc.AddFolder(nullptr);
        doc.SaveFolder(*archive);
        TFolder* const other = doc.AddFolder(nullptr);
        doc.SaveFolder(*other);
        ASSERT_TRUE(Merge(doc, source, FeedItem("A", "a body", "", "a")));
        ASSERT_TRUE(Merge(doc, source, FeedItem("B", "b body", "", "b")));

        doc.CopyTopic(source, *archive, true, *source.FindTopic("a"));
        ASSERT_NE(archive->FindTopic("a"), nullptr);
        EXPECT_EQ(archive->FindTopic("a")->Origin, source.StorageName());
        EXPECT_NE(source.FindTopic("a"), nullptr);
        const QByteArray copiedRecord = archive->FindTopic("a")->RecordName;
        EXPECT_NE(copiedRecord, source.FindTopic("a")->RecordName);

        doc.CopyTopic(source, *archive, false, *source.FindTopic("a"));
        EXPECT_NE(source.FindTopic("a"), nullptr) << "the destination holds the key already";
        EXPECT_EQ(archive->FindTopic("a")->RecordName, copiedRecord);

        const QByteArray bRecord = source.FindTopic("b")->RecordName;
        doc.CopyTopic(source, *other, false, *source.FindTopic("b"));
        EXPECT_EQ(source.FindTopic("b"), nullptr);
        ASSERT_NE(other->FindTopic("b"), nullptr);
        movedName = other->StorageName();
        auto path = doc.OpenStoragePath(source.StoragePath(), platform::saRead, false);
        EXPECT_FALSE(path->Storage().StreamExists(bRecord)) << "a move deletes the old record";
        path.reset();
        doc.CopyTopic(doc.RootFolder(), *other, true, *other->FindTopic("b"));
        for (TFolder* folder : {static_cast<TFolder*>(&source), archive, other})
            doc.SaveIndex(*folder);
    }
    // After reopening, the moved entry's origin no longer holds it: its own record is read.
    TVelquintDoc doc(dir.Path());
    TFolder* const other = doc.FolderByStorageName(movedName);
    ASSERT_NE(other, nullptr);
    doc.EnsureIndexLoaded(*other);
    TTopicIndex* const moved = other->FindTopic("b");
    ASSERT_NE(moved, nullptr);
    TTopic* const topic = doc.GetTopic(*moved);
    ASSERT_NE(topic, nullptr);
    EXPECT_EQ(topic->Description(), "b body");
}

TEST(TopicOperations, EntriesWhoseOriginsPointAtEachOtherResolveToTheirOwnRecords) {
    TempDir dir;
    TVelquintDoc doc(dir.Path());
    TFolder* const first = doc.AddFolder(nullptr);
    TFolder* const second = doc.AddFolder(nullptr);
    TTopicIndex* const a = first->AddTopic("k", nullptr);
    a->Origin = second->StorageName();
    TTopicIndex* const b = second->AddTopic("k", nullptr);
    b->Origin = first->StorageName();
    doc.Register(*first);
    doc.Register(*second);
    TTopic* const topic = doc.ResolveTopic(*a);
    ASSERT_NE(topic, nullptr);
    EXPECT_EQ(topic, a->Topic()) << "the walk stops where it began";
    EXPECT_EQ(doc.ResolveTopic(*b), topic);
    EXPECT_TRUE(topic->NotLoaded) << "there is no record to read";
}

TEST(Searches, NewTopicsAreFiledIntoEveryMatchingSavedSearch) {
    TempDir dir;
    TVelquintDoc doc(dir.Path());
    TChannel& channel = NewChannel(doc);
    { auto path = doc.OpenStoragePath(".search", platform::saReadWrite, true); }
    auto search = [&](const char* text, bool persistent) {
        auto* const found = static_cast<TSearchChannel*>(doc.AddChannel(&doc.SearchRoot()));
        found->Options.FindWhat = text;
        found->Options.SaveAsPersistent = persistent;
        doc.SaveChannel(*found);
        return found;
    };
    TSearchChannel* const reader = search("reader", true);
    TSearchChannel* const word = search("Linux", true);
    TSearchChannel* const transient = search("reader", false);
    ASSERT_TRUE(Merge(doc, channel, FeedItem("A feed Reader", "for Linux", "", "hit")));
    ASSERT_TRUE(Merge(doc, channel, FeedItem("Other", "nothing", "", "miss")));

    ASSERT_EQ(reader->TopicEntries(), 1);
    ASSERT_EQ(word->TopicEntries(), 1);
    EXPECT_EQ(transient->TopicEntries(), 0);
    TTopicIndex* const found = reader->FindTopic("hit");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Topic(), nullptr) << "a search entry has no topic of its own";
    EXPECT_EQ(doc.GetTopic(*found), channel.FindTopic("hit")->Topic());

    doc.SaveIndex(*reader);
    try {
        doc.ClearTopics(*reader);
        FAIL() << "a search channel has no records to delete";
    } catch (const platform::ECDStorageError& e) {
        EXPECT_TRUE(e.Message().startsWith("failed to delete element")) << e.what();
    }
    EXPECT_EQ(reader->TopicEntries(), 1);
}

TEST(TopicOperations, UnresolvableEntriesRaiseNoTopicAvailable) {
    TFolder folder(nullptr);
    TTopicIndex* const entry = folder.AddTopic("k", nullptr);
    TempDir dir;
    TVelquintDoc doc(dir.Path());
    try {
        doc.LoadTopic(*entry);
        FAIL();
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "No topic available");
    }
    EXPECT_THROW(doc.SaveTopic(*entry), platform::Exception);
}

} // namespace
