#include "session.h"

#include "platform/cfb/compoundfile.h"
#include "platform/exception.h"
#include "store/tvelquintdoc.h"

#include <QFileInfo>
#include <QJsonDocument>

namespace velquintdoc {

namespace {

const QString kProductName = QStringLiteral("Velquint");

} // namespace

Session::Session(const QString& fileName, std::FILE* out, std::FILE* err)
    : fileName_(fileName), out_(out), err_(err) {}

Session::~Session() = default;

store::TVelquintDoc& Session::Document(bool create) {
    if (doc_)
        return *doc_;
    const QFileInfo info(fileName_);
    if (!info.exists() && !create)
        throw ToolError(fileName_ + QStringLiteral(": no such file"), kExitUnreadable);
    if (info.exists()) {
        // Checked here so that the message says what is wrong and nothing touches the file.
        const platform::cfb::HResult hr =
            platform::cfb::CompoundFile::IsCompoundFile(fileName_.toStdString(), {});
        if (hr == platform::cfb::S_FALSE)
            throw ToolError(fileName_ + QStringLiteral(": not a compound file"), kExitUnreadable);
        if (platform::cfb::Failed(hr))
            throw ToolError(fileName_ + QStringLiteral(": ") +
                                QString::fromStdString(platform::cfb::ResultMessage(hr)),
                            kExitUnreadable);
    }
    try {
        doc_ = std::make_unique<store::TVelquintDoc>(info.absolutePath(), kProductName);
    } catch (const platform::Exception& e) {
        throw ToolError(fileName_ + QStringLiteral(": cannot open the document: ") + e.Message(),
                        kExitUnreadable);
    }
    return *doc_;
}

void Session::Print(const QString& text) const {
    std::fputs(text.toUtf8().constData(), out_);
}

void Session::PrintJson(const QJsonObject& object) const {
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), out_);
}

void Session::PrintError(const QString& message) const {
    std::fprintf(err_, "velquint-doc: %s\n", message.toUtf8().constData());
}

QString ChosenFile(const QString& given) {
    const QFileInfo info(given);
    if (info.isDir())
        throw ToolError(given + QStringLiteral(": is a folder; --file names the document file"),
                        kExitUsage);
    const QString file = info.absoluteFilePath();
    const QString opened = store::TVelquintDoc::DocumentFile(info.absolutePath() + u'/');
    if (opened == file)
        return file;
    if (info.fileName() == QStringLiteral("Reader.bin"))
        throw ToolError(given + QStringLiteral(": Velquint.bin beside it is this folder's "
                                               "document"),
                        kExitUsage);
    if (info.fileName() == QStringLiteral("Velquint.bin"))
        throw ToolError(given + QStringLiteral(": no such file (a new document is named "
                                               "Reader.bin)"),
                        kExitUnreadable);
    throw ToolError(given + QStringLiteral(": a document file is named Velquint.bin or "
                                           "Reader.bin"),
                    kExitUsage);
}

QString DefaultFile() {
    const QString folder = store::TVelquintDoc::DocumentFolder({}, kProductName);
    return folder.isEmpty() ? QString() : store::TVelquintDoc::DocumentFile(folder);
}

} // namespace velquintdoc
