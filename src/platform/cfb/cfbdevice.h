#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The byte devices the compound-file engine works on. Every operation answers 0 or an errno
// value; none raises. Tests put a decorator around the real file system to inject faults.
namespace platform::cfb {

class CfbDevice {
public:
    virtual ~CfbDevice() = default;
    // Reads up to n bytes at offset; *got is the count read (short only at the end of the file).
    virtual int ReadAt(uint64_t offset, void* buffer, size_t n, size_t* got) = 0;
    virtual int WriteAt(uint64_t offset, const void* buffer, size_t n) = 0;
    virtual int Truncate(uint64_t size) = 0;
    virtual int Sync() = 0;
    virtual int Size(uint64_t* size) = 0;
};

enum class OpenMode {
    ReadOnly,
    ReadWrite,
    CreateNew, // read/write, fails with EEXIST when the file exists
};

enum class LockMode { None, Shared, Exclusive };

class CfbFileSystem {
public:
    virtual ~CfbFileSystem() = default;
    virtual int Open(const std::string& path, OpenMode mode, LockMode lock,
                     std::unique_ptr<CfbDevice>& out) = 0;
    virtual bool Exists(const std::string& path) = 0;
    virtual int Remove(const std::string& path) = 0;
    virtual int Rename(const std::string& from, const std::string& to) = 0;
    // Makes the creation, renaming and removal of files in the folder of path durable.
    virtual int SyncFolderOf(const std::string& path) = 0;
};

// The operating system's file system; files are created readable by their owner only.
CfbFileSystem& PosixFileSystem();

} // namespace platform::cfb
