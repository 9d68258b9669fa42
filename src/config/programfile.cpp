#include "config/programfile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace config {

QString ProgramFile() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    // Without an application object Qt cannot answer, but the kernel always can.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString ProgramFolder() {
    const QString file = ProgramFile();
    return file.isEmpty() ? QString() : QFileInfo(file).absolutePath();
}

} // namespace config
