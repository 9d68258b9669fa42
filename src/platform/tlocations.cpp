#include "platform/tlocations.h"

#include <QStandardPaths>

namespace platform {

QString DocumentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace platform
