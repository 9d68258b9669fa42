#include "platform/cfb/compoundfile.h"

#include "platform/cfb/cfbformat.h"
#include "platform/cfb/cfbname.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

namespace platform::cfb {
namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const uint8_t* p) {
    return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

HResult FromErrno(int e, bool writing) {
    switch (e) {
    case 0:
        return S_OK;
    case ENOENT:
    case ENOTDIR:
        return STG_E_FILENOTFOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return STG_E_ACCESSDENIED;
    case EROFS:
        return STG_E_DISKISWRITEPROTECTED;
    case EEXIST:
        return STG_E_FILEALREADYEXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return STG_E_MEDIUMFULL;
    case EWOULDBLOCK:
        return STG_E_SHAREVIOLATION;
    case EMFILE:
    case ENFILE:
        return STG_E_TOOMANYOPENFILES;
    case ENOMEM:
        return STG_E_INSUFFICIENTMEMORY;
    default:
        return writing ? STG_E_WRITEFAULT : STG_E_READFAULT;
    }
}

// FILETIME now: 100 ns units since 1601-01-01 UTC.
uint64_t FileTimeNow() {
    using namespace std::chrono;
    const auto since1970 =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return static_cast<uint64_t>(since1970) + 116444736000000000ULL;
}

std::string Printable(std::u16string_view name) {
    std::string out;
    for (const char16_t c : name) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[12];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

uint64_t Fnv1a(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

// Whether a file of the given length holds the first `needed` bytes of a chain of sectors (only
// its last sector may be cut short).
bool ChainPresent(const std::vector<uint32_t>& chain, uint64_t needed, uint32_t shift,
                  uint64_t length) {
    const uint64_t size = uint64_t{1} << shift;
    for (size_t i = 0; i < chain.size(); ++i)
        if (((uint64_t{chain[i]} + 1) << shift) + std::min(size, needed - i * size) > length)
            return false;
    return true;
}

constexpr char kJournalMagic[8] = {'V', 'Q', 'C', 'F', 'B', 'J', 'N', 'L'};
constexpr uint32_t kJournalVersion = 1;
constexpr size_t kJournalHeader = 8 + 4 + 4 + 8 + 4 + 4;
constexpr size_t kPageCacheLimit = 16384;
constexpr size_t kReadAhead = 128; // sectors
constexpr uint32_t kCopyChunk = 64 * 1024;

} // namespace

// Errors of the structure carry a message with the numbers involved; Check collects them.
#define CORRUPT(...) Corrupt(report, Format(__VA_ARGS__))

namespace {
HResult Corrupt(CheckReport* report, const std::string& message) {
    if (report)
        report->errors.push_back(message);
    return STG_E_DOCFILECORRUPT;
}
} // namespace

CompoundFile::CompoundFile() = default;

CompoundFile::~CompoundFile() {
    Close();
}

// ---------------------------------------------------------------------------------------------
// Opening and creating

HResult CompoundFile::IsCompoundFile(const std::string& path, const EngineOptions& options) {
    CfbFileSystem& fs = options.fileSystem ? *options.fileSystem : PosixFileSystem();
    std::unique_ptr<CfbDevice> device;
    if (const int e = fs.Open(path, OpenMode::ReadOnly, LockMode::None, device))
        return FromErrno(e, false);
    uint8_t signature[8];
    size_t got = 0;
    if (const int e = device->ReadAt(0, signature, sizeof signature, &got))
        return FromErrno(e, false);
    return (got == sizeof signature && std::memcmp(signature, kSignature, 8) == 0) ? S_OK : S_FALSE;
}

HResult CompoundFile::Create(const std::string& path, bool replace, bool transacted,
                             const EngineOptions& options, std::shared_ptr<CompoundFile>& out) {
    std::shared_ptr<CompoundFile> file(new CompoundFile);
    file->fs_ = options.fileSystem ? options.fileSystem : &PosixFileSystem();
    CfbFileSystem& fs = *file->fs_;
    file->writable_ = true;
    file->transacted_ = transacted;
    file->InitEmpty();

    std::vector<uint8_t> image;
    file->SerializeHeader(image);
    image.resize(size_t{3} * file->sectorSize_, 0);
    {
        // Sector 0 holds the FAT, sector 1 the directory.
        uint8_t* fat = image.data() + file->SectorOffset(0);
        for (uint32_t i = 0; i < file->sectorSize_ / 4; ++i)
            Put32(fat + 4 * i, file->fat_[i]);
        uint8_t* dir = image.data() + file->SectorOffset(1);
        for (uint32_t sid = 0; sid < file->entries_.size(); ++sid)
            file->SerializeEntry(sid, dir + size_t{sid} * kDirEntrySize);
    }

    if (path.empty()) {
        // A temporary file lives only as long as its descriptor: it is unlinked at once.
        const char* tmp = std::getenv("TMPDIR");
        const std::string folder = (tmp && *tmp) ? tmp : "/tmp";
        std::random_device random;
        int e = EEXIST;
        for (int attempt = 0; attempt < 100 && e == EEXIST; ++attempt) {
            file->path_ = folder + Format("/velquint-%08x.tmp", random());
            e = fs.Open(file->path_, OpenMode::CreateNew, LockMode::Exclusive, file->device_);
        }
        if (e)
            return FromErrno(e, true);
        fs.Remove(file->path_);
        file->temporary_ = true;
        if (const int w = file->device_->WriteAt(0, image.data(), image.size()))
            return FromErrno(w, true);
    } else {
        file->path_ = path;
        file->journal_ = path + "-journal";
        if (fs.Exists(path)) {
            if (!replace)
                return STG_E_FILEALREADYEXISTS;
            // Refuse to replace a file that another process has open.
            std::unique_ptr<CfbDevice> existing;
            const int e = fs.Open(path, OpenMode::ReadOnly, LockMode::Exclusive, existing);
            if (e == EWOULDBLOCK)
                return STG_E_SHAREVIOLATION;
        }
        // The new file is written beside the target and renamed over it, so that a crash
        // leaves either the old file or a complete new one.
        const std::string staging = path + "-new";
        fs.Remove(staging);
        if (const int e = fs.Open(staging, OpenMode::CreateNew, LockMode::Exclusive, file->device_))
            return FromErrno(e, true);
        int e = file->device_->WriteAt(0, image.data(), image.size());
        if (!e)
            e = file->device_->Sync();
        if (!e && fs.Exists(file->journal_))
            e = fs.Remove(file->journal_);
        if (!e)
            e = fs.Rename(staging, path);
        if (!e)
            e = fs.SyncFolderOf(path);
        if (e) {
            file->device_.reset();
            fs.Remove(staging);
            return FromErrno(e, true);
        }
    }
    file->fileLength_ = image.size();
    file->TakeCommitted();
    out = std::move(file);
    return S_OK;
}

HResult CompoundFile::Open(const std::string& path, bool writable, bool exclusive, bool transacted,
                           const EngineOptions& options, std::shared_ptr<CompoundFile>& out) {
    std::shared_ptr<CompoundFile> file(new CompoundFile);
    file->fs_ = options.fileSystem ? options.fileSystem : &PosixFileSystem();
    CfbFileSystem& fs = *file->fs_;
    if (const HResult hr = Recover(path, fs); Failed(hr))
        return hr;
    const LockMode lock = (writable || exclusive) ? LockMode::Exclusive : LockMode::Shared;
    if (const int e =
            fs.Open(path, writable ? OpenMode::ReadWrite : OpenMode::ReadOnly, lock, file->device_))
        return FromErrno(e, writable);
    file->path_ = path;
    file->journal_ = path + "-journal";
    file->writable_ = writable;
    file->transacted_ = transacted;
    if (const HResult hr = file->Load(nullptr); Failed(hr))
        return hr;
    out = std::move(file);
    return S_OK;
}

HResult CompoundFile::Check(const std::string& path, const EngineOptions& options,
                            CheckReport& report) {
    CompoundFile file;
    file.fs_ = options.fileSystem ? options.fileSystem : &PosixFileSystem();
    if (const HResult hr = Recover(path, *file.fs_); Failed(hr)) {
        report.errors.push_back("cannot restore the last commit: " + ResultMessage(hr));
        return hr;
    }
    if (const int e = file.fs_->Open(path, OpenMode::ReadOnly, LockMode::Shared, file.device_)) {
        report.errors.push_back("cannot open the file: " + ResultMessage(FromErrno(e, false)));
        return FromErrno(e, false);
    }
    file.path_ = path;
    const HResult hr = file.Load(&report);
    if (Failed(hr) && report.errors.empty())
        report.errors.push_back(ResultMessage(hr));
    return hr;
}

void CompoundFile::InitEmpty() {
    sectorShift_ = 9;
    sectorSize_ = 512;
    majorVersion_ = 3;
    numSectors_ = 2;
    fat_.assign(sectorSize_ / 4, FREESECT);
    fat_[0] = FATSECT;
    fat_[1] = ENDOFCHAIN;
    fatSectors_ = {0};
    difatSectors_.clear();
    dirChain_ = {1};
    miniFat_.clear();
    miniFatChain_.clear();
    miniStreamChain_.clear();
    entries_.assign(sectorSize_ / kDirEntrySize, Entry{});
    Entry& root = entries_[kRoot];
    root.name = u"Root Entry";
    root.type = TypeRoot;
    root.colour = Black;
    parentOf_.assign(entries_.size(), NOSTREAM);
}

// ---------------------------------------------------------------------------------------------
// Loading and validation. Every count is bounded by the file's length before it is used, every
// chain is walked once with an ownership map, so that later walks can neither loop nor overlap.

uint64_t CompoundFile::SectorOffset(uint32_t sector) const {
    return (uint64_t{sector} + 1) << sectorShift_;
}

HResult CompoundFile::ReadRaw(uint64_t offset, void* buffer, size_t n) const {
    size_t got = 0;
    if (const int e = device_->ReadAt(offset, buffer, n, &got))
        return FromErrno(e, false);
    if (got < n)
        std::memset(static_cast<uint8_t*>(buffer) + got, 0, n - got);
    return S_OK;
}

HResult CompoundFile::ReadSectors(const std::vector<uint32_t>& sectors,
                                  std::vector<uint8_t>& out) const {
    out.resize(sectors.size() * size_t{sectorSize_});
    size_t i = 0;
    while (i < sectors.size()) {
        size_t run = 1;
        while (i + run < sectors.size() && sectors[i + run] == sectors[i] + run)
            ++run;
        if (const HResult hr =
                ReadRaw(SectorOffset(sectors[i]), out.data() + i * sectorSize_, run * sectorSize_);
            Failed(hr))
            return hr;
        i += run;
    }
    return S_OK;
}

HResult CompoundFile::WalkChain(uint32_t start, const std::vector<uint32_t>& table, uint32_t valid,
                                uint64_t expected, std::vector<uint8_t>* owner,
                                std::vector<uint32_t>* chain,
                                const std::function<std::string()>& describe,
                                CheckReport* report) const {
    // The description is only made when something is wrong: opening walks every chain.
    std::string text;
    auto what = [&] { return (text = describe()).c_str(); };
    uint64_t length = 0;
    uint32_t s = start;
    while (s != ENDOFCHAIN) {
        if (s > MAXREGSECT)
            return CORRUPT("%s: chain holds the special value 0x%08X after %llu sectors", what(), s,
                           static_cast<unsigned long long>(length));
        if (s >= valid)
            return CORRUPT("%s: chain runs to sector %u, past the last valid sector %u", what(), s,
                           valid == 0 ? 0 : valid - 1);
        if (length == expected)
            return CORRUPT("%s: chain is longer than its size needs (%llu sectors)", what(),
                           static_cast<unsigned long long>(expected));
        if (owner) {
            if ((*owner)[s])
                return CORRUPT("%s: sector %u is used twice (cycle or cross-linked chain)", what(),
                               s);
            (*owner)[s] = 1;
        }
        if (chain)
            chain->push_back(s);
        ++length;
        s = table[s];
    }
    if (expected != UINT64_MAX && length < expected)
        return CORRUPT("%s: chain has %llu sectors but its size needs %llu", what(),
                       static_cast<unsigned long long>(length),
                       static_cast<unsigned long long>(expected));
    return S_OK;
}

HResult CompoundFile::Load(CheckReport* report) {
    windowCount_ = 0;
    pages_.clear();
    chains_.clear();
    dirtyEntries_.clear();
    modified_ = false;

    uint64_t length = 0;
    if (const int e = device_->Size(&length))
        return FromErrno(e, false);
    fileLength_ = length;
    uint8_t header[kHeaderFields];
    if (length < kHeaderFields) {
        if (report)
            report->errors.push_back("the file is shorter than a compound file header");
        return STG_E_INVALIDHEADER;
    }
    if (const HResult hr = ReadRaw(0, header, sizeof header); Failed(hr))
        return hr;
    auto bad = [&](const std::string& why) {
        if (report)
            report->errors.push_back("header: " + why);
        return STG_E_INVALIDHEADER;
    };
    if (std::memcmp(header, kSignature, 8) != 0)
        return bad("no compound file signature");
    if (Get16(header + hdr::ByteOrder) != 0xFFFE)
        return bad("byte order mark is not 0xFFFE");
    majorVersion_ = Get16(header + hdr::MajorVersion);
    sectorShift_ = Get16(header + hdr::SectorShift);
    if (!((majorVersion_ == 3 && sectorShift_ == 9) || (majorVersion_ == 4 && sectorShift_ == 12)))
        return bad(Format("version %u with sector shift %u", majorVersion_, sectorShift_));
    if (Get16(header + hdr::MiniSectorShift) != 6)
        return bad("mini sector shift is not 6");
    if (Get32(header + hdr::MiniStreamCutoff) != kMiniStreamCutoff)
        return bad("mini stream cutoff is not 4096");
    sectorSize_ = 1u << sectorShift_;
    if (length < sectorSize_)
        return bad("the file is shorter than its header sector");
    transactionSignature_ = Get32(header + hdr::TransactionSignature);

    const uint64_t inFile = (length - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    if (inFile > MAXREGSECT)
        return CORRUPT("the file holds %llu sectors, more than the format can number",
                       static_cast<unsigned long long>(inFile));
    const auto sectorsInFile = static_cast<uint32_t>(inFile);
    const uint32_t perSector = sectorSize_ / 4;
    const uint32_t numFat = Get32(header + hdr::NumFatSectors);
    const uint32_t numDifat = Get32(header + hdr::NumDifatSectors);
    const uint32_t numMiniFat = Get32(header + hdr::NumMiniFatSectors);
    if (numFat == 0 || numFat > sectorsInFile)
        return CORRUPT("header: %u FAT sectors in a file of %u sectors", numFat, sectorsInFile);
    if (numDifat > sectorsInFile)
        return CORRUPT("header: %u DIFAT sectors in a file of %u sectors", numDifat, sectorsInFile);
    if (numMiniFat > sectorsInFile)
        return CORRUPT("header: %u mini FAT sectors in a file of %u sectors", numMiniFat,
                       sectorsInFile);

    std::vector<uint8_t> owner(sectorsInFile, 0);
    auto own = [&](uint32_t s, const char* what) -> HResult {
        if (s >= sectorsInFile)
            return CORRUPT("%s sector %u is past the end of the file (%u sectors)", what, s,
                           sectorsInFile);
        if (owner[s])
            return CORRUPT("%s sector %u is used twice", what, s);
        owner[s] = 1;
        return S_OK;
    };

    // DIFAT: header slots, then the DIFAT chain.
    fatSectors_.clear();
    difatSectors_.clear();
    for (uint32_t i = 0; i < kHeaderDifatSlots && i < numFat; ++i)
        fatSectors_.push_back(Get32(header + hdr::Difat + 4 * i));
    uint32_t next = Get32(header + hdr::FirstDifatSector);
    std::vector<uint8_t> sector(sectorSize_);
    for (uint32_t i = 0; i < numDifat; ++i) {
        if (next > MAXREGSECT)
            return CORRUPT("DIFAT chain ends after %u of %u sectors", i, numDifat);
        if (const HResult hr = own(next, "DIFAT"); Failed(hr))
            return hr;
        difatSectors_.push_back(next);
        if (const HResult hr = ReadRaw(SectorOffset(next), sector.data(), sectorSize_); Failed(hr))
            return hr;
        for (uint32_t k = 0; k + 1 < perSector && fatSectors_.size() < numFat; ++k)
            fatSectors_.push_back(Get32(sector.data() + 4 * k));
        next = Get32(sector.data() + 4 * (perSector - 1));
    }
    if (fatSectors_.size() < numFat)
        return CORRUPT("DIFAT lists %zu FAT sectors, the header claims %u", fatSectors_.size(),
                       numFat);
    for (const uint32_t s : fatSectors_)
        if (const HResult hr = own(s, "FAT"); Failed(hr))
            return hr;

    // FAT.
    std::vector<uint8_t> bytes;
    if (const HResult hr = ReadSectors(fatSectors_, bytes); Failed(hr))
        return hr;
    fat_.resize(size_t{numFat} * perSector);
    for (size_t i = 0; i < fat_.size(); ++i)
        fat_[i] = Get32(bytes.data() + 4 * i);
    for (size_t i = sectorsInFile; i < fat_.size(); ++i)
        fat_[i] = FREESECT; // tolerated padding past the end of the file
    for (const uint32_t s : fatSectors_)
        if (s < fat_.size() && fat_[s] != FATSECT)
            return CORRUPT("FAT sector %u is not marked as a FAT sector (0x%08X)", s, fat_[s]);
    for (const uint32_t s : difatSectors_)
        if (s < fat_.size() && fat_[s] != DIFSECT)
            return CORRUPT("DIFAT sector %u is not marked as a DIFAT sector (0x%08X)", s, fat_[s]);
    const auto valid = static_cast<uint32_t>(std::min<uint64_t>(fat_.size(), sectorsInFile));
    numSectors_ = valid;
    // A final sector cut short by the end of the file is accepted only where none of the bytes
    // a chain needs is missing.
    const auto present = [&](const std::vector<uint32_t>& chain, uint64_t needed) {
        return ChainPresent(chain, needed, sectorShift_, length);
    };
    if (!present(difatSectors_, difatSectors_.size() * uint64_t{sectorSize_}) ||
        !present(fatSectors_, fatSectors_.size() * uint64_t{sectorSize_}))
        return CORRUPT("a FAT or DIFAT sector is cut short by the end of the file");

    // Directory.
    dirChain_.clear();
    if (const HResult hr = WalkChain(
            Get32(header + hdr::FirstDirSector), fat_, valid, UINT64_MAX, &owner, &dirChain_,
            [] { return std::string("directory"); }, report);
        Failed(hr))
        return hr;
    if (dirChain_.empty())
        return CORRUPT("the directory has no sectors");
    if (!present(dirChain_, dirChain_.size() * uint64_t{sectorSize_}))
        return CORRUPT("a directory sector is cut short by the end of the file");
    std::vector<uint8_t> dirBytes;
    if (const HResult hr = ReadSectors(dirChain_, dirBytes); Failed(hr))
        return hr;
    const size_t count = dirBytes.size() / kDirEntrySize;
    if (count > MAXREGSID)
        return CORRUPT("the directory holds %zu entries", count);
    entries_.assign(count, Entry{});
    parentOf_.assign(count, NOSTREAM);
    for (size_t sid = 0; sid < count; ++sid) {
        const uint8_t* p = dirBytes.data() + sid * kDirEntrySize;
        Entry& e = entries_[sid];
        e.type = p[dirent::ObjectType];
        if (e.type == TypeUnallocated)
            continue;
        if (e.type != TypeStorage && e.type != TypeStream && e.type != TypeRoot)
            return CORRUPT("entry %zu has the invalid object type %u", sid, e.type);
        if ((e.type == TypeRoot) != (sid == kRoot))
            return CORRUPT("entry %zu: only entry 0 is the root (type %u)", sid, e.type);
        e.colour = p[dirent::Colour];
        if (e.colour > Black)
            return CORRUPT("entry %zu has the invalid colour %u", sid, e.colour);
        const uint16_t nameLength = Get16(p + dirent::NameLength);
        if (nameLength < 2 || nameLength > 64 || nameLength % 2 != 0)
            return CORRUPT("entry %zu has the invalid name length %u", sid, nameLength);
        e.name.resize(nameLength / 2u - 1);
        for (size_t k = 0; k < e.name.size(); ++k)
            e.name[k] = static_cast<char16_t>(Get16(p + 2 * k));
        if (Get16(p + nameLength - 2) != 0)
            return CORRUPT("entry %zu: name is not terminated where its length says", sid);
        if (sid != kRoot && !IsValidName(e.name))
            return CORRUPT("entry %zu has the invalid name \"%s\"", sid, Printable(e.name).c_str());
        e.left = Get32(p + dirent::Left);
        e.right = Get32(p + dirent::Right);
        e.child = Get32(p + dirent::Child);
        for (const uint32_t link : {e.left, e.right, e.child})
            if (link != NOSTREAM && link >= count)
                return CORRUPT("entry %zu links to entry %u, past the last entry %zu", sid, link,
                               count - 1);
        std::memcpy(e.clsid, p + dirent::Clsid, 16);
        e.state = Get32(p + dirent::StateBits);
        e.created = Get64(p + dirent::CreationTime);
        e.modified = Get64(p + dirent::ModifiedTime);
        e.start = Get32(p + dirent::StartSector);
        e.size = Get64(p + dirent::StreamSize);
        if (majorVersion_ == 3)
            e.size &= 0xFFFFFFFFULL; // old writers left garbage in the high half
        if (e.type == TypeStorage) {
            e.start = 0;
            e.size = 0;
        }
    }
    if (entries_[kRoot].type != TypeRoot)
        return CORRUPT("entry 0 is not the root entry (type %u)", entries_[kRoot].type);
    if (entries_[kRoot].left != NOSTREAM || entries_[kRoot].right != NOSTREAM)
        return CORRUPT("the root entry has siblings");

    // Mini FAT and mini stream.
    miniFatChain_.clear();
    if (numMiniFat > 0) {
        if (const HResult hr = WalkChain(
                Get32(header + hdr::FirstMiniFatSector), fat_, valid, numMiniFat, &owner,
                &miniFatChain_, [] { return "mini FAT"; }, report);
            Failed(hr))
            return hr;
    }
    if (!present(miniFatChain_, miniFatChain_.size() * uint64_t{sectorSize_}))
        return CORRUPT("a mini FAT sector is cut short by the end of the file");
    if (const HResult hr = ReadSectors(miniFatChain_, bytes); Failed(hr))
        return hr;
    miniFat_.resize(bytes.size() / 4);
    for (size_t i = 0; i < miniFat_.size(); ++i)
        miniFat_[i] = Get32(bytes.data() + 4 * i);
    Entry& root = entries_[kRoot];
    if (majorVersion_ == 3 && root.size > kMaxV3StreamSize)
        return CORRUPT("the mini stream claims %llu bytes",
                       static_cast<unsigned long long>(root.size));
    miniStreamChain_.clear();
    if (root.size > 0) {
        if (const HResult hr = WalkChain(
                root.start, fat_, valid, (root.size + sectorSize_ - 1) / sectorSize_, &owner,
                &miniStreamChain_, [] { return "mini stream"; }, report);
            Failed(hr))
            return hr;
    } else {
        root.start = ENDOFCHAIN;
    }
    // A mini stream size that is not a whole number of mini sectors is rounded up, so that what
    // is allocated later starts past every mini sector in use; its chain holds those bytes.
    root.size = (root.size + kMiniSectorSize - 1) / kMiniSectorSize * kMiniSectorSize;
    if (!present(miniStreamChain_, root.size))
        return CORRUPT("the mini stream is cut short by the end of the file");

    if (const HResult hr = LoadTrees(report); Failed(hr))
        return hr;
    if (const HResult hr = ValidateStreams(owner, report); Failed(hr))
        return hr;

    if (report) {
        report->sectors = sectorsInFile;
        report->entries = static_cast<uint32_t>(count);
        uint32_t leaked = 0;
        for (uint32_t s = 0; s < valid; ++s)
            if (fat_[s] != FREESECT && !owner[s]) {
                if (leaked++ < 20)
                    report->problems.push_back(Format(
                        "sector %u is marked used (0x%08X) but no chain owns it", s, fat_[s]));
            }
        if (leaked > 20)
            report->problems.push_back(Format("%u leaked sectors in all", leaked));
        for (size_t sid = 1; sid < count; ++sid)
            if (entries_[sid].type != TypeUnallocated && parentOf_[sid] == NOSTREAM)
                report->problems.push_back(Format("entry %zu \"%s\" is unreachable", sid,
                                                  Printable(entries_[sid].name).c_str()));
    }
    if (writable_) {
        // Entries in a form that readers tolerate but we never write (another writer's free
        // entries with zero links, storages with a start sector, stream times) are rewritten
        // by the next commit that writes anything.
        uint8_t canonical[kDirEntrySize];
        for (uint32_t sid = 0; sid < count; ++sid) {
            SerializeEntry(sid, canonical);
            if (std::memcmp(canonical, dirBytes.data() + size_t{sid} * kDirEntrySize,
                            kDirEntrySize) != 0)
                dirtyEntries_.insert(sid);
        }
    }
    freeSectorHint_ = 0;
    freeMiniHint_ = 0;
    freeEntryHint_ = 0;
    TakeCommitted();
    return S_OK;
}

HResult CompoundFile::LoadTrees(CheckReport* report) {
    const size_t count = entries_.size();
    std::vector<uint8_t> visited(count, 0);
    visited[kRoot] = 1;
    rebuildOnWrite_.clear();
    std::vector<uint32_t> storages{kRoot};
    std::vector<uint32_t> stack;
    while (!storages.empty()) {
        const uint32_t parent = storages.back();
        storages.pop_back();
        const uint32_t top = entries_[parent].child;
        if (top != NOSTREAM && entries_[top].colour == Red)
            rebuildOnWrite_.insert(parent);
        size_t depth = 0;
        size_t children = 0;
        size_t level = 1;           // the depth of cur in the tree
        std::vector<size_t> levels; // the depth of each entry on the stack
        const detail::ShortName* previous = nullptr;
        uint32_t cur = top;
        stack.clear();
        while (cur != NOSTREAM || !stack.empty()) {
            while (cur != NOSTREAM) {
                if (visited[cur])
                    return CORRUPT("entry %u is reached twice in the directory trees", cur);
                visited[cur] = 1;
                const Entry& e = entries_[cur];
                if (e.type != TypeStorage && e.type != TypeStream)
                    return CORRUPT("entry %u of type %u is inside a sibling tree", cur, e.type);
                if (e.colour == Red && ((e.left != NOSTREAM && entries_[e.left].colour == Red) ||
                                        (e.right != NOSTREAM && entries_[e.right].colour == Red)))
                    rebuildOnWrite_.insert(parent);
                stack.push_back(cur);
                levels.push_back(level);
                depth = std::max(depth, level);
                cur = e.left;
                ++level;
            }
            cur = stack.back();
            stack.pop_back();
            level = levels.back() + 1;
            levels.pop_back();
            ++children;
            const Entry& e = entries_[cur];
            if (previous && CompareNames(*previous, e.name) >= 0)
                return CORRUPT("entry %u \"%s\" is out of order or has the same name as its "
                               "neighbour",
                               cur, Printable(e.name).c_str());
            previous = &e.name;
            parentOf_[cur] = parent;
            if (e.type == TypeStorage)
                storages.push_back(cur);
            else if (e.child != NOSTREAM)
                return CORRUPT("stream entry %u has a child", cur);
            cur = e.right;
        }
        // Deeper than a red-black tree of this many entries can be (gsf writes lists).
        size_t log = 0;
        while ((size_t{1} << log) < children + 1)
            ++log;
        if (depth > 2 * log)
            rebuildOnWrite_.insert(parent);
    }
    return S_OK;
}

HResult CompoundFile::ValidateStreams(std::vector<uint8_t>& owner, CheckReport* report) {
    const uint64_t miniUnits = (entries_[kRoot].size + kMiniSectorSize - 1) / kMiniSectorSize;
    const auto miniValid = static_cast<uint32_t>(std::min<uint64_t>(miniFat_.size(), miniUnits));
    const auto valid = static_cast<uint32_t>(std::min<uint64_t>(fat_.size(), owner.size()));
    std::vector<uint8_t> miniOwner(miniValid, 0);
    std::vector<uint32_t> chain;
    for (uint32_t sid = 1; sid < entries_.size(); ++sid) {
        Entry& e = entries_[sid];
        if (e.type != TypeStream || parentOf_[sid] == NOSTREAM)
            continue;
        if (majorVersion_ == 3 && e.size > kMaxV3StreamSize)
            return CORRUPT("stream entry %u claims %llu bytes", sid,
                           static_cast<unsigned long long>(e.size));
        if (e.size == 0) {
            e.start = ENDOFCHAIN;
            continue;
        }
        const auto what = [&] {
            return Format("stream \"%s\" (entry %u)", Printable(e.name).c_str(), sid);
        };
        const HResult hr =
            e.size < kMiniStreamCutoff
                ? WalkChain(e.start, miniFat_, miniValid,
                            (e.size + kMiniSectorSize - 1) / kMiniSectorSize, &miniOwner, nullptr,
                            what, report)
                : WalkChain(e.start, fat_, valid, (e.size + sectorSize_ - 1) / sectorSize_, &owner,
                            &chain, what, report);
        if (Failed(hr))
            return hr;
        if (!ChainPresent(chain, e.size, sectorShift_, fileLength_))
            return CORRUPT("%s is cut short by the end of the file", what().c_str());
        chain.clear();
    }
    if (report) {
        uint32_t leaked = 0;
        for (uint32_t m = 0; m < miniValid; ++m)
            if (miniFat_[m] != FREESECT && !miniOwner[m] && leaked++ < 20)
                report->problems.push_back(
                    Format("mini sector %u is marked used but no stream owns it", m));
        if (leaked > 20)
            report->problems.push_back(Format("%u leaked mini sectors in all", leaked));
    }
    return S_OK;
}

size_t CompoundFile::DepthLimit() const {
    size_t log = 0;
    while ((size_t{1} << log) <= entries_.size())
        ++log;
    return 2 * log + 4;
}

void CompoundFile::TakeCommitted() {
    committedFat_ = fat_;
    committedMiniFat_ = miniFat_;
    committedFatSectors_ = fatSectors_;
    committedDifatSectors_ = difatSectors_;
    committedMiniFatChain_ = miniFatChain_;
    committedSectors_ = numSectors_;
}

// ---------------------------------------------------------------------------------------------
// Recovery

HResult CompoundFile::Recover(const std::string& path, CfbFileSystem& fs) {
    const std::string journal = path + "-journal";
    if (!fs.Exists(journal))
        return S_OK;
    std::unique_ptr<CfbDevice> device;
    const int e = fs.Open(path, OpenMode::ReadWrite, LockMode::Exclusive, device);
    if (e == EWOULDBLOCK)
        return S_OK; // the journal belongs to the process that has the file open
    if (e == ENOENT) {
        fs.Remove(journal);
        return S_OK;
    }
    if (e)
        return FromErrno(e, true);
    return RollBack(fs, journal, *device);
}

HResult CompoundFile::RollBack(CfbFileSystem& fs, const std::string& journal, CfbDevice& device) {
    std::unique_ptr<CfbDevice> j;
    if (const int e = fs.Open(journal, OpenMode::ReadOnly, LockMode::None, j))
        return e == ENOENT ? S_OK : FromErrno(e, false);
    uint64_t size = 0;
    if (const int e = j->Size(&size))
        return FromErrno(e, false);
    std::vector<uint8_t> data(size);
    size_t got = 0;
    if (const int e = j->ReadAt(0, data.data(), data.size(), &got))
        return FromErrno(e, false);
    j.reset();
    data.resize(got);

    // A journal that is incomplete was cut off before the file itself was touched.
    bool complete = data.size() >= kJournalHeader + 8 &&
                    std::memcmp(data.data(), kJournalMagic, 8) == 0 &&
                    Get32(data.data() + 8) == kJournalVersion &&
                    Fnv1a(data.data(), data.size() - 8) == Get64(data.data() + data.size() - 8);
    if (complete) {
        const uint64_t originalLength = Get64(data.data() + 16);
        const uint32_t records = Get32(data.data() + 24);
        size_t at = kJournalHeader;
        const size_t end = data.size() - 8;
        for (uint32_t i = 0; i < records && complete; ++i) {
            if (at + 12 > end) {
                complete = false;
                break;
            }
            const uint64_t offset = Get64(data.data() + at);
            const uint32_t length = Get32(data.data() + at + 8);
            at += 12;
            if (length > end - at) {
                complete = false;
                break;
            }
            if (const int e = device.WriteAt(offset, data.data() + at, length))
                return FromErrno(e, true);
            at += length;
        }
        if (complete) {
            if (const int e = device.Truncate(originalLength))
                return FromErrno(e, true);
            if (const int e = device.Sync())
                return FromErrno(e, true);
        }
    }
    if (const int e = fs.Remove(journal); e && e != ENOENT)
        return FromErrno(e, true);
    if (const int e = fs.SyncFolderOf(journal))
        return FromErrno(e, true);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Pages

HResult CompoundFile::PageFor(uint32_t sector, bool forWrite, Page*& page) {
    auto it = pages_.find(sector);
    if (it == pages_.end()) {
        if (pages_.size() >= kPageCacheLimit)
            TrimCleanPages();
        Page fresh;
        fresh.data = std::make_unique_for_overwrite<uint8_t[]>(sectorSize_); // ReadRaw fills it
        if (const HResult hr = ReadRaw(SectorOffset(sector), fresh.data.get(), sectorSize_);
            Failed(hr))
            return hr;
        it = pages_.emplace(sector, std::move(fresh)).first;
    }
    if (forWrite) {
        it->second.dirty = true;
        modified_ = true;
    }
    page = &it->second;
    return S_OK;
}

void CompoundFile::TrimCleanPages() {
    for (auto it = pages_.begin(); it != pages_.end();)
        it = it->second.dirty ? std::next(it) : pages_.erase(it);
}

// ---------------------------------------------------------------------------------------------
// Allocation

HResult CompoundFile::AllocSector(bool withPage, uint32_t& sector) {
    uint32_t s = freeSectorHint_;
    while (s < numSectors_ && fat_[s] != FREESECT)
        ++s;
    if (s >= numSectors_) {
        if ((uint64_t{numSectors_} + 4) * sectorSize_ >= kMaxV3StreamSize)
            return STG_E_MEDIUMFULL;
        s = numSectors_++;
        EnsureFatCoversSectors();
    }
    freeSectorHint_ = s + 1;
    fat_[s] = ENDOFCHAIN;
    pages_.erase(s);
    if (withPage) {
        Page fresh;
        fresh.data = std::make_unique<uint8_t[]>(sectorSize_); // zeroed
        fresh.dirty = true;
        pages_.emplace(s, std::move(fresh));
    }
    modified_ = true;
    sector = s;
    return S_OK;
}

void CompoundFile::EnsureFatCoversSectors() {
    const uint32_t perSector = sectorSize_ / 4;
    std::vector<uint32_t> newFat;
    std::vector<uint32_t> newDifat;
    for (;;) {
        if (fat_.size() < numSectors_) {
            newFat.push_back(numSectors_++);
            fatSectors_.push_back(newFat.back());
            fat_.resize(fat_.size() + perSector, FREESECT);
            continue;
        }
        if (fatSectors_.size() > kHeaderDifatSlots + difatSectors_.size() * (perSector - 1)) {
            newDifat.push_back(numSectors_++);
            difatSectors_.push_back(newDifat.back());
            continue;
        }
        break;
    }
    for (const uint32_t s : newFat) {
        fat_[s] = FATSECT;
        pages_.erase(s);
    }
    for (const uint32_t s : newDifat) {
        fat_[s] = DIFSECT;
        pages_.erase(s);
    }
}

void CompoundFile::FreeSector(uint32_t s) {
    fat_[s] = FREESECT;
    pages_.erase(s);
    freeSectorHint_ = std::min(freeSectorHint_, s);
    modified_ = true;
}

HResult CompoundFile::AllocMiniSector(uint32_t& mini) {
    Entry& root = entries_[kRoot];
    const auto capacity = static_cast<uint32_t>(root.size / kMiniSectorSize);
    uint32_t m = freeMiniHint_;
    while (m < capacity && m < miniFat_.size() && miniFat_[m] != FREESECT)
        ++m;
    if (m >= capacity || m >= miniFat_.size()) {
        m = capacity;
        // Grow the mini stream (and the mini FAT with it) by a run of sectors, not one at a
        // time: small streams are read one after another, and a mini stream in long runs
        // reads with few calls.
        const size_t grow = GrowthStep(miniStreamChain_.size());
        for (size_t k = 0; k < grow; ++k) {
            uint32_t s = 0;
            if (const HResult hr = AllocSector(true, s); Failed(hr))
                return hr;
            if (miniStreamChain_.empty())
                root.start = s;
            else
                fat_[miniStreamChain_.back()] = s;
            miniStreamChain_.push_back(s);
        }
        const uint64_t newSize = miniStreamChain_.size() * uint64_t{sectorSize_};
        while (miniFat_.size() < newSize / kMiniSectorSize) {
            uint32_t s = 0;
            if (const HResult hr = AllocSector(false, s); Failed(hr))
                return hr;
            if (!miniFatChain_.empty())
                fat_[miniFatChain_.back()] = s;
            miniFatChain_.push_back(s);
            miniFat_.resize(miniFat_.size() + sectorSize_ / 4, FREESECT);
        }
        root.size = newSize;
        MarkDirty(kRoot);
    }
    freeMiniHint_ = m + 1;
    miniFat_[m] = ENDOFCHAIN;
    static constexpr uint8_t zeros[kMiniSectorSize] = {};
    if (const HResult hr =
            WriteUnits(miniStreamChain_, false, uint64_t{m} * kMiniSectorSize, zeros, sizeof zeros);
        Failed(hr))
        return hr;
    modified_ = true;
    mini = m;
    return S_OK;
}

size_t CompoundFile::GrowthStep(size_t sectors) {
    return std::clamp<size_t>(sectors / 8, 8, 256);
}

void CompoundFile::FreeMiniSector(uint32_t m) {
    miniFat_[m] = FREESECT;
    freeMiniHint_ = std::min(freeMiniHint_, m);
    modified_ = true;
}

HResult CompoundFile::AllocEntry(uint32_t& sid) {
    uint32_t s = freeEntryHint_;
    // An entry that a handle still names (its element reverted away) is not given out again.
    while (s < entries_.size() && (entries_[s].type != TypeUnallocated || open_.count(s)))
        ++s;
    if (s >= entries_.size()) {
        // The directory too grows by runs of sectors, so that it reads with few calls.
        const size_t first = entries_.size();
        const size_t grow = GrowthStep(dirChain_.size());
        for (size_t k = 0; k < grow; ++k) {
            uint32_t sector = 0;
            if (const HResult hr = AllocSector(false, sector); Failed(hr))
                return hr;
            fat_[dirChain_.back()] = sector;
            dirChain_.push_back(sector);
        }
        entries_.resize(dirChain_.size() * (sectorSize_ / kDirEntrySize));
        parentOf_.resize(entries_.size(), NOSTREAM);
        for (size_t i = first; i < entries_.size(); ++i)
            MarkDirty(static_cast<uint32_t>(i));
        s = static_cast<uint32_t>(first);
    }
    freeEntryHint_ = s + 1;
    sid = s;
    return S_OK;
}

void CompoundFile::ResetEntry(uint32_t sid) {
    entries_[sid] = Entry{};
    parentOf_[sid] = NOSTREAM;
    chains_.erase(sid);
    freeEntryHint_ = std::min(freeEntryHint_, sid);
    MarkDirty(sid);
}

void CompoundFile::MarkDirty(uint32_t sid) {
    dirtyEntries_.insert(sid);
    modified_ = true;
}

// ---------------------------------------------------------------------------------------------
// Stream data

CompoundFile::Chain& CompoundFile::ChainOf(uint32_t sid) {
    auto it = chains_.find(sid);
    if (it != chains_.end())
        return it->second;
    Chain chain;
    const Entry& e = entries_[sid];
    chain.mini = e.size < kMiniStreamCutoff;
    if (e.size > 0) {
        const std::vector<uint32_t>& table = chain.mini ? miniFat_ : fat_;
        const uint64_t unit = chain.mini ? kMiniSectorSize : sectorSize_;
        chain.units.reserve(
            static_cast<size_t>(std::min<uint64_t>((e.size + unit - 1) / unit, table.size())));
        // The chain was proved sound when the file was opened and has been kept so since.
        for (uint32_t s = e.start;
             s != ENDOFCHAIN && s < table.size() && chain.units.size() < table.size(); s = table[s])
            chain.units.push_back(s);
    }
    return chains_.emplace(sid, std::move(chain)).first->second;
}

HResult CompoundFile::ReadUnits(const std::vector<uint32_t>& units, bool mini, uint64_t pos,
                                void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    const uint32_t unit = mini ? kMiniSectorSize : sectorSize_;
    while (n > 0) {
        const size_t index = pos / unit;
        const auto within = static_cast<uint32_t>(pos % unit);
        if (index >= units.size())
            return STG_E_READFAULT;
        // Extend the piece over units that follow each other in their area.
        size_t run = 1;
        while (index + run < units.size() && units[index + run] == units[index] + run &&
               run * unit - within < n)
            ++run;
        const size_t piece = std::min<size_t>(n, run * unit - within);
        if (mini) {
            if (const HResult hr = ReadUnits(miniStreamChain_, false,
                                             uint64_t{units[index]} * unit + within, out, piece);
                Failed(hr))
                return hr;
        } else {
            // Whole uncached sectors are read straight into the caller's buffer.
            size_t done = 0;
            for (size_t k = 0; k < run && done < piece; ++k) {
                const uint32_t s = units[index + k];
                const uint32_t from = k == 0 ? within : 0;
                const size_t take = std::min<size_t>(piece - done, unit - from);
                auto it = pages_.find(s);
                if (it != pages_.end()) {
                    std::memcpy(out + done, it->second.data.get() + from, take);
                } else if (take == unit) {
                    size_t direct = 1;
                    while (k + direct < run && done + (direct + 1) * unit <= piece &&
                           pages_.find(units[index + k + direct]) == pages_.end())
                        ++direct;
                    if (const HResult hr = ReadRaw(SectorOffset(s), out + done, direct * unit);
                        Failed(hr))
                        return hr;
                    done += direct * unit;
                    k += direct - 1;
                    continue;
                } else {
                    if (s < windowFirst_ || s >= windowFirst_ + windowCount_)
                        if (const HResult hr = ReadAhead(units, index + k); Failed(hr))
                            return hr;
                    std::memcpy(out + done,
                                window_.data() + size_t{s - windowFirst_} * sectorSize_ + from,
                                take);
                }
                done += take;
            }
        }
        out += piece;
        pos += piece;
        n -= piece;
    }
    return S_OK;
}

// Small streams share the sectors of the mini stream, and are mostly read one after another:
// a sector that is not in the page cache is read together with the run of sectors that follow
// it in the file, into a window of committed bytes (changed sectors always have a page).
HResult CompoundFile::ReadAhead(const std::vector<uint32_t>& units, size_t index) {
    size_t run = 1;
    while (index + run < units.size() && run < kReadAhead &&
           units[index + run] == units[index] + run)
        ++run;
    windowCount_ = 0;
    window_.resize(run * sectorSize_);
    if (const HResult hr = ReadRaw(SectorOffset(units[index]), window_.data(), window_.size());
        Failed(hr))
        return hr;
    windowFirst_ = units[index];
    windowCount_ = static_cast<uint32_t>(run);
    return S_OK;
}

HResult CompoundFile::WriteUnits(const std::vector<uint32_t>& units, bool mini, uint64_t pos,
                                 const void* buffer, size_t n) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    const uint32_t unit = mini ? kMiniSectorSize : sectorSize_;
    while (n > 0) {
        const size_t index = pos / unit;
        const auto within = static_cast<uint32_t>(pos % unit);
        if (index >= units.size())
            return STG_E_WRITEFAULT;
        const size_t piece = std::min<size_t>(n, unit - within);
        if (mini) {
            if (const HResult hr = WriteUnits(miniStreamChain_, false,
                                              uint64_t{units[index]} * unit + within, in, piece);
                Failed(hr))
                return hr;
        } else {
            Page* page = nullptr;
            auto it = pages_.find(units[index]);
            if (it != pages_.end()) {
                page = &it->second;
                page->dirty = true;
                modified_ = true;
            } else if (piece == unit) {
                // A whole sector is overwritten: no need to read what it held.
                Page fresh;
                fresh.data = std::make_unique_for_overwrite<uint8_t[]>(sectorSize_);
                fresh.dirty = true;
                if (pages_.size() >= kPageCacheLimit)
                    TrimCleanPages();
                page = &pages_.emplace(units[index], std::move(fresh)).first->second;
                modified_ = true;
            } else if (const HResult hr = PageFor(units[index], true, page); Failed(hr)) {
                return hr;
            }
            std::memcpy(page->data.get() + within, in, piece);
        }
        in += piece;
        pos += piece;
        n -= piece;
    }
    return S_OK;
}

HResult CompoundFile::ResizeUnits(uint32_t sid, Chain& chain, uint64_t newSize) {
    const uint32_t unit = chain.mini ? kMiniSectorSize : sectorSize_;
    const uint64_t need = (newSize + unit - 1) / unit;
    std::vector<uint32_t>& table = chain.mini ? miniFat_ : fat_;
    Entry& e = entries_[sid];
    while (chain.units.size() > need) {
        const uint32_t last = chain.units.back();
        chain.units.pop_back();
        if (chain.mini)
            FreeMiniSector(last);
        else
            FreeSector(last);
        if (!chain.units.empty())
            table[chain.units.back()] = ENDOFCHAIN;
    }
    while (chain.units.size() < need) {
        uint32_t s = 0;
        const HResult hr = chain.mini ? AllocMiniSector(s) : AllocSector(true, s);
        if (Failed(hr))
            return hr;
        if (!chain.units.empty())
            table[chain.units.back()] = s;
        chain.units.push_back(s);
    }
    e.start = chain.units.empty() ? ENDOFCHAIN : chain.units.front();
    MarkDirty(sid);
    return S_OK;
}

HResult CompoundFile::ZeroRange(const Chain& chain, uint64_t from, uint64_t to) {
    static constexpr uint8_t zeros[512] = {};
    while (from < to) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(to - from, sizeof zeros));
        if (const HResult hr = WriteUnits(chain.units, chain.mini, from, zeros, n); Failed(hr))
            return hr;
        from += n;
    }
    return S_OK;
}

uint64_t CompoundFile::StreamSize(uint32_t sid) const {
    return entries_[sid].size;
}

HResult CompoundFile::ReadStream(uint32_t sid, uint64_t pos, void* buffer, uint32_t n,
                                 uint32_t& done) {
    done = 0;
    if (!device_)
        return STG_E_REVERTED;
    if (entries_[sid].type != TypeStream)
        return STG_E_REVERTED;
    const uint64_t size = entries_[sid].size;
    if (pos >= size || n == 0)
        return S_OK;
    const auto m = static_cast<uint32_t>(std::min<uint64_t>(n, size - pos));
    const Chain& chain = ChainOf(sid);
    if (const HResult hr = ReadUnits(chain.units, chain.mini, pos, buffer, m); Failed(hr))
        return hr;
    done = m;
    return S_OK;
}

HResult CompoundFile::WriteStream(uint32_t sid, uint64_t pos, const void* buffer, uint32_t n,
                                  uint32_t& done) {
    done = 0;
    if (const HResult hr = Usable(true); Failed(hr))
        return hr;
    if (entries_[sid].type != TypeStream)
        return STG_E_REVERTED;
    if (n == 0)
        return S_OK;
    if (pos + n > entries_[sid].size)
        if (const HResult hr = SetStreamSize(sid, pos + n); Failed(hr))
            return hr;
    const Chain& chain = ChainOf(sid);
    if (const HResult hr = WriteUnits(chain.units, chain.mini, pos, buffer, n); Failed(hr))
        return hr;
    done = n;
    return S_OK;
}

HResult CompoundFile::SetStreamSize(uint32_t sid, uint64_t size) {
    if (const HResult hr = Usable(true); Failed(hr))
        return hr;
    Entry& e = entries_[sid];
    if (e.type != TypeStream)
        return STG_E_REVERTED;
    const uint64_t old = e.size;
    if (size == old)
        return S_OK;
    if (size >= kMaxV3StreamSize)
        return STG_E_MEDIUMFULL;
    Chain& chain = ChainOf(sid);
    const bool mini = size < kMiniStreamCutoff;
    if (mini == chain.mini) {
        // Bytes past the end of a stream in its last unit read as zero, whoever wrote the file;
        // newly allocated units are zero already.
        const uint32_t unit = mini ? kMiniSectorSize : sectorSize_;
        const uint64_t oldEnd = chain.units.size() * uint64_t{unit};
        if (const HResult hr = ResizeUnits(sid, chain, size); Failed(hr))
            return hr;
        const uint64_t newEnd = chain.units.size() * uint64_t{unit};
        const HResult hr = size > old ? ZeroRange(chain, old, std::min(size, oldEnd))
                                      : ZeroRange(chain, size, std::min(old, newEnd));
        if (Failed(hr))
            return hr;
    } else {
        // Crossing the cutoff moves the data between the mini stream and ordinary sectors.
        std::vector<uint8_t> keep(static_cast<size_t>(std::min(old, size)));
        if (const HResult hr = ReadUnits(chain.units, chain.mini, 0, keep.data(), keep.size());
            Failed(hr))
            return hr;
        if (const HResult hr = ResizeUnits(sid, chain, 0); Failed(hr))
            return hr;
        chain.mini = mini;
        if (const HResult hr = ResizeUnits(sid, chain, size); Failed(hr))
            return hr;
        if (const HResult hr = WriteUnits(chain.units, chain.mini, 0, keep.data(), keep.size());
            Failed(hr))
            return hr;
    }
    e.size = size;
    if (size == 0)
        e.start = ENDOFCHAIN;
    MarkDirty(sid);
    return S_OK;
}

HResult CompoundFile::Usable(bool write) const {
    if (!device_)
        return STG_E_REVERTED;
    if (write && !writable_)
        return STG_E_ACCESSDENIED;
    if (write && broken_)
        return STG_E_WRITEFAULT;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Sibling trees: red-black insertion; deletion keeps the order and never leaves two reds in a
// row; a tree that grows too deep (or came from another writer in poor shape) is rebuilt.

void CompoundFile::SetLink(uint32_t node, bool left, uint32_t value) {
    uint32_t& link = left ? entries_[node].left : entries_[node].right;
    if (link != value) {
        link = value;
        MarkDirty(node);
    }
}

void CompoundFile::SetColour(uint32_t node, uint8_t colour) {
    if (entries_[node].colour != colour) {
        entries_[node].colour = colour;
        MarkDirty(node);
    }
}

void CompoundFile::SetTop(uint32_t parent, uint32_t node) {
    if (entries_[parent].child != node) {
        entries_[parent].child = node;
        MarkDirty(parent);
    }
}

// Replaces the link that points at old (from above, or the storage's top) by node.
void CompoundFile::Relink(uint32_t parent, uint32_t above, uint32_t old, uint32_t node) {
    if (above == NOSTREAM)
        SetTop(parent, node);
    else
        SetLink(above, entries_[above].left == old, node);
}

HResult CompoundFile::Find(uint32_t parent, const std::u16string& name, uint32_t& sid) const {
    uint32_t cur = entries_[parent].child;
    for (size_t steps = 0; cur != NOSTREAM && steps <= entries_.size(); ++steps) {
        const int c = CompareNames(name, entries_[cur].name);
        if (c == 0) {
            sid = cur;
            return S_OK;
        }
        cur = c < 0 ? entries_[cur].left : entries_[cur].right;
    }
    return STG_E_FILENOTFOUND;
}

void CompoundFile::InsertChild(uint32_t parent, uint32_t sid) {
    if (rebuildOnWrite_.count(parent))
        RebuildTree(parent);
    Entry& e = entries_[sid];
    e.left = e.right = NOSTREAM;
    e.colour = Red;
    parentOf_[sid] = parent;
    MarkDirty(sid);
    std::vector<uint32_t> path;
    uint32_t cur = entries_[parent].child;
    bool left = false;
    while (cur != NOSTREAM) {
        path.push_back(cur);
        left = CompareNames(e.name, entries_[cur].name) < 0;
        cur = left ? entries_[cur].left : entries_[cur].right;
    }
    if (path.empty())
        SetTop(parent, sid);
    else
        SetLink(path.back(), left, sid);
    path.push_back(sid);
    const size_t depth = path.size();

    auto red = [&](uint32_t n) { return n != NOSTREAM && entries_[n].colour == Red; };
    size_t i = path.size() - 1;
    while (i >= 2 && red(path[i - 1])) {
        uint32_t x = path[i];
        uint32_t p = path[i - 1];
        const uint32_t g = path[i - 2];
        const bool parentIsLeft = entries_[g].left == p;
        const uint32_t uncle = parentIsLeft ? entries_[g].right : entries_[g].left;
        if (red(uncle)) {
            SetColour(p, Black);
            SetColour(uncle, Black);
            SetColour(g, Red);
            i -= 2;
            continue;
        }
        if (parentIsLeft && entries_[p].right == x) {
            SetLink(p, false, entries_[x].left);
            SetLink(x, true, p);
            SetLink(g, true, x);
            std::swap(x, p);
        } else if (!parentIsLeft && entries_[p].left == x) {
            SetLink(p, true, entries_[x].right);
            SetLink(x, false, p);
            SetLink(g, false, x);
            std::swap(x, p);
        }
        Relink(parent, i >= 3 ? path[i - 3] : NOSTREAM, g, p);
        if (parentIsLeft) {
            SetLink(g, true, entries_[p].right);
            SetLink(p, false, g);
        } else {
            SetLink(g, false, entries_[p].left);
            SetLink(p, true, g);
        }
        SetColour(p, Black);
        SetColour(g, Red);
        break;
    }
    SetColour(entries_[parent].child, Black);
    if (depth > DepthLimit())
        RebuildTree(parent);
}

void CompoundFile::RemoveChild(uint32_t parent, uint32_t sid) {
    if (rebuildOnWrite_.count(parent))
        RebuildTree(parent);
    const detail::ShortName key = entries_[sid].name;
    uint32_t above = NOSTREAM;
    uint32_t cur = entries_[parent].child;
    while (cur != sid && cur != NOSTREAM) {
        above = cur;
        cur = CompareNames(key, entries_[cur].name) < 0 ? entries_[cur].left : entries_[cur].right;
    }
    if (cur != sid)
        return;
    Entry& e = entries_[sid];
    if (e.left == NOSTREAM || e.right == NOSTREAM) {
        const uint32_t repl = e.left != NOSTREAM ? e.left : e.right;
        Relink(parent, above, sid, repl);
        if (repl != NOSTREAM)
            SetColour(repl, Black);
    } else {
        uint32_t successorParent = sid;
        uint32_t successor = e.right;
        while (entries_[successor].left != NOSTREAM) {
            successorParent = successor;
            successor = entries_[successor].left;
        }
        const uint32_t spliced = entries_[successor].right;
        if (successorParent != sid) {
            SetLink(successorParent, true, spliced);
            SetLink(successor, false, e.right);
        }
        if (spliced != NOSTREAM)
            SetColour(spliced, Black);
        SetLink(successor, true, e.left);
        SetColour(successor, e.colour);
        Relink(parent, above, sid, successor);
    }
    e.left = e.right = NOSTREAM;
    MarkDirty(sid);
    parentOf_[sid] = NOSTREAM;
    if (entries_[parent].child != NOSTREAM)
        SetColour(entries_[parent].child, Black);
}

void CompoundFile::Children(uint32_t parent, std::vector<uint32_t>& out) const {
    out.clear();
    std::vector<uint32_t> stack;
    uint32_t cur = entries_[parent].child;
    while (cur != NOSTREAM || !stack.empty()) {
        while (cur != NOSTREAM && stack.size() <= entries_.size()) {
            stack.push_back(cur);
            cur = entries_[cur].left;
        }
        cur = stack.back();
        stack.pop_back();
        out.push_back(cur);
        cur = entries_[cur].right;
    }
}

void CompoundFile::RebuildTree(uint32_t parent) {
    rebuildOnWrite_.erase(parent);
    std::vector<uint32_t> sorted;
    Children(parent, sorted);
    int height = 0;
    while ((size_t{2} << height) <= sorted.size())
        ++height;
    SetTop(parent, BuildBalanced(sorted, 0, sorted.size(), 0, height > 0 ? height : -1));
}

uint32_t CompoundFile::BuildBalanced(const std::vector<uint32_t>& sorted, size_t lo, size_t hi,
                                     int depth, int redDepth) {
    if (lo >= hi)
        return NOSTREAM;
    const size_t mid = lo + (hi - lo) / 2;
    const uint32_t node = sorted[mid];
    SetLink(node, true, BuildBalanced(sorted, lo, mid, depth + 1, redDepth));
    SetLink(node, false, BuildBalanced(sorted, mid + 1, hi, depth + 1, redDepth));
    SetColour(node, depth == redDepth ? Red : Black);
    return node;
}

bool CompoundFile::IsAncestor(uint32_t ancestor, uint32_t sid) const {
    for (size_t steps = 0; sid != NOSTREAM && steps <= entries_.size(); ++steps) {
        if (sid == ancestor)
            return true;
        sid = parentOf_[sid];
    }
    return false;
}

bool CompoundFile::SubtreeOpen(uint32_t sid) const {
    if (open_.empty())
        return false;
    for (const uint32_t o : open_)
        if (IsAncestor(sid, o))
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Element operations

uint8_t CompoundFile::TypeOf(uint32_t sid) const {
    return sid < entries_.size() ? entries_[sid].type : 0;
}

HResult CompoundFile::CreateElement(uint32_t parent, const std::u16string& name, uint8_t type,
                                    bool replace, uint32_t& sid) {
    if (const HResult hr = Usable(true); Failed(hr))
        return hr;
    if (parent != kRoot && TypeOf(parent) != TypeStorage)
        return STG_E_REVERTED; // the handle's storage went away with a Revert
    if (!IsValidName(name))
        return STG_E_INVALIDNAME;
    uint32_t existing = 0;
    if (Succeeded(Find(parent, name, existing))) {
        if (!replace)
            return STG_E_FILEALREADYEXISTS;
        if (SubtreeOpen(existing))
            return STG_E_ACCESSDENIED;
        if (type == TypeStream && entries_[existing].type == TypeStream &&
            entries_[existing].name.view() == name) {
            if (const HResult hr = SetStreamSize(existing, 0); Failed(hr))
                return hr;
            sid = existing;
            return S_OK;
        }
        if (const HResult hr = DestroyElement(parent, entries_[existing].name.str()); Failed(hr))
            return hr;
    }
    uint32_t fresh = 0;
    if (const HResult hr = AllocEntry(fresh); Failed(hr))
        return hr;
    Entry& e = entries_[fresh];
    e = Entry{};
    e.name = name;
    e.type = type;
    if (type == TypeStorage) {
        e.start = 0;
        e.created = e.modified = FileTimeNow();
    }
    InsertChild(parent, fresh);
    sid = fresh;
    return S_OK;
}

HResult CompoundFile::DestroyElement(uint32_t parent, const std::u16string& name) {
    if (const HResult hr = Usable(true); Failed(hr))
        return hr;
    uint32_t sid = 0;
    if (const HResult hr = Find(parent, name, sid); Failed(hr))
        return hr;
    if (SubtreeOpen(sid))
        return STG_E_ACCESSDENIED;
    RemoveChild(parent, sid);
    std::vector<uint32_t> work{sid};
    std::vector<uint32_t> children;
    while (!work.empty()) {
        const uint32_t x = work.back();
        work.pop_back();
        if (entries_[x].type == TypeStorage) {
            Children(x, children);
            work.insert(work.end(), children.begin(), children.end());
        } else if (entries_[x].size > 0) {
            Chain& chain = ChainOf(x);
            for (const uint32_t u : chain.units) {
                if (chain.mini)
                    FreeMiniSector(u);
                else
                    FreeSector(u);
            }
        }
        ResetEntry(x);
    }
    return S_OK;
}

HResult CompoundFile::MoveElement(uint32_t parent, const std::u16string& name,
                                  CompoundFile& destFile, uint32_t destParent,
                                  const std::u16string& newName, bool copy) {
    if (const HResult hr = Usable(!copy); Failed(hr))
        return hr;
    if (const HResult hr = destFile.Usable(true); Failed(hr))
        return hr;
    if (destParent != kRoot && destFile.TypeOf(destParent) != TypeStorage)
        return STG_E_REVERTED;
    if (!IsValidName(newName))
        return STG_E_INVALIDNAME;
    uint32_t sid = 0;
    if (const HResult hr = Find(parent, name, sid); Failed(hr))
        return hr;
    if (!copy && SubtreeOpen(sid))
        return STG_E_ACCESSDENIED;
    if (&destFile == this && IsAncestor(sid, destParent))
        return STG_E_ACCESSDENIED; // into itself
    uint32_t clash = 0;
    if (Succeeded(destFile.Find(destParent, newName, clash))) {
        const bool renameInPlace = &destFile == this && !copy && clash == sid;
        if (!renameInPlace)
            return STG_E_FILEALREADYEXISTS;
    }
    if (&destFile == this && !copy) {
        RemoveChild(parent, sid);
        entries_[sid].name = newName;
        InsertChild(destParent, sid);
        return S_OK;
    }
    if (const HResult hr = CopySubtree(sid, destFile, destParent, newName); Failed(hr))
        return hr;
    return copy ? S_OK : DestroyElement(parent, name);
}

HResult CompoundFile::CopySubtree(uint32_t srcSid, CompoundFile& dest, uint32_t destParent,
                                  const std::u16string& name) {
    struct Work {
        uint32_t src;
        uint32_t destParent;
        std::u16string name;
    };
    std::vector<Work> work{{srcSid, destParent, name}};
    std::vector<uint32_t> children;
    std::vector<uint8_t> buffer;
    while (!work.empty()) {
        const Work w = std::move(work.back());
        work.pop_back();
        const Entry src = entries_[w.src]; // a copy: creating elements may grow the directory
        uint32_t made = 0;
        if (const HResult hr = dest.CreateElement(w.destParent, w.name, src.type, false, made);
            Failed(hr))
            return hr;
        std::memcpy(dest.entries_[made].clsid, src.clsid, 16);
        dest.entries_[made].state = src.state;
        if (src.type == TypeStorage) {
            Children(w.src, children);
            for (const uint32_t c : children)
                work.push_back({c, made, entries_[c].name.str()});
            continue;
        }
        const uint64_t size = src.size;
        if (const HResult hr = dest.SetStreamSize(made, size); Failed(hr))
            return hr;
        buffer.resize(kCopyChunk);
        for (uint64_t pos = 0; pos < size;) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, size - pos));
            uint32_t got = 0;
            uint32_t put = 0;
            if (const HResult hr = ReadStream(w.src, pos, buffer.data(), n, got); Failed(hr))
                return hr;
            if (const HResult hr = dest.WriteStream(made, pos, buffer.data(), got, put); Failed(hr))
                return hr;
            if (got == 0)
                break;
            pos += got;
        }
    }
    return S_OK;
}

HResult CompoundFile::Enumerate(uint32_t parent, std::vector<StatStg>& out) const {
    if (!device_)
        return STG_E_REVERTED;
    std::vector<uint32_t> children;
    Children(parent, children);
    out.clear();
    out.reserve(children.size());
    for (const uint32_t c : children) {
        StatStg st;
        Stat(c, st);
        out.push_back(std::move(st));
    }
    return S_OK;
}

HResult CompoundFile::Stat(uint32_t sid, StatStg& out) const {
    const Entry& e = entries_[sid];
    out.name = e.name.str();
    out.type = e.type == TypeStream ? STGTY_STREAM : STGTY_STORAGE;
    out.size = e.type == TypeStream ? e.size : 0;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Commit

void CompoundFile::SerializeHeader(std::vector<uint8_t>& out) const {
    out.assign(sectorSize_, 0);
    uint8_t* h = out.data();
    std::memcpy(h, kSignature, 8);
    Put16(h + hdr::MinorVersion, 0x3E);
    Put16(h + hdr::MajorVersion, majorVersion_);
    Put16(h + hdr::ByteOrder, 0xFFFE);
    Put16(h + hdr::SectorShift, static_cast<uint16_t>(sectorShift_));
    Put16(h + hdr::MiniSectorShift, 6);
    Put32(h + hdr::NumDirSectors, majorVersion_ == 3 ? 0 : static_cast<uint32_t>(dirChain_.size()));
    Put32(h + hdr::NumFatSectors, static_cast<uint32_t>(fatSectors_.size()));
    Put32(h + hdr::FirstDirSector, dirChain_.front());
    Put32(h + hdr::TransactionSignature, transactionSignature_);
    Put32(h + hdr::MiniStreamCutoff, kMiniStreamCutoff);
    Put32(h + hdr::FirstMiniFatSector, miniFatChain_.empty() ? ENDOFCHAIN : miniFatChain_[0]);
    Put32(h + hdr::NumMiniFatSectors, static_cast<uint32_t>(miniFatChain_.size()));
    Put32(h + hdr::FirstDifatSector, difatSectors_.empty() ? ENDOFCHAIN : difatSectors_[0]);
    Put32(h + hdr::NumDifatSectors, static_cast<uint32_t>(difatSectors_.size()));
    for (uint32_t i = 0; i < kHeaderDifatSlots; ++i)
        Put32(h + hdr::Difat + 4 * i, i < fatSectors_.size() ? fatSectors_[i] : FREESECT);
}

void CompoundFile::SerializeEntry(uint32_t sid, uint8_t* p) const {
    std::memset(p, 0, kDirEntrySize);
    const Entry& e = entries_[sid];
    Put32(p + dirent::Left, NOSTREAM);
    Put32(p + dirent::Right, NOSTREAM);
    Put32(p + dirent::Child, NOSTREAM);
    if (e.type == TypeUnallocated)
        return;
    for (size_t k = 0; k < e.name.size() && k < kMaxNameUnits; ++k)
        Put16(p + 2 * k, e.name[k]);
    Put16(p + dirent::NameLength, static_cast<uint16_t>(2 * (e.name.size() + 1)));
    p[dirent::ObjectType] = e.type;
    p[dirent::Colour] = e.colour;
    Put32(p + dirent::Left, e.left);
    Put32(p + dirent::Right, e.right);
    Put32(p + dirent::Child, e.child);
    if (e.type != TypeStream) { // streams have no class, state bits or times
        std::memcpy(p + dirent::Clsid, e.clsid, 16);
        Put32(p + dirent::StateBits, e.state);
        Put64(p + dirent::CreationTime, e.type == TypeRoot ? 0 : e.created);
        Put64(p + dirent::ModifiedTime, e.modified);
    }
    Put32(p + dirent::StartSector, e.type == TypeStorage ? 0 : e.start);
    Put64(p + dirent::StreamSize, e.type == TypeStorage ? 0 : e.size);
}

HResult CompoundFile::Commit() {
    if (!device_)
        return STG_E_REVERTED;
    if (finishOwed_)
        if (const HResult hr = FinishCommit(); Failed(hr))
            return hr;
    if (!writable_ || !modified_)
        return S_OK;
    if (broken_)
        return STG_E_WRITEFAULT;
    windowCount_ = 0; // the file's bytes change below
    // Trees that came from another writer in poor shape are not written back as they were.
    while (!rebuildOnWrite_.empty())
        RebuildTree(*rebuildOnWrite_.begin());

    // Everything to write, by sector; the header is sector "-1" at offset 0.
    const uint32_t perSector = sectorSize_ / 4;
    std::vector<std::pair<uint32_t, const uint8_t*>> writes;
    std::vector<std::unique_ptr<uint8_t[]>> built;
    auto build = [&](uint32_t sector) {
        built.push_back(std::make_unique<uint8_t[]>(sectorSize_));
        writes.emplace_back(sector, built.back().get());
        return built.back().get();
    };
    for (const auto& [sector, page] : pages_)
        if (page.dirty)
            writes.emplace_back(sector, page.data.get());
    auto tableSectors = [&](const std::vector<uint32_t>& table,
                            const std::vector<uint32_t>& committed,
                            const std::vector<uint32_t>& sectors,
                            const std::vector<uint32_t>& committedSectors) {
        for (size_t i = 0; i < sectors.size(); ++i) {
            const size_t from = i * perSector;
            const bool same = i < committedSectors.size() && committedSectors[i] == sectors[i] &&
                              committed.size() >= from + perSector &&
                              std::equal(table.begin() + from, table.begin() + from + perSector,
                                         committed.begin() + from);
            if (same)
                continue;
            uint8_t* out = build(sectors[i]);
            for (uint32_t k = 0; k < perSector; ++k)
                Put32(out + 4 * k, from + k < table.size() ? table[from + k] : FREESECT);
        }
    };
    tableSectors(fat_, committedFat_, fatSectors_, committedFatSectors_);
    tableSectors(miniFat_, committedMiniFat_, miniFatChain_, committedMiniFatChain_);
    if (difatSectors_ != committedDifatSectors_ || fatSectors_ != committedFatSectors_) {
        for (size_t i = 0; i < difatSectors_.size(); ++i) {
            uint8_t* out = build(difatSectors_[i]);
            for (uint32_t k = 0; k + 1 < perSector; ++k) {
                const size_t index = kHeaderDifatSlots + i * (perSector - 1) + k;
                Put32(out + 4 * k, index < fatSectors_.size() ? fatSectors_[index] : FREESECT);
            }
            Put32(out + 4 * (perSector - 1),
                  i + 1 < difatSectors_.size() ? difatSectors_[i + 1] : ENDOFCHAIN);
        }
    }
    {
        const uint32_t perDirSector = sectorSize_ / kDirEntrySize;
        std::vector<uint32_t> dirSectors;
        for (const uint32_t sid : dirtyEntries_)
            dirSectors.push_back(sid / perDirSector);
        std::sort(dirSectors.begin(), dirSectors.end());
        dirSectors.erase(std::unique(dirSectors.begin(), dirSectors.end()), dirSectors.end());
        for (const uint32_t d : dirSectors) {
            uint8_t* out = build(dirChain_[d]);
            for (uint32_t k = 0; k < perDirSector; ++k)
                SerializeEntry(d * perDirSector + k, out + size_t{k} * kDirEntrySize);
        }
    }
    std::sort(writes.begin(), writes.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint8_t> header;
    SerializeHeader(header);

    const uint64_t newLength = (uint64_t{numSectors_} + 1) * sectorSize_;
    if (!temporary_) {
        // The journal keeps the committed bytes of every sector that the committed state uses
        // and this commit overwrites; sectors that were free or past the end need none.
        std::vector<uint8_t> journal(kJournalHeader);
        std::memcpy(journal.data(), kJournalMagic, 8);
        Put32(journal.data() + 8, kJournalVersion);
        Put32(journal.data() + 12, sectorSize_);
        Put64(journal.data() + 16, fileLength_);
        uint32_t records = 0;
        auto keep = [&](uint64_t offset) -> HResult {
            const size_t at = journal.size();
            journal.resize(at + 12 + sectorSize_);
            Put64(journal.data() + at, offset);
            Put32(journal.data() + at + 8, sectorSize_);
            ++records;
            return ReadRaw(offset, journal.data() + at + 12, sectorSize_);
        };
        if (const HResult hr = keep(0); Failed(hr))
            return hr;
        for (const auto& [sector, data] : writes) {
            if (sector >= committedSectors_ || sector >= committedFat_.size() ||
                committedFat_[sector] == FREESECT)
                continue;
            if (const HResult hr = keep(SectorOffset(sector)); Failed(hr))
                return hr;
        }
        Put32(journal.data() + 24, records);
        const size_t end = journal.size();
        journal.resize(end + 8);
        Put64(journal.data() + end, Fnv1a(journal.data(), end));

        int e = 0;
        if (fs_->Exists(journal_))
            e = fs_->Remove(journal_);
        std::unique_ptr<CfbDevice> j;
        if (!e)
            e = fs_->Open(journal_, OpenMode::CreateNew, LockMode::None, j);
        if (!e)
            e = j->WriteAt(0, journal.data(), journal.size());
        if (!e)
            e = j->Sync();
        j.reset();
        if (!e)
            e = fs_->SyncFolderOf(journal_);
        if (e) {
            // The file itself is untouched; an incomplete journal is ignored at the next open.
            fs_->Remove(journal_);
            return FromErrno(e, true);
        }
    }

    int e = WriteRuns(writes, header);
    if (!e) {
        uint64_t size = 0;
        e = device_->Size(&size);
        if (!e && size != newLength)
            e = device_->Truncate(newLength);
    }
    if (!e && !temporary_)
        e = device_->Sync();
    if (e) {
        const HResult failure = FromErrno(e, true);
        if (!temporary_ && Failed(RollBack(*fs_, journal_, *device_)))
            broken_ = true;
        return failure;
    }

    for (auto& [sector, page] : pages_)
        page.dirty = false;
    dirtyEntries_.clear();
    fileLength_ = newLength;
    TakeCommitted();
    modified_ = false;
    if (temporary_)
        return S_OK;
    // The new state is in the file; until the journal is gone for good, a crash still undoes it.
    // If that fails, the next commit (or the release) finishes this one before writing anything.
    finishOwed_ = true;
    return FinishCommit();
}

HResult CompoundFile::FinishCommit() {
    if (fs_->Exists(journal_))
        if (const int e = fs_->Remove(journal_))
            return FromErrno(e, true);
    if (const int e = fs_->SyncFolderOf(journal_))
        return FromErrno(e, true);
    finishOwed_ = false;
    return S_OK;
}

int CompoundFile::WriteRuns(const std::vector<std::pair<uint32_t, const uint8_t*>>& writes,
                            const std::vector<uint8_t>& header) {
    if (const int e = device_->WriteAt(0, header.data(), header.size()))
        return e;
    std::vector<uint8_t> run;
    size_t i = 0;
    while (i < writes.size()) {
        size_t n = 1;
        while (i + n < writes.size() && writes[i + n].first == writes[i].first + n && n < 2048)
            ++n;
        const uint8_t* data = writes[i].second;
        if (n > 1) {
            run.resize(n * sectorSize_);
            for (size_t k = 0; k < n; ++k)
                std::memcpy(run.data() + k * sectorSize_, writes[i + k].second, sectorSize_);
            data = run.data();
        }
        if (const int e = device_->WriteAt(SectorOffset(writes[i].first), data, n * sectorSize_))
            return e;
        i += n;
    }
    return 0;
}

HResult CompoundFile::Revert() {
    if (!device_)
        return STG_E_REVERTED;
    if (!modified_)
        return S_OK;
    return Load(nullptr);
}

void CompoundFile::ReleaseRoot() {
    std::lock_guard lock(mutex_);
    if (device_ && writable_ && !transacted_)
        Commit();
    else if (device_ && finishOwed_)
        FinishCommit();
    Close();
}

void CompoundFile::Close() {
    device_.reset();
    pages_.clear();
    chains_.clear();
}

} // namespace platform::cfb
