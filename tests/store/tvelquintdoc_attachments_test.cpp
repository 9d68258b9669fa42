#include "store/tvelquintdoc.h"

#include "support/tempdir.h"

#include "config/tbranding.h"
#include "config/tconfiguration.h"

#include <gtest/gtest.h>

namespace {

using namespace store;
using testsupport::TempDir;

// A document with the settings of a fresh configuration whose files live in the folder.
struct Fixture {
    TempDir dir;
    config::TBranding branding{dir.Path()};
    config::TConfiguration configuration{
        branding, config::TConfigurationEnvironment{dir.File("settings.ini"),
                                                    dir.File("autostart.desktop"),
                                                    dir.File("velquint"),
                                                    [this] { return dir.Path() + "/"; },
                                                    {QStringLiteral("Default")}}};

    std::unique_ptr<TVelquintDoc> Open() {
        auto doc = std::make_unique<TVelquintDoc>(dir.Path());
        doc->SetConfiguration(&configuration);
        return doc;
    }
};

// Records the playlist additions and answers with a chosen outcome.
class RecordingPlaylists : public TPlaylists {
public:
    bool AddToPlaylist(TPlaylistPlayer player, const QString& path) override {
        added.append({player, path});
        return succeed;
    }
    QList<std::pair<TPlaylistPlayer, QString>> added;
    bool succeed = true;
};

TAttachment* Add(TVelquintDoc& doc, TTopic& topic, const QString& url) {
    auto attachment = std::make_unique<TAttachment>();
    attachment->Url = url;
    return doc.AddAttachment(std::move(attachment), topic);
}

TEST(Attachments, ClassificationFollowsExtensionAndIdleOption) {
    struct Row {
        int option;
        const char* url;
        uint8_t priority;
        int32_t kind;
    };
    const Row rows[] = {
        {1, "http://h/a.mp3", TAttachment::WhenIdle, TAttachment::Music},
        {1, "http://h/a.pdf", TAttachment::WhenIdle, TAttachment::Other},
        {2, "http://h/a.MP3", TAttachment::High, TAttachment::Music},
        {2, "http://h/a.pdf", TAttachment::WhenIdle, TAttachment::Other},
        {3, "http://h/a.pdf", TAttachment::High, TAttachment::Other},
        {3, "http://h/setup.exe", TAttachment::Blocked, TAttachment::Other},
        {2, "http://h/get.php?file=a.mp3", TAttachment::High, TAttachment::Music},
    };
    Fixture fixture;
    const auto doc = fixture.Open();
    TTopic topic;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.option) + " " + row.url);
        fixture.configuration.IdleDownloadingOption = row.option;
        const TAttachment* const attachment = Add(*doc, topic, row.url);
        EXPECT_EQ(attachment->Priority, row.priority);
        EXPECT_EQ(attachment->Kind, row.kind);
    }
}

TEST(Attachments, AddingNamesKeysFilesAndQueuesTheRecord) {
    Fixture fixture;
    const auto doc = fixture.Open();
    TChannel channel(nullptr);
    channel.SetName("Radio");
    TTopic topic;
    topic.Folder = &channel;
    topic.SetTitle("Show &amp; tell");

    TAttachment* const first = Add(*doc, topic, "HTTP://host.example/path/my%20show.mp3?id=3#t=10");
    EXPECT_EQ(first->Key, "1");
    EXPECT_EQ(first->FileName(), "my show.mp3?id=3");
    EXPECT_EQ(first->OriginText, "From Radio / Show & tell");
    EXPECT_EQ(topic.AttachmentKeys, QList<QByteArray>({"1"}));
    EXPECT_EQ(doc->FindAttachment("1"), first);
    EXPECT_EQ(doc->IdleQueue(), QList<TAttachment*>({first}));
    EXPECT_TRUE(doc->HasQueuedAttachments());

    EXPECT_EQ(Add(*doc, topic, "http://host.example")->FileName(), "attachment2")
        << "an address without a path";
    EXPECT_EQ(Add(*doc, topic, "http://h/%2E%2E%2F%2E%2E%2Fevil.sh")->FileName(), "evil.sh");
    TAttachment* last = nullptr;
    for (int i = 4; i <= 16; ++i)
        last = Add(*doc, topic, "http://h/x.bin");
    EXPECT_EQ(last->Key, "10") << "the sixteenth key";
    EXPECT_EQ(doc->NextAttachmentNumber(), 17);
}

TEST(Attachments, RecordsAndQueuesSurviveReopening) {
    Fixture fixture;
    {
        const auto doc = fixture.Open();
        TTopic topic;
        fixture.configuration.IdleDownloadingOption = 3;
        TAttachment* const done = Add(*doc, topic, "http://h/done.mp3");
        doc->AttachmentCompleted(*done);
        TAttachment* const paused = Add(*doc, topic, "http://h/paused.pdf");
        paused->SetState(TAttachment::Paused);
        paused->Downloaded = 10;
        paused->Size = 100;
        paused->ErrorText = "late";
        Add(*doc, topic, "http://h/blocked.exe");
        doc->SaveAttachments();
    }
    const auto doc = fixture.Open();
    EXPECT_FALSE(doc->AttachmentsLoaded());
    TAttachment* const paused = doc->FindAttachment("2");
    ASSERT_NE(paused, nullptr);
    EXPECT_EQ(paused->State, TAttachment::Paused);
    EXPECT_EQ(paused->ProgressText(), "10%");
    EXPECT_EQ(paused->ErrorText, "late");
    EXPECT_EQ(doc->Attachments().size(), 3);
    EXPECT_EQ(doc->HighPriorityQueue(), QList<TAttachment*>({paused})) << "complete is not queued";
    ASSERT_EQ(doc->BlockedList().size(), 1);
    EXPECT_EQ(doc->BlockedList().front()->FileName(), "blocked.exe");
    EXPECT_FALSE(doc->HasQueuedAttachments()) << "nothing is in state 1";
    EXPECT_EQ(doc->NextAttachmentNumber(), 4);

    EXPECT_TRUE(doc->SetAttachmentPriority(*paused, TAttachment::WhenIdle));
    EXPECT_FALSE(doc->SetAttachmentPriority(*paused, TAttachment::WhenIdle));
    EXPECT_TRUE(doc->HighPriorityQueue().isEmpty());
    EXPECT_EQ(doc->IdleQueue(), QList<TAttachment*>({paused}));

    doc->MarkAttachments(
        {TAttachment::Complete, TAttachment::CompleteNotInPlaylists, TAttachment::Canceled});
    EXPECT_EQ(doc->FindAttachment("1")->State, TAttachment::Cleared);
    EXPECT_EQ(paused->State, TAttachment::Paused);
}

TEST(Attachments, CompletedMusicGoesToEveryEnabledPlaylist) {
    Fixture fixture;
    const auto doc = fixture.Open();
    TTopic topic;
    TAttachment* const music = Add(*doc, topic, "http://h/song.ogg");
    TAttachment* const other = Add(*doc, topic, "http://h/notes.txt");

    doc->AttachmentCompleted(*music);
    EXPECT_EQ(music->State, TAttachment::Complete) << "no playlist is enabled";

    fixture.configuration.PopulateWinAmpPlaylist = true;
    fixture.configuration.PopulateMediaPlayerPlaylist = true;
    doc->AttachmentCompleted(*music);
    EXPECT_EQ(music->State, TAttachment::CompleteNotInPlaylists) << "nothing can add it yet";

    RecordingPlaylists playlists;
    doc->SetPlaylists(&playlists);
    doc->AttachmentCompleted(*music);
    EXPECT_EQ(music->State, TAttachment::Complete);
    const QString path = fixture.dir.Path() + "/Downloaded Content/song.ogg";
    EXPECT_EQ(doc->FullPath(*music), path);
    ASSERT_EQ(playlists.added.size(), 2);
    EXPECT_EQ(playlists.added.at(0).first, TPlaylistPlayer::MediaPlayer);
    EXPECT_EQ(playlists.added.at(1).first, TPlaylistPlayer::WinAmp);
    EXPECT_EQ(playlists.added.at(1).second, path);

    playlists.succeed = false;
    doc->AttachmentCompleted(*music);
    EXPECT_EQ(music->State, TAttachment::CompleteNotInPlaylists);
    doc->AttachmentCompleted(*other);
    EXPECT_EQ(other->State, TAttachment::Complete) << "only music goes to playlists";
    EXPECT_EQ(playlists.added.size(), 4);

    fixture.configuration.UseOverrideMusicFolder = true;
    fixture.configuration.SetOverrideMusicFolder("/srv/music");
    EXPECT_EQ(doc->TargetFolder(*music), "/srv/music/");
    EXPECT_EQ(doc->TargetFolder(*other), fixture.dir.Path() + "/Downloaded Content/");
    other->Folder = "/tmp/mine";
    EXPECT_EQ(doc->FullPath(*other), "/tmp/mine/notes.txt");
}

TEST(Attachments, SavingFirstReadsWhatIsStored) {
    Fixture fixture;
    {
        const auto doc = fixture.Open();
        TTopic topic;
        Add(*doc, topic, "http://h/a.mp3");
        doc->SaveAttachments();
    }
    {
        const auto doc = fixture.Open();
        TChannel* const channel = doc->AddChannel(nullptr);
        doc->SaveChannel(*channel);
        doc->CompleteRefresh(*channel);
    }
    const auto doc = fixture.Open();
    ASSERT_NE(doc->FindAttachment("1"), nullptr) << "the merge kept the stored record";
}

} // namespace
