#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A fresh folder that is removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    QString Path() const { return dir_.path(); }
    // Absolute path of a file inside the folder.
    QString File(const QString& name) const { return dir_.filePath(name); }
    std::string FileStd(const QString& name) const { return File(name).toStdString(); }

private:
    QTemporaryDir dir_;
};

} // namespace testsupport
