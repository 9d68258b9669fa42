// The compound-file engine against independent readers and writers: files it writes must pass
// cfb-verify (its own structural checks, olefile and gsf), files gsf writes must read back and
// stay valid when changed, and every corruption cfb-verify can make must be refused cleanly.

#include "platform/cfb/cfbstorage.h"
#include "platform/cfb/compoundfile.h"
#include "support/cfbtesting.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace platform::cfb;
using namespace testsupport;

namespace {

const QString kVerifier = QStringLiteral(VELQUINT_SHARED_TOOLS "/cfb-verify");

// ---------------------------------------------------------------------------------------------
// Trees as maps: "a/b/" for storages (value empty), "a/b/c" -> bytes for streams.

using Tree = std::map<std::string, std::string>;

std::string ReadAll(Stream& stream, HResult& failure) {
    StatStg st;
    stream.Stat(st);
    std::string out;
    std::vector<char> buffer(65536);
    for (;;) {
        uint32_t got = 0;
        const HResult hr = stream.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
        if (Failed(hr)) {
            failure = hr;
            break;
        }
        if (got == 0)
            break;
        out.append(buffer.data(), got);
        if (out.size() > st.size) {
            failure = E_FAIL; // more bytes than the size says
            break;
        }
    }
    if (Succeeded(failure) && out.size() != st.size)
        failure = E_FAIL;
    return out;
}

// Walks everything below a storage; a failing call is kept in failure and the walk goes on.
void Collect(Storage& storage, const std::string& prefix, Tree& out, HResult& failure) {
    std::vector<StatStg> list;
    if (const HResult hr = storage.EnumElements(list); Failed(hr)) {
        failure = hr;
        return;
    }
    for (const StatStg& st : list) {
        const std::string path = prefix + Utf8(st.name);
        if (st.type == STGTY_STORAGE) {
            out[path + "/"] = "";
            std::unique_ptr<Storage> child;
            if (const HResult hr = storage.OpenStorage(st.name, kRead, child); Failed(hr)) {
                failure = hr;
                continue;
            }
            Collect(*child, path + "/", out, failure);
        } else {
            std::unique_ptr<Stream> stream;
            if (const HResult hr = storage.OpenStream(st.name, kRead, stream); Failed(hr)) {
                failure = hr;
                continue;
            }
            out[path] = ReadAll(*stream, failure);
        }
    }
}

Tree Snapshot(Storage& root) {
    Tree out;
    HResult failure = S_OK;
    Collect(root, "", out, failure);
    EXPECT_HR(S_OK, failure);
    return out;
}

Tree SnapshotOf(const std::string& path) {
    std::unique_ptr<Storage> root;
    const HResult hr = StgOpenStorage(path, STGM_READ | STGM_SHARE_DENY_WRITE, root);
    if (Failed(hr)) {
        ADD_FAILURE() << "cannot open " << path << ": " << Show(hr);
        return {};
    }
    return Snapshot(*root);
}

void ExpectSameTree(const Tree& expected, const Tree& actual) {
    size_t reported = 0;
    auto report = [&](const std::string& what) {
        if (reported++ < 20)
            ADD_FAILURE() << what;
    };
    for (const auto& [path, bytes] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end())
            report("missing: " + path);
        else if (it->second != bytes)
            report("different bytes in " + path + " (" + std::to_string(it->second.size()) +
                   " bytes, expected " + std::to_string(bytes.size()) + ")");
    }
    for (const auto& [path, bytes] : actual)
        if (!expected.count(path))
            report("unexpected: " + path);
    EXPECT_LE(reported, 20u) << "and more differences";
}

void ExpectClean(const std::string& path) {
    CheckReport report;
    EXPECT_HR(S_OK, CompoundFile::Check(path, {}, report));
    for (const std::string& e : report.errors)
        ADD_FAILURE() << "check error: " << e;
    for (const std::string& p : report.problems)
        ADD_FAILURE() << "check problem: " << p;
}

// ---------------------------------------------------------------------------------------------
// The tools

struct ToolRun {
    int exitCode = -1;
    std::string output;
    std::string Tail() const {
        return output.size() > 6000 ? "...\n" + output.substr(output.size() - 6000) : output;
    }
};

ToolRun Execute(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    ToolRun out;
    if (!p.waitForStarted(30000)) {
        out.output = "cannot start " + program.toStdString();
        return out;
    }
    p.waitForFinished(600000);
    out.output = p.readAllStandardOutput().toStdString();
    const std::string err = p.readAllStandardError().toStdString();
    if (!err.empty())
        out.output += "\n[stderr]\n" + err;
    out.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return out;
}

ToolRun Verify(const QStringList& args) {
    return Execute(kVerifier, args);
}

bool HaveVerifier() {
    static const bool have =
        QFileInfo(kVerifier).isExecutable() && Verify({"--list-mutations"}).exitCode == 0;
    return have;
}

QString Gsf() {
    return QStandardPaths::findExecutable("gsf");
}

// cfb-verify skips a cross-check layer whose library is missing and says so in a note.
bool OlefileMissing(const ToolRun& run) {
    return run.output.find("[olefile.missing]") != std::string::npos;
}

#define REQUIRE_VERIFIER()                                                                         \
    do {                                                                                           \
        if (!HaveVerifier())                                                                       \
            GTEST_SKIP() << "needs python3 and " VELQUINT_SHARED_TOOLS "/cfb-verify";              \
    } while (false)

// The tree cfb-verify prints: "stream 5000 fat /a/b" and "storage - - /a/".
std::map<std::string, std::string> ListingOf(const ToolRun& run) {
    static const QRegularExpression line(
        QStringLiteral("^  (stream|storage) +(\\S+) +(\\S+) +(/.*)$"),
        QRegularExpression::MultilineOption);
    std::map<std::string, std::string> out;
    auto it = line.globalMatch(QString::fromStdString(run.output));
    while (it.hasNext()) {
        const auto m = it.next();
        std::string path = m.captured(4).mid(1).toStdString();
        out[path] = m.captured(1) == "storage"
                        ? "storage"
                        : ("stream " + m.captured(2) + " " + m.captured(3)).toStdString();
    }
    return out;
}

std::map<std::string, std::string> ExpectedListing(const Tree& tree) {
    std::map<std::string, std::string> out;
    for (const auto& [path, bytes] : tree)
        out[path] = path.back() == '/' ? "storage"
                                       : "stream " + std::to_string(bytes.size()) +
                                             (bytes.empty()         ? " -"
                                              : bytes.size() < 4096 ? " mini"
                                                                    : " fat");
    return out;
}

// cfb-verify --strict: no error and no warning from any layer, and the same tree as ours.
ToolRun ExpectStrictlyValid(const std::string& path, const Tree& expected) {
    const ToolRun run = Verify({QString::fromStdString(path), "--strict", "--max-repeat", "3"});
    EXPECT_EQ(run.exitCode, 0) << run.Tail();
    const auto listed = ListingOf(run);
    const auto wanted = ExpectedListing(expected);
    size_t shown = 0;
    for (const auto& [path, what] : wanted)
        if (listed.count(path) == 0 || listed.at(path) != what)
            if (shown++ < 10)
                ADD_FAILURE() << "cfb-verify lists " << path << " as "
                              << (listed.count(path) ? listed.at(path) : "nothing") << ", expected "
                              << what;
    for (const auto& [path, what] : listed)
        if (wanted.count(path) == 0 && shown++ < 10)
            ADD_FAILURE() << "cfb-verify lists the unexpected " << path << " as " << what;
    // Notes do not fail --strict; this one says a sibling tree is deeper than a balanced one.
    EXPECT_EQ(run.output.find("[dir.unbalanced]"), std::string::npos) << run.Tail();
    return run;
}

// ---------------------------------------------------------------------------------------------
// Writing through the engine

void Put(Storage& parent, const std::string& name, const std::string& data) {
    std::unique_ptr<Stream> stream;
    ASSERT_HR(S_OK, parent.CreateStream(U(name), kCreate, stream)) << name;
    uint32_t written = 0;
    ASSERT_HR(S_OK, stream->Write(data.data(), static_cast<uint32_t>(data.size()), &written));
    ASSERT_EQ(written, data.size());
}

std::unique_ptr<Storage> Sub(Storage& parent, const std::string& name, bool create) {
    std::unique_ptr<Storage> out;
    const HResult hr = create ? parent.CreateStorage(U(name), kCreate, out)
                              : parent.OpenStorage(U(name), kRW, out);
    EXPECT_HR(S_OK, hr) << name;
    return out;
}

void Resize(Storage& parent, const std::string& name, uint64_t size, Tree& model,
            const std::string& path) {
    std::unique_ptr<Stream> s;
    ASSERT_HR(S_OK, parent.OpenStream(U(name), kRW, s)) << path;
    ASSERT_HR(S_OK, s->SetSize(size)) << path;
    model[path].resize(size, '\0');
}

// A file with what our documents hold: deep nesting, one storage with thousands of children,
// hundreds of small streams, large ones (enough for DIFAT sectors), sizes across the cutoff,
// deletions, moves, renames and copies, over two sessions.
void WriteVariedFile(const std::string& path, Tree& model) {
    std::mt19937 rng(99);
    {
        std::unique_ptr<Storage> root;
        ASSERT_HR(S_OK, StgCreateDocfile(&path, kCreate, root));
        {
            auto d1 = Sub(*root, "deep1", true);
            auto d2 = Sub(*d1, "deep2", true);
            auto d3 = Sub(*d2, "deep3", true);
            auto d4 = Sub(*d3, "deep4", true);
            model["deep1/"] = model["deep1/deep2/"] = model["deep1/deep2/deep3/"] = "";
            model["deep1/deep2/deep3/deep4/"] = "";
            Storage* levels[] = {d1.get(), d2.get(), d3.get(), d4.get()};
            std::string prefix;
            for (int i = 0; i < 4; ++i) {
                prefix += "deep" + std::to_string(i + 1) + "/";
                for (const size_t size : {size_t{10}, size_t{4096}, size_t{30000}}) {
                    const std::string name = "s" + std::to_string(size);
                    model[prefix + name] = Pattern(size, i * 10 + static_cast<uint32_t>(size));
                    Put(*levels[i], name, model[prefix + name]);
                }
            }
        }
        {
            // Destroyed in the second session, everything inside with it.
            auto doomed = Sub(*root, "doomed", true);
            auto inner = Sub(*doomed, "inner", true);
            Put(*doomed, "large", Pattern(50000, 1));
            Put(*inner, "small", Pattern(1000, 2));
            Put(*inner, "large", Pattern(9000, 3));
        }
        {
            auto many = Sub(*root, "many", true);
            model["many/"] = "";
            std::vector<int> order(3100);
            for (int i = 0; i < 3100; ++i)
                order[i] = i;
            std::shuffle(order.begin(), order.end(), rng);
            for (const int i : order) {
                const std::string name = "topic" + std::to_string(i);
                model["many/" + name] = Pattern(rng() % 300, i);
                Put(*many, name, model["many/" + name]);
            }
        }
        {
            auto small = Sub(*root, "small", true);
            model["small/"] = "";
            for (int i = 0; i < 400; ++i) {
                const std::string name = "item" + std::to_string(i);
                model["small/" + name] = Pattern(1 + rng() % 4000, 5000 + i);
                Put(*small, name, model["small/" + name]);
            }
        }
        {
            auto large = Sub(*root, "large", true);
            model["large/"] = "";
            for (int i = 0; i < 8; ++i) {
                const std::string name = "mb" + std::to_string(i);
                model["large/" + name] = Pattern(1 << 20, 100 + i);
                Put(*large, name, model["large/" + name]);
            }
        }
        {
            auto cross = Sub(*root, "cross", true);
            model["cross/"] = "";
            for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
                     {"up", 100}, {"down", 10000}, {"exact", 4000}, {"under", 5000}}) {
                model["cross/" + name] = Pattern(size, static_cast<uint32_t>(size));
                Put(*cross, name, model["cross/" + name]);
            }
            Resize(*cross, "up", 10000, model, "cross/up");
            Resize(*cross, "down", 100, model, "cross/down");
            Resize(*cross, "exact", 4096, model, "cross/exact");
            Resize(*cross, "under", 4095, model, "cross/under");
        }
        ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
    }
    // A second session deletes, moves, renames and copies, then grows the file further.
    std::unique_ptr<Storage> root;
    ASSERT_HR(S_OK, StgOpenStorage(path, kRW, root));
    {
        auto small = Sub(*root, "small", false);
        for (int i = 0; i < 400; i += 4) {
            const std::string name = "item" + std::to_string(i);
            ASSERT_HR(S_OK, small->DestroyElement(U(name)));
            model.erase("small/" + name);
        }
        auto many = Sub(*root, "many", false);
        for (int i = 0; i < 100; ++i) {
            const std::string name = "topic" + std::to_string(i * 13);
            ASSERT_HR(S_OK, many->MoveElementTo(U(name), *small, U("from" + name), STGMOVE_MOVE));
            model["small/from" + name] = model["many/" + name];
            model.erase("many/" + name);
        }
        ASSERT_HR(S_OK, many->MoveElementTo(u"topic1", *many, u"renamedTopic", STGMOVE_MOVE));
        model["many/renamedTopic"] = model["many/topic1"];
        model.erase("many/topic1");
    }
    ASSERT_HR(S_OK, root->DestroyElement(u"doomed"));
    {
        auto cross = Sub(*root, "cross", false);
        ASSERT_HR(S_OK, root->MoveElementTo(u"cross", *root, u"crossCopy", STGMOVE_COPY));
        for (const auto& [path, bytes] : Tree(model))
            if (path.starts_with("cross/"))
                model["crossCopy/" + path.substr(6)] = bytes;
        Put(*cross, "down", "replaced");
        model["cross/down"] = "replaced";
    }
    {
        auto large = Sub(*root, "large", false);
        ASSERT_HR(S_OK, large->DestroyElement(u"mb3"));
        model.erase("large/mb3");
        model["large/mb8"] = Pattern(1 << 20, 108);
        Put(*large, "mb8", model["large/mb8"]);
        model["large/mb9"] = Pattern(1 << 20, 109);
        Put(*large, "mb9", model["large/mb9"]);
    }
}

TEST(CfbInterop, VariedEngineFilePassesEveryReader) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("varied.cfb");
    Tree model;
    WriteVariedFile(path, model);
    if (HasFatalFailure())
        return;
    ExpectSameTree(model, SnapshotOf(path));
    ExpectClean(path);

    REQUIRE_VERIFIER();
    const ToolRun run = ExpectStrictlyValid(path, model);
    // More than 109 FAT sectors: the DIFAT continues in a DIFAT sector.
    static const QRegularExpression header(QStringLiteral("(\\d+) FAT, (\\d+) DIFAT"));
    const auto m = header.match(QString::fromStdString(run.output));
    ASSERT_TRUE(m.hasMatch()) << run.Tail();
    EXPECT_GT(m.captured(1).toInt(), 109);
    EXPECT_GE(m.captured(2).toInt(), 1);

    // Bytes as another implementation reads them.
    if (!Gsf().isEmpty()) {
        for (const char* stream :
             {"large/mb9", "cross/up", "cross/exact", "crossCopy/down",
              "deep1/deep2/deep3/deep4/s30000", "small/fromtopic1287", "many/renamedTopic"}) {
            SCOPED_TRACE(stream);
            const ToolRun cat = Execute(Gsf(), {"cat", QString::fromStdString(path), stream});
            EXPECT_EQ(cat.exitCode, 0) << cat.Tail().substr(0, 500);
            EXPECT_TRUE(cat.output == model.at(stream))
                << "gsf read " << cat.output.size() << " bytes, expected "
                << model.at(stream).size();
        }
    }
    if (OlefileMissing(run))
        GTEST_SKIP() << "python3-olefile is missing (apt-get install -y python3-olefile): the "
                        "olefile cross-check did not run; cfb-verify's own checks passed";
}

// ---------------------------------------------------------------------------------------------
// Files of another writer

void WriteFile(const QString& path, const std::string& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// A source folder and the tree it should become.
Tree MakeSourceFolder(const QString& root) {
    Tree tree;
    auto file = [&](const std::string& path, const std::string& bytes) {
        WriteFile(root + "/" + QString::fromStdString(path), bytes);
        tree[path] = bytes;
    };
    uint32_t seed = 1;
    for (const size_t size : {0, 1, 63, 64, 4095, 4096, 4097, 100000})
        file("s" + std::to_string(size), Pattern(size, seed++));
    file("Grüße", "umlauts");
    file("_a", "underscore");
    file("ab", "letters");
    file("nest/inner/leaf", Pattern(5000, seed++));
    file("nest/inner/tiny", "t");
    file("nest/mid", Pattern(700, seed++));
    tree["nest/"] = tree["nest/inner/"] = "";
    // gsf lists an empty storage as an empty stream, so this one goes before the strict check.
    QDir().mkpath(root + "/empty");
    tree["empty/"] = "";
    // gsf chains siblings into a list; this one is deeper than olefile's recursion allows.
    for (int i = 0; i < 1200; ++i)
        file("many/file" + std::to_string(i), Pattern(i % 150, 1000 + i));
    tree["many/"] = "";
    return tree;
}

// Changes a file made elsewhere: additions and deletions in the long list, a storage removed
// with its contents, sizes across the cutoff, a move and a new storage.
void ModifyForeignFile(const std::string& path, Tree& model) {
    std::unique_ptr<Storage> root;
    ASSERT_HR(S_OK, StgOpenStorage(path, kRW, root));
    {
        auto many = Sub(*root, "many", false);
        ASSERT_TRUE(many);
        for (int i = 10; i < 60; ++i) {
            ASSERT_HR(S_OK, many->DestroyElement(U("file" + std::to_string(i))));
            model.erase("many/file" + std::to_string(i));
        }
        for (int i = 0; i < 50; ++i) {
            const std::string name = "added" + std::to_string(i);
            model["many/" + name] = Pattern(100 + i, 77 + i);
            Put(*many, name, model["many/" + name]);
        }
        ASSERT_HR(S_OK, many->MoveElementTo(u"file100", *root, u"moved", STGMOVE_MOVE));
        model["moved"] = model["many/file100"];
        model.erase("many/file100");
    }
    ASSERT_HR(S_OK, root->DestroyElement(u"empty"));
    model.erase("empty/");
    ASSERT_HR(S_OK, root->DestroyElement(u"nest"));
    for (auto it = model.begin(); it != model.end();)
        it = it->first.starts_with("nest/") ? model.erase(it) : std::next(it);
    Put(*root, "s100000", "short now");
    model["s100000"] = "short now";
    Resize(*root, "s1", 10000, model, "s1");
    {
        auto made = Sub(*root, "newstore", true);
        model["newstore/"] = "";
        model["newstore/big"] = Pattern(20000, 3);
        Put(*made, "big", model["newstore/big"]);
    }
}

struct ForeignCase {
    const char* what;
    const char* tool;  // "--create" (gsf) or "--build" (cfb-verify's own writer)
    QStringList extra; // after OUT and SRC
};

TEST(CfbInterop, FilesOfOtherWritersReadBackAndStayValidWhenChanged) {
    REQUIRE_VERIFIER();
    testsupport::TempDir dir;
    const QString source = dir.File("source");
    const Tree fromFolder = MakeSourceFolder(source);
    if (HasFatalFailure())
        return;
    const ForeignCase cases[] = {
        {"gsf createole", "--create", {"--zero-times"}},
        {"version 4", "--build", {"--v4"}},
        {"list-shaped version 3", "--build", {"--tree", "chain"}},
    };
    bool olefileMissing = false;
    for (const ForeignCase& row : cases) {
        SCOPED_TRACE(row.what);
        const bool needsGsf = std::string(row.tool) == "--create";
        if (needsGsf && Gsf().isEmpty()) {
            ADD_FAILURE() << "gsf is missing (apt-get install -y libgsf-bin); " << row.what
                          << " not checked";
            continue;
        }
        const std::string path = dir.FileStd(QString(row.what).replace(' ', '-') + ".cfb");
        const QStringList args =
            QStringList{row.tool, QString::fromStdString(path), source, "--quiet"} + row.extra;
        const ToolRun made = Verify(args);
        ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(path))) << made.Tail();

        ExpectSameTree(fromFolder, SnapshotOf(path));
        CheckReport report;
        EXPECT_HR(S_OK, CompoundFile::Check(path, {}, report));
        EXPECT_TRUE(report.errors.empty()) << report.errors.front();

        Tree model = fromFolder;
        ModifyForeignFile(path, model);
        if (HasFatalFailure())
            return;
        ExpectSameTree(model, SnapshotOf(path));
        ExpectClean(path);
        const ToolRun run = ExpectStrictlyValid(path, model);
        olefileMissing = olefileMissing || OlefileMissing(run);
    }
    if (olefileMissing)
        GTEST_SKIP() << "python3-olefile is missing (apt-get install -y python3-olefile): the "
                        "olefile cross-check did not run";
}

// ---------------------------------------------------------------------------------------------
// Corrupt files

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Bases with what every mutation needs: large and small streams with several sectors, an
// empty stream, a storage with children, no DIFAT.
void WriteMutationBase(const std::string& path) {
    std::unique_ptr<Storage> root;
    ASSERT_HR(S_OK, StgCreateDocfile(&path, kCreate, root));
    Put(*root, "big", Pattern(5000, 1));
    Put(*root, "small", Pattern(300, 2));
    Put(*root, "tiny", "0123456789");
    Put(*root, "empty", "");
    auto store = Sub(*root, "store", true);
    Put(*store, "x", Pattern(100, 3));
    Put(*store, "y", Pattern(6000, 4));
    Put(*store, "z", Pattern(700, 5));
}

TEST(CfbInterop, EveryMutationIsRefusedOrTolerated) {
    REQUIRE_VERIFIER();
    testsupport::TempDir dir;
    const ToolRun list = Verify({"--list-mutations"});
    std::vector<std::string> kinds;
    for (const QString& line : QString::fromStdString(list.output).split('\n'))
        if (!line.trimmed().isEmpty() && !line.startsWith(' '))
            kinds.push_back(line.section(' ', 0, 0).toStdString());
    ASSERT_GE(kinds.size(), 20u) << list.output;

    std::vector<std::pair<std::string, std::string>> bases;
    bases.emplace_back("engine", dir.FileStd("engine-base.cfb"));
    WriteMutationBase(bases.back().second);
    if (!Gsf().isEmpty()) {
        const QString source = dir.File("gsf-source");
        WriteFile(source + "/big", Pattern(5000, 1));
        WriteFile(source + "/small", Pattern(300, 2));
        WriteFile(source + "/tiny", "0123456789");
        WriteFile(source + "/empty", "");
        WriteFile(source + "/store/x", Pattern(100, 3));
        WriteFile(source + "/store/y", Pattern(6000, 4));
        WriteFile(source + "/store/z", Pattern(700, 5));
        bases.emplace_back("gsf", dir.FileStd("gsf-base.cfb"));
        const ToolRun made = Verify({"--create", QString::fromStdString(bases.back().second),
                                     source, "--zero-times", "--quiet"});
        ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(bases.back().second))) << made.Tail();
    } else {
        ADD_FAILURE() << "gsf is missing (apt-get install -y libgsf-bin): only the engine's own "
                         "base file is mutated";
    }

    for (const auto& [baseName, base] : bases) {
        const Tree original = SnapshotOf(base);
        ASSERT_FALSE(original.empty());
        for (const std::string& kind : kinds) {
            SCOPED_TRACE(kind + " on the " + baseName + " base");
            const std::string bad = dir.FileStd(QString::fromStdString(baseName + "-" + kind));
            const ToolRun mutated =
                Verify({"--mutate", QString::fromStdString(kind), QString::fromStdString(base),
                        QString::fromStdString(bad)});
            ASSERT_EQ(mutated.exitCode, 0) << mutated.Tail();
            const bool tolerated = kind.starts_with("ok-");
            const long rssBefore = PeakRssKb();
            const auto started = std::chrono::steady_clock::now();

            std::unique_ptr<Storage> root;
            const HResult opened = StgOpenStorage(bad, STGM_READ | STGM_SHARE_DENY_WRITE, root);
            HResult walked = S_OK;
            Tree tree;
            if (Succeeded(opened))
                Collect(*root, "", tree, walked);
            root.reset();
            CheckReport report;
            const HResult checked = CompoundFile::Check(bad, {}, report);

            if (tolerated) {
                EXPECT_HR(S_OK, opened);
                EXPECT_HR(S_OK, walked);
                ExpectSameTree(original, tree);
                EXPECT_HR(S_OK, checked);
                EXPECT_TRUE(report.errors.empty()) << report.errors.front();
                // A tolerated file can be changed, and the result is a valid file.
                ASSERT_HR(S_OK, StgOpenStorage(bad, kRW, root));
                Put(*root, "added", Pattern(5000, 9));
                ASSERT_HR(S_OK, root->DestroyElement(u"small"));
                root.reset();
                Tree changed = original;
                changed["added"] = Pattern(5000, 9);
                changed.erase("small");
                ExpectSameTree(changed, SnapshotOf(bad));
                ExpectClean(bad);
                // What was only tolerated is not written back.
                ExpectStrictlyValid(bad, changed);
            } else {
                EXPECT_TRUE(Failed(opened) || Failed(walked))
                    << "the corrupt file opened and read without an error";
                EXPECT_TRUE(Failed(checked));
                EXPECT_FALSE(report.errors.empty()) << "Check found no error";
                // Opening for writing refuses it the same way, and leaves it as it was.
                const std::string before = [&] {
                    QFile f(QString::fromStdString(bad));
                    f.open(QIODevice::ReadOnly);
                    return f.readAll().toStdString();
                }();
                const HResult writable = StgOpenStorage(bad, kRW, root);
                EXPECT_EQ(Failed(writable), Failed(opened)) << Show(writable);
                root.reset();
                QFile f(QString::fromStdString(bad));
                f.open(QIODevice::ReadOnly);
                EXPECT_TRUE(f.readAll().toStdString() == before) << "the file was changed";
            }
            const auto elapsed = std::chrono::steady_clock::now() - started;
            EXPECT_LT(elapsed, std::chrono::seconds(20));
            EXPECT_LT(PeakRssKb() - rssBefore, 256 * 1024) << "kB more memory at the peak";
        }
    }
}

} // namespace
