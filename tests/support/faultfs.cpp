#include "support/faultfs.h"

#include <algorithm>
#include <cerrno>

using platform::cfb::CfbDevice;
using platform::cfb::LockMode;
using platform::cfb::OpenMode;

namespace testsupport {
namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

class FaultFileSystem::Device : public CfbDevice {
public:
    Device(FaultFileSystem& fs, std::shared_ptr<FileState> file, std::unique_ptr<CfbDevice> real)
        : fs_(fs), file_(std::move(file)), real_(std::move(real)) {}

    int ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) override {
        *got = 0;
        return fs_.dead_ ? EIO : real_->ReadAt(offset, buffer, n, got);
    }

    int WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        const int e = fs_.Begin(ENOSPC, file_.get(), [&] {
            fs_.Remember(*file_, *real_, offset, n);
            std::string torn(static_cast<const char*>(buffer), n / 2);
            torn.resize(n, '\0');
            real_->WriteAt(offset, torn.data(), n);
        });
        if (e)
            return e;
        fs_.Remember(*file_, *real_, offset, n);
        return real_->WriteAt(offset, buffer, n);
    }

    int Truncate(uint64_t size) override {
        if (const int e = fs_.Begin(ENOSPC, file_.get()))
            return e;
        fs_.Remember(*file_, *real_, size, UINT64_MAX);
        return real_->Truncate(size);
    }

    int Sync() override {
        if (const int e = fs_.Begin(EIO, file_.get()))
            return e;
        const int e = real_->Sync();
        if (!e) {
            file_->undo.clear();
            file_->lastSync = fs_.operations_;
        }
        return e;
    }

    int Size(uint64_t* size) override { return fs_.dead_ ? EIO : real_->Size(size); }

private:
    FaultFileSystem& fs_;
    std::shared_ptr<FileState> file_;
    std::unique_ptr<CfbDevice> real_;
};

bool FaultFileSystem::SyncedBeforeFault(const std::string& path, uint64_t after) const {
    const auto it = syncsAtFault_.find(path);
    return it != syncsAtFault_.end() && it->second > after;
}

int FaultFileSystem::Begin(int failError, FileState* file, const std::function<void()>& torn) {
    if (dead_)
        return EIO;
    const auto fault = faults_.find(++operations_);
    if (fault == faults_.end())
        return 0;
    mode_ = fault->second;
    lastFault_ = operations_;
    syncsAtFault_.clear();
    for (const auto& [name, state] : files_)
        syncsAtFault_[name] = state->lastSync;
    if (mode_ == Mode::Fail)
        return failError;
    if (torn)
        torn();
    Die(file);
    return EIO;
}

void FaultFileSystem::LosePowerNow() {
    mode_ = Mode::CrashLoseUnsynced;
    Die(nullptr);
}

void FaultFileSystem::Die(const FileState* current) {
    dead_ = true;
    if (mode_ == Mode::CrashLoseUnsynced || mode_ == Mode::CrashLoseOthersUnsynced) {
        for (auto& [name, file] : files_) {
            std::unique_ptr<CfbDevice> device;
            const bool kept = mode_ == Mode::CrashLoseOthersUnsynced && file.get() == current;
            if (!kept && !file->undo.empty() &&
                real_.Open(name, OpenMode::ReadWrite, LockMode::None, device) == 0) {
                for (auto it = file->undo.rbegin(); it != file->undo.rend(); ++it) {
                    device->WriteAt(it->offset, it->bytes.data(), it->bytes.size());
                    device->Truncate(it->size);
                }
            }
            file->undo.clear();
        }
        for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
            if (it->from.empty()) {
                real_.Remove(it->to);
                files_.erase(it->to);
            } else {
                real_.Rename(it->to, it->from);
                MoveState(it->to, it->from);
            }
        }
    } else {
        // The process died but the system did not: removals stay done.
        for (const std::string& hidden : removed_)
            real_.Remove(hidden);
    }
    changes_.clear();
    removed_.clear();
}

void FaultFileSystem::Remember(FileState& file, CfbDevice& device, uint64_t offset,
                               uint64_t length) {
    Undo undo{0, offset, {}};
    device.Size(&undo.size);
    if (offset < undo.size) {
        undo.bytes.resize(std::min(length, undo.size - offset));
        size_t got = 0;
        device.ReadAt(offset, undo.bytes.data(), undo.bytes.size(), &got);
        undo.bytes.resize(got);
    }
    file.undo.push_back(std::move(undo));
}

int FaultFileSystem::MoveAside(const std::string& path) {
    const std::string hidden =
        FolderOf(path) + "/.faultfs-removed-" + std::to_string(++hiddenNames_);
    if (const int e = real_.Rename(path, hidden))
        return e;
    changes_.push_back({path, hidden});
    MoveState(path, hidden);
    removed_.push_back(hidden);
    return 0;
}

void FaultFileSystem::MoveState(const std::string& from, const std::string& to) {
    auto node = files_.extract(from);
    files_.erase(to);
    if (node) {
        node.key() = to;
        files_.insert(std::move(node));
    }
}

int FaultFileSystem::Open(const std::string& path, OpenMode mode, LockMode lock,
                          std::unique_ptr<CfbDevice>& out) {
    const bool create = mode == OpenMode::CreateNew;
    if (create) {
        if (const int e = Begin(ENOSPC))
            return e;
    } else if (dead_) {
        return EIO;
    }
    std::unique_ptr<CfbDevice> real;
    if (const int e = real_.Open(path, mode, lock, real))
        return e;
    std::shared_ptr<FileState>& file = files_[path];
    if (create || !file)
        file = std::make_shared<FileState>();
    if (create)
        changes_.push_back({"", path});
    out = std::make_unique<Device>(*this, file, std::move(real));
    return 0;
}

bool FaultFileSystem::Exists(const std::string& path) {
    return real_.Exists(path);
}

int FaultFileSystem::Remove(const std::string& path) {
    if (const int e = Begin(EIO))
        return e;
    return real_.Exists(path) ? MoveAside(path) : ENOENT;
}

int FaultFileSystem::Rename(const std::string& from, const std::string& to) {
    if (const int e = Begin(EIO))
        return e;
    if (!real_.Exists(from))
        return ENOENT;
    if (real_.Exists(to))
        if (const int e = MoveAside(to))
            return e;
    if (const int e = real_.Rename(from, to))
        return e;
    changes_.push_back({from, to});
    MoveState(from, to);
    return 0;
}

int FaultFileSystem::SyncFolderOf(const std::string& path) {
    if (const int e = Begin(EIO))
        return e;
    if (const int e = real_.SyncFolderOf(path))
        return e;
    const std::string folder = FolderOf(path);
    std::erase_if(changes_, [&](const Change& c) { return FolderOf(c.to) == folder; });
    std::erase_if(removed_, [&](const std::string& hidden) {
        if (FolderOf(hidden) != folder)
            return false;
        real_.Remove(hidden);
        files_.erase(hidden);
        return true;
    });
    return 0;
}

} // namespace testsupport
