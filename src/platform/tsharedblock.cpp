#include "platform/tsharedblock.h"

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int LockRetrying(int fd, int operation) {
    int result;
    do
        result = flock(fd, operation);
    while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

TSharedBlock::TSharedBlock(const QByteArray& name) : name_(name) {
    // A closer removes the name while it holds the exclusive lock, so an object found unlinked
    // once our lock is granted is a dead one: open the name again.
    for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
        const int fd = shm_open(name_.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        const bool alone = LockRetrying(fd, LOCK_EX | LOCK_NB) == 0;
        struct stat status {};
        if ((!alone && LockRetrying(fd, LOCK_SH) != 0) || fstat(fd, &status) != 0) {
            close(fd);
            return;
        }
        if (status.st_nlink == 0) {
            close(fd);
            continue;
        }
        if ((alone && ftruncate(fd, kSize) != 0) ||
            (!alone && status.st_size != static_cast<off_t>(kSize))) {
            close(fd);
            return;
        }
        void* view = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (view == MAP_FAILED) {
            close(fd);
            return;
        }
        fd_ = fd;
        view_ = static_cast<unsigned char*>(view);
        created_ = alone;
        if (alone) {
            WriteUrl(QByteArray());
            LockRetrying(fd_, LOCK_SH);
        }
    }
}

TSharedBlock::~TSharedBlock() {
    if (view_ != nullptr)
        munmap(view_, kSize);
    if (fd_ < 0)
        return;
    if (LockRetrying(fd_, LOCK_EX | LOCK_NB) == 0)
        shm_unlink(name_.constData());
    close(fd_);
}

QByteArray TSharedBlock::ReadUrl() const {
    if (view_ == nullptr)
        return {};
    const uint32_t length = qFromLittleEndian<uint32_t>(view_);
    if (length == 0 || length > kMaxUrl)
        return {};
    return QByteArray(reinterpret_cast<const char*>(view_ + kLengthSize),
                      static_cast<qsizetype>(length));
}

QByteArray TSharedBlock::WriteUrl(const QByteArray& url) {
    const QByteArray stored = Fit(url);
    if (view_ == nullptr)
        return stored;
    // The text goes in before the length, so a reader never sees a length covering old text.
    if (!stored.isEmpty()) {
        std::memcpy(view_ + kLengthSize, stored.constData(), stored.size());
        view_[kLengthSize + stored.size()] = 0;
    }
    qToLittleEndian<uint32_t>(static_cast<uint32_t>(stored.size()), view_);
    return stored;
}

QByteArray TSharedBlock::Fit(const QByteArray& url) {
    if (url.size() <= static_cast<qsizetype>(kMaxUrl))
        return url;
    // Step back over continuation bytes (at most three, the longest tail a UTF-8 sequence has)
    // so the cut lands before the sequence they belong to.
    const qsizetype limit = static_cast<qsizetype>(kMaxUrl) - 3;
    qsizetype end = kMaxUrl;
    while (end > limit && (static_cast<unsigned char>(url[end]) & 0xC0) == 0x80)
        --end;
    return url.left(end);
}

} // namespace platform
