// Drives the command-line parser over arbitrary arguments (the input split at NUL bytes, as the
// kernel hands a command line over) and checks what it returns against the arguments:
// - every URL is the tail after "reader:" of an argument that follows an "/add", with "http:"
//   in front only when that tail begins with "/";
// - there are never more URLs than "/add" arguments, and "/ui" is reported only when some
//   argument is "/ui" in any case.

#include "platform/tcommandline.h"

#include <cstdint>
#include <cstdlib>

using namespace platform;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool ComesFromAnAddValue(const QStringList& arguments, const QByteArray& url) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i - 1].toLower() != QLatin1String("/add") ||
            arguments[i].left(7).toLower() != QLatin1String("reader:"))
            continue;
        const QString tail = arguments[i].mid(7);
        const QString expected = tail.startsWith(QLatin1Char('/')) ? "http:" + tail : tail;
        if (expected.toUtf8() == url)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList arguments;
    for (const QByteArray& argument : bytes.split('\0'))
        arguments.append(QString::fromUtf8(argument));

    const TCommandLine parsed = ParseCommandLine(arguments);
    qsizetype adds = 0;
    bool ui = false;
    for (const QString& argument : arguments) {
        adds += argument.toLower() == QLatin1String("/add");
        ui = ui || argument.toLower() == QLatin1String("/ui");
    }
    Require(parsed.urls.size() <= adds);
    Require(!parsed.showUI || ui);
    for (const QByteArray& url : parsed.urls)
        Require(ComesFromAnAddValue(arguments, url));
    return 0;
}
