#include "checkcommand.h"

#include "session.h"
#include "storagenames.h"

#include "platform/cfb/compoundfile.h"
#include "platform/exception.h"
#include "platform/tstorage.h"
#include "store/tvelquintdoc.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <functional>
#include <memory>
#include <vector>

namespace velquintdoc {

namespace {

using platform::TStorage;
using platform::cfb::CheckReport;
using platform::cfb::CompoundFile;
using platform::cfb::HResult;
using store::TVelquintDoc;

struct RecordError {
    QByteArray storagePath;
    QByteArray stream; // empty when the storage itself cannot be opened or listed
    QString message;
};

struct RecordWalk {
    int read = 0;
    std::vector<RecordError> errors;
};

struct RecordKind {
    const char* stream;
    std::function<void(platform::TValueReader&)> read;
};

const RecordKind kRecords[] = {
    {".folder",
     [](platform::TValueReader& values) {
         store::TFolder folder(nullptr);
         TVelquintDoc::ReadFolderRecord(values, folder);
     }},
    {".channel",
     [](platform::TValueReader& values) {
         store::TChannel channel(nullptr);
         TVelquintDoc::ReadChannelRecord(values, channel);
     }},
    {".searchinfo",
     [](platform::TValueReader& values) {
         store::TSearchOptions options;
         TVelquintDoc::ReadSearchRecord(values, options);
     }},
};

// Reads every record of every storage below storage, whose path is path, with the document's
// own readers; a record that is not there is not an error, one that fails to read is.
void Walk(TStorage& storage, const QByteArray& path, RecordWalk& walk) {
    QList<QByteArray> names;
    try {
        storage.ListStorages(names);
    } catch (const platform::Exception& e) {
        walk.errors.push_back({path, {}, e.Message()});
        return;
    }
    for (const QByteArray& name : names) {
        const QByteArray childPath = path.isEmpty() ? name : path + '\\' + name;
        std::unique_ptr<TStorage> child;
        try {
            child = std::make_unique<TStorage>(name, &storage, platform::saRead, false, false);
        } catch (const platform::Exception& e) {
            walk.errors.push_back({childPath, {}, e.Message()});
            continue;
        }
        for (const RecordKind& kind : kRecords) {
            const auto reader = TVelquintDoc::OpenReader(*child, kind.stream);
            if (!reader)
                continue;
            try {
                kind.read(reader->Values());
                ++walk.read;
            } catch (const platform::Exception& e) {
                walk.errors.push_back({childPath, kind.stream, e.Message()});
            }
        }
        Walk(*child, childPath, walk);
    }
}

QString Where(const RecordError& error) {
    QString where =
        error.storagePath.isEmpty() ? QStringLiteral("root storage") : ShortPath(error.storagePath);
    if (!error.stream.isEmpty())
        where += u'\\' + QString::fromUtf8(error.stream);
    return where;
}

QJsonArray Strings(const std::vector<std::string>& texts) {
    QJsonArray array;
    for (const std::string& text : texts)
        array.append(QString::fromStdString(text));
    return array;
}

int Unreadable(const Session& session, const Invocation& invocation, const QString& why) {
    if (invocation.json) {
        QJsonObject object;
        object.insert(QStringLiteral("file"), session.FileName());
        object.insert(QStringLiteral("clean"), false);
        object.insert(QStringLiteral("unreadable"), why);
        session.PrintJson(object);
    }
    session.PrintError(why);
    return kExitUnreadable;
}

int Check(Session& session, const Invocation& invocation) {
    const QString& file = session.FileName();
    const std::string path = file.toStdString();
    if (!QFileInfo::exists(file))
        return Unreadable(session, invocation, file + QStringLiteral(": no such file"));
    const HResult kind = CompoundFile::IsCompoundFile(path, {});
    if (kind == platform::cfb::S_FALSE)
        return Unreadable(session, invocation, file + QStringLiteral(": not a compound file"));
    if (platform::cfb::Failed(kind))
        return Unreadable(session, invocation,
                          file + QStringLiteral(": ") +
                              QString::fromStdString(platform::cfb::ResultMessage(kind)));

    CheckReport report;
    const HResult checked = CompoundFile::Check(path, {}, report);
    if (platform::cfb::Failed(checked) && checked != platform::cfb::STG_E_DOCFILECORRUPT &&
        checked != platform::cfb::STG_E_INVALIDHEADER)
        return Unreadable(session, invocation,
                          file + QStringLiteral(": ") +
                              QString::fromStdString(platform::cfb::ResultMessage(checked)));
    if (platform::cfb::Failed(checked) && report.errors.empty())
        report.errors.push_back(platform::cfb::ResultMessage(checked));

    // Records are read only from a file the engine trusts.
    RecordWalk walk;
    QString documentError;
    const bool trusted = platform::cfb::Succeeded(checked) && report.errors.empty();
    if (trusted) {
        TVelquintDoc* doc = nullptr;
        try {
            doc = &session.Document(false);
        } catch (const ToolError& e) {
            documentError = e.Message();
        }
        try {
            // When the document does not open, its records are read without it, so that every
            // broken one is named.
            std::unique_ptr<platform::TRootStorage> readOnly;
            if (!doc)
                readOnly = std::make_unique<platform::TRootStorage>(file, platform::saRead, 1,
                                                                    false, false);
            Walk(doc ? static_cast<TStorage&>(doc->RootStorage()) : *readOnly, {}, walk);
        } catch (const platform::Exception& e) {
            walk.errors.push_back({{}, {}, e.Message()});
        }
    }

    const bool clean =
        trusted && report.problems.empty() && walk.errors.empty() && documentError.isEmpty();
    const size_t errors =
        report.errors.size() + walk.errors.size() + (documentError.isEmpty() ? 0 : 1);
    if (invocation.json) {
        QJsonObject engine;
        engine.insert(QStringLiteral("errors"), Strings(report.errors));
        engine.insert(QStringLiteral("problems"), Strings(report.problems));
        engine.insert(QStringLiteral("sectors"), static_cast<qint64>(report.sectors));
        engine.insert(QStringLiteral("entries"), static_cast<qint64>(report.entries));
        QJsonArray recordErrors;
        for (const RecordError& error : walk.errors) {
            QJsonObject item;
            item.insert(QStringLiteral("storagePath"), QString::fromUtf8(error.storagePath));
            item.insert(QStringLiteral("stream"), QString::fromUtf8(error.stream));
            item.insert(QStringLiteral("message"), error.message);
            recordErrors.append(item);
        }
        QJsonObject records;
        records.insert(QStringLiteral("read"), walk.read);
        records.insert(QStringLiteral("errors"), recordErrors);
        QJsonObject document;
        document.insert(QStringLiteral("checked"), trusted);
        document.insert(QStringLiteral("opens"), trusted && documentError.isEmpty());
        if (!documentError.isEmpty())
            document.insert(QStringLiteral("error"), documentError);
        QJsonObject object;
        object.insert(QStringLiteral("file"), file);
        object.insert(QStringLiteral("clean"), clean);
        object.insert(QStringLiteral("engine"), engine);
        object.insert(QStringLiteral("records"), records);
        object.insert(QStringLiteral("document"), document);
        session.PrintJson(object);
        return clean ? kExitOk : kExitFailure;
    }
    for (const std::string& error : report.errors)
        session.Print(QStringLiteral("error: ") + QString::fromStdString(error) + u'\n');
    for (const std::string& problem : report.problems)
        session.Print(QStringLiteral("problem: ") + QString::fromStdString(problem) + u'\n');
    for (const RecordError& error : walk.errors)
        session.Print(QStringLiteral("error: %1: %2\n").arg(Where(error), error.message));
    if (!documentError.isEmpty())
        session.Print(QStringLiteral("error: %1\n").arg(documentError));
    if (clean) {
        session.Print(QStringLiteral("%1: clean, %2 sectors, %3 entries, %4 records read\n")
                          .arg(file)
                          .arg(report.sectors)
                          .arg(report.entries)
                          .arg(walk.read));
    } else {
        const size_t problems = report.problems.size();
        session.Print(QStringLiteral("%1: %2 %3, %4 %5%6\n")
                          .arg(file)
                          .arg(errors)
                          .arg(errors == 1 ? u"error" : u"errors")
                          .arg(problems)
                          .arg(problems == 1 ? u"problem" : u"problems")
                          .arg(trusted ? QString() : QStringLiteral("; records not read")));
    }
    return clean ? kExitOk : kExitFailure;
}

constexpr Command kCommands[] = {
    {"check",
     "",
     "the engine's check of every chain and entry, then every folder, channel and\n"
     "search record read back, and the document opened; each fault on a line with\n"
     "its storage path. Exit status 0 clean, 1 something is wrong, 2 unreadable",
     0,
     {nullptr, nullptr},
     true,
     true,
     Check},
};

} // namespace

std::span<const Command> CheckCommands() {
    return kCommands;
}

} // namespace velquintdoc
