#include "support/tempdir.h"

#include "platform/cfb/cfbstorage.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using namespace platform::cfb;

namespace {

struct Outcome {
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the built tool with args, input on its standard input.
Outcome RunTool(const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(VELQUINT_CFB_TOOL), args);
    Outcome outcome;
    if (!process.waitForStarted(30000)) {
        ADD_FAILURE() << "velquint-cfb did not start: " << process.errorString().toStdString();
        return outcome;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        ADD_FAILURE() << "velquint-cfb did not finish: " << args.join(' ').toStdString();
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "velquint-cfb crashed: " << args.join(' ').toStdString() << "\n"
                      << outcome.err.toStdString();
        return outcome;
    }
    outcome.exit = process.exitCode();
    return outcome;
}

// Runs the tool and expects it to succeed with nothing on standard error.
QByteArray Ok(const QStringList& args, const QByteArray& input = {}) {
    const Outcome o = RunTool(args, input);
    EXPECT_EQ(o.exit, 0) << args.join(' ').toStdString() << "\n" << o.err.toStdString();
    EXPECT_EQ(o.err, QByteArray()) << args.join(' ').toStdString();
    return o.out;
}

QByteArray Bytes(size_t n, uint32_t seed) {
    QByteArray data(static_cast<qsizetype>(n), '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return data;
}

// The lines of ls, compared as text so that a difference shows readably.
std::string StreamLine(qulonglong size, const char* path) {
    return "stream  " + QByteArray::number(size).rightJustified(12, ' ').toStdString() + "  " +
           path + "\n";
}

std::string StorageLine(const char* path) {
    return "storage " + QByteArray("-").rightJustified(12, ' ').toStdString() + "  " + path + "\n";
}

std::string Ls(const QString& file) {
    return Ok({u"ls"_s, file}).toStdString();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString CfbVerify() {
    return QStringLiteral(VELQUINT_SHARED_TOOLS "/cfb-verify");
}

// Empty when the shared checker can run here, else why it cannot.
std::string CfbVerifyMissing() {
    QProcess process;
    process.start(CfbVerify(), {u"--list-mutations"_s});
    if (!process.waitForStarted(30000))
        return "cfb-verify cannot start (" + process.errorString().toStdString() +
               "); is python3 installed?";
    process.waitForFinished(60000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return "cfb-verify does not run: " + process.readAllStandardError().toStdString();
    return {};
}

class CfbTool : public ::testing::Test {
protected:
    testsupport::TempDir dir_;
    QString file_ = dir_.File(u"feeds.cfb"_s);
};

struct Put {
    const char* path; // as given to put
    QByteArray data;
};

TEST_F(CfbTool, PutListCatRoundTripOverNestedPathsAndBothSeparators) {
    const std::vector<Put> puts = {
        {"Feeds/Über\\Item 1", "hello\n"},
        {"\\Feeds\\binary", QByteArray("a\0b\0\xff\xfe", 6)},
        {"Feeds/large", Bytes(10000, 1)}, // past the 4096-byte cutoff of small streams
        {"top", {}},
        {"/Feeds/Über/Item 2/", Bytes(4095, 2)},
        {"Deep/a/b/c/d/e", Bytes(600, 3)},
    };
    for (const Put& p : puts)
        Ok({u"put"_s, file_, QString::fromUtf8(p.path)}, p.data);

    // Children come in the order the file keeps them: shorter names first.
    EXPECT_EQ(Ls(file_), StreamLine(0, "/top") + StorageLine("/Deep") + StorageLine("/Deep/a") +
                             StorageLine("/Deep/a/b") + StorageLine("/Deep/a/b/c") +
                             StorageLine("/Deep/a/b/c/d") + StreamLine(600, "/Deep/a/b/c/d/e") +
                             StorageLine("/Feeds") + StorageLine("/Feeds/Über") +
                             StreamLine(6, "/Feeds/Über/Item 1") +
                             StreamLine(4095, "/Feeds/Über/Item 2") +
                             StreamLine(10000, "/Feeds/large") + StreamLine(6, "/Feeds/binary"));

    const struct {
        const char* path;
        QByteArray data;
    } reads[] = {
        {"/Feeds/Über/Item 1", "hello\n"},
        {"Feeds\\Über\\Item 1", "hello\n"},
        {"Feeds/binary", QByteArray("a\0b\0\xff\xfe", 6)},
        {"feeds/LARGE", Bytes(10000, 1)}, // names compare without regard to case
        {"Feeds/Über/Item 2", Bytes(4095, 2)},
        {"Deep\\a/b\\c/d/e", Bytes(600, 3)},
        {"top", {}},
    };
    for (const auto& r : reads)
        EXPECT_EQ(Ok({u"cat"_s, file_, QString::fromUtf8(r.path)}), r.data) << r.path;

    // The names are stored as UTF-16: the engine finds them by their own spelling.
    std::unique_ptr<Storage> root;
    ASSERT_EQ(StgOpenStorage(file_.toStdString(), STGM_READ | STGM_SHARE_DENY_WRITE, root), S_OK);
    std::unique_ptr<Storage> feeds;
    std::unique_ptr<Storage> umlaut;
    std::unique_ptr<Stream> item;
    ASSERT_EQ(root->OpenStorage(u"Feeds", STGM_READ | STGM_SHARE_EXCLUSIVE, feeds), S_OK);
    ASSERT_EQ(feeds->OpenStorage(u"\u00dcber", STGM_READ | STGM_SHARE_EXCLUSIVE, umlaut), S_OK);
    ASSERT_EQ(umlaut->OpenStream(u"Item 1", STGM_READ | STGM_SHARE_EXCLUSIVE, item), S_OK);
    char buffer[16] = {};
    uint32_t got = 0;
    ASSERT_EQ(item->Read(buffer, sizeof buffer, &got), S_OK);
    EXPECT_EQ(QByteArray(buffer, static_cast<qsizetype>(got)), "hello\n");
}

TEST_F(CfbTool, PutReplacesAStreamOfAnySize) {
    const struct {
        size_t before;
        size_t after;
    } cases[] = {{5000, 10}, {10, 5000}, {100, 100}, {9000, 0}, {0, 700}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << " -> " << c.after);
        QFile::remove(file_);
        Ok({u"put"_s, file_, u"s/x"_s}, Bytes(c.before, 7));
        Ok({u"put"_s, file_, u"\\s\\x"_s}, Bytes(c.after, 8));
        EXPECT_EQ(Ok({u"cat"_s, file_, u"s/x"_s}), Bytes(c.after, 8));
        EXPECT_EQ(Ls(file_), StorageLine("/s") + StreamLine(c.after, "/s/x"));
        const QByteArray check = Ok({u"check"_s, file_});
        EXPECT_TRUE(check.contains(": clean")) << check.toStdString();
    }
}

TEST_F(CfbTool, RmRemovesAStreamOrAStorageWithEverythingBelow) {
    const Put puts[] = {
        {"a/b/c", Bytes(5000, 4)}, {"a/b/d", Bytes(300, 5)}, {"a/e", Bytes(64, 6)},
        {"f", Bytes(5000, 7)},     {"g/h", Bytes(200, 8)},
    };
    for (const Put& p : puts)
        Ok({u"put"_s, file_, QString::fromUtf8(p.path)}, p.data);

    Ok({u"rm"_s, file_, u"a"_s});
    Ok({u"rm"_s, file_, u"\\g\\h"_s});
    EXPECT_EQ(Ls(file_), StreamLine(5000, "/f") + StorageLine("/g"));

    const Outcome gone = RunTool({u"cat"_s, file_, u"a/b/c"_s});
    EXPECT_EQ(gone.exit, 1);
    EXPECT_EQ(gone.err, "velquint-cfb: " + file_.toUtf8() +
                            ": /a: The file or element could not be found.\n");
    // The freed space is accounted for: nothing leaks, nothing is left unreachable.
    const Outcome check = RunTool({u"check"_s, file_});
    EXPECT_EQ(check.exit, 0) << check.out.toStdString();
}

TEST_F(CfbTool, CheckPassesAWrittenFileAndFailsACorruptedOne) {
    Ok({u"put"_s, file_, u"Feeds/large"_s}, Bytes(20000, 5));
    Ok({u"put"_s, file_, u"Feeds/small"_s}, Bytes(300, 6));
    const Outcome clean = RunTool({u"check"_s, file_});
    EXPECT_EQ(clean.exit, 0) << clean.out.toStdString();
    EXPECT_TRUE(clean.out.startsWith(file_.toUtf8() + ": clean")) << clean.out.toStdString();

    if (const std::string missing = CfbVerifyMissing(); !missing.empty())
        GTEST_SKIP() << "skipping the checks with cfb-verify: " << missing;

    QProcess verify;
    verify.start(CfbVerify(), {u"--strict"_s, u"--quiet"_s, file_});
    ASSERT_TRUE(verify.waitForFinished(120000));
    EXPECT_EQ(verify.exitCode(), 0) << verify.readAllStandardOutput().toStdString();

    const QString corrupt = dir_.File(u"corrupt.cfb"_s);
    QProcess mutate;
    mutate.start(CfbVerify(), {u"--mutate"_s, u"fat-cycle"_s, file_, corrupt});
    ASSERT_TRUE(mutate.waitForFinished(120000));
    ASSERT_EQ(mutate.exitCode(), 0) << mutate.readAllStandardError().toStdString();

    const Outcome bad = RunTool({u"check"_s, corrupt});
    EXPECT_EQ(bad.exit, 1);
    EXPECT_TRUE(bad.out.startsWith("error: ")) << bad.out.toStdString();
    EXPECT_TRUE(bad.out.contains("chain")) << bad.out.toStdString();
    EXPECT_TRUE(bad.out.endsWith(corrupt.toUtf8() + ": 1 error, 0 problems\n"))
        << bad.out.toStdString();
    // The other commands refuse the file rather than follow the cycle.
    const Outcome cat = RunTool({u"cat"_s, corrupt, u"Feeds/large"_s});
    EXPECT_EQ(cat.exit, 1);
    EXPECT_EQ(cat.err, "velquint-cfb: " + corrupt.toUtf8() + ": The compound file is corrupt.\n");
}

TEST_F(CfbTool, AMissingFileIsReportedAndNotCreated) {
    const struct {
        const char* command;
        int exit;
    } cases[] = {{"ls", 1}, {"cat", 1}, {"rm", 1}, {"check", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        QStringList args{QString::fromUtf8(c.command), file_};
        if (std::string(c.command) == "cat" || std::string(c.command) == "rm")
            args << u"a/b"_s;
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.exit, c.exit);
        EXPECT_EQ(o.out, QByteArray());
        EXPECT_EQ(o.err, "velquint-cfb: " + file_.toUtf8() +
                             ": The file or element could not be found.\n");
        EXPECT_FALSE(QFile::exists(file_));
    }
}

TEST_F(CfbTool, AFailedPutOrRmLeavesTheFileAsItWas) {
    Ok({u"put"_s, file_, u"s/stream"_s}, Bytes(5000, 9));
    Ok({u"put"_s, file_, u"s/t/u"_s}, Bytes(50, 10));
    const QByteArray before = ReadFile(file_);
    const struct {
        const char* command;
        const char* path;
        const char* message; // after "velquint-cfb: FILE: "
    } cases[] = {
        {"put", "s/a:b", "/s/a:b: The name is not valid."},
        {"put", "s/0123456789012345678901234567890123", // 34 units, the limit is 31
         "/s/0123456789012345678901234567890123: The name is not valid."},
        {"put", "/", "/: The name is not valid."},
        {"put", "s/stream/below", "/s/stream: The file or element already exists."},
        {"put", "s/t", "/s/t: The file or element already exists."}, // a storage stays
        {"rm", "s/nothing", "/s/nothing: The file or element could not be found."},
        {"rm", "s/stream/below", "/s/stream: The file or element could not be found."},
        {"cat", "s/t", "/s/t: The file or element could not be found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.path);
        const Outcome o = RunTool({QString::fromUtf8(c.command), file_, QString::fromUtf8(c.path)},
                                  "new content");
        EXPECT_EQ(o.exit, 1);
        EXPECT_EQ(o.err, "velquint-cfb: " + file_.toUtf8() + ": " + c.message + "\n");
        EXPECT_EQ(ReadFile(file_), before);
    }
    // A put that fails on a file it would have created leaves no file behind.
    const QString fresh = dir_.File(u"fresh.cfb"_s);
    EXPECT_EQ(RunTool({u"put"_s, fresh, u"a/b!c"_s}, "x").exit, 1);
    EXPECT_FALSE(QFile::exists(fresh));
}

TEST_F(CfbTool, AFileOfAnotherKindIsRefusedAndKept) {
    {
        QFile other(file_);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write(QByteArray(2048, 'x'));
    }
    for (const char* command : {"ls", "put", "check"}) {
        SCOPED_TRACE(command);
        QStringList args{QString::fromUtf8(command), file_};
        if (std::string(command) == "put")
            args << u"x"_s;
        const Outcome o = RunTool(args, "data");
        EXPECT_EQ(o.exit, 1);
        if (std::string(command) == "check")
            EXPECT_EQ(o.out, "error: header: no compound file signature\n" + file_.toUtf8() +
                                 ": 1 error, 0 problems\n");
        else
            EXPECT_EQ(o.err, "velquint-cfb: " + file_.toUtf8() +
                                 ": The file has an invalid compound file header.\n");
    }
    EXPECT_EQ(ReadFile(file_), QByteArray(2048, 'x'));
}

TEST_F(CfbTool, BadUsageExitsWith64AndHelpWithZero) {
    const std::vector<QStringList> bad = {
        {},
        {u"frobnicate"_s, file_},
        {u"ls"_s},
        {u"ls"_s, file_, u"extra"_s},
        {u"cat"_s, file_},
        {u"put"_s, file_},
        {u"rm"_s, file_, u"a"_s, u"b"_s},
        {u"check"_s},
    };
    for (const QStringList& args : bad) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Outcome o = RunTool(args);
        EXPECT_EQ(o.exit, 64);
        EXPECT_EQ(o.out, QByteArray());
        EXPECT_TRUE(o.err.startsWith("velquint-cfb: ")) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains("usage: velquint-cfb COMMAND")) << o.err.toStdString();
        EXPECT_FALSE(QFile::exists(file_));
    }
    const Outcome help = RunTool({u"--help"_s});
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.err, QByteArray());
    for (const char* word : {"usage: velquint-cfb", "ls FILE", "cat FILE PATH", "put FILE PATH",
                             "rm FILE PATH", "check FILE"})
        EXPECT_TRUE(help.out.contains(word)) << word;
}

} // namespace
