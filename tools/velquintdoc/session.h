#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace config {
class TBranding;
class TConfiguration;
} // namespace config

namespace store {
class TVelquintDoc;
}

namespace velquintdoc {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUnreadable = 2; // the file cannot be read as a document
inline constexpr int kExitUsage = 64;

// Ends a command: the message goes to standard error after "velquint-doc: ".
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const QString& message, int exitCode = kExitFailure)
        : std::runtime_error(message.toStdString()), message_(message), exitCode_(exitCode) {}
    const QString& Message() const { return message_; }
    int ExitCode() const { return exitCode_; }

private:
    QString message_;
    int exitCode_;
};

// A command line taken apart: the command's operands and the values of its options.
struct Invocation {
    QStringList operands;
    // The same operands as the command line gave them, byte for byte: keys need not be UTF-8.
    QList<QByteArray> rawOperands;
    QHash<QString, QString> options; // "--parent" -> value
    bool json = false;

    bool Has(const QString& option) const { return options.contains(option); }
    QString Option(const QString& option) const { return options.value(option); }
};

// What a command works on: the document file, opened on first use, and the output streams.
class Session {
public:
    Session(const QString& fileName, std::FILE* out, std::FILE* err);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const QString& FileName() const { return fileName_; }

    // The document. A missing file is created when create is set and raises otherwise; a file
    // that is not a compound file, or does not open as a document, raises with exit status 2
    // and is left as it was.
    store::TVelquintDoc& Document(bool create);

    // The current user's settings as the program loads them, made on first use. Folder settings
    // that default to the document's folder use the folder of the session's file when there is
    // one, else the documents folder. An open document reads these settings from then on.
    const config::TConfiguration& Configuration();

    // Text as UTF-8 on standard output; bytes as they are; a JSON object indented, with a final
    // line break.
    void Print(const QString& text) const;
    void Write(const QByteArray& bytes) const;
    void PrintJson(const QJsonObject& object) const;
    void PrintError(const QString& message) const;

private:
    QString fileName_;
    std::FILE* out_;
    std::FILE* err_;
    // Declared before the document, which keeps a pointer to the configuration.
    std::unique_ptr<config::TBranding> branding_;
    std::unique_ptr<config::TConfiguration> configuration_;
    std::unique_ptr<store::TVelquintDoc> doc_;
};

// Groups the changes of one command into one commit when it ends. A command that fails before
// drops every change it made, so that releasing the document (which commits) writes nothing.
class Update {
public:
    explicit Update(store::TVelquintDoc& doc);
    ~Update();
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;
    void End();

private:
    store::TVelquintDoc& doc_;
    bool ended_ = false;
};

// A text on one line, in double quotes.
QString Quoted(const QString& text);

// The document file a --file value names, absolute; raises a usage error when the document
// would open another file (it picks "Velquint.bin" or "Reader.bin" in a folder).
QString ChosenFile(const QString& given);
// The document file of the documents folder; empty when that folder is unknown.
QString DefaultFile();

} // namespace velquintdoc
