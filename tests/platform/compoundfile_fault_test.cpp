#include "platform/cfb/cfbstorage.h"
#include "support/faultfs.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace platform::cfb;
using testsupport::FaultFileSystem;
using testsupport::TempDir;

// Commits are atomic and durable: whichever operation of a workload fails, and whether the
// process goes on, dies or the machine loses power there, the file opens afterwards with exactly
// what was last committed, passes the structural check and has no journal left.
namespace {

constexpr uint32_t kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

// ---------------------------------------------------------------------------------------------
// The logical content of a file

struct Tree {
    std::set<std::string> storages;             // "a", "a/b"
    std::map<std::string, std::string> streams; // path -> bytes
    bool operator==(const Tree&) const = default;
};

// Bytes that differ from stream to stream and from sector to sector.
std::string Bytes(uint32_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (uint32_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(((i + 1) * 2654435761u + seed * 40503u) >> 24);
    return out;
}

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
std::string U8(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}
std::string ParentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}
std::string LeafOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}
bool Within(const std::string& path, const std::string& top) {
    return path == top || path.starts_with(top + "/");
}

// The first differences between two trees, one a line.
std::string Difference(const Tree& want, const Tree& got) {
    std::string out;
    auto note = [&](const std::string& line) {
        if (out.size() < 1500)
            out += "  " + line + "\n";
    };
    for (const auto& s : want.storages)
        if (!got.storages.count(s))
            note("missing storage " + s);
    for (const auto& s : got.storages)
        if (!want.storages.count(s))
            note("unexpected storage " + s);
    for (const auto& [path, bytes] : want.streams) {
        const auto it = got.streams.find(path);
        if (it == got.streams.end())
            note("missing stream " + path);
        else if (it->second != bytes)
            note("stream " + path + ": " + std::to_string(it->second.size()) + " bytes, " +
                 std::to_string(bytes.size()) + " expected, or other bytes");
    }
    for (const auto& [path, bytes] : got.streams)
        if (!want.streams.count(path))
            note("unexpected stream " + path);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Workload steps on the public interface, applied to the file and to the expected tree alike

enum class Kind { Storage, Put, Patch, Remove, Move, Copy, Reopen };

struct Op {
    Kind kind;
    std::string path;
    std::string to;    // Move, Copy: the new path
    uint32_t size = 0; // Put: the new length; Patch: the bytes written
    uint32_t at = 0;   // Patch: where
    uint32_t seed = 0;
};
using Step = std::vector<Op>; // committed at its end

Op MakeStorage(std::string path) {
    return {Kind::Storage, std::move(path), ""};
}
// Creates the stream or rewrites the one there in place: new bytes, then the new length.
Op Put(std::string path, uint32_t size, uint32_t seed) {
    return {Kind::Put, std::move(path), "", size, 0, seed};
}
Op Patch(std::string path, uint32_t at, uint32_t size, uint32_t seed) {
    return {Kind::Patch, std::move(path), "", size, at, seed};
}
Op Remove(std::string path) {
    return {Kind::Remove, std::move(path), ""};
}
Op Move(std::string from, std::string to) {
    return {Kind::Move, std::move(from), std::move(to)};
}
Op Copy(std::string from, std::string to) {
    return {Kind::Copy, std::move(from), std::move(to)};
}
// Releases the root and opens the file again.
Op Reopen() {
    return {Kind::Reopen, "", ""};
}

// The storages along path below root; chain keeps them open, the last is the one asked for.
HResult OpenStorages(Storage& root, const std::string& path,
                     std::vector<std::unique_ptr<Storage>>& chain, Storage*& out) {
    out = &root;
    size_t from = 0;
    while (from < path.size()) {
        const size_t slash = std::min(path.find('/', from), path.size());
        std::unique_ptr<Storage> next;
        if (const HResult hr = out->OpenStorage(U16(path.substr(from, slash - from)), kWrite, next);
            Failed(hr))
            return hr;
        out = next.get();
        chain.push_back(std::move(next));
        from = slash + 1;
    }
    return S_OK;
}

HResult WriteAll(Stream& stream, const std::string& bytes) {
    uint32_t written = 0;
    const HResult hr = stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
    return Succeeded(hr) && written != bytes.size() ? STG_E_WRITEFAULT : hr;
}

HResult Apply(Storage& root, const Op& op, Tree& model) {
    std::vector<std::unique_ptr<Storage>> chain;
    Storage* parent = nullptr;
    if (const HResult hr = OpenStorages(root, ParentOf(op.path), chain, parent); Failed(hr))
        return hr;
    const std::u16string leaf = U16(LeafOf(op.path));
    std::unique_ptr<Stream> stream;
    switch (op.kind) {
    case Kind::Storage: {
        std::unique_ptr<Storage> storage;
        model.storages.insert(op.path);
        return parent->CreateStorage(leaf, kWrite, storage);
    }
    case Kind::Put: {
        const bool exists = model.streams.count(op.path) != 0;
        const std::string bytes = Bytes(op.size, op.seed);
        model.streams[op.path] = bytes;
        HResult hr = exists ? parent->OpenStream(leaf, kWrite, stream)
                            : parent->CreateStream(leaf, kWrite, stream);
        if (Succeeded(hr))
            hr = WriteAll(*stream, bytes);
        return Succeeded(hr) ? stream->SetSize(op.size) : hr;
    }
    case Kind::Patch: {
        model.streams[op.path].replace(op.at, op.size, Bytes(op.size, op.seed));
        HResult hr = parent->OpenStream(leaf, kWrite, stream);
        if (Succeeded(hr))
            hr = stream->Seek(op.at, STREAM_SEEK_SET, nullptr);
        return Succeeded(hr) ? WriteAll(*stream, Bytes(op.size, op.seed)) : hr;
    }
    case Kind::Remove:
        std::erase_if(model.storages, [&](const auto& s) { return Within(s, op.path); });
        std::erase_if(model.streams, [&](const auto& s) { return Within(s.first, op.path); });
        return parent->DestroyElement(leaf);
    case Kind::Move:
    case Kind::Copy: {
        Storage* dest = parent;
        if (ParentOf(op.to) != ParentOf(op.path))
            if (const HResult hr = OpenStorages(root, ParentOf(op.to), chain, dest); Failed(hr))
                return hr;
        const auto renamed = [&](const std::string& p) { return op.to + p.substr(op.path.size()); };
        Tree moved = model;
        for (const auto& s : model.storages)
            if (Within(s, op.path)) {
                moved.storages.insert(renamed(s));
                if (op.kind == Kind::Move)
                    moved.storages.erase(s);
            }
        for (const auto& [s, bytes] : model.streams)
            if (Within(s, op.path)) {
                moved.streams[renamed(s)] = bytes;
                if (op.kind == Kind::Move)
                    moved.streams.erase(s);
            }
        model = std::move(moved);
        return parent->MoveElementTo(leaf, *dest, U16(LeafOf(op.to)),
                                     op.kind == Kind::Move ? STGMOVE_MOVE : STGMOVE_COPY);
    }
    case Kind::Reopen:
        break;
    }
    return E_INVALIDARG;
}

HResult ReadTree(Storage& storage, const std::string& prefix, Tree& out) {
    std::vector<StatStg> elements;
    if (const HResult hr = storage.EnumElements(elements); Failed(hr))
        return hr;
    for (const StatStg& element : elements) {
        const std::string path = prefix + U8(element.name);
        if (element.type == STGTY_STORAGE) {
            out.storages.insert(path);
            std::unique_ptr<Storage> child;
            HResult hr = storage.OpenStorage(element.name, kRead, child);
            if (Succeeded(hr))
                hr = ReadTree(*child, path + "/", out);
            if (Failed(hr))
                return hr;
            continue;
        }
        std::unique_ptr<Stream> stream;
        if (const HResult hr = storage.OpenStream(element.name, kRead, stream); Failed(hr))
            return hr;
        std::string bytes(element.size, '\0');
        uint32_t read = 0;
        if (const HResult hr =
                stream->Read(bytes.data(), static_cast<uint32_t>(bytes.size()), &read);
            Failed(hr))
            return hr;
        if (read != bytes.size())
            return STG_E_READFAULT;
        out.streams[path] = std::move(bytes);
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Running a workload through the fault injector and judging what the file holds afterwards

// What the file may hold after a run. No committed tree: no commit completed, so no file.
struct Outcome {
    std::optional<Tree> committed; // the last commit that answered S_OK
    uint64_t committedLength = 0;  // the length of the file it left
    std::vector<Tree> inDoubt;     // later commits a fault cut off after the file was synced
    bool finished = false;         // every step ran and every commit completed in the end
};

// Runs one commit (or the creation); a fault that strikes in it after the file was synced there
// leaves the commit in doubt.
HResult TrackCommit(const std::string& path, FaultFileSystem& fs, const Tree& model,
                    Outcome& outcome, const std::function<HResult()>& commit) {
    const uint64_t start = fs.Operations();
    const uint64_t faultBefore = fs.LastFault();
    const HResult hr = commit();
    if (fs.LastFault() != faultBefore && fs.SyncedBeforeFault(path, start))
        outcome.inDoubt.push_back(model);
    if (Succeeded(hr)) {
        outcome.committed = model;
        std::error_code ignored;
        outcome.committedLength = std::filesystem::file_size(path, ignored);
        outcome.inDoubt.clear();
    }
    return hr;
}

// Creates the file and runs the steps, each followed by a commit. A failed commit is tried once
// more when the process lives on; after a crash or a second failure the run stops, and the
// handles are dropped (the root's release commits, and fails harmlessly).
Outcome RunWorkload(const std::string& path, FaultFileSystem& fs, const std::vector<Step>& steps) {
    Outcome outcome;
    Tree model;
    const EngineOptions options{&fs};
    std::unique_ptr<Storage> root;
    auto commit = [&](const std::function<HResult()>& attempt) {
        for (int tries = 0; tries < 2; ++tries) {
            if (Succeeded(TrackCommit(path, fs, model, outcome, attempt)))
                return !fs.Crashed();
            if (fs.Crashed())
                return false;
        }
        return false;
    };
    bool goOn =
        commit([&] { return StgCreateDocfile(&path, STGM_CREATE | kWrite, root, options); });
    for (size_t s = 0; goOn && s < steps.size(); ++s) {
        for (const Op& op : steps[s]) {
            HResult hr = S_OK;
            if (op.kind == Kind::Reopen) {
                root.reset();
                hr = StgOpenStorage(path, kWrite, root, options);
            } else {
                hr = Apply(*root, op, model);
            }
            if (Failed(hr)) {
                ADD_FAILURE() << "step " << s + 1 << ", " << op.path << ": " << ResultMessage(hr);
                goOn = false;
                break;
            }
        }
        goOn = goOn && commit([&] { return root->Commit(STGC_DEFAULT); });
        outcome.finished = goOn && s + 1 == steps.size();
    }
    root.reset();
    return outcome;
}

// Opens the file with the operating system's file system, as the next run of the program would.
void ExpectCommittedState(const std::string& path, const Outcome& outcome) {
    std::unique_ptr<Storage> root;
    const HResult hr = StgOpenStorage(path, STGM_READ | STGM_SHARE_DENY_WRITE, root);
    EXPECT_FALSE(PosixFileSystem().Exists(path + "-journal")) << "a journal is left";
    if (hr == STG_E_FILENOTFOUND) {
        EXPECT_FALSE(outcome.committed) << "the file of a completed commit is gone";
        return;
    }
    ASSERT_EQ(hr, S_OK) << ResultMessage(hr);
    Tree got;
    const HResult read = ReadTree(*root, "", got);
    root.reset();
    ASSERT_EQ(read, S_OK) << ResultMessage(read);
    const bool allowed =
        (outcome.committed && got == *outcome.committed) ||
        std::find(outcome.inDoubt.begin(), outcome.inDoubt.end(), got) != outcome.inDoubt.end();
    if (!allowed) {
        std::string message = "the file holds neither the last completed commit";
        message +=
            outcome.inDoubt.empty() ? ":\n" : " nor one cut off after the file was synced:\n";
        message += outcome.committed ? Difference(*outcome.committed, got)
                                     : "  (no commit completed: no file expected)\n";
        for (const Tree& cutOff : outcome.inDoubt)
            message += "against one cut off:\n" + Difference(cutOff, got);
        ADD_FAILURE() << message;
    }
    // Restoring the last commit restores its length too: no sectors are left past its end.
    if (outcome.committed && got == *outcome.committed) {
        EXPECT_EQ(std::filesystem::file_size(path), outcome.committedLength);
    }
    CheckReport report;
    CompoundFile::Check(path, {}, report);
    std::string found;
    for (const auto& line : report.errors)
        found += "  error: " + line + "\n";
    for (const auto& line : report.problems)
        found += "  problem: " + line + "\n";
    EXPECT_TRUE(report.Clean()) << found;
}

// Opens the file as a program started after the crash does (the open restores the last commit),
// through a file system on which operation crashAt of the open crashes the way mode says; with
// crashAt 0 the power goes once the open is done. Answers the operations of the open.
uint64_t OpenCrashing(const std::string& path, uint64_t crashAt, FaultFileSystem::Mode mode) {
    FaultFileSystem fs;
    if (crashAt)
        fs.FailAt(crashAt, mode);
    std::unique_ptr<Storage> root;
    StgOpenStorage(path, STGM_READ | STGM_SHARE_DENY_WRITE, root, {&fs});
    root.reset();
    if (!crashAt)
        fs.LosePowerNow();
    return fs.Operations();
}

// A copy of the file and its journal, in folder.
std::string CopyWithJournal(const std::string& path, const TempDir& folder,
                            const std::string& name) {
    const std::string copy = folder.FileStd(QString::fromStdString(name));
    std::filesystem::copy_file(path, copy);
    std::filesystem::copy_file(path + "-journal", copy + "-journal");
    return copy;
}

// Crashes the opens of a file left with a journal, one open after the other: at the first
// operation of restoring the last commit, halfway, and at each of the last five.
void OpenWithCrashes(const std::string& path, FaultFileSystem::Mode mode) {
    TempDir scratch;
    FaultFileSystem counting;
    {
        std::unique_ptr<Storage> root;
        StgOpenStorage(CopyWithJournal(path, scratch, "count.vqd"), STGM_READ, root, {&counting});
    }
    const uint64_t total = counting.Operations();
    uint64_t done = 0;
    for (const uint64_t k :
         {uint64_t{1}, total / 2, total - 4, total - 3, total - 2, total - 1, total}) {
        if (k > done && k <= total)
            OpenCrashing(path, k, mode);
        done = std::max(done, k);
    }
}

std::string Item(int i) {
    return "feeds/item-" + std::to_string(i);
}

// A document in use: storages and streams around the mini stream cutoff, a storage with a few
// hundred children, rewrites in place and across the cutoff both ways, deletions, moves, a copy,
// closing and opening again, new streams in the space freed.
std::vector<Step> Workload() {
    std::vector<Step> steps;
    steps.push_back({MakeStorage("docs"), MakeStorage("docs/old"), MakeStorage("feeds"),
                     Put("docs/empty", 0, 1), Put("docs/small", 100, 2), Put("docs/grow", 3000, 3),
                     Put("docs/shrink", 12000, 4), Put("docs/edge", 4095, 5),
                     Put("docs/cutoff", 4096, 6), Put("docs/big", 70000, 7),
                     Put("docs/old/a", 5000, 8), Put("docs/old/b", 200, 9),
                     Put("settings", 700, 10)});
    Step many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Put(Item(i), 20 + (i * 37) % 400 + (i % 60 == 0 ? 6000 : 0), 100 + i));
    steps.push_back(many);
    steps.push_back({Put("docs/grow", 9000, 11), Put("docs/shrink", 1000, 12),
                     Patch("docs/big", 30000, 2000, 13), Patch("docs/small", 10, 50, 14),
                     Put("docs/edge", 4097, 15), Patch("settings", 0, 700, 16),
                     Put(Item(5), 90, 17), Put(Item(120), 5000, 18), Put(Item(180), 30, 19)});
    Step deletions = {Remove("docs/old"), Remove("docs/cutoff")};
    for (int i = 0; i < 300; i += 10)
        deletions.push_back(Remove(Item(i)));
    steps.push_back(deletions);
    steps.push_back({MakeStorage("archive"), Move("docs/big", "archive/big"),
                     Move(Item(1), "archive/first"), Copy("docs/grow", "archive/grow"),
                     Move("docs/small", "docs/tiny"), Move("docs", "archive/docs")});
    steps.push_back({Reopen(), MakeStorage("fresh"), Put("fresh/x", 8000, 20),
                     Put("archive/big", 100, 21), Put(Item(2), 3000, 22), Put(Item(301), 600, 23)});
    return steps;
}

struct ModeCase {
    FaultFileSystem::Mode mode;
    const char* name;
};

TEST(CompoundFileFaults, EveryOperationOfAWorkloadMayFailOrCrash) {
    const std::vector<Step> steps = Workload();
    uint64_t operations = 0;
    {
        TempDir dir;
        const std::string path = dir.FileStd("document.vqd");
        FaultFileSystem fs;
        const Outcome clean = RunWorkload(path, fs, steps);
        EXPECT_TRUE(clean.finished);
        operations = fs.Operations();
        fs.LosePowerNow(); // what was committed is on disk for good
        ExpectCommittedState(path, clean);
    }
    ASSERT_FALSE(::testing::Test::HasFailure()) << "the workload fails without faults";
    ::testing::Test::RecordProperty("operations", std::to_string(operations));

    const ModeCase modes[] = {{FaultFileSystem::Mode::Fail, "fails"},
                              {FaultFileSystem::Mode::Crash, "crashes"},
                              {FaultFileSystem::Mode::CrashLoseUnsynced, "loses power"},
                              {FaultFileSystem::Mode::CrashLoseOthersUnsynced,
                               "loses power, all but this file's unsynced writes"}};
    for (const ModeCase& c : modes) {
        for (uint64_t n = 1; n <= operations; ++n) {
            SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(operations) +
                         " " + c.name);
            TempDir dir;
            const std::string path = dir.FileStd("document.vqd");
            FaultFileSystem fs;
            fs.FailAt(n, c.mode);
            const std::string journal = path + "-journal";
            const Outcome outcome = RunWorkload(path, fs, steps);
            EXPECT_EQ(fs.LastFault(), n);
            // When the process lives on, the commit tried again completes the workload.
            if (c.mode == FaultFileSystem::Mode::Fail) {
                EXPECT_TRUE(outcome.finished);
            }
            if (c.mode != FaultFileSystem::Mode::Fail && PosixFileSystem().Exists(journal)) {
                // The next program to open the file crashes too, or loses power after the open.
                TempDir again;
                {
                    SCOPED_TRACE("then crashes while opening it again");
                    const std::string copy = CopyWithJournal(path, again, "crashing.vqd");
                    OpenWithCrashes(copy, c.mode);
                    ExpectCommittedState(copy, outcome);
                }
                {
                    SCOPED_TRACE("then loses power after opening it again");
                    const std::string copy = CopyWithJournal(path, again, "opened.vqd");
                    OpenCrashing(copy, 0, c.mode);
                    ExpectCommittedState(copy, outcome);
                }
            }
            ExpectCommittedState(path, outcome);
            if (::testing::Test::HasFailure())
                return; // the first failing case says enough
        }
    }
}

// A commit that failed while the process lives on leaves the changes in memory: more changes and
// a second commit put everything in the file, and a crash in that second commit still leaves
// only a state that was committed (or cut off after the file was synced).
TEST(CompoundFileFaults, AFailedCommitKeepsTheChangesForTheNextOne) {
    const Step base = {Put("kept", 5000, 1), Put("small", 300, 2), MakeStorage("s"),
                       Put("s/a", 100, 3)};
    const Step change = {Put("kept", 5000, 4), Put("new", 6000, 5), Put("s/b", 50, 6),
                         Remove("small")};
    const Step later = {Put("after", 2500, 7), Put("kept", 1000, 8)};

    // Operation n of the commit of change fails, operation m of the next commit (0: none) goes
    // wrong the way mode says. Answers the operations of each of the two commits.
    auto run = [&](uint64_t n, uint64_t m, FaultFileSystem::Mode mode, uint64_t& firstOps,
                   uint64_t& secondOps) {
        TempDir dir;
        const std::string path = dir.FileStd("document.vqd");
        FaultFileSystem fs;
        Tree model;
        Outcome outcome;
        std::unique_ptr<Storage> root;
        ASSERT_EQ(StgCreateDocfile(&path, STGM_CREATE | kWrite, root, {&fs}), S_OK);
        for (const Op& op : base)
            ASSERT_EQ(Apply(*root, op, model), S_OK) << op.path;
        ASSERT_EQ(TrackCommit(path, fs, model, outcome, [&] { return root->Commit(0); }), S_OK);

        uint64_t start = fs.Operations();
        if (n)
            fs.FailAt(start + n, FaultFileSystem::Mode::Fail);
        for (const Op& op : change)
            ASSERT_EQ(Apply(*root, op, model), S_OK) << op.path;
        const HResult first =
            TrackCommit(path, fs, model, outcome, [&] { return root->Commit(0); });
        firstOps = fs.Operations() - start;
        EXPECT_EQ(Failed(first), n != 0) << "the commit answered " << ResultMessage(first);

        start = fs.Operations();
        if (m)
            fs.FailAt(start + m, mode);
        for (const Op& op : later)
            ASSERT_EQ(Apply(*root, op, model), S_OK) << op.path;
        const HResult second =
            TrackCommit(path, fs, model, outcome, [&] { return root->Commit(0); });
        secondOps = fs.Operations() - start;
        EXPECT_EQ(Failed(second), m != 0) << "the commit answered " << ResultMessage(second);
        root.reset();
        ExpectCommittedState(path, outcome);
    };

    uint64_t operations = 0;
    uint64_t ignored = 0;
    run(0, 0, FaultFileSystem::Mode::Fail, operations, ignored);
    ASSERT_GT(operations, 0u);
    const ModeCase crashes[] = {{FaultFileSystem::Mode::Crash, "crashes"},
                                {FaultFileSystem::Mode::CrashLoseUnsynced, "loses power"},
                                {FaultFileSystem::Mode::CrashLoseOthersUnsynced,
                                 "loses power, all but this file's unsynced writes"}};
    for (uint64_t n = 1; n <= operations; ++n) {
        SCOPED_TRACE("operation " + std::to_string(n) + " of the commit's " +
                     std::to_string(operations) + " fails");
        uint64_t secondOps = 0;
        run(n, 0, FaultFileSystem::Mode::Fail, ignored, secondOps);
        if (::testing::Test::HasFailure())
            return;
        for (const ModeCase& c : crashes) {
            for (uint64_t m = 1; m <= secondOps; ++m) {
                SCOPED_TRACE("then operation " + std::to_string(m) + " of the next commit " +
                             c.name);
                run(n, m, c.mode, ignored, ignored);
                if (::testing::Test::HasFailure())
                    return;
            }
        }
    }
}

} // namespace
