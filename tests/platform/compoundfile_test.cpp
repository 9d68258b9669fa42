// Behaviour of the compound-file engine through its element interface: files, storages and
// streams as a caller sees them, checked on real files in a temporary folder.

#include "platform/cfb/cfbstorage.h"
#include "platform/cfb/compoundfile.h"
#include "support/cfbtesting.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace platform::cfb;
using namespace testsupport;

namespace {

void Put(Storage& parent, const std::u16string& name, const std::string& data,
         uint32_t mode = kCreate) {
    std::unique_ptr<Stream> stream;
    ASSERT_HR(S_OK, parent.CreateStream(name, mode, stream)) << Utf8(name);
    uint32_t written = 0;
    ASSERT_HR(S_OK, stream->Write(data.data(), static_cast<uint32_t>(data.size()), &written));
    ASSERT_EQ(written, data.size());
}

std::string ReadAll(Stream& stream) {
    StatStg st;
    EXPECT_HR(S_OK, stream.Stat(st));
    EXPECT_HR(S_OK, stream.Seek(0, STREAM_SEEK_SET, nullptr));
    std::string out;
    std::vector<char> buffer(7919); // odd-sized pieces cross sector boundaries
    for (;;) {
        uint32_t got = 0;
        const HResult hr = stream.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
        EXPECT_HR(S_OK, hr);
        if (Failed(hr) || got == 0)
            break;
        out.append(buffer.data(), got);
        if (out.size() > st.size) {
            ADD_FAILURE() << "read more bytes than the stream's size " << st.size;
            break;
        }
    }
    EXPECT_EQ(out.size(), st.size);
    return out;
}

std::optional<std::string> Get(Storage& parent, const std::u16string& name) {
    std::unique_ptr<Stream> stream;
    const HResult hr = parent.OpenStream(name, kRead, stream);
    if (Failed(hr)) {
        ADD_FAILURE() << "cannot open stream " << Utf8(name) << ": " << Show(hr);
        return std::nullopt;
    }
    return ReadAll(*stream);
}

std::vector<std::string> Names(const Storage& storage) {
    std::vector<StatStg> list;
    EXPECT_HR(S_OK, storage.EnumElements(list));
    std::vector<std::string> out;
    for (const StatStg& st : list)
        out.push_back(Utf8(st.name) + (st.type == STGTY_STORAGE ? "/" : ""));
    return out;
}

// Every element below a storage: "a/b/" for storages, "a/b/c" -> bytes for streams.
using Tree = std::map<std::string, std::string>;

void Collect(Storage& storage, const std::string& prefix, Tree& out) {
    std::vector<StatStg> list;
    ASSERT_HR(S_OK, storage.EnumElements(list));
    for (const StatStg& st : list) {
        const std::string path = prefix + Utf8(st.name);
        if (st.type == STGTY_STORAGE) {
            out[path + "/"] = "";
            std::unique_ptr<Storage> child;
            ASSERT_HR(S_OK, storage.OpenStorage(st.name, kRead, child)) << path;
            Collect(*child, path + "/", out);
        } else {
            std::unique_ptr<Stream> stream;
            ASSERT_HR(S_OK, storage.OpenStream(st.name, kRead, stream)) << path;
            EXPECT_EQ(st.size, ReadAll(*stream).size()) << path;
            stream->Seek(0, STREAM_SEEK_SET, nullptr);
            out[path] = ReadAll(*stream);
        }
    }
}

Tree Snapshot(Storage& storage) {
    Tree out;
    Collect(storage, "", out);
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

// Differences are shown by path, not as two dumps of megabytes.
void ExpectSameTree(const Tree& expected, const Tree& actual) {
    for (const auto& [path, bytes] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end())
            ADD_FAILURE() << "missing: " << path;
        else if (it->second != bytes)
            ADD_FAILURE() << "different bytes in " << path << " (" << it->second.size()
                          << " bytes, expected " << bytes.size() << ")";
    }
    for (const auto& [path, bytes] : actual)
        if (!expected.count(path))
            ADD_FAILURE() << "unexpected: " << path;
}

void ExpectClean(const std::string& path) {
    CheckReport report;
    EXPECT_HR(S_OK, CompoundFile::Check(path, {}, report));
    for (const std::string& e : report.errors)
        ADD_FAILURE() << "check error: " << e;
    for (const std::string& p : report.problems)
        ADD_FAILURE() << "check problem: " << p;
}

int64_t FileSize(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).size();
}

QByteArray FileBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

std::unique_ptr<Storage> CreateFile(const std::string& path, uint32_t extra = 0) {
    std::unique_ptr<Storage> root;
    const HResult hr = StgCreateDocfile(&path, kCreate | extra, root);
    EXPECT_HR(S_OK, hr) << path;
    return root;
}

std::unique_ptr<Storage> OpenFile(const std::string& path, uint32_t mode = kRW) {
    std::unique_ptr<Storage> root;
    const HResult hr = StgOpenStorage(path, mode, root);
    EXPECT_HR(S_OK, hr) << path;
    return root;
}

std::unique_ptr<Storage> MakeStorage(Storage& parent, const std::u16string& name) {
    std::unique_ptr<Storage> out;
    EXPECT_HR(S_OK, parent.CreateStorage(name, kCreate, out)) << Utf8(name);
    return out;
}

std::unique_ptr<Storage> OpenChild(Storage& parent, const std::u16string& name,
                                   uint32_t mode = kRW) {
    std::unique_ptr<Storage> out;
    EXPECT_HR(S_OK, parent.OpenStorage(name, mode, out)) << Utf8(name);
    return out;
}

// ---------------------------------------------------------------------------------------------

TEST(CompoundFile, TreeAndBytesSurviveReleaseAndReopen) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    const size_t sizes[] = {0, 1, 63, 64, 65, 4095, 4096, 4097, 70000};
    Tree expected;
    {
        auto root = CreateFile(path);
        ASSERT_TRUE(root);
        auto a = MakeStorage(*root, u"A");
        auto b = MakeStorage(*a, u"B");
        auto c = MakeStorage(*b, u"C");
        expected["A/"] = expected["A/B/"] = expected["A/B/C/"] = "";
        MakeStorage(*root, u"Empty");
        expected["Empty/"] = "";
        uint32_t seed = 1;
        for (const size_t size : sizes) {
            const std::string name = "s" + std::to_string(size);
            for (Storage* where : {root.get(), c.get()}) {
                const std::string data = Pattern(size, seed++);
                Put(*where, U(name), data);
                expected[(where == root.get() ? "" : "A/B/C/") + name] = data;
            }
        }
        Put(*root, U("\x05SummaryInformation"), "props");
        Put(*root, U("Grüße"), "umlaut");
        expected["\x05SummaryInformation"] = "props";
        expected["Grüße"] = "umlaut";
        // Releasing the root in direct mode commits, open children or not.
    }
    ExpectSameTree(expected, SnapshotOf(path));
    ExpectClean(path);

    // A second session changes some of it and commits explicitly.
    {
        auto root = OpenFile(path);
        ASSERT_TRUE(root);
        Put(*root, u"s4096", "now small");
        expected["s4096"] = "now small";
        ASSERT_HR(S_OK, root->DestroyElement(u"s70000"));
        expected.erase("s70000");
        auto a = OpenChild(*root, u"A");
        Put(*a, u"late", Pattern(9000, 99));
        expected["A/late"] = Pattern(9000, 99);
        a.reset();
        ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
        ExpectSameTree(expected, Snapshot(*root));
    }
    ExpectSameTree(expected, SnapshotOf(path));
    ExpectClean(path);
}

TEST(CompoundFile, CreatingAFileRefusesOrReplacesAnExistingOne) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    {
        auto root = CreateFile(path);
        Put(*root, u"old", "old bytes");
    }
    std::unique_ptr<Storage> root;
    EXPECT_HR(STG_E_FILEALREADYEXISTS, StgCreateDocfile(&path, kRW, root));
    EXPECT_EQ((Tree{{"old", "old bytes"}}), SnapshotOf(path));

    ASSERT_HR(S_OK, StgCreateDocfile(&path, kCreate, root));
    EXPECT_TRUE(Names(*root).empty());
    root.reset();
    EXPECT_TRUE(SnapshotOf(path).empty());
    ExpectClean(path);
    // Nothing of the replacement's staging is left beside the file.
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files), QStringList{"doc.cfb"});
}

TEST(CompoundFile, AnElementIsOpenAtMostOnce) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    auto store = MakeStorage(*root, u"store");
    Put(*store, u"inner", "x");
    Put(*root, u"stream", "data");

    std::unique_ptr<Stream> stream;
    ASSERT_HR(S_OK, root->OpenStream(u"stream", kRW, stream));
    std::unique_ptr<Stream> again;
    EXPECT_HR(STG_E_ACCESSDENIED, root->OpenStream(u"stream", kRead, again));
    EXPECT_HR(STG_E_ACCESSDENIED, root->OpenStream(u"STREAM", kRead, again));
    EXPECT_HR(STG_E_ACCESSDENIED, root->CreateStream(u"stream", kCreate, again));
    EXPECT_HR(STG_E_ACCESSDENIED, root->DestroyElement(u"stream"));
    EXPECT_HR(STG_E_ACCESSDENIED, root->MoveElementTo(u"stream", *store, u"moved", STGMOVE_MOVE));

    std::unique_ptr<Storage> storeAgain;
    EXPECT_HR(STG_E_ACCESSDENIED, root->OpenStorage(u"store", kRW, storeAgain));
    EXPECT_HR(STG_E_ACCESSDENIED, root->CreateStorage(u"store", kCreate, storeAgain));
    EXPECT_HR(STG_E_ACCESSDENIED, root->DestroyElement(u"store"));

    // A storage whose descendant is open cannot go either.
    store.reset();
    {
        auto reopened = OpenChild(*root, u"store");
        std::unique_ptr<Stream> inner;
        ASSERT_HR(S_OK, reopened->OpenStream(u"inner", kRead, inner));
        reopened.reset();
        EXPECT_HR(STG_E_ACCESSDENIED, root->DestroyElement(u"store"));
        EXPECT_HR(STG_E_ACCESSDENIED, root->CreateStorage(u"store", kCreate, storeAgain));
    }

    // Asking for the wrong kind of element finds nothing.
    std::unique_ptr<Storage> wrong;
    EXPECT_HR(STG_E_FILENOTFOUND, root->OpenStorage(u"stream", kRead, wrong));
    std::unique_ptr<Stream> wrongStream;
    EXPECT_HR(STG_E_FILENOTFOUND, root->OpenStream(u"store", kRead, wrongStream));
    EXPECT_HR(STG_E_FILENOTFOUND, root->OpenStream(u"missing", kRead, wrongStream));
    EXPECT_HR(STG_E_FILENOTFOUND, root->DestroyElement(u"missing"));

    // Once released, each opens again.
    stream.reset();
    EXPECT_HR(S_OK, root->OpenStream(u"stream", kRead, again));
    EXPECT_HR(S_OK, root->OpenStorage(u"store", kRead, storeAgain));
}

TEST(CompoundFile, HandlesThatOutliveTheirRootFailCleanly) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    Put(*root, u"stream", "data");
    std::unique_ptr<Stream> stream;
    ASSERT_HR(S_OK, root->OpenStream(u"stream", kRW, stream));
    auto store = MakeStorage(*root, u"store");
    root.reset();

    char buffer[4];
    uint32_t n = 99;
    EXPECT_TRUE(Failed(stream->Read(buffer, sizeof buffer, &n)));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(Failed(stream->Write("abcd", 4, &n)));
    EXPECT_TRUE(Failed(stream->SetSize(10)));
    std::unique_ptr<Stream> created;
    EXPECT_TRUE(Failed(store->CreateStream(u"late", kCreate, created)));
    std::vector<StatStg> list;
    EXPECT_TRUE(Failed(store->EnumElements(list)));
    stream.reset();
    store.reset();
    EXPECT_EQ((Tree{{"stream", "data"}, {"store/", ""}}), SnapshotOf(path));
}

struct ReplaceCase {
    const char* what;
    bool existingIsStorage;
    bool newIsStorage;
    const char16_t* newName;
    bool withCreate;
    HResult expected;
    std::vector<std::string> namesAfter;
};

TEST(CompoundFile, CreateReplacesAnExistingElementOnlyWithCreateFlag) {
    const ReplaceCase cases[] = {
        {"stream over stream", false, false, u"Data", false, STG_E_FILEALREADYEXISTS, {"Data"}},
        {"stream over stream, create", false, false, u"Data", true, S_OK, {"Data"}},
        {"storage over stream", false, true, u"Data", false, STG_E_FILEALREADYEXISTS, {"Data"}},
        {"storage over stream, create", false, true, u"Data", true, S_OK, {"Data/"}},
        {"stream over storage", true, false, u"Data", false, STG_E_FILEALREADYEXISTS, {"Data/"}},
        {"stream over storage, create", true, false, u"Data", true, S_OK, {"Data"}},
        {"storage over storage", true, true, u"Data", false, STG_E_FILEALREADYEXISTS, {"Data/"}},
        {"storage over storage, create", true, true, u"Data", true, S_OK, {"Data/"}},
        {"other case collides", false, false, u"DATA", false, STG_E_FILEALREADYEXISTS, {"Data"}},
        {"other case replaces", false, false, u"dAtA", true, S_OK, {"dAtA"}},
    };
    for (const ReplaceCase& row : cases) {
        SCOPED_TRACE(row.what);
        testsupport::TempDir dir;
        const std::string path = dir.FileStd("doc.cfb");
        {
            auto root = CreateFile(path);
            ASSERT_TRUE(root);
            if (row.existingIsStorage) {
                auto s = MakeStorage(*root, u"Data");
                Put(*s, u"inside", Pattern(5000, 1));
                Put(*s, u"small", "x");
            } else {
                Put(*root, u"Data", Pattern(5000, 2));
            }
            const uint32_t mode = row.withCreate ? kCreate : kRW;
            HResult hr = S_OK;
            if (row.newIsStorage) {
                std::unique_ptr<Storage> made;
                hr = root->CreateStorage(row.newName, mode, made);
                if (made) {
                    EXPECT_TRUE(Names(*made).empty());
                }
            } else {
                std::unique_ptr<Stream> made;
                hr = root->CreateStream(row.newName, mode, made);
                if (made) {
                    StatStg st;
                    made->Stat(st);
                    EXPECT_EQ(st.size, 0u);
                }
            }
            EXPECT_HR(row.expected, hr);
            EXPECT_EQ(Names(*root), row.namesAfter);
        }
        const Tree after = SnapshotOf(path);
        if (Succeeded(row.expected)) {
            // The replaced element is gone with everything inside it.
            EXPECT_EQ(after.size(), 1u);
            EXPECT_EQ(after.begin()->second, "");
        }
        ExpectClean(path);
    }
}

TEST(CompoundFile, InvalidNamesAreRefused) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    Put(*root, u"victim", "v");
    const std::u16string bad[] = {
        std::u16string(32, u'n'),
        u"",
        u"a/b",
        u"a\\b",
        u"a:b",
        u"a!b",
        u"/",
        u"\\",
        u":",
        u"!",
        std::u16string(u"nul\0inside", 10),
    };
    for (const std::u16string& name : bad) {
        SCOPED_TRACE("name \"" + Utf8(name) + "\" of " + std::to_string(name.size()) + " units");
        std::unique_ptr<Stream> stream;
        EXPECT_HR(STG_E_INVALIDNAME, root->CreateStream(name, kCreate, stream));
        std::unique_ptr<Storage> storage;
        EXPECT_HR(STG_E_INVALIDNAME, root->CreateStorage(name, kCreate, storage));
        EXPECT_HR(STG_E_INVALIDNAME, root->MoveElementTo(u"victim", *root, name, STGMOVE_COPY));
        EXPECT_HR(STG_E_INVALIDNAME, root->MoveElementTo(u"victim", *root, name, STGMOVE_MOVE));
    }
    EXPECT_EQ(Names(*root), std::vector<std::string>{"victim"});

    // The longest name and leading control characters are fine.
    const std::u16string longest(31, u'L');
    Put(*root, longest, "31");
    Put(*root,
        u"\x01"
        "CompObj",
        "c");
    root.reset();
    const Tree tree = SnapshotOf(path);
    EXPECT_EQ(tree.at(Utf8(longest)), "31");
    EXPECT_EQ(tree.at("\x01"
                      "CompObj"),
              "c");
}

// The reference order: shorter first, then unit by unit with only a-z upper-cased.
bool FormatLess(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; };
        if (up(a[i]) != up(b[i]))
            return up(a[i]) < up(b[i]);
    }
    return false;
}

TEST(CompoundFile, NamesFollowTheFormatOrderAndIgnoreCase) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    // Shorter names first; "_" and "[" sort after the letters because letters are upper-cased.
    const std::vector<std::string> expected = {"a",  "b",  "Z",   "[",   "AA", "ab",
                                               "Zz", "_a", "aaa", "BCD", "b_c"};
    {
        auto root = CreateFile(path);
        ASSERT_TRUE(root);
        for (const char* name : {"_a", "BCD", "ab", "[", "Zz", "b", "aaa", "Z", "AA", "a", "b_c"})
            Put(*root, U(name), name);
        EXPECT_EQ(Names(*root), expected);

        // Names equal after upper-casing collide, and either spelling finds the element.
        const std::pair<const char*, const char*> collisions[] = {
            {"Data", "DATA"}, {"Data", "data"}, {"ä", "Ä"}, {"é", "É"}};
        for (const auto& [first, second] : collisions) {
            SCOPED_TRACE(std::string(first) + " / " + second);
            Put(*root, U(first), first);
            std::unique_ptr<Stream> s;
            EXPECT_HR(STG_E_FILEALREADYEXISTS, root->CreateStream(U(second), kRW, s));
            std::unique_ptr<Storage> st;
            EXPECT_HR(STG_E_FILEALREADYEXISTS, root->CreateStorage(U(second), kRW, st));
            EXPECT_EQ(Get(*root, U(second)), first);
            EXPECT_HR(S_OK, root->DestroyElement(U(first)));
        }
        // Lengths count UTF-16 units: "ß" is one unit and does not become "SS".
        Put(*root, u"ß", "eszett");
        Put(*root, u"SS", "two");
        EXPECT_EQ(Get(*root, u"ß"), "eszett");
        EXPECT_EQ(Get(*root, u"ss"), "two");
        EXPECT_HR(S_OK, root->DestroyElement(u"ß"));
        EXPECT_HR(S_OK, root->DestroyElement(u"SS"));
    }
    // The order on disk is the one the reader accepts and the one enumeration gives.
    auto root = OpenFile(path, kRead);
    ASSERT_TRUE(root);
    EXPECT_EQ(Names(*root), expected);
    for (const std::string& name : expected) {
        std::string other = name;
        for (char& c : other)
            c = (c >= 'a' && c <= 'z') ? c - 32 : ((c >= 'A' && c <= 'Z') ? c + 32 : c);
        EXPECT_EQ(Get(*root, U(other)), name) << other;
    }
    ASSERT_TRUE(std::is_sorted(expected.begin(), expected.end(), FormatLess));
}

TEST(CompoundFile, SteadyCreateAndDestroyDoesNotGrowTheFile) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    Put(*root, u"keep", Pattern(6000, 7));
    std::vector<int64_t> sizes;
    for (int round = 1; round <= 50; ++round) {
        {
            auto s = MakeStorage(*root, u"S");
            auto nested = MakeStorage(*s, u"nested");
            for (int i = 0; i < 30; ++i)
                Put(i % 2 ? *s : *nested, U("small" + std::to_string(i)),
                    Pattern(50 + 97 * i, round * 100 + i));
            Put(*s, u"large", Pattern(40000, round));
            Put(*nested, u"mid", Pattern(4500, round));
        }
        ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
        ASSERT_HR(S_OK, root->DestroyElement(u"S"));
        ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
        sizes.push_back(FileSize(path));
    }
    EXPECT_EQ(sizes[49], sizes[4])
        << "size after round 5: " << sizes[4] << ", after round 50: " << sizes[49];
    root.reset();
    EXPECT_EQ((Tree{{"keep", Pattern(6000, 7)}}), SnapshotOf(path));
    ExpectClean(path);
}

TEST(CompoundFile, MoveAndCopyWithinAFile) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    Tree expected;
    {
        auto root = CreateFile(path);
        ASSERT_TRUE(root);
        {
            auto src = MakeStorage(*root, u"src");
            auto deep = MakeStorage(*src, u"deep");
            Put(*src, u"big", Pattern(20000, 1));
            Put(*deep, u"small", Pattern(300, 2));
            auto deeper = MakeStorage(*deep, u"deeper");
            Put(*deeper, u"edge", Pattern(4096, 3));
        }
        MakeStorage(*root, u"dst");
        Put(*root, u"loose", Pattern(100, 4));

        auto src = OpenChild(*root, u"src");
        auto dst = OpenChild(*root, u"dst");
        // Copy a whole storage, then change the copy: the original keeps its bytes.
        ASSERT_HR(S_OK, root->MoveElementTo(u"src", *dst, u"copy", STGMOVE_COPY));
        {
            auto copy = OpenChild(*dst, u"copy");
            Put(*copy, u"big", "changed");
        }
        // Move a stream into a storage under a new name, and rename one in place.
        ASSERT_HR(S_OK, root->MoveElementTo(u"loose", *src, u"moved", STGMOVE_MOVE));
        ASSERT_HR(S_OK, src->MoveElementTo(u"big", *src, u"zzzzBig", STGMOVE_MOVE));
        EXPECT_EQ(Names(*src), (std::vector<std::string>{"deep/", "moved", "zzzzBig"}));
        // An existing name refuses a move or a copy.
        EXPECT_HR(STG_E_FILEALREADYEXISTS,
                  src->MoveElementTo(u"moved", *src, u"ZZZZBIG", STGMOVE_MOVE));
        EXPECT_HR(STG_E_FILEALREADYEXISTS,
                  src->MoveElementTo(u"moved", *src, u"zzzzbig", STGMOVE_COPY));
        // A storage cannot go into itself or below itself.
        {
            auto deep = OpenChild(*src, u"deep");
            EXPECT_TRUE(Failed(root->MoveElementTo(u"src", *src, u"self", STGMOVE_MOVE)));
            src.reset();
            dst.reset();
            EXPECT_TRUE(Failed(root->MoveElementTo(u"src", *deep, u"self", STGMOVE_MOVE)));
            EXPECT_TRUE(Failed(root->MoveElementTo(u"src", *deep, u"self", STGMOVE_COPY)));
        }
        // A storage moved to another parent takes its subtree along.
        dst = OpenChild(*root, u"dst");
        src = OpenChild(*root, u"src");
        ASSERT_HR(S_OK, src->MoveElementTo(u"deep", *dst, u"deep", STGMOVE_MOVE));
        EXPECT_EQ(Names(*root), (std::vector<std::string>{"dst/", "src/"}));
    }
    expected = {
        {"dst/", ""},
        {"dst/copy/", ""},
        {"dst/copy/big", "changed"},
        {"dst/copy/deep/", ""},
        {"dst/copy/deep/small", Pattern(300, 2)},
        {"dst/copy/deep/deeper/", ""},
        {"dst/copy/deep/deeper/edge", Pattern(4096, 3)},
        {"dst/deep/", ""},
        {"dst/deep/small", Pattern(300, 2)},
        {"dst/deep/deeper/", ""},
        {"dst/deep/deeper/edge", Pattern(4096, 3)},
        {"src/", ""},
        {"src/moved", Pattern(100, 4)},
        {"src/zzzzBig", Pattern(20000, 1)},
    };
    ExpectSameTree(expected, SnapshotOf(path));
    ExpectClean(path);
}

TEST(CompoundFile, MoveAndCopyToAnotherFile) {
    testsupport::TempDir dir;
    const std::string one = dir.FileStd("one.cfb");
    const std::string two = dir.FileStd("two.cfb");
    {
        auto a = CreateFile(one);
        auto b = CreateFile(two);
        ASSERT_TRUE(a && b);
        {
            auto s = MakeStorage(*a, u"tree");
            Put(*s, u"large", Pattern(100000, 1));
            Put(*s, u"small", Pattern(10, 2));
            auto inner = MakeStorage(*s, u"inner");
            Put(*inner, u"edge", Pattern(4095, 3));
        }
        Put(*a, u"lone", Pattern(5000, 4));
        Put(*b, u"resident", "r");
        auto target = MakeStorage(*b, u"target");
        ASSERT_HR(S_OK, a->MoveElementTo(u"tree", *target, u"tree", STGMOVE_MOVE));
        ASSERT_HR(S_OK, a->MoveElementTo(u"lone", *b, u"copied", STGMOVE_COPY));
        EXPECT_HR(STG_E_FILEALREADYEXISTS,
                  a->MoveElementTo(u"lone", *b, u"RESIDENT", STGMOVE_COPY));
    }
    ExpectSameTree({{"lone", Pattern(5000, 4)}}, SnapshotOf(one));
    ExpectSameTree({{"resident", "r"},
                    {"copied", Pattern(5000, 4)},
                    {"target/", ""},
                    {"target/tree/", ""},
                    {"target/tree/large", Pattern(100000, 1)},
                    {"target/tree/small", Pattern(10, 2)},
                    {"target/tree/inner/", ""},
                    {"target/tree/inner/edge", Pattern(4095, 3)}},
                   SnapshotOf(two));
    ExpectClean(one);
    ExpectClean(two);

    // Copying out of a file opened read-only is allowed; moving out of it is not.
    auto source = OpenFile(one, STGM_READ | STGM_SHARE_DENY_WRITE);
    auto dest = OpenFile(two);
    ASSERT_TRUE(source && dest);
    EXPECT_HR(STG_E_ACCESSDENIED, source->MoveElementTo(u"lone", *dest, u"x", STGMOVE_MOVE));
    EXPECT_HR(S_OK, source->MoveElementTo(u"lone", *dest, u"again", STGMOVE_COPY));
    EXPECT_HR(STG_E_ACCESSDENIED, dest->MoveElementTo(u"copied", *source, u"x", STGMOVE_COPY));
    dest.reset();
    EXPECT_EQ(SnapshotOf(two).at("again"), Pattern(5000, 4));
}

// ---------------------------------------------------------------------------------------------
// Streams

std::string ReadRange(Stream& s, uint64_t at, uint32_t n) {
    EXPECT_HR(S_OK, s.Seek(static_cast<int64_t>(at), STREAM_SEEK_SET, nullptr));
    std::string out(n, '\0');
    uint32_t got = 0;
    EXPECT_HR(S_OK, s.Read(out.data(), n, &got));
    out.resize(got);
    return out;
}

TEST(CfbStream, ResizingAcrossTheCutoffKeepsContentAndZeroesTheRest) {
    // Each row writes a pattern of the first size, then resizes through the others.
    const std::vector<std::vector<uint64_t>> rows = {
        {100, 5000},
        {5000, 100},
        {4095, 4096},
        {4096, 4095},
        {0, 4096},
        {4096, 0},
        {10000, 0, 10},
        {3000, 100, 3000},
        {20000, 5000, 20000},
        {5000, 1000, 5000},
        {1000, 9000, 200, 6000},
        {64, 63, 65},
        {4096, 4097, 4096},
        {70000, 4096, 4095, 70000},
        // Shrinking inside the last unit: the cut bytes must not come back.
        {100, 70, 100},
        {5000, 4700, 5000},
    };
    for (const auto& sizes : rows) {
        std::string label;
        for (const uint64_t s : sizes)
            label += std::to_string(s) + " ";
        SCOPED_TRACE("sizes " + label);
        testsupport::TempDir dir;
        const std::string path = dir.FileStd("doc.cfb");
        // A neighbour in each area shows that no resize writes over another stream.
        const std::string smallNeighbour = Pattern(1000, 5);
        const std::string largeNeighbour = Pattern(9000, 6);
        std::string model = Pattern(sizes[0], 1);
        {
            auto root = CreateFile(path);
            ASSERT_TRUE(root);
            Put(*root, u"before", smallNeighbour);
            Put(*root, u"subject", model);
            Put(*root, u"after", largeNeighbour);
            std::unique_ptr<Stream> s;
            ASSERT_HR(S_OK, root->OpenStream(u"subject", kRW, s));
            for (size_t i = 1; i < sizes.size(); ++i) {
                ASSERT_HR(S_OK, s->SetSize(sizes[i]));
                model.resize(sizes[i], '\0');
                StatStg st;
                s->Stat(st);
                EXPECT_EQ(st.size, sizes[i]);
                EXPECT_EQ(ReadAll(*s), model) << "after resizing to " << sizes[i];
            }
        }
        ExpectSameTree({{"before", smallNeighbour}, {"subject", model}, {"after", largeNeighbour}},
                       SnapshotOf(path));
        ExpectClean(path);
    }
}

TEST(CfbStream, ReadWriteAndSeekAtTheEdges) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    std::unique_ptr<Stream> s;
    ASSERT_HR(S_OK, root->CreateStream(u"s", kCreate, s));
    char buffer[16];
    uint32_t n = 99;

    // Reading an empty stream, or at or past the end, gives 0 bytes and S_OK.
    EXPECT_HR(S_OK, s->Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u);
    ASSERT_HR(S_OK, s->Write("hello", 5, &n));
    EXPECT_EQ(n, 5u);
    n = 99;
    EXPECT_HR(S_OK, s->Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u);
    uint64_t pos = 0;
    EXPECT_HR(S_OK, s->Seek(100, STREAM_SEEK_SET, &pos));
    EXPECT_EQ(pos, 100u);
    n = 99;
    EXPECT_HR(S_OK, s->Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u);
    // A short read near the end gives what is there.
    EXPECT_HR(S_OK, s->Seek(-2, STREAM_SEEK_END, &pos));
    EXPECT_EQ(pos, 3u);
    EXPECT_HR(S_OK, s->Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(std::string(buffer, n), "lo");
    EXPECT_HR(S_OK, s->Seek(-1, STREAM_SEEK_CUR, &pos));
    EXPECT_EQ(pos, 4u);
    // Seeking before the start fails and keeps the position.
    EXPECT_TRUE(Failed(s->Seek(-5, STREAM_SEEK_CUR, &pos)));
    EXPECT_TRUE(Failed(s->Seek(-6, STREAM_SEEK_END, nullptr)));
    EXPECT_TRUE(Failed(s->Seek(0, 3, nullptr)));
    EXPECT_HR(S_OK, s->Seek(0, STREAM_SEEK_CUR, &pos));
    EXPECT_EQ(pos, 4u);

    // Writing past the end fills the gap with zeros, in either area.
    for (const uint64_t at : {uint64_t{200}, uint64_t{9000}}) {
        SCOPED_TRACE("write at " + std::to_string(at));
        ASSERT_HR(S_OK, s->Seek(static_cast<int64_t>(at), STREAM_SEEK_SET, nullptr));
        ASSERT_HR(S_OK, s->Write("!", 1, &n));
        StatStg st;
        s->Stat(st);
        EXPECT_EQ(st.size, at + 1);
        const std::string all = ReadAll(*s);
        EXPECT_EQ(all.substr(0, 5), "hello");
        EXPECT_EQ(all.back(), '!');
        EXPECT_EQ(all.find_first_not_of('\0', 5), 200u);
        EXPECT_EQ(all.find_first_not_of('\0', 201), at == 200 ? std::string::npos : at);
    }
    // Zero-byte writes change nothing.
    ASSERT_HR(S_OK, s->Seek(50000, STREAM_SEEK_SET, nullptr));
    EXPECT_HR(S_OK, s->Write("", 0, &n));
    EXPECT_EQ(n, 0u);
    StatStg st;
    s->Stat(st);
    EXPECT_EQ(st.size, 9001u);

    // A stream opened for reading refuses to change.
    s.reset();
    ASSERT_HR(S_OK, root->OpenStream(u"s", kRead, s));
    EXPECT_HR(STG_E_ACCESSDENIED, s->Write("x", 1, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_HR(STG_E_ACCESSDENIED, s->SetSize(1));
    EXPECT_EQ(ReadRange(*s, 0, 5), "hello");
}

// Random writes, resizes and reads against a byte string: catches pieces that land in the wrong
// sector, cached sectors that go stale, and data lost on commit or on crossing the cutoff.
TEST(CfbStream, RandomOperationsMatchAPlainByteString) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    std::mt19937 rng(20240611);
    std::vector<std::string> models(3);
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    for (size_t i = 0; i < models.size(); ++i)
        Put(*root, U("m" + std::to_string(i)), "");
    for (int step = 0; step < 600 && !testing::Test::HasFatalFailure(); ++step) {
        const size_t which = rng() % models.size();
        std::string& model = models[which];
        SCOPED_TRACE("step " + std::to_string(step) + " on m" + std::to_string(which));
        std::unique_ptr<Stream> s;
        ASSERT_HR(S_OK, root->OpenStream(U("m" + std::to_string(which)), kRW, s));
        // Sizes cluster around the cutoff and reach a few sectors past it.
        auto size = [&] {
            const uint32_t r = rng() % 4;
            return r == 0 ? rng() % 200 : (r == 1 ? 3900 + rng() % 400 : rng() % 40000);
        };
        switch (rng() % 5) {
        case 0:
        case 1: {
            const uint64_t at = model.empty() ? 0 : rng() % (model.size() + 100);
            const std::string data = Pattern(size() % 9000 + 1, step);
            ASSERT_HR(S_OK, s->Seek(static_cast<int64_t>(at), STREAM_SEEK_SET, nullptr));
            uint32_t n = 0;
            ASSERT_HR(S_OK, s->Write(data.data(), static_cast<uint32_t>(data.size()), &n));
            if (model.size() < at + data.size())
                model.resize(at + data.size(), '\0');
            model.replace(at, data.size(), data);
            break;
        }
        case 2: {
            const uint64_t to = size();
            ASSERT_HR(S_OK, s->SetSize(to));
            model.resize(to, '\0');
            break;
        }
        case 3: {
            const uint64_t at = rng() % (model.size() + 10);
            const uint32_t n = rng() % 10000;
            const std::string want = at < model.size() ? model.substr(at, n) : "";
            ASSERT_EQ(ReadRange(*s, at, n), want);
            break;
        }
        case 4:
            s.reset();
            if (rng() % 4 == 0) {
                root.reset();
                root = OpenFile(path);
                ASSERT_TRUE(root);
            } else {
                ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
            }
            break;
        }
    }
    for (size_t i = 0; i < models.size(); ++i)
        EXPECT_EQ(Get(*root, U("m" + std::to_string(i))), models[i]) << "m" << i;
    root.reset();
    ExpectClean(path);
}

// ---------------------------------------------------------------------------------------------

struct Tool {
    int exitCode = -1;
    std::string output;
};

Tool RunVerify(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VELQUINT_SHARED_TOOLS "/cfb-verify"), args);
    Tool out;
    if (!p.waitForStarted(20000))
        return out;
    p.waitForFinished(300000);
    out.output = p.readAll().toStdString();
    out.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return out;
}

bool HaveVerifier() {
    return QFileInfo(QStringLiteral(VELQUINT_SHARED_TOOLS "/cfb-verify")).isExecutable() &&
           RunVerify({"--list-mutations"}).exitCode == 0;
}

TEST(CompoundFile, ThousandsOfChildrenStayFoundSortedAndShallow) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i)
        names.push_back((i % 3 ? "topic" : "Topic_") + std::to_string(i * 7919 % 100000));
    std::vector<std::string> order = names;
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    std::map<std::string, bool> alive;
    {
        auto root = CreateFile(path);
        ASSERT_TRUE(root);
        auto big = MakeStorage(*root, u"big");
        for (const std::string& name : order) {
            Put(*big, U(name), name);
            alive[name] = true;
        }
        // Every sixth one goes again, so deletion has its share in the tree's shape; 5000 stay.
        for (size_t i = 0; i < order.size(); i += 6) {
            ASSERT_HR(S_OK, big->DestroyElement(U(order[i])));
            alive[order[i]] = false;
        }
        for (const std::string& name : names) {
            std::unique_ptr<Stream> s;
            const HResult hr = big->OpenStream(U(name), kRead, s);
            EXPECT_EQ(Show(hr), Show(alive[name] ? S_OK : STG_E_FILENOTFOUND)) << name;
        }
    }
    std::vector<std::string> expected;
    for (const auto& [name, live] : alive)
        if (live)
            expected.push_back(name);
    std::sort(expected.begin(), expected.end(), FormatLess);

    auto root = OpenFile(path, kRead);
    ASSERT_TRUE(root);
    auto big = OpenChild(*root, u"big", kRead);
    EXPECT_EQ(Names(*big), expected);
    for (size_t i = 0; i < expected.size(); i += 97)
        EXPECT_EQ(Get(*big, U(expected[i])), expected[i]);
    big.reset();
    root.reset();
    ExpectClean(path);

    if (!HaveVerifier())
        GTEST_SKIP() << "the tree depth check needs " VELQUINT_SHARED_TOOLS "/cfb-verify (python3)";
    const Tool verify = RunVerify({QString::fromStdString(path), "--strict"});
    const std::string tail =
        verify.output.substr(verify.output.size() > 4000 ? verify.output.size() - 4000 : 0);
    EXPECT_EQ(verify.exitCode, 0) << tail;
    // cfb-verify notes a tree deeper than a balanced one ("dir.unbalanced") and warns on a very
    // deep one ("dir.too-deep").
    EXPECT_EQ(verify.output.find("[dir.unbalanced]"), std::string::npos) << tail;
    EXPECT_EQ(verify.output.find("[dir.too-deep]"), std::string::npos) << tail;
}

TEST(CompoundFile, TemporaryFileWorksAndLeavesNothingBehind) {
    testsupport::TempDir dir;
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const bool hadTmp = qEnvironmentVariableIsSet("TMPDIR");
    qputenv("TMPDIR", dir.Path().toLocal8Bit());
    {
        std::unique_ptr<Storage> root;
        ASSERT_HR(S_OK, StgCreateDocfile(nullptr, kCreate, root));
        auto s = MakeStorage(*root, u"s");
        Put(*s, u"big", Pattern(50000, 1));
        Put(*root, u"small", "tiny");
        EXPECT_HR(S_OK, root->Commit(STGC_DEFAULT));
        EXPECT_EQ(Get(*s, u"big"), Pattern(50000, 1));
        EXPECT_EQ(Get(*root, u"small"), "tiny");
        EXPECT_TRUE(QDir(dir.Path()).isEmpty()) << "visible while open";
    }
    EXPECT_TRUE(QDir(dir.Path()).isEmpty()) << "left behind";
    if (hadTmp)
        qputenv("TMPDIR", oldTmp);
    else
        qunsetenv("TMPDIR");
}

TEST(CompoundFile, ReadOnlyOpeningRefusesEveryChange) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    {
        auto root = CreateFile(path);
        auto s = MakeStorage(*root, u"store");
        Put(*s, u"inner", "in");
        Put(*root, u"stream", Pattern(5000, 1));
    }
    const QByteArray before = FileBytes(path);
    {
        auto root = OpenFile(path, STGM_READ | STGM_SHARE_DENY_WRITE);
        ASSERT_TRUE(root);
        std::unique_ptr<Stream> stream;
        std::unique_ptr<Storage> storage;
        EXPECT_HR(STG_E_ACCESSDENIED, root->CreateStream(u"new", kCreate, stream));
        EXPECT_HR(STG_E_ACCESSDENIED, root->CreateStorage(u"new", kCreate, storage));
        EXPECT_HR(STG_E_ACCESSDENIED, root->DestroyElement(u"stream"));
        EXPECT_HR(STG_E_ACCESSDENIED, root->OpenStream(u"stream", kRW, stream));
        EXPECT_HR(STG_E_ACCESSDENIED,
                  root->MoveElementTo(u"stream", *root, u"other", STGMOVE_MOVE));
        ASSERT_HR(S_OK, root->OpenStream(u"stream", kRead, stream));
        uint32_t n = 0;
        EXPECT_HR(STG_E_ACCESSDENIED, stream->Write("x", 1, &n));
        EXPECT_HR(STG_E_ACCESSDENIED, stream->SetSize(0));
        ASSERT_HR(S_OK, root->OpenStorage(u"store", kRead, storage));
        EXPECT_HR(STG_E_ACCESSDENIED, storage->CreateStream(u"x", kCreate, stream));
        EXPECT_HR(STG_E_ACCESSDENIED, storage->DestroyElement(u"inner"));
        EXPECT_HR(S_OK, root->Commit(STGC_DEFAULT));
        // The parent's access bounds its children's.
        std::unique_ptr<Storage> writable;
        storage.reset();
        EXPECT_HR(STG_E_ACCESSDENIED, root->OpenStorage(u"store", kRW, writable));
    }
    EXPECT_EQ(FileBytes(path), before);
}

TEST(CompoundFile, IsStorageFileTellsCompoundFilesFromOthers) {
    testsupport::TempDir dir;
    const std::string cfb = dir.FileStd("doc.cfb");
    CreateFile(cfb).reset();
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.File(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return dir.FileStd(name);
    };
    const QByteArray signature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    const struct {
        const char* what;
        std::string path;
        HResult expected;
    } rows[] = {
        {"compound file", cfb, S_OK},
        {"text", write("text.txt", "hello world, not a compound file"), S_FALSE},
        {"empty", write("empty", ""), S_FALSE},
        {"half a signature", write("half", signature.left(4)), S_FALSE},
        {"missing", dir.FileStd("nothing-here"), STG_E_FILENOTFOUND},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_HR(row.expected, StgIsStorageFile(row.path));
    }
    // Opening anything but a whole compound file fails without creating anything.
    for (const char* name : {"text.txt", "empty", "half", "sig", "nothing-here"}) {
        SCOPED_TRACE(name);
        std::unique_ptr<Storage> root;
        const HResult hr = StgOpenStorage(dir.FileStd(name), kRW, root);
        EXPECT_TRUE(Failed(hr)) << Show(hr);
        EXPECT_FALSE(root);
    }
    std::unique_ptr<Storage> root;
    EXPECT_HR(STG_E_FILENOTFOUND, StgOpenStorage(dir.FileStd("nothing-here"), kRW, root));
    EXPECT_FALSE(QFileInfo::exists(dir.File("nothing-here")));
}

// Like Collect, for files that may fail: false at the first failing call or short read.
bool TryCollect(Storage& storage, const std::string& prefix, Tree& out) {
    std::vector<StatStg> list;
    if (Failed(storage.EnumElements(list)))
        return false;
    for (const StatStg& st : list) {
        const std::string path = prefix + Utf8(st.name);
        if (st.type == STGTY_STORAGE) {
            std::unique_ptr<Storage> child;
            out[path + "/"] = "";
            if (Failed(storage.OpenStorage(st.name, kRead, child)) ||
                !TryCollect(*child, path + "/", out))
                return false;
            continue;
        }
        std::unique_ptr<Stream> stream;
        std::string data(st.size, '\0');
        uint32_t got = 0;
        if (Failed(storage.OpenStream(st.name, kRead, stream)) ||
            Failed(stream->Read(data.data(), static_cast<uint32_t>(st.size), &got)) ||
            got != st.size)
            return false;
        out[path] = data;
    }
    return true;
}

// Cut anywhere, a file either fails to open or to read, or reads back exactly as it was: bytes
// the end of the file took away never come back as zeros.
TEST(CompoundFile, ATruncatedFileIsRefusedOrReadsTheSame) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    {
        auto root = CreateFile(path);
        ASSERT_TRUE(root);
        Put(*root, u"small", Pattern(700, 1));
        auto s = MakeStorage(*root, u"store");
        Put(*s, u"inner", Pattern(100, 2));
        // Written last, so that its sectors end the file.
        Put(*root, u"large", Pattern(5000, 3));
    }
    const Tree original = SnapshotOf(path);
    const QByteArray bytes = FileBytes(path);
    const std::string cut = dir.FileStd("cut.cfb");
    // Every cut inside the last two sectors, then a sample further in.
    for (qsizetype keep = bytes.size() - 1; keep >= 512;
         keep -= bytes.size() - keep < 1024 ? 1 : 61) {
        SCOPED_TRACE("first " + std::to_string(keep) + " of " + std::to_string(bytes.size()) +
                     " bytes");
        {
            QFile f(QString::fromStdString(cut));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes.left(keep));
        }
        std::unique_ptr<Storage> root;
        if (Failed(StgOpenStorage(cut, STGM_READ | STGM_SHARE_DENY_WRITE, root)))
            continue;
        Tree tree;
        const bool failed = !TryCollect(*root, "", tree);
        EXPECT_TRUE(failed || tree == original) << "read different bytes";
    }
}

// Another writer may store a mini stream size that ends inside a mini sector; the sector is
// still in use and must not be handed out again.
TEST(CompoundFile, MiniStreamSizeInsideAMiniSectorKeepsThatSectorInUse) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    {
        auto root = CreateFile(path);
        ASSERT_TRUE(root);
        Put(*root, u"a", Pattern(100, 1));  // mini sectors 0 and 1
        Put(*root, u"b", Pattern(130, 2));  // 2 to 4
        Put(*root, u"e", Pattern(3716, 5)); // 5 to 63, ending at byte 4036 of the mini stream
    }
    QByteArray bytes = FileBytes(path);
    auto get32 = [&](qsizetype at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
    };
    // The root entry opens the first directory sector; its size field is at 0x78.
    const qsizetype rootSize = (qsizetype{get32(0x30)} + 1) * 512 + 0x78;
    ASSERT_EQ(get32(rootSize), 4096u) << "the mini stream holds the three streams";
    // Cut the mini stream to 4038 bytes, inside the mini sector that ends "e".
    bytes[rootSize] = static_cast<char>(0xC6);
    bytes[rootSize + 1] = 0x0F;
    bytes[rootSize + 2] = 0;
    bytes[rootSize + 3] = 0;
    {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    {
        auto root = OpenFile(path);
        ASSERT_TRUE(root);
        Put(*root, u"c", Pattern(50, 3));
        Put(*root, u"d", Pattern(3000, 4));
    }
    ExpectSameTree({{"a", Pattern(100, 1)},
                    {"b", Pattern(130, 2)},
                    {"c", Pattern(50, 3)},
                    {"d", Pattern(3000, 4)},
                    {"e", Pattern(3716, 5)}},
                   SnapshotOf(path));
    ExpectClean(path);
}

TEST(CompoundFile, TransactedRootKeepsOnlyWhatIsCommitted) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    {
        auto root = CreateFile(path);
        Put(*root, u"base", "committed");
    }
    const Tree committed = SnapshotOf(path);
    const QByteArray committedBytes = FileBytes(path);

    // Released without Commit: nothing reaches the file.
    {
        auto root = OpenFile(path, kRW | STGM_TRANSACTED);
        ASSERT_TRUE(root);
        Put(*root, u"base", Pattern(10000, 1));
        Put(*root, u"extra", "x");
        auto s = MakeStorage(*root, u"store");
        Put(*s, u"inner", "y");
    }
    EXPECT_EQ(FileBytes(path), committedBytes);

    // Revert returns to the last commit, and work goes on from there.
    {
        auto root = OpenFile(path, kRW | STGM_TRANSACTED);
        ASSERT_TRUE(root);
        Put(*root, u"extra", "x");
        ASSERT_HR(S_OK, root->DestroyElement(u"base"));
        ASSERT_HR(S_OK, root->Revert());
        ExpectSameTree(committed, Snapshot(*root));
        Put(*root, u"second", "kept");
        ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
        Put(*root, u"third", "dropped");
    }
    Tree expected = committed;
    expected["second"] = "kept";
    ExpectSameTree(expected, SnapshotOf(path));
    ExpectClean(path);
}

TEST(CompoundFile, HandlesOfRevertedElementsCannotReachNewOnes) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    {
        auto root = CreateFile(path);
        Put(*root, u"base", "committed");
    }
    {
        auto root = OpenFile(path, kRW | STGM_TRANSACTED);
        ASSERT_TRUE(root);
        std::unique_ptr<Stream> gone;
        ASSERT_HR(S_OK, root->CreateStream(u"gone", kCreate, gone));
        std::unique_ptr<Storage> goneStorage;
        ASSERT_HR(S_OK, root->CreateStorage(u"goneStorage", kCreate, goneStorage));
        ASSERT_HR(S_OK, root->Revert());
        // New elements may take the directory entries the reverted ones had.
        Put(*root, u"fresh", "fresh bytes");
        auto store = MakeStorage(*root, u"store");
        ASSERT_TRUE(store);
        uint32_t n = 0;
        EXPECT_TRUE(Failed(gone->Write("stale", 5, &n)));
        EXPECT_TRUE(Failed(gone->SetSize(100)));
        std::unique_ptr<Stream> child;
        EXPECT_TRUE(Failed(goneStorage->CreateStream(u"child", kCreate, child)));
        ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
    }
    ExpectSameTree({{"base", "committed"}, {"fresh", "fresh bytes"}, {"store/", ""}},
                   SnapshotOf(path));
    ExpectClean(path);
}

TEST(CompoundFile, SecondWriterOfAFileIsRefused) {
    testsupport::TempDir dir;
    const std::string path = dir.FileStd("doc.cfb");
    auto root = CreateFile(path);
    ASSERT_TRUE(root);
    Put(*root, u"s", "x");
    ASSERT_HR(S_OK, root->Commit(STGC_DEFAULT));
    std::unique_ptr<Storage> second;
    EXPECT_TRUE(Failed(StgOpenStorage(path, kRW, second)));
    EXPECT_TRUE(Failed(StgCreateDocfile(&path, kCreate, second)));
    root.reset();
    EXPECT_HR(S_OK, StgOpenStorage(path, kRW, second));
}

} // namespace
