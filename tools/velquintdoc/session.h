#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <stdexcept>

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

    // Text as UTF-8 on standard output; a JSON object indented, with a final line break.
    void Print(const QString& text) const;
    void PrintJson(const QJsonObject& object) const;
    void PrintError(const QString& message) const;

private:
    QString fileName_;
    std::FILE* out_;
    std::FILE* err_;
    std::unique_ptr<store::TVelquintDoc> doc_;
};

// The document file a --file value names, absolute; raises a usage error when the document
// would open another file (it picks "Velquint.bin" or "Reader.bin" in a folder).
QString ChosenFile(const QString& given);
// The document file of the documents folder; empty when that folder is unknown.
QString DefaultFile();

} // namespace velquintdoc
