#include "platform/cfb/cfbdevice.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::cfb {
namespace {

class PosixDevice : public CfbDevice {
public:
    explicit PosixDevice(int fd) : fd_(fd) {}
    ~PosixDevice() override { ::close(fd_); }

    int ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done,
                                      static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                *got = done;
                return errno;
            }
            if (r == 0)
                break;
            done += static_cast<size_t>(r);
        }
        *got = done;
        return 0;
    }

    int WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::pwrite(fd_, static_cast<const char*>(buffer) + done, n - done,
                                       static_cast<off_t>(offset + done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += static_cast<size_t>(w);
        }
        return 0;
    }

    int Truncate(uint64_t size) override {
        return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }

    int Sync() override { return ::fdatasync(fd_) == 0 ? 0 : errno; }

    int Size(uint64_t* size) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return errno;
        *size = static_cast<uint64_t>(st.st_size);
        return 0;
    }

private:
    int fd_;
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class Posix : public CfbFileSystem {
public:
    int Open(const std::string& path, OpenMode mode, LockMode lock,
             std::unique_ptr<CfbDevice>& out) override {
        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::ReadOnly:
            flags |= O_RDONLY;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case OpenMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
        }
        const int fd = ::open(path.c_str(), flags, 0600);
        if (fd < 0)
            return errno;
        if (lock != LockMode::None) {
            const int op = (lock == LockMode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
            if (::flock(fd, op) != 0) {
                const int e = errno;
                ::close(fd);
                return e;
            }
        }
        out = std::make_unique<PosixDevice>(fd);
        return 0;
    }

    bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

    int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

    int Rename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }

    int SyncFolderOf(const std::string& path) override {
        const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return errno;
        const int r = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        return r;
    }
};

} // namespace

CfbFileSystem& PosixFileSystem() {
    static Posix fs;
    return fs;
}

} // namespace platform::cfb
