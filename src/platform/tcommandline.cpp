#include "platform/tcommandline.h"

#include <QFile>

namespace platform {

TCommandLine ParseCommandLine(const QStringList& arguments) {
    TCommandLine result;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString option = arguments[i].toLower();
        if (option == QLatin1String("/ui")) {
            result.showUI = true;
        } else if (option == QLatin1String("/add") && i + 1 < arguments.size()) {
            const QString& value = arguments[++i];
            if (value.left(7).toLower() != QLatin1String("reader:"))
                continue;
            QString url = value.mid(7);
            if (url.startsWith(QLatin1Char('/')))
                url.prepend(QLatin1String("http:"));
            result.urls.append(url.toUtf8());
        }
    }
    return result;
}

QStringList ProcessArguments() {
    // The controller is created before any application object holds argv, so read what the
    // kernel keeps for the process: NUL-separated arguments, the program name first.
    QFile file(QStringLiteral("/proc/self/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    QStringList arguments;
    for (const QByteArray& argument : bytes.split('\0'))
        arguments.append(QFile::decodeName(argument));
    if (!arguments.isEmpty())
        arguments.removeFirst();
    return arguments;
}

} // namespace platform
