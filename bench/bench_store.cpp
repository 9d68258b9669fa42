// The compound-file engine side by side with SQLite on the same machine, on real files in one
// folder, with the same durability: every step is one transaction that reaches the disk (our
// engine: one Commit; SQLite: synchronous=FULL, journal_mode=DELETE, one BEGIN ... COMMIT).
//
// Workloads: write 10 000 records of about 500 bytes in 100 storages; reopen and enumerate
// them; read every record; rewrite 1 000 of them; open and enumerate a file of 100 000 streams.
// After the benchmark output a table gives our time, SQLite's and their ratio per workload.
//
// The files go into a fresh folder below the current one (so on a real disk, never a memory
// file system), or below $VELQUINT_BENCH_DIR; the folder is removed at the end.

#include "platform/cfb/cfbstorage.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace platform::cfb;
namespace fs = std::filesystem;

constexpr int kStorages = 100;
constexpr int kPerStorage = 100;
constexpr int kRecords = kStorages * kPerStorage;
constexpr int kRewrites = 1000;
constexpr int kBigStorages = 100;
constexpr int kBigPerStorage = 1000;
constexpr int kBigRecordSize = 100;

constexpr uint32_t kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;
constexpr uint32_t kWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kRead = STGM_READ | STGM_SHARE_DENY_WRITE;
constexpr uint32_t kChildRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

fs::path g_folder;

std::string FileIn(const char* name) {
    return (g_folder / name).string();
}

// ---------------------------------------------------------------------------------------------
// The data: record i lives in storage i / perStorage; its size follows from i, its bytes from i
// and a generation number, so that a rewrite changes the bytes but no size.

struct Names {
    std::vector<std::string> storages;      // UTF-8 for SQLite
    std::vector<std::u16string> storages16; // UTF-16 for our engine
    std::vector<std::string> records;
    std::vector<std::u16string> records16;
};

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

Names MakeNames(int storages, int perStorage) {
    Names n;
    char buffer[32];
    for (int s = 0; s < storages; ++s) {
        std::snprintf(buffer, sizeof buffer, "feed-%03d", s);
        n.storages.push_back(buffer);
        n.storages16.push_back(Wide(buffer));
    }
    for (int r = 0; r < perStorage; ++r) {
        std::snprintf(buffer, sizeof buffer, "item-%05d", r);
        n.records.push_back(buffer);
        n.records16.push_back(Wide(buffer));
    }
    return n;
}

const Names& RecordNames() {
    static const Names names = MakeNames(kStorages, kPerStorage);
    return names;
}

const Names& BigNames() {
    static const Names names = MakeNames(kBigStorages, kBigPerStorage);
    return names;
}

uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

size_t RecordSize(int i) {
    return 450 + Mix(static_cast<uint32_t>(i)) % 101;
}

// The bytes of every record of a data set in one generation, made before any timing starts.
using Records = std::vector<std::vector<uint8_t>>;

Records MakeRecords(int count, size_t (*size)(int), uint32_t generation) {
    Records records(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t>& out = records[static_cast<size_t>(i)];
        out.resize(size(i));
        uint32_t x = Mix(static_cast<uint32_t>(i) * 2654435761u + generation * 40503u + 1) | 1;
        for (uint8_t& b : out) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
    }
    return records;
}

size_t BigSize(int) {
    return kBigRecordSize;
}

// Generation 0 is what the files are written with; a rewrite alternates 1 and 2, so that every
// rewrite puts new bytes over the last ones.
const Records& RecordContents(uint32_t generation) {
    static std::map<uint32_t, Records> made;
    auto it = made.find(generation);
    if (it == made.end())
        it = made.emplace(generation, MakeRecords(kRecords, RecordSize, generation)).first;
    return it->second;
}

const Records& BigContents() {
    static const Records records = MakeRecords(kBigStorages * kBigPerStorage, BigSize, 0);
    return records;
}

size_t TotalBytes(const Records& records) {
    size_t total = 0;
    for (const auto& r : records)
        total += r.size();
    return total;
}

void RemoveDatabase(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::remove(path + "-journal", ignored);
}

// ---------------------------------------------------------------------------------------------
// Our engine

bool Check(benchmark::State& state, HResult hr, const char* what) {
    if (Succeeded(hr))
        return true;
    state.SkipWithError((std::string(what) + ": " + ResultMessage(hr)).c_str());
    return false;
}

// Writes every record of names into a new file at path and commits once.
[[gnu::noinline]] HResult OursWrite(const std::string& path, const Names& names,
                                    const Records& records) {
    std::unique_ptr<Storage> root;
    if (const HResult hr = StgCreateDocfile(&path, kCreate, root); Failed(hr))
        return hr;
    const int perStorage = static_cast<int>(names.records.size());
    for (size_t s = 0; s < names.storages16.size(); ++s) {
        std::unique_ptr<Storage> storage;
        if (const HResult hr = root->CreateStorage(names.storages16[s], kWrite, storage);
            Failed(hr))
            return hr;
        for (int r = 0; r < perStorage; ++r) {
            const auto& data = records[s * perStorage + r];
            std::unique_ptr<Stream> stream;
            if (const HResult hr = storage->CreateStream(names.records16[r], kWrite, stream);
                Failed(hr))
                return hr;
            uint32_t written = 0;
            if (const HResult hr =
                    stream->Write(data.data(), static_cast<uint32_t>(data.size()), &written);
                Failed(hr))
                return hr;
        }
    }
    return root->Commit(STGC_DEFAULT);
}

// Opens the file and enumerates every storage; answers the number of elements seen.
[[gnu::noinline]] HResult OursEnumerate(const std::string& path, size_t& elements) {
    elements = 0;
    std::unique_ptr<Storage> root;
    if (const HResult hr = StgOpenStorage(path, kRead, root); Failed(hr))
        return hr;
    std::vector<StatStg> top;
    if (const HResult hr = root->EnumElements(top); Failed(hr))
        return hr;
    std::vector<StatStg> children;
    for (const StatStg& s : top) {
        ++elements;
        if (s.type != STGTY_STORAGE)
            continue;
        std::unique_ptr<Storage> storage;
        if (const HResult hr = root->OpenStorage(s.name, kChildRead, storage); Failed(hr))
            return hr;
        if (const HResult hr = storage->EnumElements(children); Failed(hr))
            return hr;
        elements += children.size();
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// SQLite

struct Database {
    sqlite3* db = nullptr;
    ~Database() { sqlite3_close(db); }
};

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

bool SqlFailed(benchmark::State& state, int rc, sqlite3* db, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW)
        return false;
    state.SkipWithError((std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "")).c_str());
    return true;
}

bool SqlOpen(benchmark::State& state, const std::string& path, bool write, Database& out) {
    const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (SqlFailed(state, sqlite3_open_v2(path.c_str(), &out.db, flags, nullptr), out.db, "open"))
        return false;
    return !SqlFailed(state,
                      sqlite3_exec(out.db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;",
                                   nullptr, nullptr, nullptr),
                      out.db, "pragma");
}

bool SqlExec(benchmark::State& state, Database& d, const char* sql) {
    return !SqlFailed(state, sqlite3_exec(d.db, sql, nullptr, nullptr, nullptr), d.db, sql);
}

bool SqlPrepare(benchmark::State& state, Database& d, const char* sql, Statement& out) {
    return !SqlFailed(state, sqlite3_prepare_v2(d.db, sql, -1, &out.stmt, nullptr), d.db, sql);
}

bool SqlWrite(benchmark::State& state, const std::string& path, const Names& names,
              const Records& records) {
    Database d;
    if (!SqlOpen(state, path, true, d) || !SqlExec(state, d, "BEGIN") ||
        !SqlExec(state, d,
                 "CREATE TABLE records(storage TEXT NOT NULL, name TEXT NOT NULL, "
                 "data BLOB NOT NULL, PRIMARY KEY(storage, name))"))
        return false;
    Statement insert;
    if (!SqlPrepare(state, d, "INSERT INTO records(storage, name, data) VALUES(?1, ?2, ?3)",
                    insert))
        return false;
    const int perStorage = static_cast<int>(names.records.size());
    for (size_t s = 0; s < names.storages.size(); ++s) {
        for (int r = 0; r < perStorage; ++r) {
            const auto& data = records[s * perStorage + r];
            sqlite3_bind_text(insert.stmt, 1, names.storages[s].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(insert.stmt, 2, names.records[r].c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_blob(insert.stmt, 3, data.data(), static_cast<int>(data.size()),
                              SQLITE_STATIC);
            if (SqlFailed(state, sqlite3_step(insert.stmt), d.db, "insert"))
                return false;
            sqlite3_reset(insert.stmt);
        }
    }
    return SqlExec(state, d, "COMMIT");
}

bool SqlEnumerate(benchmark::State& state, const std::string& path, size_t& rows) {
    rows = 0;
    Database d;
    Statement select;
    if (!SqlOpen(state, path, false, d) ||
        !SqlPrepare(state, d, "SELECT storage, name FROM records", select))
        return false;
    int rc = 0;
    size_t chars = 0;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        chars += static_cast<size_t>(sqlite3_column_bytes(select.stmt, 0)) +
                 static_cast<size_t>(sqlite3_column_bytes(select.stmt, 1));
        benchmark::DoNotOptimize(sqlite3_column_text(select.stmt, 0));
        benchmark::DoNotOptimize(sqlite3_column_text(select.stmt, 1));
        ++rows;
    }
    benchmark::DoNotOptimize(chars);
    return !SqlFailed(state, rc, d.db, "select");
}

// ---------------------------------------------------------------------------------------------
// The files the reading and rewriting workloads start from, made once outside the timing.

bool Prepared(benchmark::State& state, const char* name, bool ours, const Names& names,
              const Records& records) {
    static std::map<std::string, bool> done;
    const std::string path = FileIn(name);
    if (done[path])
        return true;
    if (ours) {
        if (!Check(state, OursWrite(path, names, records), "write the starting file"))
            return false;
    } else {
        RemoveDatabase(path);
        if (!SqlWrite(state, path, names, records))
            return false;
    }
    done[path] = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// (a) write 10 000 records in 100 storages, one commit

void WriteOurs(benchmark::State& state) {
    const std::string path = FileIn("write.cfb");
    const Records& records = RecordContents(0);
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ignored;
        fs::remove(path, ignored);
        state.ResumeTiming();
        if (!Check(state, OursWrite(path, RecordNames(), records), "write"))
            break;
    }
}

void WriteSqlite(benchmark::State& state) {
    const std::string path = FileIn("write.db");
    const Records& records = RecordContents(0);
    for (auto _ : state) {
        state.PauseTiming();
        RemoveDatabase(path);
        state.ResumeTiming();
        if (!SqlWrite(state, path, RecordNames(), records))
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// (b) reopen and enumerate

void EnumerateOurs(benchmark::State& state) {
    if (!Prepared(state, "records.cfb", true, RecordNames(), RecordContents(0)))
        return;
    const std::string path = FileIn("records.cfb");
    for (auto _ : state) {
        size_t elements = 0;
        if (!Check(state, OursEnumerate(path, elements), "enumerate"))
            break;
        if (elements != kStorages + kRecords) {
            state.SkipWithError("enumerate: wrong number of elements");
            break;
        }
    }
}

void EnumerateSqlite(benchmark::State& state) {
    if (!Prepared(state, "records.db", false, RecordNames(), RecordContents(0)))
        return;
    const std::string path = FileIn("records.db");
    for (auto _ : state) {
        size_t rows = 0;
        if (!SqlEnumerate(state, path, rows))
            break;
        if (rows != kRecords) {
            state.SkipWithError("enumerate: wrong number of rows");
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// (c) read every record

// Opens the file and every stream by name, reads each to its end; answers the bytes read.
[[gnu::noinline]] HResult OursReadAll(const std::string& path, size_t& total) {
    total = 0;
    const Names& names = RecordNames();
    std::unique_ptr<Storage> root;
    if (const HResult hr = StgOpenStorage(path, kRead, root); Failed(hr))
        return hr;
    uint8_t buffer[4096];
    for (int s = 0; s < kStorages; ++s) {
        std::unique_ptr<Storage> storage;
        if (const HResult hr = root->OpenStorage(names.storages16[s], kChildRead, storage);
            Failed(hr))
            return hr;
        for (int r = 0; r < kPerStorage; ++r) {
            std::unique_ptr<Stream> stream;
            if (const HResult hr = storage->OpenStream(names.records16[r], kChildRead, stream);
                Failed(hr))
                return hr;
            uint32_t got = sizeof buffer;
            while (got == sizeof buffer) {
                if (const HResult hr = stream->Read(buffer, sizeof buffer, &got); Failed(hr))
                    return hr;
                total += got;
            }
            benchmark::DoNotOptimize(buffer);
        }
    }
    return S_OK;
}

void ReadOurs(benchmark::State& state) {
    if (!Prepared(state, "records.cfb", true, RecordNames(), RecordContents(0)))
        return;
    const std::string path = FileIn("records.cfb");
    const size_t expected = TotalBytes(RecordContents(0));
    for (auto _ : state) {
        size_t total = 0;
        if (!Check(state, OursReadAll(path, total), "read"))
            break;
        if (total != expected) {
            state.SkipWithError("read: wrong number of bytes");
            break;
        }
    }
}

void ReadSqlite(benchmark::State& state) {
    if (!Prepared(state, "records.db", false, RecordNames(), RecordContents(0)))
        return;
    const std::string path = FileIn("records.db");
    const size_t expected = TotalBytes(RecordContents(0));
    for (auto _ : state) {
        Database d;
        Statement select;
        if (!SqlOpen(state, path, false, d) ||
            !SqlPrepare(state, d, "SELECT data FROM records", select))
            break;
        size_t total = 0;
        int rc = 0;
        while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_blob(select.stmt, 0));
            total += static_cast<size_t>(sqlite3_column_bytes(select.stmt, 0));
        }
        if (SqlFailed(state, rc, d.db, "select"))
            break;
        if (total != expected) {
            state.SkipWithError("read: wrong number of bytes");
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// (d) rewrite 1 000 records (every tenth: ten in each storage) with new bytes, one commit

// Opens the file, overwrites every tenth record (ten in each storage) with its bytes in
// records, commits once.
[[gnu::noinline]] HResult OursRewrite(const std::string& path, const Records& records) {
    const Names& names = RecordNames();
    constexpr int step = kRecords / kRewrites;
    std::unique_ptr<Storage> root;
    if (const HResult hr = StgOpenStorage(path, kWrite, root); Failed(hr))
        return hr;
    for (int s = 0; s < kStorages; ++s) {
        std::unique_ptr<Storage> storage;
        if (const HResult hr = root->OpenStorage(names.storages16[s], kWrite, storage); Failed(hr))
            return hr;
        for (int r = 0; r < kPerStorage; r += step) {
            const auto& data = records[static_cast<size_t>(s * kPerStorage + r)];
            std::unique_ptr<Stream> stream;
            if (const HResult hr = storage->OpenStream(names.records16[r], kWrite, stream);
                Failed(hr))
                return hr;
            uint32_t written = 0;
            if (const HResult hr =
                    stream->Write(data.data(), static_cast<uint32_t>(data.size()), &written);
                Failed(hr))
                return hr;
        }
    }
    return root->Commit(STGC_DEFAULT);
}

void RewriteOurs(benchmark::State& state) {
    if (!Prepared(state, "records.cfb", true, RecordNames(), RecordContents(0)))
        return;
    const std::string path = FileIn("records.cfb");
    const Records* generations[] = {&RecordContents(1), &RecordContents(2)};
    size_t round = 0;
    for (auto _ : state)
        if (!Check(state, OursRewrite(path, *generations[round++ % 2]), "rewrite"))
            break;
}

// The same rewrite in one transaction; answers false after SkipWithError.
[[gnu::noinline]] bool SqlRewrite(benchmark::State& state, const std::string& path,
                                  const Records& records) {
    const Names& names = RecordNames();
    constexpr int step = kRecords / kRewrites;
    Database d;
    Statement update;
    if (!SqlOpen(state, path, true, d) || !SqlExec(state, d, "BEGIN") ||
        !SqlPrepare(state, d, "UPDATE records SET data = ?1 WHERE storage = ?2 AND name = ?3",
                    update))
        return false;
    for (int i = 0; i < kRecords; i += step) {
        const auto& data = records[static_cast<size_t>(i)];
        sqlite3_bind_blob(update.stmt, 1, data.data(), static_cast<int>(data.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(update.stmt, 2, names.storages[i / kPerStorage].c_str(), -1,
                          SQLITE_STATIC);
        sqlite3_bind_text(update.stmt, 3, names.records[i % kPerStorage].c_str(), -1,
                          SQLITE_STATIC);
        if (SqlFailed(state, sqlite3_step(update.stmt), d.db, "update"))
            return false;
        if (sqlite3_changes(d.db) != 1) {
            state.SkipWithError("update: the record is missing");
            return false;
        }
        sqlite3_reset(update.stmt);
    }
    return SqlExec(state, d, "COMMIT");
}

void RewriteSqlite(benchmark::State& state) {
    if (!Prepared(state, "records.db", false, RecordNames(), RecordContents(0)))
        return;
    const std::string path = FileIn("records.db");
    const Records* generations[] = {&RecordContents(1), &RecordContents(2)};
    size_t round = 0;
    for (auto _ : state)
        if (!SqlRewrite(state, path, *generations[round++ % 2]))
            break;
}

// ---------------------------------------------------------------------------------------------
// (e) open and enumerate 100 000 streams in 100 storages

void OpenBigOurs(benchmark::State& state) {
    if (!Prepared(state, "big.cfb", true, BigNames(), BigContents()))
        return;
    const std::string path = FileIn("big.cfb");
    for (auto _ : state) {
        size_t elements = 0;
        if (!Check(state, OursEnumerate(path, elements), "enumerate"))
            break;
        if (elements != kBigStorages + kBigStorages * kBigPerStorage) {
            state.SkipWithError("enumerate: wrong number of elements");
            break;
        }
    }
}

void OpenBigSqlite(benchmark::State& state) {
    if (!Prepared(state, "big.db", false, BigNames(), BigContents()))
        return;
    const std::string path = FileIn("big.db");
    for (auto _ : state) {
        size_t rows = 0;
        if (!SqlEnumerate(state, path, rows))
            break;
        if (rows != size_t{kBigStorages} * kBigPerStorage) {
            state.SkipWithError("enumerate: wrong number of rows");
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The table after the benchmark output

struct Workload {
    const char* key;
    const char* title;
    void (*ours)(benchmark::State&);
    void (*sqlite)(benchmark::State&);
};

constexpr Workload kWorkloads[] = {
    {"write", "write 10k records", WriteOurs, WriteSqlite},
    {"enumerate", "reopen + enumerate", EnumerateOurs, EnumerateSqlite},
    {"read", "read all records", ReadOurs, ReadSqlite},
    {"rewrite", "rewrite 1k records", RewriteOurs, RewriteSqlite},
    {"open100k", "open + enum 100k", OpenBigOurs, OpenBigSqlite},
};

// Passes everything to the console and keeps the real time of each benchmark in ms: the median
// of its repetitions when it was repeated, else the mean of its runs.
class TableReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal; `make bench` output is often kept in a file.
    TableReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const double ms =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
            Times& times = times_[run.run_name.function_name];
            if (run.run_type == Run::RT_Iteration)
                times.runs.push_back(ms);
            else if (run.aggregate_name == "median")
                times.median = ms;
        }
    }

    // Negative when the benchmark did not run or failed.
    double Ms(const std::string& name) const {
        const auto it = times_.find(name);
        if (it == times_.end())
            return -1;
        if (it->second.median >= 0)
            return it->second.median;
        if (it->second.runs.empty())
            return -1;
        double sum = 0;
        for (const double ms : it->second.runs)
            sum += ms;
        return sum / static_cast<double>(it->second.runs.size());
    }

private:
    struct Times {
        std::vector<double> runs;
        double median = -1;
    };
    std::map<std::string, Times> times_;
};

void PrintTable(const TableReporter& reporter) {
    std::printf("\n%-20s %10s %10s %7s\n", "workload", "ours ms", "sqlite ms", "ratio");
    for (const Workload& w : kWorkloads) {
        const double ours = reporter.Ms(std::string(w.key) + "/ours");
        const double sqlite = reporter.Ms(std::string(w.key) + "/sqlite");
        char oursText[32] = "-";
        char sqliteText[32] = "-";
        char ratioText[32] = "-";
        if (ours >= 0)
            std::snprintf(oursText, sizeof oursText, "%.2f", ours);
        if (sqlite >= 0)
            std::snprintf(sqliteText, sizeof sqliteText, "%.2f", sqlite);
        if (ours >= 0 && sqlite > 0)
            std::snprintf(ratioText, sizeof ratioText, "%.2f", ours / sqlite);
        std::printf("%-20s %10s %10s %7s\n", w.title, oursText, sqliteText, ratioText);
    }
    std::printf("goals: ratio <= 1.00 for each workload; open + enumerate of 100 000 streams "
                "under 100 ms (measured: ");
    const double big = reporter.Ms("open100k/ours");
    if (big >= 0)
        std::printf("%.1f ms, %s)\n", big, big < 100 ? "met" : "NOT MET");
    else
        std::printf("not run)\n");
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 64;

    const char* base = std::getenv("VELQUINT_BENCH_DIR");
    std::string pattern = (fs::path(base && *base ? base : ".") / "bench-store-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror(("bench_store: cannot create a folder from " + pattern).c_str());
        return 1;
    }
    g_folder = fs::absolute(pattern).lexically_normal();
    std::printf("bench_store: files in %s\n", g_folder.c_str());

    // Every step takes milliseconds, so the default half second of each gives enough rounds;
    // three repetitions and their median keep a busy machine from skewing one side.
    for (const Workload& w : kWorkloads) {
        for (const auto& [side, fn] : {std::pair{"ours", w.ours}, std::pair{"sqlite", w.sqlite}})
            benchmark::RegisterBenchmark((std::string(w.key) + "/" + side).c_str(), fn)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Repetitions(3)
                ->ReportAggregatesOnly(true);
    }
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintTable(reporter);

    std::error_code ignored;
    fs::remove_all(g_folder, ignored);
    return 0;
}
