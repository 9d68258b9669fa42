// Opening a document: 1 000 channels in 50 folders, tree only (no topic index is read). Goal:
// under 50 ms and under 10 MB above the process before the open.
//
// The fixture is written once, by a child process, into a fresh folder below $VELQUINT_BENCH_DIR
// or the temporary folder, so that this process starts the first open with the heap of an empty
// process. The time is that of constructing and destroying TVelquintDoc with the file in the page
// cache. Memory, from the first open only:
//   MB_above_empty  peak resident set during the open, above the resident set before it
//   heap_MB         heap in use while the document is open, above the heap before it

#include "platform/tdatetime.h"
#include "store/tvelquintdoc.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFolders = 50;
constexpr int kChannelsPerFolder = 20;
constexpr int kChannels = kFolders * kChannelsPerFolder;

void WriteFixture(const QString& folder) {
    store::TVelquintDoc doc(folder);
    doc.BeginUpdate();
    for (int f = 0; f < kFolders; ++f) {
        store::TFolder* const parent = doc.AddFolder(nullptr);
        parent->SetName(QStringLiteral("Folder %1").arg(f));
        doc.SaveFolder(*parent);
        for (int c = 0; c < kChannelsPerFolder; ++c) {
            store::TChannel* const channel = doc.AddChannel(parent);
            const int n = f * kChannelsPerFolder + c;
            channel->SetUrl(
                QStringLiteral("https://feeds.example.org/%1/channel-%2.xml").arg(f).arg(n));
            channel->SetName(QStringLiteral("Channel %1 of folder %2").arg(n).arg(f));
            channel->SetDescription(
                QStringLiteral("News, notes and articles from the example site number %1").arg(n));
            channel->Link = QStringLiteral("https://www.example.org/%1/").arg(n);
            channel->SetCopyright(QStringLiteral("Copyright %1 Example Publishing").arg(2000 + f));
            channel->LastUpdated = platform::EncodeDateTime(2024, 1 + n % 12, 1 + n % 28);
            channel->SetUnreadCount(n % 17);
            channel->SetTopicCount(40 + n % 60);
            doc.SaveChannel(*channel);
        }
    }
    doc.EndUpdate();
}

QString BenchParent() {
    const char* const dir = std::getenv("VELQUINT_BENCH_DIR");
    return dir && *dir ? QString::fromLocal8Bit(dir) : QString();
}

// The folder with the fixture, written on first use by a child process.
const QString& FixtureFolder() {
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        const QString parent = BenchParent();
        auto made =
            parent.isEmpty()
                ? std::make_unique<QTemporaryDir>()
                : std::make_unique<QTemporaryDir>(parent + QStringLiteral("/bench-doc-XXXXXX"));
        if (!made->isValid()) {
            std::fprintf(stderr, "bench_doc: cannot make a temporary folder\n");
            std::exit(1);
        }
        const pid_t child = fork();
        if (child == 0) {
            int code = 0;
            try {
                WriteFixture(made->path());
            } catch (const std::exception& e) {
                std::fprintf(stderr, "bench_doc: writing the fixture failed: %s\n", e.what());
                code = 1;
            }
            _exit(code);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_doc: the fixture was not written\n");
            std::exit(1);
        }
        return made;
    }();
    static const QString path = dir->path();
    return path;
}

// A line "Name:   123 kB" of /proc/self/status, in bytes; -1 when missing.
long long StatusBytes(const char* name) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(name) + ":";
    for (std::string line; std::getline(status, line);)
        if (line.rfind(prefix, 0) == 0)
            return std::stoll(line.substr(prefix.size())) * 1024;
    return -1;
}

// The peak resident set starts again from the current one.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

struct Memory {
    double peakAboveMb = -1;
    double heapMb = -1;
    int channels = 0;
};

int CountChannels(const store::TFolder& folder) {
    int count = folder.ChannelCount();
    for (const store::TFolder* child : folder.Folders())
        count += CountChannels(*child);
    return count;
}

// The first open of the process.
const Memory& FirstOpen() {
    static const Memory memory = [] {
        const QString& folder = FixtureFolder();
        Memory m;
        const long long before = StatusBytes("VmRSS");
        const bool peak = ResetPeak();
        const size_t heapBefore = HeapInUse();
        {
            store::TVelquintDoc doc(folder);
            m.heapMb = static_cast<double>(HeapInUse() - heapBefore) / 1e6;
            m.channels = CountChannels(doc.RootFolder());
        }
        const long long after = StatusBytes(peak ? "VmHWM" : "VmRSS");
        m.peakAboveMb = static_cast<double>(after - before) / 1e6;
        return m;
    }();
    return memory;
}

void BM_OpenDocument1000Channels(benchmark::State& state) {
    const Memory& memory = FirstOpen();
    if (memory.channels != kChannels) {
        state.SkipWithError("the fixture does not hold 1000 channels");
        return;
    }
    const QString& folder = FixtureFolder();
    for (auto _ : state) {
        store::TVelquintDoc doc(folder);
        benchmark::DoNotOptimize(&doc);
    }
    state.counters["MB_above_empty"] = memory.peakAboveMb;
    state.counters["heap_MB"] = memory.heapMb;
    state.counters["channels"] = memory.channels;
}
BENCHMARK(BM_OpenDocument1000Channels)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
