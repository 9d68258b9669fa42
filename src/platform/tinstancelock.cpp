#include "platform/tinstancelock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

TInstanceLock::TInstanceLock(const QString& path) {
    if (path.isEmpty())
        return;
    const int fd =
        open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    int result;
    do
        result = flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0) {
        fd_ = fd;
        return;
    }
    heldElsewhere_ = errno == EWOULDBLOCK;
    close(fd);
}

TInstanceLock::~TInstanceLock() {
    if (fd_ >= 0)
        close(fd_);
}

} // namespace platform
