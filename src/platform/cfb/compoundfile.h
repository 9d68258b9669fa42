#pragma once

#include "platform/cfb/cfbdevice.h"
#include "platform/cfb/cfbresult.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform::cfb {

struct StatStg {
    std::u16string name;
    uint32_t type = 0; // STGTY_STORAGE or STGTY_STREAM
    uint64_t size = 0;
};

// What a full structural check found; see CompoundFile::Check.
struct CheckReport {
    std::vector<std::string> errors;   // the file cannot be trusted
    std::vector<std::string> problems; // readable, but space is lost (leaks, orphans)
    uint32_t sectors = 0;
    uint32_t entries = 0;
    bool Clean() const { return errors.empty() && problems.empty(); }
};

struct EngineOptions {
    CfbFileSystem* fileSystem = nullptr; // the operating system's when none
};

namespace detail {

// An element name held in place: directories hold up to millions of them, and opening a file
// must not cost an allocation per entry.
class ShortName {
public:
    ShortName() = default;
    ShortName(std::u16string_view text) { *this = text; }
    ShortName& operator=(std::u16string_view text) {
        length_ = static_cast<uint8_t>(std::min<size_t>(text.size(), kCapacity));
        std::copy_n(text.data(), length_, units_);
        return *this;
    }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    void resize(size_t n) { length_ = static_cast<uint8_t>(std::min<size_t>(n, kCapacity)); }
    char16_t& operator[](size_t i) { return units_[i]; }
    char16_t operator[](size_t i) const { return units_[i]; }
    char16_t* begin() { return units_; }
    char16_t* end() { return units_ + length_; }
    std::u16string_view view() const { return {units_, length_}; }
    operator std::u16string_view() const { return view(); }
    std::u16string str() const { return std::u16string(view()); }

private:
    static constexpr size_t kCapacity = 32;
    char16_t units_[kCapacity] = {};
    uint8_t length_ = 0;
};

struct Entry {
    ShortName name;
    uint8_t type = 0;
    uint8_t colour = 1;
    uint32_t left = 0xFFFFFFFF;
    uint32_t right = 0xFFFFFFFF;
    uint32_t child = 0xFFFFFFFF;
    uint8_t clsid[16] = {};
    uint32_t state = 0;
    uint64_t created = 0;
    uint64_t modified = 0;
    uint32_t start = 0xFFFFFFFE;
    uint64_t size = 0;
};

struct Page {
    std::unique_ptr<uint8_t[]> data;
    bool dirty = false;
};

// The sectors (or mini sectors) of one stream, in order.
struct Chain {
    std::vector<uint32_t> units;
    bool mini = true;
};

} // namespace detail

// One open compound file: its header, allocation tables and directory in memory, stream data
// read on demand and changed sectors held until Commit. Commit is atomic and durable: a rollback
// journal beside the file ("<file>-journal") keeps the committed bytes of every sector about to
// be overwritten, and opening a file with such a journal restores the committed state first.
//
// Element handles (Storage, Stream) share ownership of this object; every call is serialised by
// an internal mutex, so handles may be used from several threads.
class CompoundFile {
public:
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // path empty: a temporary file that is deleted when the file is released.
    static HResult Create(const std::string& path, bool replace, bool transacted,
                          const EngineOptions& options, std::shared_ptr<CompoundFile>& out);
    static HResult Open(const std::string& path, bool writable, bool exclusive, bool transacted,
                        const EngineOptions& options, std::shared_ptr<CompoundFile>& out);
    // S_OK for a compound file, S_FALSE for another file, an error when it cannot be read.
    static HResult IsCompoundFile(const std::string& path, const EngineOptions& options);
    // Restores the committed state when a journal shows an interrupted commit.
    static HResult Recover(const std::string& path, CfbFileSystem& fs);
    // Opens the file read-only (after recovery) and checks every chain and entry.
    static HResult Check(const std::string& path, const EngineOptions& options,
                         CheckReport& report);

    static constexpr uint32_t kRoot = 0;

    std::mutex& Mutex() { return mutex_; }
    bool Writable() const { return writable_; }
    bool Transacted() const { return transacted_; }

    // Element operations; sid = directory entry index. The caller holds Mutex().
    HResult Find(uint32_t parent, const std::u16string& name, uint32_t& sid) const;
    uint8_t TypeOf(uint32_t sid) const;
    HResult CreateElement(uint32_t parent, const std::u16string& name, uint8_t type, bool replace,
                          uint32_t& sid);
    HResult DestroyElement(uint32_t parent, const std::u16string& name);
    HResult MoveElement(uint32_t parent, const std::u16string& name, CompoundFile& destFile,
                        uint32_t destParent, const std::u16string& newName, bool copy);
    HResult Enumerate(uint32_t parent, std::vector<StatStg>& out) const;
    HResult Stat(uint32_t sid, StatStg& out) const;

    // Open-element bookkeeping: an element is open at most once.
    bool IsOpen(uint32_t sid) const { return open_.count(sid) != 0; }
    void MarkOpen(uint32_t sid) { open_.insert(sid); }
    void MarkClosed(uint32_t sid) {
        open_.erase(sid);
        chains_.erase(sid);
    }

    uint64_t StreamSize(uint32_t sid) const;
    HResult ReadStream(uint32_t sid, uint64_t pos, void* buffer, uint32_t n, uint32_t& done);
    HResult WriteStream(uint32_t sid, uint64_t pos, const void* buffer, uint32_t n, uint32_t& done);
    HResult SetStreamSize(uint32_t sid, uint64_t size);

    HResult Commit();
    // Drops every change since the last commit.
    HResult Revert();
    // Called when the root handle goes away: commits (direct mode) and closes the file.
    void ReleaseRoot();

private:
    using Entry = detail::Entry;
    using Page = detail::Page;
    using Chain = detail::Chain;
    using Writes = std::vector<std::pair<uint32_t, const uint8_t*>>;

    CompoundFile();
    void InitEmpty();
    HResult Usable(bool write) const;

    // Loading and validation.
    HResult Load(CheckReport* report);
    HResult LoadTrees(CheckReport* report);
    HResult ValidateStreams(std::vector<uint8_t>& owner, CheckReport* report);
    HResult WalkChain(uint32_t start, const std::vector<uint32_t>& table, uint32_t valid,
                      uint64_t expected, std::vector<uint8_t>* owner, std::vector<uint32_t>* chain,
                      const std::function<std::string()>& describe, CheckReport* report) const;
    size_t DepthLimit() const;
    void TakeCommitted();

    // Sector I/O.
    uint64_t SectorOffset(uint32_t sector) const;
    HResult ReadRaw(uint64_t offset, void* buffer, size_t n) const;
    HResult ReadSectors(const std::vector<uint32_t>& sectors, std::vector<uint8_t>& out) const;
    HResult PageFor(uint32_t sector, bool forWrite, Page*& page);
    void TrimCleanPages();

    // Allocation.
    HResult AllocSector(bool withPage, uint32_t& sector);
    void EnsureFatCoversSectors();
    void FreeSector(uint32_t sector);
    HResult AllocMiniSector(uint32_t& mini);
    void FreeMiniSector(uint32_t mini);
    static size_t GrowthStep(size_t sectors);
    HResult AllocEntry(uint32_t& sid);
    void ResetEntry(uint32_t sid);
    void MarkDirty(uint32_t sid);

    // Stream data.
    Chain& ChainOf(uint32_t sid);
    HResult ReadUnits(const std::vector<uint32_t>& units, bool mini, uint64_t pos, void* buffer,
                      size_t n);
    HResult ReadAhead(const std::vector<uint32_t>& units, size_t index);
    HResult WriteUnits(const std::vector<uint32_t>& units, bool mini, uint64_t pos,
                       const void* buffer, size_t n);
    HResult ResizeUnits(uint32_t sid, Chain& chain, uint64_t newSize);
    HResult ZeroRange(const Chain& chain, uint64_t from, uint64_t to);

    // Sibling trees.
    void SetLink(uint32_t node, bool left, uint32_t value);
    void SetColour(uint32_t node, uint8_t colour);
    void SetTop(uint32_t parent, uint32_t node);
    void Relink(uint32_t parent, uint32_t above, uint32_t old, uint32_t node);
    void InsertChild(uint32_t parent, uint32_t sid);
    void RemoveChild(uint32_t parent, uint32_t sid);
    void Children(uint32_t parent, std::vector<uint32_t>& out) const;
    void RebuildTree(uint32_t parent);
    uint32_t BuildBalanced(const std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth,
                           int redDepth);
    bool IsAncestor(uint32_t ancestor, uint32_t sid) const;
    bool SubtreeOpen(uint32_t sid) const;
    HResult CopySubtree(uint32_t srcSid, CompoundFile& dest, uint32_t destParent,
                        const std::u16string& name);

    // Commit.
    void SerializeHeader(std::vector<uint8_t>& out) const;
    void SerializeEntry(uint32_t sid, uint8_t* out) const;
    int WriteRuns(const Writes& writes, const std::vector<uint8_t>& header);
    HResult FinishCommit();
    static HResult RollBack(CfbFileSystem& fs, const std::string& journal, CfbDevice& device);
    void Close();

    mutable std::mutex mutex_;
    CfbFileSystem* fs_ = nullptr;
    std::unique_ptr<CfbDevice> device_;
    std::string path_;
    std::string journal_;
    bool writable_ = false;
    bool transacted_ = false;
    bool temporary_ = false;
    bool broken_ = false;     // a commit failed and could not be undone: refuse further writes
    bool finishOwed_ = false; // the last commit is written, its journal not yet removed for good
    bool modified_ = false;

    uint32_t sectorShift_ = 9;
    uint32_t sectorSize_ = 512;
    uint16_t majorVersion_ = 3;
    uint32_t transactionSignature_ = 0;
    uint64_t fileLength_ = 0; // bytes on disk at the last commit
    uint32_t numSectors_ = 0; // sectors in the file, appended ones included
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> fatSectors_;   // in table order
    std::vector<uint32_t> difatSectors_; // in chain order
    std::vector<uint32_t> miniFat_;
    std::vector<uint32_t> miniFatChain_;
    std::vector<uint32_t> dirChain_;
    std::vector<uint32_t> miniStreamChain_;
    std::vector<Entry> entries_;
    std::vector<uint32_t> parentOf_;
    std::unordered_set<uint32_t> dirtyEntries_;
    std::unordered_set<uint32_t> rebuildOnWrite_;
    std::unordered_map<uint32_t, Page> pages_;
    std::unordered_map<uint32_t, Chain> chains_;
    std::unordered_set<uint32_t> open_;
    std::vector<uint8_t> window_; // committed bytes of sectors windowFirst_ and following
    uint32_t windowFirst_ = 0;
    uint32_t windowCount_ = 0;
    uint32_t freeSectorHint_ = 0;
    uint32_t freeMiniHint_ = 0;
    uint32_t freeEntryHint_ = 0;

    // The state of the last commit: which sectors it uses, and the tables as written.
    uint32_t committedSectors_ = 0;
    std::vector<uint32_t> committedFat_;
    std::vector<uint32_t> committedMiniFat_;
    std::vector<uint32_t> committedFatSectors_;
    std::vector<uint32_t> committedDifatSectors_;
    std::vector<uint32_t> committedMiniFatChain_;
};

} // namespace platform::cfb
