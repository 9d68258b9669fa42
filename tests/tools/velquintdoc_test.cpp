#include "support/tempdir.h"

#include "config/tbranding.h"
#include "config/tconfiguration.h"
#include "platform/tdatetime.h"
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
#include <QtEndian>

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
    // The user's places inside the test folder, so that no real settings file is read.
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, dir_.File(u"home"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, dir_.File(u"home/.config"_s));
        return environment;
    }

    Outcome Run(const QStringList& args) {
        return Execute(QStringLiteral(VELQUINT_DOC_TOOL), QStringList{u"--file"_s, file_} + args,
                       Environment());
    }

    // Runs the tool on the file and expects success with nothing on standard error.
    QByteArray Ok(const QStringList& args) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.exit, 0) << args.join(' ').toStdString() << "\n" << o.err.toStdString();
        EXPECT_EQ(o.err, QByteArray()) << args.join(' ').toStdString();
        return o.out;
    }

    QJsonObject Json(const QStringList& args) {
        const QByteArray out = Ok(args + QStringList{u"--json"_s});
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(out, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << out.toStdString();
        return json.object();
    }

    QJsonObject TreeJson() { return Json({u"tree"_s}); }

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
        {{u"set-read"_s, u"f2"_s, u"nokey"_s, u"on"_s},
         1,
         "velquint-doc: no topic with key \"nokey\" in f2\n"},
        {{u"set-read"_s, u"f2"_s, u"nokey"_s, u"yes"_s},
         64,
         "velquint-doc: set-read takes on or off, not \"yes\""},
        {{u"topic"_s, u"f1"_s, u""_s}, 64, "velquint-doc: the key must not be empty"},
        {{u"age"_s, u"f2"_s, u"--"_s, u"-1"_s}, 64, "velquint-doc: DAYS is a whole number from 0"},
        {{u"age"_s, u"f2"_s, u"3000000000"_s}, 64, "velquint-doc: DAYS is a whole number"},
        {{u"clear"_s, u"f7"_s}, 1, "velquint-doc: no folder or channel with storage name"},
        {{u"config"_s}, 64, "velquint-doc: config does not take --file"},
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
                             "index", "topic", "attachments", "set-read", "clear", "age", "check",
                             "config", "--json", "\"f1\" or \"F1\""})
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

// A channel "Radio" (f1) with four unread topics, filed as a download files them: one with an
// enclosure, one whose key is long and not ASCII, a plain one, and one whose key is Latin-1 as
// files written on Windows have them; and a saved search (f2) that found the first.
class VelquintDocTopics : public VelquintDocTool {
protected:
    void SetUp() override {
        Build();
        WriteLatinKey();
    }

    void Build() {
        config::TBranding branding(dir_.Path());
        config::TConfiguration configuration(
            branding, config::TConfigurationEnvironment{dir_.File(u"settings.ini"_s),
                                                        dir_.File(u"autostart.desktop"_s),
                                                        dir_.File(u"velquint"_s),
                                                        [this] { return dir_.Path() + u'/'; },
                                                        {u"Default"_s}});
        store::TVelquintDoc doc(dir_.Path());
        doc.SetConfiguration(&configuration);
        store::TChannel& channel = *doc.AddChannel(nullptr);
        channel.SetUrl(u"http://example.com/rss"_s);
        channel.SetName(u"Radio"_s);
        doc.SaveChannel(channel);
        // A saved search (f2) that new topics about shows are filed into.
        doc.OpenStoragePath(".search", platform::saReadWrite, true);
        auto& search = *static_cast<store::TSearchChannel*>(doc.AddChannel(&doc.SearchRoot()));
        search.Options.FindWhat = u"show"_s;
        search.Options.SaveAsPersistent = true;
        doc.SaveChannel(search);

        const auto item = [&channel](const QString& title, const QString& guid) {
            auto topic = std::make_unique<store::TTopic>();
            topic->Folder = &channel;
            topic->SetTitle(title);
            topic->SetDescription(u"<p>About "_s + title + u"</p>"_s);
            topic->Guid = guid;
            return topic;
        };
        auto show = item(u"Show &amp; tell"_s, {});
        show->Link = u"http://example.com/1"_s;
        show->Author = u"Ann"_s;
        show->Date = platform::EncodeDateTime(2024, 5, 1, 12, 0, 0);
        auto enclosure = std::make_unique<store::TAttachment>();
        enclosure->Url = u"http://example.com/media/my%20show.mp3"_s;
        enclosure->MimeType = u"audio/mpeg"_s;
        enclosure->Size = 1234;
        doc.AddAttachment(std::move(enclosure), *show);
        showKey_ = show->Id();
        ASSERT_TRUE(doc.AddFeedTopic(channel, std::move(show)));
        ASSERT_TRUE(doc.AddFeedTopic(channel, item(u"Long"_s, longKey_)));
        ASSERT_TRUE(doc.AddFeedTopic(channel, item(u"Plain"_s, u"plain"_s)));

        store::TTopicIndex* const old = channel.AddTopic(utf8Key_, item(u"Caf\u00e9"_s, {}));
        old->RecordName = doc.NewTopicRecordName();
        doc.SaveTopic(*old);
        channel.SetUnreadCount(4);
        doc.CompleteRefresh(channel);
        doc.SaveIndex(search);
    }

    // Gives the index the key as a program in a Western code page wrote it: a tag-6 string
    // of Windows-1252 bytes where ours writes UTF-8 with tag 20 and a 4-byte length.
    void WriteLatinKey() {
        platform::TRootStorage root(file_, platform::saReadWrite, 0, false, false);
        platform::TStorage storage(Name(1), &root, platform::saReadWrite, false, false);
        platform::TStorageStream index(".index", false, platform::saReadWrite, storage);
        QByteArray bytes(static_cast<qsizetype>(index.Size()), '\0');
        ASSERT_EQ(index.Read(bytes.data(), static_cast<int32_t>(bytes.size())), bytes.size());
        QByteArray utf8Length(4, '\0');
        qToLittleEndian(static_cast<uint32_t>(utf8Key_.size()), utf8Length.data());
        const QByteArray written = char(platform::tvaluetag::kUtf8String) + utf8Length + utf8Key_;
        const QByteArray windows =
            QByteArray(1, char(platform::tvaluetag::kString)) + char(latinKey_.size()) + latinKey_;
        ASSERT_EQ(bytes.count(written), 1);
        bytes.replace(written, windows);
        index.SetPosition(0);
        index.SetSize(bytes.size());
        ASSERT_EQ(index.Write(bytes.constData(), static_cast<int32_t>(bytes.size())), bytes.size());
    }

    // The entries of index --json by key.
    QHash<QString, QJsonObject> Entries() {
        QHash<QString, QJsonObject> entries;
        for (const QJsonValue& value : Json({u"index"_s, u"f1"_s})["entries"].toArray())
            entries.insert(value["key"].toString(), value.toObject());
        return entries;
    }

    int Unread() { return Json({u"index"_s, u"f1"_s})["unread"].toInt(); }

    // The topic record streams left in the channel's storage.
    QList<QByteArray> Records() {
        platform::TRootStorage root(file_, platform::saRead, 1, false, false);
        platform::TStorage channel(Name(1), &root, platform::saRead, false, false);
        QList<QByteArray> streams;
        channel.ListStreams(streams);
        streams.removeIf([](const QByteArray& name) { return name.startsWith('.'); });
        return streams;
    }

    QByteArray showKey_;
    const QString longKey_ = u"tag:example.com,2024:\u00e9pisode/"_s + QString(300, u'x');
    const QByteArray latinKey_ = "caf\xE9 au lait";
    const QByteArray utf8Key_ = "caf\xC3\xA9 au lait";
};

TEST_F(VelquintDocTopics, IndexTopicAndAttachmentsShowWhatTheStoreHolds) {
    const QHash<QString, QJsonObject> entries = Entries();
    ASSERT_EQ(entries.size(), 4);
    const QJsonObject show = entries.value(QString::fromUtf8(showKey_));
    EXPECT_EQ(show["title"].toString(), u"Show & tell"_s);
    EXPECT_EQ(show["date"].toString(), u"2024-05-01T12:00:00"_s);
    EXPECT_FALSE(show["read"].toBool());
    EXPECT_EQ(show["flag"].toInt(), 2);
    EXPECT_EQ(show["origin"].toString(), u""_s);
    EXPECT_TRUE(show["attachments"].toBool());
    EXPECT_FALSE(entries.value(u"plain"_s)["attachments"].toBool());
    EXPECT_TRUE(entries.contains(longKey_));
    EXPECT_EQ(entries.value(u"caf\u00e9 au lait"_s)["title"].toString(), u"Caf\u00e9"_s)
        << "a Latin-1 key reads as text";

    // Text output: the keys' bytes as they are, newest first.
    const QByteArray text = Ok({u"index"_s, u"f1"_s});
    EXPECT_TRUE(text.startsWith("f1 \"Radio\" unread 4 entries 4\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\n  " + latinKey_ + " \"Caf\xC3\xA9\" ")) << text.toStdString();
    EXPECT_TRUE(text.contains("\n  " + longKey_.toUtf8() + " \"Long\" ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n  " + showKey_ +
                              " \"Show & tell\" 2024-05-01 12:00:00 unread attachments\n"))
        << text.toStdString();

    const QByteArray before = ReadFile(file_);
    const QJsonObject topic = Json({u"topic"_s, u"f1"_s, QString::fromUtf8(showKey_)});
    EXPECT_EQ(topic["entry"].toObject()["author"].toString(), u"Ann"_s);
    const QJsonObject record = topic["record"].toObject();
    EXPECT_TRUE(record["found"].toBool());
    EXPECT_EQ(record["description"].toString(), u"<p>About Show &amp; tell</p>"_s);
    EXPECT_EQ(record["link"].toString(), u"http://example.com/1"_s);
    EXPECT_EQ(record["date"].toString(), u"2024-05-01T12:00:00"_s);
    EXPECT_EQ(record["attachmentKeys"].toArray(), QJsonArray{u"1"_s});
    const QJsonObject longTopic = Json({u"topic"_s, u"f1"_s, longKey_});
    EXPECT_EQ(longTopic["record"].toObject()["guid"].toString(), longKey_);
    // The Latin-1 key is found from its text as index --json gives it.
    const QByteArray latin = Ok({u"topic"_s, u"f1"_s, u"caf\u00e9 au lait"_s});
    EXPECT_TRUE(latin.startsWith("entry " + latinKey_ + " in f1\n")) << latin.toStdString();
    EXPECT_TRUE(latin.contains("  description \"<p>About Caf\xC3\xA9</p>\"\n"))
        << latin.toStdString();

    EXPECT_EQ(ReadFile(file_), before) << "reading changes nothing";

    const QJsonArray attachments = Json({u"attachments"_s})["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 1);
    const QJsonObject attachment = attachments.at(0).toObject();
    EXPECT_EQ(attachment["key"].toString(), u"1"_s);
    EXPECT_EQ(attachment["fileName"].toString(), u"my show.mp3"_s);
    EXPECT_EQ(attachment["state"].toInt(), store::TAttachment::Queued);
    EXPECT_EQ(attachment["priority"].toInt(), store::TAttachment::WhenIdle);
    EXPECT_EQ(attachment["kind"].toInt(), store::TAttachment::Music);
    EXPECT_EQ(attachment["size"].toInt(), 1234);
    EXPECT_EQ(attachment["downloaded"].toInt(), -1);
    EXPECT_TRUE(attachment["completed"].isNull());
    EXPECT_EQ(attachment["originText"].toString(), u"From Radio / Show & tell"_s);
    EXPECT_EQ(attachment["targetFolder"].toString(), dir_.Path() + u"/Downloaded Content/"_s);
    EXPECT_EQ(attachment["fullPath"].toString(),
              dir_.Path() + u"/Downloaded Content/my show.mp3"_s);

    // The paths follow the user's settings.
    ASSERT_TRUE(QDir().mkpath(dir_.File(u"home/.config/Dunmerrow"_s)));
    WriteFile(dir_.File(u"home/.config/Dunmerrow/Velquint.ini"_s),
              "[General]\nUseOverrideMusicFolder=1\nOverrideMusicFolder=/srv/music\n");
    EXPECT_EQ(Json({u"attachments"_s})["attachments"][0]["fullPath"].toString(),
              u"/srv/music/my show.mp3"_s);
    EXPECT_TRUE(Ok({u"attachments"_s}).contains("\n  path /srv/music/my show.mp3\n"));
}

TEST_F(VelquintDocTopics, ASavedSearchShowsItsResultsFromTheirOriginButCannotBeCleared) {
    const QJsonArray results = Json({u"index"_s, u"f2"_s})["entries"].toArray();
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results.at(0)["key"].toString().toUtf8(), showKey_);
    EXPECT_EQ(results.at(0)["origin"].toString().toUtf8(), Name(1));
    EXPECT_TRUE(Ok({u"index"_s, u"f2"_s}).contains(" unread origin f1 attachments\n"));
    const QJsonObject record =
        Json({u"topic"_s, u"f2"_s, QString::fromUtf8(showKey_)})["record"].toObject();
    EXPECT_EQ(record["folder"].toString().toUtf8(), Name(1));
    EXPECT_EQ(record["description"].toString(), u"<p>About Show &amp; tell</p>"_s);

    const QByteArray bytes = ReadFile(file_);
    for (const QStringList& args :
         {QStringList{u"clear"_s, u"f2"_s}, QStringList{u"age"_s, u"f2"_s, u"0"_s}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Outcome o = Run(args);
        EXPECT_EQ(o.exit, 1);
        EXPECT_TRUE(o.err.contains(": failed to delete element")) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains("run the search again")) << o.err.toStdString();
        EXPECT_EQ(ReadFile(file_), bytes);
    }
}

TEST_F(VelquintDocTopics, SetReadMovesTheUnreadCountOnlyWhenItChangesAndPersists) {
    const QString key = QString::fromUtf8(showKey_);
    Ok({u"set-read"_s, u"f1"_s, key, u"on"_s});
    EXPECT_TRUE(Entries().value(key)["read"].toBool());
    EXPECT_EQ(Unread(), 3);
    const QByteArray bytes = ReadFile(file_);
    Ok({u"set-read"_s, u"f1"_s, key, u"on"_s});
    EXPECT_EQ(ReadFile(file_), bytes) << "nothing to change";
    Ok({u"set-read"_s, u"f1"_s, u"caf\u00e9 au lait"_s, u"on"_s});
    Ok({u"set-read"_s, u"f1"_s, key, u"off"_s});
    EXPECT_EQ(Unread(), 3);

    store::TVelquintDoc doc(dir_.Path());
    store::TChannel& channel = *doc.RootFolder().ChannelAt(0);
    EXPECT_EQ(channel.UnreadCount(), 3);
    doc.EnsureIndexLoaded(channel);
    // The index is written again, and with it the Latin-1 key as UTF-8.
    ASSERT_NE(channel.FindTopic(utf8Key_), nullptr);
    EXPECT_TRUE(channel.FindTopic(utf8Key_)->Read);
    ASSERT_NE(channel.FindTopic(showKey_), nullptr);
    EXPECT_FALSE(channel.FindTopic(showKey_)->Read);
}

TEST_F(VelquintDocTopics, ClearAndAgeDeleteEntriesWithTheirRecords) {
    ASSERT_EQ(Records().size(), 4);
    EXPECT_EQ(Ok({u"age"_s, u"f1"_s, u"100000"_s}), "0 entries deleted, 4 left\n");
    EXPECT_EQ(Records().size(), 4);
    Ok({u"set-read"_s, u"f1"_s, u"plain"_s, u"on"_s});

    const QByteArray built = ReadFile(file_);
    const struct {
        QStringList args;
        const char* out;
    } rows[] = {
        {{u"age"_s, u"f1"_s, u"0"_s}, "4 entries deleted, 0 left\n"},
        {{u"clear"_s, u"f1"_s}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        WriteFile(file_, built);
        EXPECT_EQ(Ok(row.args), row.out);
        EXPECT_TRUE(Entries().isEmpty());
        EXPECT_EQ(Unread(), 0);
        EXPECT_EQ(Records(), QList<QByteArray>());
        EXPECT_EQ(Run({u"check"_s}).exit, 0);
        EXPECT_EQ(Json({u"attachments"_s})["attachments"].toArray().size(), 1)
            << "attachment records stay";
    }
}

TEST_F(VelquintDocTool, ConfigPrintsTheSettingsAsTheProgramLoadsThem) {
    const QString home = dir_.File(u"home"_s);
    const auto configJson = [this] {
        const Outcome o =
            Execute(QStringLiteral(VELQUINT_DOC_TOOL), {u"config"_s, u"--json"_s}, Environment());
        EXPECT_EQ(o.exit, 0) << o.err.toStdString();
        return QJsonDocument::fromJson(o.out).object();
    };

    // A fresh home: every default, the folders below the documents folder.
    config::TBranding branding(dir_.Path());
    const config::TConfiguration defaults(
        branding, config::TConfigurationEnvironment{
                      {}, {}, {}, [home] { return home + u"/Documents/My Velquint/"_s; }, {}});
    QJsonObject expected;
    for (const auto& [name, value] : defaults.Values())
        expected.insert(name, QJsonValue::fromVariant(value));
    EXPECT_EQ(configJson(), expected);
    EXPECT_EQ(expected["PathToAttachments"].toString(),
              home + u"/Documents/My Velquint/Downloaded Content/"_s);

    ASSERT_TRUE(QDir().mkpath(home + u"/.config/Dunmerrow"_s));
    WriteFile(home + u"/.config/Dunmerrow/Velquint.ini"_s,
              "[General]\nAutoRefreshPeriod=500\nPlaylistName=Morning casts\nNoDownloads=1\n");
    expected["AutoRefreshPeriod"] = 100;
    expected["PlaylistName"] = u"Morning casts"_s;
    expected["NoDownloads"] = true;
    EXPECT_EQ(configJson(), expected);

    const Outcome text = Execute(QStringLiteral(VELQUINT_DOC_TOOL), {u"config"_s}, Environment());
    EXPECT_EQ(text.exit, 0);
    EXPECT_TRUE(text.out.startsWith("TopicsSortOrder = 1\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("\nAutoRefreshPeriod = 100\n"));
    EXPECT_TRUE(text.out.contains("\nPlaylistName = Morning casts\n"));
    EXPECT_TRUE(text.out.contains("\nNoDownloads = true\n"));
    EXPECT_EQ(text.out.count('\n'), expected.size());
}

} // namespace
