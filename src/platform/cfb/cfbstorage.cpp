#include "platform/cfb/cfbstorage.h"

#include "platform/cfb/cfbformat.h"

#include <mutex>

namespace platform::cfb {
namespace {

bool WantsWrite(uint32_t mode) {
    return (mode & 0x3) != STGM_READ;
}

HResult CheckMode(uint32_t mode) {
    if ((mode & 0x3) == 0x3)
        return STG_E_INVALIDFLAG;
    const uint32_t share = mode & 0x70;
    if (share > STGM_SHARE_DENY_NONE)
        return STG_E_INVALIDFLAG;
    return S_OK;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Storage

Storage::Storage(std::shared_ptr<CompoundFile> file, uint32_t sid, bool writable, bool root)
    : file_(std::move(file)), sid_(sid), writable_(writable), root_(root) {}

Storage::~Storage() {
    if (root_) {
        file_->ReleaseRoot();
        return;
    }
    std::lock_guard lock(file_->Mutex());
    file_->MarkClosed(sid_);
}

HResult Storage::OpenElement(const std::u16string& name, uint32_t mode, bool create, uint8_t type,
                             uint32_t& sid, bool& writable) {
    if (const HResult hr = CheckMode(mode); Failed(hr))
        return hr;
    // Elements of a storage are opened exclusively, and only within the parent's access.
    if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE)
        return STG_E_INVALIDFLAG;
    writable = WantsWrite(mode);
    if ((writable || create) && !writable_)
        return STG_E_ACCESSDENIED;
    if (create) {
        uint32_t existing = 0;
        if (Succeeded(file_->Find(sid_, name, existing)) && file_->IsOpen(existing))
            return STG_E_ACCESSDENIED;
        if (const HResult hr =
                file_->CreateElement(sid_, name, type, (mode & STGM_CREATE) != 0, sid);
            Failed(hr))
            return hr;
    } else {
        if (name.empty())
            return STG_E_INVALIDNAME;
        if (const HResult hr = file_->Find(sid_, name, sid); Failed(hr))
            return hr;
        if (file_->TypeOf(sid) != type)
            return STG_E_FILENOTFOUND;
    }
    if (file_->IsOpen(sid))
        return STG_E_ACCESSDENIED;
    file_->MarkOpen(sid);
    return S_OK;
}

HResult Storage::CreateStorage(const std::u16string& name, uint32_t mode,
                               std::unique_ptr<Storage>& out) {
    std::lock_guard lock(file_->Mutex());
    uint32_t sid = 0;
    bool writable = false;
    if (const HResult hr = OpenElement(name, mode, true, TypeStorage, sid, writable); Failed(hr))
        return hr;
    out.reset(new Storage(file_, sid, writable, false));
    return S_OK;
}

HResult Storage::OpenStorage(const std::u16string& name, uint32_t mode,
                             std::unique_ptr<Storage>& out) {
    std::lock_guard lock(file_->Mutex());
    uint32_t sid = 0;
    bool writable = false;
    if (const HResult hr = OpenElement(name, mode, false, TypeStorage, sid, writable); Failed(hr))
        return hr;
    out.reset(new Storage(file_, sid, writable, false));
    return S_OK;
}

HResult Storage::CreateStream(const std::u16string& name, uint32_t mode,
                              std::unique_ptr<Stream>& out) {
    std::lock_guard lock(file_->Mutex());
    uint32_t sid = 0;
    bool writable = false;
    if (const HResult hr = OpenElement(name, mode, true, TypeStream, sid, writable); Failed(hr))
        return hr;
    out.reset(new Stream(file_, sid, writable));
    return S_OK;
}

HResult Storage::OpenStream(const std::u16string& name, uint32_t mode,
                            std::unique_ptr<Stream>& out) {
    std::lock_guard lock(file_->Mutex());
    uint32_t sid = 0;
    bool writable = false;
    if (const HResult hr = OpenElement(name, mode, false, TypeStream, sid, writable); Failed(hr))
        return hr;
    out.reset(new Stream(file_, sid, writable));
    return S_OK;
}

HResult Storage::DestroyElement(const std::u16string& name) {
    std::lock_guard lock(file_->Mutex());
    if (!writable_)
        return STG_E_ACCESSDENIED;
    return file_->DestroyElement(sid_, name);
}

HResult Storage::MoveElementTo(const std::u16string& name, Storage& dest,
                               const std::u16string& newName, uint32_t flags) {
    if (flags != STGMOVE_MOVE && flags != STGMOVE_COPY)
        return STG_E_INVALIDFLAG;
    const bool copy = flags == STGMOVE_COPY;
    if ((!copy && !writable_) || !dest.writable_)
        return STG_E_ACCESSDENIED;
    if (dest.file_ == file_) {
        std::lock_guard lock(file_->Mutex());
        return file_->MoveElement(sid_, name, *file_, dest.sid_, newName, copy);
    }
    std::scoped_lock lock(file_->Mutex(), dest.file_->Mutex());
    return file_->MoveElement(sid_, name, *dest.file_, dest.sid_, newName, copy);
}

HResult Storage::EnumElements(std::vector<StatStg>& out) const {
    std::lock_guard lock(file_->Mutex());
    return file_->Enumerate(sid_, out);
}

HResult Storage::Commit(uint32_t flags) {
    if (flags != STGC_DEFAULT && flags != STGC_OVERWRITE)
        return STG_E_INVALIDFLAG;
    std::lock_guard lock(file_->Mutex());
    // The file is committed as a whole; a storage inside it has nothing of its own to commit.
    return root_ ? file_->Commit() : S_OK;
}

HResult Storage::Revert() {
    std::lock_guard lock(file_->Mutex());
    return root_ ? file_->Revert() : S_OK;
}

HResult Storage::Stat(StatStg& out) const {
    std::lock_guard lock(file_->Mutex());
    return file_->Stat(sid_, out);
}

// ---------------------------------------------------------------------------------------------
// Stream

Stream::Stream(std::shared_ptr<CompoundFile> file, uint32_t sid, bool writable)
    : file_(std::move(file)), sid_(sid), writable_(writable) {}

Stream::~Stream() {
    std::lock_guard lock(file_->Mutex());
    file_->MarkClosed(sid_);
}

HResult Stream::Read(void* buffer, uint32_t count, uint32_t* read) {
    std::lock_guard lock(file_->Mutex());
    uint32_t done = 0;
    const HResult hr = file_->ReadStream(sid_, position_, buffer, count, done);
    position_ += done;
    if (read)
        *read = done;
    return hr;
}

HResult Stream::Write(const void* buffer, uint32_t count, uint32_t* written) {
    std::lock_guard lock(file_->Mutex());
    uint32_t done = 0;
    const HResult hr =
        writable_ ? file_->WriteStream(sid_, position_, buffer, count, done) : STG_E_ACCESSDENIED;
    position_ += done;
    if (written)
        *written = done;
    return hr;
}

HResult Stream::Seek(int64_t move, uint32_t origin, uint64_t* newPosition) {
    std::lock_guard lock(file_->Mutex());
    int64_t base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        base = static_cast<int64_t>(position_);
        break;
    case STREAM_SEEK_END:
        base = static_cast<int64_t>(file_->StreamSize(sid_));
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    if ((move < 0 && base + move < 0) || (move > 0 && base > INT64_MAX - move))
        return STG_E_INVALIDFUNCTION;
    position_ = static_cast<uint64_t>(base + move);
    if (newPosition)
        *newPosition = position_;
    return S_OK;
}

HResult Stream::SetSize(uint64_t size) {
    std::lock_guard lock(file_->Mutex());
    return writable_ ? file_->SetStreamSize(sid_, size) : STG_E_ACCESSDENIED;
}

HResult Stream::Stat(StatStg& out) const {
    std::lock_guard lock(file_->Mutex());
    return file_->Stat(sid_, out);
}

// ---------------------------------------------------------------------------------------------
// Files

HResult StgCreateDocfile(const std::string* path, uint32_t mode, std::unique_ptr<Storage>& out,
                         const EngineOptions& options) {
    if (const HResult hr = CheckMode(mode); Failed(hr))
        return hr;
    if (!WantsWrite(mode))
        return STG_E_INVALIDFLAG;
    std::shared_ptr<CompoundFile> file;
    if (const HResult hr =
            CompoundFile::Create(path ? *path : std::string(), (mode & STGM_CREATE) != 0,
                                 (mode & STGM_TRANSACTED) != 0, options, file);
        Failed(hr))
        return hr;
    out.reset(new Storage(std::move(file), CompoundFile::kRoot, true, true));
    return S_OK;
}

HResult StgOpenStorage(const std::string& path, uint32_t mode, std::unique_ptr<Storage>& out,
                       const EngineOptions& options) {
    if (const HResult hr = CheckMode(mode); Failed(hr))
        return hr;
    if (path.empty())
        return STG_E_INVALIDNAME;
    const bool writable = WantsWrite(mode);
    const uint32_t share = mode & 0x70;
    const bool exclusive = share == STGM_SHARE_EXCLUSIVE || share == STGM_SHARE_DENY_READ;
    std::shared_ptr<CompoundFile> file;
    if (const HResult hr = CompoundFile::Open(path, writable, exclusive,
                                              (mode & STGM_TRANSACTED) != 0, options, file);
        Failed(hr))
        return hr;
    out.reset(new Storage(std::move(file), CompoundFile::kRoot, writable, true));
    return S_OK;
}

HResult StgIsStorageFile(const std::string& path, const EngineOptions& options) {
    return CompoundFile::IsCompoundFile(path, options);
}

} // namespace platform::cfb
