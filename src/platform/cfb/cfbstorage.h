#pragma once

#include "platform/cfb/compoundfile.h"

#include <memory>
#include <string>
#include <vector>

// The element interface of the compound-file engine: storages and streams opened by name, with
// the published mode words and result codes. Every call answers a result code and never raises.
namespace platform::cfb {

class Stream;

// An open storage (or the root of a file). Releasing the root of a file opened for writing in
// direct mode commits it. An element can be open only once at a time.
class Storage {
public:
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    HResult CreateStorage(const std::u16string& name, uint32_t mode, std::unique_ptr<Storage>& out);
    HResult OpenStorage(const std::u16string& name, uint32_t mode, std::unique_ptr<Storage>& out);
    HResult CreateStream(const std::u16string& name, uint32_t mode, std::unique_ptr<Stream>& out);
    HResult OpenStream(const std::u16string& name, uint32_t mode, std::unique_ptr<Stream>& out);
    HResult DestroyElement(const std::u16string& name);
    // flags: STGMOVE_MOVE or STGMOVE_COPY; dest may belong to another file.
    HResult MoveElementTo(const std::u16string& name, Storage& dest, const std::u16string& newName,
                          uint32_t flags);
    HResult EnumElements(std::vector<StatStg>& out) const;
    HResult Commit(uint32_t flags);
    HResult Revert();
    HResult Stat(StatStg& out) const;

private:
    friend HResult StgCreateDocfile(const std::string*, uint32_t, std::unique_ptr<Storage>&,
                                    const EngineOptions&);
    friend HResult StgOpenStorage(const std::string&, uint32_t, std::unique_ptr<Storage>&,
                                  const EngineOptions&);
    Storage(std::shared_ptr<CompoundFile> file, uint32_t sid, bool writable, bool root);
    HResult OpenElement(const std::u16string& name, uint32_t mode, bool create, uint8_t type,
                        uint32_t& sid, bool& writable);

    std::shared_ptr<CompoundFile> file_;
    uint32_t sid_;
    bool writable_;
    bool root_;
};

// An open stream with its own seek position.
class Stream {
public:
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    HResult Read(void* buffer, uint32_t count, uint32_t* read);
    HResult Write(const void* buffer, uint32_t count, uint32_t* written);
    HResult Seek(int64_t move, uint32_t origin, uint64_t* newPosition);
    HResult SetSize(uint64_t size);
    HResult Stat(StatStg& out) const;

private:
    friend class Storage;
    Stream(std::shared_ptr<CompoundFile> file, uint32_t sid, bool writable);

    std::shared_ptr<CompoundFile> file_;
    uint32_t sid_;
    bool writable_;
    uint64_t position_ = 0;
};

// path null: a temporary file, deleted when released. Without STGM_CREATE an existing file is
// left alone (STG_E_FILEALREADYEXISTS).
HResult StgCreateDocfile(const std::string* path, uint32_t mode, std::unique_ptr<Storage>& out,
                         const EngineOptions& options = {});
HResult StgOpenStorage(const std::string& path, uint32_t mode, std::unique_ptr<Storage>& out,
                       const EngineOptions& options = {});
// S_OK for a compound file, S_FALSE for any other file, STG_E_FILENOTFOUND when missing.
HResult StgIsStorageFile(const std::string& path, const EngineOptions& options = {});

} // namespace platform::cfb
