#include "doctool.h"

#include "checkcommand.h"
#include "configcommand.h"
#include "foldercommands.h"
#include "session.h"
#include "topiccommands.h"

#include "platform/exception.h"

#include <QString>
#include <QStringList>

#include <exception>
#include <vector>

namespace velquintdoc {

namespace {

const QString kJson = QStringLiteral("--json");
const QString kFile = QStringLiteral("--file");
const QString kHelp = QStringLiteral("--help");

std::vector<const Command*> Commands() {
    std::vector<const Command*> all;
    for (const std::span<const Command> group :
         {FolderCommands(), TopicCommands(), CheckCommands(), ConfigCommands()})
        for (const Command& command : group)
            all.push_back(&command);
    return all;
}

const Command* FindCommand(const QString& name) {
    for (const Command* command : Commands())
        if (name == QLatin1StringView(command->name))
            return command;
    return nullptr;
}

bool TakesOption(const Command& command, const QString& option) {
    for (const char* name : command.options)
        if (name && option == QLatin1StringView(name))
            return true;
    return false;
}

QString Synopsis(const Command& command) {
    QString line = QString::fromLatin1(command.name);
    if (*command.arguments)
        line += u' ' + QString::fromLatin1(command.arguments);
    return line;
}

QString HelpText() {
    const QString defaultFile = DefaultFile();
    QString text = QStringLiteral(
        "usage: velquint-doc [--file PATH] [--json] COMMAND [ARGUMENTS]\n"
        "\n"
        "A command-line window onto a document file: its folders and channels, their\n"
        "topics, the attachment records; and the settings the program loads.\n"
        "\n"
        "options:\n"
        "  --file PATH  the document file, named Velquint.bin or Reader.bin (a folder's\n"
        "               Velquint.bin is its document when both are there); without it the\n"
        "               document of the documents folder");
    text += defaultFile.isEmpty() ? QStringLiteral(" (not known here)")
                                  : QStringLiteral(",\n               now ") + defaultFile;
    text +=
        QStringLiteral("\n"
                       "  --json       print one JSON object for scripts (reading commands only)\n"
                       "  --help       show this text\n"
                       "\n"
                       "commands:\n");
    for (const Command* command : Commands()) {
        text += QStringLiteral("  ") + Synopsis(*command) + u'\n';
        for (const QString& line : QString::fromLatin1(command->description).split(u'\n'))
            text += QStringLiteral("      ") + line + u'\n';
    }
    text += QStringLiteral(
        "\n"
        "STORAGENAME names a folder or channel by its storage: exactly as \"tree --json\"\n"
        "prints it (\"f\" and a hexadecimal number right-aligned in 28 characters, so\n"
        "\"f\" + 27 spaces + \"1\"), or in the short form without the spaces: \"f1\" or \"F1\".\n"
        "Text output shows the short form. Operands starting with \"-\" go after \"--\".\n"
        "KEY is a topic's key as \"index\" prints it: text output shows a key's bytes as\n"
        "they are (control characters as \\xNN), --json as text (bytes that are not UTF-8\n"
        "read as Windows-1252); either form finds the topic.\n"
        "A command that changes the file commits it once, when it is done; one that fails\n"
        "says why on standard error, and the file keeps what it held before.\n"
        "\n"
        "Exit status: 0 done, 1 failed (check: something is wrong), 2 the file cannot be\n"
        "read as a document (left untouched), 64 usage error.\n");
    return text;
}

int Usage(const Session& session, const QString& why) {
    session.PrintError(why + QStringLiteral("\nTry \"velquint-doc --help\"."));
    return kExitUsage;
}

struct Parsed {
    const Command* command = nullptr;
    Invocation invocation;
    QString file;
    bool help = false;
};

// Global options go anywhere, the command's own options after the command; "--" ends options.
Parsed Parse(const QList<QByteArray>& raw) {
    QStringList args;
    for (const QByteArray& arg : raw)
        args.append(QString::fromLocal8Bit(arg));
    Parsed parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (optionsEnded || arg == u"-" || !arg.startsWith(u'-')) {
            if (parsed.command) {
                parsed.invocation.operands.append(arg);
                parsed.invocation.rawOperands.append(raw.at(i));
                continue;
            }
            parsed.command = FindCommand(arg);
            if (!parsed.command)
                throw ToolError(QStringLiteral("unknown command \"%1\"").arg(arg), kExitUsage);
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        if (arg == kHelp || arg == u"-h") {
            parsed.help = true;
            continue;
        }
        const qsizetype equals = arg.indexOf(u'=');
        const QString name = equals < 0 ? arg : arg.left(equals);
        if (name == kJson) {
            if (equals >= 0)
                throw ToolError(QStringLiteral("--json takes no value"), kExitUsage);
            parsed.invocation.json = true;
            continue;
        }
        const bool isFile = name == kFile;
        if (!isFile && !(parsed.command && TakesOption(*parsed.command, name))) {
            throw ToolError(parsed.command ? QStringLiteral("%1 does not take %2")
                                                 .arg(QLatin1StringView(parsed.command->name), name)
                                           : QStringLiteral("unknown option %1").arg(name),
                            kExitUsage);
        }
        QString value;
        if (equals >= 0) {
            value = arg.mid(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args.at(++i);
        } else {
            throw ToolError(QStringLiteral("%1 needs a value").arg(name), kExitUsage);
        }
        if (isFile) {
            if (!parsed.file.isNull())
                throw ToolError(QStringLiteral("--file given twice"), kExitUsage);
            parsed.file = value;
        } else {
            if (parsed.invocation.Has(name))
                throw ToolError(QStringLiteral("%1 given twice").arg(name), kExitUsage);
            parsed.invocation.options.insert(name, value);
        }
    }
    return parsed;
}

} // namespace

int Run(int argc, char** argv, std::FILE* out, std::FILE* err) {
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));

    Parsed parsed;
    try {
        parsed = Parse(args);
    } catch (const ToolError& e) {
        return Usage(Session({}, out, err), e.Message());
    }
    if (parsed.help) {
        Session({}, out, err).Print(HelpText());
        return kExitOk;
    }
    const Command* const command = parsed.command;
    if (!command)
        return Usage(Session({}, out, err), QStringLiteral("no command given"));
    if (parsed.invocation.operands.size() != command->operands)
        return Usage(Session({}, out, err),
                     QStringLiteral("wrong number of arguments for %1\nusage: velquint-doc "
                                    "[--file PATH] %2")
                         .arg(QLatin1StringView(command->name), Synopsis(*command)));
    if (parsed.invocation.json && !command->reads)
        return Usage(
            Session({}, out, err),
            QStringLiteral("%1 does not take --json").arg(QLatin1StringView(command->name)));
    if (!parsed.file.isNull() && !command->document)
        return Usage(
            Session({}, out, err),
            QStringLiteral("%1 does not take --file").arg(QLatin1StringView(command->name)));

    QString file;
    try {
        if (command->document)
            file = parsed.file.isNull() ? DefaultFile() : ChosenFile(parsed.file);
    } catch (const ToolError& e) {
        if (e.ExitCode() == kExitUsage)
            return Usage(Session({}, out, err), e.Message());
        Session({}, out, err).PrintError(e.Message());
        return e.ExitCode();
    }
    Session session(file, out, err);
    if (command->document && file.isEmpty()) {
        session.PrintError(QStringLiteral("the documents folder is not known here; use --file"));
        return kExitFailure;
    }
    int exitCode = kExitFailure;
    try {
        exitCode = command->run(session, parsed.invocation);
    } catch (const ToolError& e) {
        session.PrintError(e.Message());
        exitCode = e.ExitCode();
    } catch (const platform::Exception& e) {
        session.PrintError(e.Message());
    } catch (const std::exception& e) {
        session.PrintError(QString::fromLocal8Bit(e.what()));
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        session.PrintError(QStringLiteral("cannot write to standard output"));
        return kExitFailure;
    }
    return exitCode;
}

} // namespace velquintdoc
