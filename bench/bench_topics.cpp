// The topic index of one channel: loading an index of 10 000 entries, merging 1 000 new topics
// (AddFeedTopic for each, then CompleteRefresh, inside one update as the channel loader runs it),
// and merging the same 1 000 again when they are all known. The memory of a loaded index is the
// heap growth of LoadIndex, reported as the counter "index_MB".
//
// The document lives in a fresh folder below the current one (or below $VELQUINT_BENCH_DIR),
// removed at the end.

#include "store/tvelquintdoc.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <malloc.h>

#include <memory>

namespace {

using namespace store;

constexpr int kIndexEntries = 10000;
constexpr int kNewTopics = 1000;

QString BenchRoot() {
    const QByteArray root = qgetenv("VELQUINT_BENCH_DIR");
    return root.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(root);
}

std::unique_ptr<TTopic> Item(int run, int i) {
    auto topic = std::make_unique<TTopic>();
    topic->SetTitle(
        QStringLiteral("Episode %1 of run %2: a title of ordinary length").arg(i).arg(run));
    topic->SetDescription(
        QStringLiteral("<p>The description of item %1, with <a href=\"http://example.org/%1\">a "
                       "link</a> and a few sentences of text as feeds carry them.</p>")
            .arg(i)
            .repeated(3));
    topic->Link = QStringLiteral("http://example.org/items/%1/%2").arg(run).arg(i);
    topic->Author = QStringLiteral("Author %1").arg(i % 17);
    return topic;
}

void Merge(TVelquintDoc& doc, TChannel& channel, int run) {
    doc.BeginUpdate();
    int added = 0;
    for (int i = 0; i < kNewTopics; ++i) {
        auto topic = Item(run, i);
        if (!doc.IsKnownTopic(channel, *topic) && doc.AddFeedTopic(channel, std::move(topic)))
            ++added;
    }
    channel.SetUnreadCount(channel.UnreadCount() + added);
    doc.CompleteRefresh(channel);
    doc.EndUpdate();
}

// A document whose only channel has an index of kIndexEntries entries (records left out: only
// the index is read).
QString BuildIndexFixture(const QString& folder) {
    TVelquintDoc doc(folder);
    TChannel* const channel = doc.AddChannel(nullptr);
    channel->SetUrl(QStringLiteral("http://example.org/feed"));
    doc.SaveChannel(*channel);
    for (int i = 0; i < kIndexEntries; ++i) {
        auto topic = Item(0, i);
        const QByteArray key = topic->Id();
        TTopicIndex* const entry = channel->AddTopic(key, std::move(topic));
        entry->RecordName = doc.NewTopicRecordName();
        entry->SetTopic(nullptr);
    }
    doc.SaveIndex(*channel);
    return channel->StorageName();
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void BM_LoadIndex10000(benchmark::State& state) {
    QTemporaryDir dir(BenchRoot() + QStringLiteral("/bench-topics-XXXXXX"));
    BuildIndexFixture(dir.path());
    TVelquintDoc doc(dir.path());
    TChannel& channel = *doc.RootFolder().ChannelAt(0);
    double megabytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        channel.ResetTopics(true);
        const size_t before = HeapInUse();
        state.ResumeTiming();
        doc.LoadIndex(channel);
        state.PauseTiming();
        megabytes = static_cast<double>(HeapInUse() - before) / (1024.0 * 1024.0);
        state.ResumeTiming();
    }
    state.counters["entries"] = channel.TopicEntries();
    state.counters["index_MB"] = megabytes;
}
BENCHMARK(BM_LoadIndex10000)->Unit(benchmark::kMillisecond);

void BM_MergeThousandNew(benchmark::State& state) {
    QTemporaryDir dir(BenchRoot() + QStringLiteral("/bench-topics-XXXXXX"));
    TVelquintDoc doc(dir.path());
    TChannel* const channel = doc.AddChannel(nullptr);
    doc.SaveChannel(*channel);
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        doc.ClearTopics(*channel);
        ++run;
        state.ResumeTiming();
        Merge(doc, *channel, run);
    }
    state.counters["topics"] = channel->TopicEntries();
}
BENCHMARK(BM_MergeThousandNew)->Unit(benchmark::kMillisecond);

void BM_MergeThousandKnown(benchmark::State& state) {
    QTemporaryDir dir(BenchRoot() + QStringLiteral("/bench-topics-XXXXXX"));
    TVelquintDoc doc(dir.path());
    TChannel* const channel = doc.AddChannel(nullptr);
    doc.SaveChannel(*channel);
    Merge(doc, *channel, 1);
    for (auto _ : state)
        Merge(doc, *channel, 1);
    state.counters["topics"] = channel->TopicEntries();
}
BENCHMARK(BM_MergeThousandKnown)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
