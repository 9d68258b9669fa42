#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace platform {

// What the program's command line asks for.
struct TCommandLine {
    bool showUI = false;
    // One entry per "/add" whose value begins with "reader:", in order: the URL to store as the
    // pending URL (empty when nothing followed the prefix).
    QList<QByteArray> urls;

    bool operator==(const TCommandLine&) const = default;
};

// Reads the arguments after the program name. Each is lower-cased before it is compared:
// "/ui" sets showUI; "/add" consumes the next argument as its value, which counts only when its
// first 7 characters, lower-cased, are "reader:" (the rest, case kept, is the URL, with "http:"
// put in front of a URL beginning with "/"); anything else, and "/add" as the last argument, is
// ignored.
TCommandLine ParseCommandLine(const QStringList& arguments);

// The arguments after the program name of the running process, as the system started it.
QStringList ProcessArguments();

} // namespace platform
