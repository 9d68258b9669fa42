#include "session.h"

#include "config/tbranding.h"
#include "config/tconfiguration.h"
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
    if (configuration_)
        doc_->SetConfiguration(configuration_.get());
    return *doc_;
}

const config::TConfiguration& Session::Configuration() {
    if (configuration_)
        return *configuration_;
    branding_ = std::make_unique<config::TBranding>();
    branding_->Load();
    config::TConfigurationEnvironment environment =
        config::TConfigurationEnvironment::ForUser(branding_->ProductName);
    // The program keeps its document in the documents folder; a document named with --file
    // keeps its downloads beside it.
    if (!fileName_.isEmpty())
        environment.DocumentFolder = [folder = QFileInfo(fileName_).absolutePath() + u'/'] {
            return folder;
        };
    configuration_ = std::make_unique<config::TConfiguration>(*branding_, std::move(environment));
    configuration_->Load();
    if (doc_)
        doc_->SetConfiguration(configuration_.get());
    return *configuration_;
}

void Session::Print(const QString& text) const {
    std::fputs(text.toUtf8().constData(), out_);
}

void Session::Write(const QByteArray& bytes) const {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
}

void Session::PrintJson(const QJsonObject& object) const {
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), out_);
}

void Session::PrintError(const QString& message) const {
    std::fprintf(err_, "velquint-doc: %s\n", message.toUtf8().constData());
}

Update::Update(store::TVelquintDoc& doc) : doc_(doc) {
    doc_.BeginUpdate();
}

Update::~Update() {
    if (ended_)
        return;
    doc_.RootStorage().Interface().Revert();
    try {
        doc_.EndUpdate();
    } catch (const platform::Exception&) {
        // The failure that stopped the command is the one reported.
    }
}

void Update::End() {
    ended_ = true;
    doc_.EndUpdate();
}

QString Quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += u'\\' + QString(c);
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            out += c;
    }
    return out + u'"';
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
