#pragma once

#include "platform/cfb/cfbdevice.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A decorator around the real file system that numbers the operations which change files or
// folders (WriteAt, Truncate, Sync, Remove, Rename, SyncFolderOf and Open with CreateNew), across
// every file it opened, and makes one of them go wrong:
//  - Fail: that one operation does nothing and answers ENOSPC (writes, truncations, creations)
//    or EIO (the rest); the operations after it work.
//  - Crash: the process dies there. Of a write being made, the first half of the bytes reaches
//    the file and the rest reads as zeros; that operation and every later one, reads included,
//    answer EIO. Everything done before stays on disk.
//  - CrashLoseUnsynced: the machine loses power there. Besides the crash, the writes and
//    truncations of each file since its last Sync, and the creations, removals and renames in a
//    folder since its last SyncFolderOf, are undone.
//  - CrashLoseOthersUnsynced: the same, except that the file the operation works on keeps its
//    unsynced writes: the disk wrote them before it wrote those of the other files.
// A removed file is renamed to a hidden name and deleted for good when its folder is synced, so
// that a power loss can bring it back.
class FaultFileSystem : public platform::cfb::CfbFileSystem {
public:
    enum class Mode { Fail, Crash, CrashLoseUnsynced, CrashLoseOthersUnsynced };

    // Operation n (counted from 1) goes wrong the way mode says. Several may be set.
    void FailAt(uint64_t n, Mode mode) { faults_[n] = mode; }
    // The machine loses power now, after the last operation (CrashLoseUnsynced).
    void LosePowerNow();
    uint64_t Operations() const { return operations_; }
    // The number of the operation the last fault struck, 0 while none has.
    uint64_t LastFault() const { return lastFault_; }
    bool Crashed() const { return dead_; }
    // Whether the file that had this path when the last fault struck had been synced by an
    // operation numbered above after.
    bool SyncedBeforeFault(const std::string& path, uint64_t after) const;

    int Open(const std::string& path, platform::cfb::OpenMode mode, platform::cfb::LockMode lock,
             std::unique_ptr<platform::cfb::CfbDevice>& out) override;
    bool Exists(const std::string& path) override;
    int Remove(const std::string& path) override;
    int Rename(const std::string& from, const std::string& to) override;
    int SyncFolderOf(const std::string& path) override;

private:
    class Device;
    // What a power loss undoes in one file: the size before a change and the bytes it replaced.
    struct Undo {
        uint64_t size;
        uint64_t offset;
        std::string bytes;
    };
    struct FileState {
        std::vector<Undo> undo; // since the last Sync
        uint64_t lastSync = 0;  // the number of the operation
    };
    // A name change not yet made durable; from empty: the file to was created.
    struct Change {
        std::string from;
        std::string to;
    };

    // Numbers one operation on file (none for folder operations): 0 to go ahead, else the error
    // to answer. torn runs at a crash, before what is unsynced is undone.
    int Begin(int failError, FileState* file = nullptr, const std::function<void()>& torn = {});
    void Die(const FileState* current);
    void Remember(FileState& file, platform::cfb::CfbDevice& device, uint64_t offset,
                  uint64_t length);
    int MoveAside(const std::string& path);
    void MoveState(const std::string& from, const std::string& to);

    platform::cfb::CfbFileSystem& real_ = platform::cfb::PosixFileSystem();
    uint64_t operations_ = 0;
    std::map<uint64_t, Mode> faults_;
    Mode mode_ = Mode::Fail; // of the last fault
    uint64_t lastFault_ = 0;
    bool dead_ = false;
    std::map<std::string, std::shared_ptr<FileState>> files_; // by current name
    std::vector<Change> changes_;
    std::vector<std::string> removed_; // hidden names of removed files
    std::map<std::string, uint64_t> syncsAtFault_;
    uint64_t hiddenNames_ = 0;
};

} // namespace testsupport
