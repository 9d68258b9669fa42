#include "support/tempdir.h"

#include "platform/tstorage.h"
#include "platform/tvaluetags.h"
#include "store/tvelquintdoc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

Outcome Execute(const QString& program, const QStringList& args,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    Outcome outcome;
    if (!process.waitForStarted(30000)) {
        ADD_FAILURE() << program.toStdString()
                      << " did not start: " << process.errorString().toStdString();
        return outcome;
    }
    if (!process.waitForFinished(120000)) {
        ADD_FAILURE() << program.toStdString()
                      << " did not finish: " << args.join(' ').toStdString();
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << program.toStdString() << " crashed: " << args.join(' ').toStdString()
                      << "\n"
                      << outcome.err.toStdString();
        return outcome;
    }
    outcome.exit = process.exitCode();
    return outcome;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray Name(int32_t number) {
    return store::TVelquintDoc::FormatElementName('f', number);
}

class VelquintDocTool : public ::testing::Test {
protected:
    Outcome Run(const QStringList& args) {
        return Execute(QStringLiteral(VELQUINT_DOC_TOOL), QStringList{u"--file"_s, file_} + args);
    }

    // Runs the tool on the file and expects success with nothing on standard error.
    QByteArray Ok(const QStringList& args) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.exit, 0) << args.join(' ').toStdString() << "\n" << o.err.toStdString();
        EXPECT_EQ(o.err, QByteArray()) << args.join(' ').toStdString();
        return o.out;
    }

    QJsonObject TreeJson() {
        const QByteArray out = Ok({u"tree"_s, u"--json"_s});
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << out.toStdString();
        return json.object();
    }

    // tree --json flattened: one line per item, indented by depth.
    std::string TreeLines() {
        std::string lines;
        const auto walk = [&lines](const auto& self, const QJsonArray& items, int depth) -> void {
            for (const QJsonValue& value : items) {
                const QJsonObject item = value.toObject();
                lines += std::string(2 * depth, ' ') + item["kind"].toString().toStdString() + " " +
                         item["shortName"].toString().toStdString() + " " +
                         item["name"].toString().toStdString();
                if (item.contains("url"))
                    lines += " <" + item["url"].toString().toStdString() + ">";
                if (item["hidden"].toBool())
                    lines += " hidden";
                lines += "\n";
                self(self, item["children"].toArray(), depth + 1);
            }
        };
        walk(walk, TreeJson()["children"].toArray(), 0);
        return lines;
    }

    testsupport::TempDir dir_;
    QString file_ = dir_.File(u"Reader.bin"_s);
};

TEST_F(VelquintDocTool, FolderCommandsChangeTheFileAsTreeShowsAfterReopening) {
    EXPECT_EQ(Ok({u"add-folder"_s, u"News"_s}), "f1\n");
    EXPECT_EQ(Ok({u"add-folder"_s, u"Sub"_s, u"--parent"_s, u"f1"_s}), "f2\n");
    EXPECT_EQ(Ok({u"add-channel"_s, u"http://example.com/rss"_s, u"--parent"_s, u"F1"_s,
                  u"--name"_s, u"Example &amp; Co"_s}),
              "f3\n");
    EXPECT_EQ(Ok({u"add-channel"_s, u"https://a.example.org/feed"_s}), "f4\n");

    // Storage names as tree --json prints them, spaces and all, are accepted as they are.
    const QJsonObject sub =
        TreeJson()["children"].toArray().at(0).toObject()["children"].toArray().at(0).toObject();
    ASSERT_EQ(sub["storageName"].toString().toUtf8(), Name(2));
    Ok({u"rename"_s, sub["storageName"].toString(), u"Renamed"_s});
    Ok({u"move"_s, u"f2"_s});
    Ok({u"move"_s, u"f4"_s, u"--parent"_s, u"f1"_s});

    EXPECT_EQ(TreeLines(), "folder f1 News\n"
                           "  channel f3 Example & Co <http://example.com/rss>\n"
                           "  channel f4 https://a.example.org/feed <https://a.example.org/feed>\n"
                           "folder f2 Renamed\n");
    EXPECT_EQ(Ok({u"tree"_s}).toStdString(),
              file_.toStdString() + "\n" +
                  "folder f1 \"News\" unread 0 topics 0\n"
                  "  channel f3 \"Example & Co\" unread 0 topics 0 <http://example.com/rss>\n"
                  "  channel f4 \"https://a.example.org/feed\" unread 0 topics 0 "
                  "<https://a.example.org/feed>\n"
                  "folder f2 \"Renamed\" unread 0 topics 0\n"
                  "searches \"Search Results\"\n");

    // The program's own reader sees the same.
    store::TVelquintDoc doc(dir_.Path());
    auto* const channel = dynamic_cast<store::TChannel*>(doc.FolderByStorageName(Name(4)));
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->StoragePath(), Name(1) + '\\' + Name(4));
    EXPECT_EQ(channel->Url(), u"https://a.example.org/feed"_s);
    EXPECT_EQ(doc.NextFolderNumber(), 5);
}

TEST_F(VelquintDocTool, MovingAFolderIntoItselfOrBelowItselfFailsAndChangesNothing) {
    Ok({u"add-folder"_s, u"Top"_s});
    Ok({u"add-folder"_s, u"Child"_s, u"--parent"_s, u"f1"_s});
    Ok({u"add-folder"_s, u"Grandchild"_s, u"--parent"_s, u"f2"_s});
    const std::string before = TreeLines();
    const QByteArray bytes = ReadFile(file_);
    for (const char* target : {"f1", "f2", "f3"}) {
        SCOPED_TRACE(target);
        const Outcome o = Run({u"move"_s, u"f1"_s, u"--parent"_s, QString::fromLatin1(target)});
        EXPECT_EQ(o.exit, 1);
        EXPECT_TRUE(o.err.startsWith("velquint-doc: cannot move f1 into " + QByteArray(target)))
            << o.err.toStdString();
        EXPECT_EQ(ReadFile(file_), bytes);
        EXPECT_EQ(TreeLines(), before);
    }
    EXPECT_EQ(Run({u"check"_s}).exit, 0);
}

TEST_F(VelquintDocTool, DeleteRemovesTheStorageButOnlyHidesASubscribedItem) {
    {
        store::TVelquintDoc doc(dir_.Path());
        store::TFolder* const folder = doc.AddFolder(nullptr);
        folder->SetName(u"Plain"_s);
        doc.SaveFolder(*folder);
        store::TChannel* const inside = doc.AddChannel(folder);
        inside->SetUrl(u"http://inside.example/rss"_s);
        doc.SaveChannel(*inside);
        store::TChannel* const subscribed = doc.AddChannel(nullptr);
        subscribed->SetUrl(u"http://subscribed.example/rss"_s);
        subscribed->SetName(u"Listed"_s);
        subscribed->Subscribed = true;
        doc.SaveChannel(*subscribed);
    }
    Ok({u"delete"_s, u"f1"_s});
    EXPECT_TRUE(Ok({u"delete"_s, u"f3"_s}).contains("hidden"));

    EXPECT_EQ(TreeLines(), "channel f3 Listed <http://subscribed.example/rss> hidden\n");
    EXPECT_TRUE(Ok({u"tree"_s})
                    .contains("\"Listed\" unread 0 topics 0 "
                              "<http://subscribed.example/rss> [subscribed hidden]\n"));
    platform::TRootStorage root(file_, platform::saRead, 1, false, false);
    EXPECT_FALSE(root.StorageExists(Name(1)));
    EXPECT_TRUE(root.StorageExists(Name(3)));
}

TEST_F(VelquintDocTool, RefusedCommandsSayWhyAndLeaveTheFileAsItWas) {
    Ok({u"add-folder"_s, u"News"_s});
    Ok({u"add-channel"_s, u"http://example.com/rss"_s});
    const QByteArray bytes = ReadFile(file_);
    const struct {
        QStringList args;
        int exit;
        const char* message; // the start of standard error
    } rows[] = {
        {{u"rename"_s, u"f9"_s, u"X"_s},
         1,
         "velquint-doc: no folder or channel with storage name \"f9\"\n"},
        {{u"delete"_s, u"f 1"_s}, 1, "velquint-doc: no folder or channel with storage name"},
        {{u"move"_s, u"f1"_s, u"--parent"_s, u"fZ"_s},
         1,
         "velquint-doc: no folder or channel with storage name \"fZ\""},
        {{u"add-folder"_s, u"X"_s, u"--parent"_s, u"f2"_s},
         1,
         "velquint-doc: f2 is a channel, not a folder"},
        {{u"add-channel"_s, u"HTTP://EXAMPLE.COM/rss"_s},
         1,
         "velquint-doc: HTTP://EXAMPLE.COM/rss is already subscribed as f2"},
        {{}, 64, "velquint-doc: no command given"},
        {{u"frobnicate"_s}, 64, "velquint-doc: unknown command \"frobnicate\""},
        {{u"tree"_s, u"f1"_s}, 64, "velquint-doc: wrong number of arguments for tree"},
        {{u"rename"_s, u"f1"_s}, 64, "velquint-doc: wrong number of arguments for rename"},
        {{u"add-folder"_s, u"X"_s, u"--json"_s},
         64,
         "velquint-doc: add-folder does not take --json"},
        {{u"tree"_s, u"--parent"_s, u"f1"_s}, 64, "velquint-doc: tree does not take --parent"},
        {{u"move"_s, u"f1"_s, u"--parent"_s}, 64, "velquint-doc: --parent needs a value"},
        {{u"add-folder"_s, u""_s}, 64, "velquint-doc: the folder name must not be empty"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Outcome o = Run(row.args);
        EXPECT_EQ(o.exit, row.exit);
        EXPECT_TRUE(o.err.startsWith(row.message)) << o.err.toStdString();
        EXPECT_EQ(o.out, QByteArray());
        EXPECT_EQ(ReadFile(file_), bytes);
    }

    const Outcome help = Execute(QStringLiteral(VELQUINT_DOC_TOOL), {u"--help"_s});
    EXPECT_EQ(help.exit, 0);
    for (const char* word : {"tree", "add-folder", "add-channel", "rename", "move", "delete",
                             "check", "--json", "\"f1\" or \"F1\""})
        EXPECT_TRUE(help.out.contains(word)) << word;
}

TEST_F(VelquintDocTool, AddingNeverOverwritesAStorageThatAStaleHeaderNamesNext) {
    Ok({u"add-folder"_s, u"Precious"_s});
    Ok({u"add-channel"_s, u"http://example.com/rss"_s, u"--parent"_s, u"f1"_s});
    {
        // Without its header the document would count storage names from 1 again.
        platform::TRootStorage root(file_, platform::saReadWrite, 0, false, false);
        root.DeleteElement(".velquint");
    }
    EXPECT_EQ(Ok({u"add-folder"_s, u"New"_s}), "f3\n");
    const std::string after = TreeLines();
    EXPECT_NE(after.find("Precious"), std::string::npos) << after;
    EXPECT_NE(after.find("http://example.com/rss"), std::string::npos) << after;
    EXPECT_NE(after.find("New"), std::string::npos) << after;
    EXPECT_EQ(Run({u"check"_s}).exit, 0);
}

TEST_F(VelquintDocTool, AFileThatIsNoDocumentIsReportedAndLeftUntouched) {
    const struct {
        const char* what;
        QByteArray bytes;
    } files[] = {
        {"text", "hello, this is no compound file\n"},
        {"empty", {}},
    };
    for (const auto& file : files) {
        WriteFile(file_, file.bytes);
        for (const QStringList& args :
             {QStringList{u"tree"_s}, QStringList{u"check"_s}, QStringList{u"check"_s, u"--json"_s},
              QStringList{u"add-folder"_s, u"News"_s}, QStringList{u"delete"_s, u"f1"_s}}) {
            SCOPED_TRACE(std::string(file.what) + ": " + args.join(' ').toStdString());
            const Outcome o = Run(args);
            EXPECT_EQ(o.exit, 2);
            EXPECT_EQ(o.err.toStdString(),
                      "velquint-doc: " + file_.toStdString() + ": not a compound file\n");
            EXPECT_EQ(ReadFile(file_), file.bytes);
            EXPECT_EQ(QDir(dir_.Path()).entryList(QDir::Files), QStringList{u"Reader.bin"_s});
        }
    }

    // A missing file is read by nobody and created only by a command that adds.
    QFile::remove(file_);
    for (const char* command : {"tree", "check", "delete"}) {
        SCOPED_TRACE(command);
        const Outcome o = Run(QString::fromLatin1(command) == u"delete"_s
                                  ? QStringList{u"delete"_s, u"f1"_s}
                                  : QStringList{QString::fromLatin1(command)});
        EXPECT_EQ(o.exit, 2);
        EXPECT_TRUE(o.err.endsWith(": no such file\n")) << o.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(file_));
    }
}

TEST_F(VelquintDocTool, CheckPassesAWrittenDocumentAndCfbVerifyAgrees) {
    Ok({u"add-folder"_s, u"News"_s});
    Ok({u"add-channel"_s, u"http://example.com/rss"_s, u"--parent"_s, u"f1"_s});
    Ok({u"add-folder"_s, u"Old"_s});
    Ok({u"delete"_s, u"f3"_s});

    const QByteArray out = Ok({u"check"_s});
    EXPECT_TRUE(out.startsWith(file_.toUtf8() + ": clean,")) << out.toStdString();
    EXPECT_TRUE(out.endsWith(", 3 records read\n")) << out.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(Ok({u"check"_s, u"--json"_s})).object();
    EXPECT_TRUE(json["clean"].toBool());
    EXPECT_TRUE(json["document"]["opens"].toBool());
    EXPECT_EQ(json["records"]["read"].toInt(), 3);

    // The shared checker needs the system's python, which has olefile.
    const QString python = u"/usr/bin/python3"_s;
    if (!QFileInfo(python).isExecutable())
        GTEST_SKIP() << "needs /usr/bin/python3 for " VELQUINT_SHARED_TOOLS "/cfb-verify";
    const Outcome verify = Execute(
        python, {QStringLiteral(VELQUINT_SHARED_TOOLS "/cfb-verify"), u"--strict"_s, file_});
    EXPECT_EQ(verify.exit, 0) << verify.out.toStdString() << verify.err.toStdString();
    EXPECT_FALSE(verify.out.contains("[olefile.missing]")) << verify.out.toStdString();
}

TEST_F(VelquintDocTool, CheckNamesEveryBrokenRecordAndRefusesATruncatedFile) {
    Ok({u"add-folder"_s, u"News"_s});
    Ok({u"add-channel"_s, u"http://example.com/rss"_s, u"--parent"_s, u"f1"_s});
    const QByteArray good = ReadFile(file_);
    {
        // The folder record's name loses its tag; the channel record ends in its first field.
        platform::TRootStorage root(file_, platform::saReadWrite, 0, false, false);
        platform::TStorage folder(Name(1), &root, platform::saReadWrite, false, false);
        {
            platform::TStorageStream record(".folder", false, platform::saReadWrite, folder);
            const auto tag = static_cast<char>(platform::tvaluetag::kExtended);
            record.SetPosition(4); // after the raw version
            ASSERT_EQ(record.Write(&tag, 1), 1);
        }
        platform::TStorage channel(Name(2), &folder, platform::saReadWrite, false, false);
        platform::TStorageStream record(".channel", false, platform::saReadWrite, channel);
        record.SetSize(7);
    }

    const Outcome check = Run({u"check"_s});
    EXPECT_EQ(check.exit, 1);
    const std::string out = check.out.toStdString();
    EXPECT_NE(out.find("error: f1\\.folder: Invalid property value\n"), std::string::npos) << out;
    EXPECT_NE(out.find("error: f1\\f2\\.channel: Stream read error\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot open the document"), std::string::npos) << out;

    const QJsonObject json = QJsonDocument::fromJson(Run({u"check"_s, u"--json"_s}).out).object();
    EXPECT_FALSE(json["clean"].toBool());
    EXPECT_FALSE(json["document"]["opens"].toBool());
    const QJsonArray errors = json["records"]["errors"].toArray();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors.at(0)["storagePath"].toString().toUtf8(), Name(1));
    EXPECT_EQ(errors.at(0)["stream"].toString(), u".folder"_s);
    EXPECT_EQ(errors.at(1)["storagePath"].toString().toUtf8(), Name(1) + '\\' + Name(2));

    const Outcome tree = Run({u"tree"_s});
    EXPECT_EQ(tree.exit, 2);
    EXPECT_TRUE(tree.err.contains("cannot open the document: Invalid property value"))
        << tree.err.toStdString();

    WriteFile(file_, good.left(good.size() / 2));
    const Outcome truncated = Run({u"check"_s});
    EXPECT_NE(truncated.exit, 0);
    EXPECT_FALSE(truncated.out.contains("clean")) << truncated.out.toStdString();
    EXPECT_EQ(ReadFile(file_), good.left(good.size() / 2));
}

TEST_F(VelquintDocTool, WithoutFileTheDocumentOfTheDocumentsFolderIsUsed) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, dir_.Path());
    environment.insert(u"XDG_CONFIG_HOME"_s, dir_.File(u"config"_s));
    const QString tool = QStringLiteral(VELQUINT_DOC_TOOL);
    const QString document = dir_.File(u"Documents/My Velquint/Reader.bin"_s);

    EXPECT_EQ(Execute(tool, {u"tree"_s}, environment).exit, 2);
    EXPECT_FALSE(QFileInfo::exists(document));
    const Outcome added = Execute(tool, {u"add-folder"_s, u"News"_s}, environment);
    EXPECT_EQ(added.exit, 0) << added.err.toStdString();
    file_ = document;
    EXPECT_EQ(TreeLines(), "folder f1 News\n");

    // --file must name the file the document really opens.
    WriteFile(dir_.File(u"Documents/My Velquint/Velquint.bin"_s), {});
    for (const char* other : {"Documents/My Velquint/Reader.bin", "Documents/other.bin"}) {
        SCOPED_TRACE(other);
        const Outcome o =
            Execute(tool, {u"--file"_s, dir_.File(QString::fromLatin1(other)), u"tree"_s});
        EXPECT_EQ(o.exit, 64);
    }
}

} // namespace
