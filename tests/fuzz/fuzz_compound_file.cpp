// Feeds arbitrary bytes to the compound-file engine as a file on disk.
//
// Each input is written to one file (the same path every time), opened for reading and writing,
// walked completely (every storage enumerated and opened, every stream read to its end), then
// changed: a stream is created, written across the mini stream cutoff and cut back, an element
// is destroyed, another stream resized, a storage made; the file is committed and released.
//
// Checks beyond "no crash, no hang, no leak":
// - a file the engine opens reads without an error and never yields more bytes than its size;
// - its changes commit, and the committed file opens again with no structural error, holding
//   exactly what was written (the new stream's bytes, the resized size, the destroyed element
//   gone), and no journal is left beside it.
//
// Seeds (tests/data/compound_file/) are small files made by cfb-verify from tiny folders: with gsf
// (--create), and with its own writer as version 3, version 4 and with a list-shaped tree.
//
// The file lives in /dev/shm when there is one: commits sync, and syncs on a disk would make
// each run take milliseconds.

#include "platform/cfb/cfbname.h"
#include "platform/cfb/cfbstorage.h"
#include "platform/cfb/compoundfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace platform::cfb;

namespace {

constexpr uint32_t kRW = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kCreate = kRW | STGM_CREATE;
constexpr int kMaxDepth = 256;
const std::u16string kOurs = u"fuzz\x01stream";
const std::u16string kOurStorage = u"fuzz\x01storage";

// A failed check names itself before aborting, so a reproducer shows what went wrong.
#define Require(condition)                                                                         \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz_compound_file:%d: check failed: %s\n", __LINE__,            \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// An element of the input that our own names would replace is left out of the changes.
bool ClashesWithOurs(const std::u16string& name) {
    return CompareKeys(NameKey(name), NameKey(kOurs)) == 0 ||
           CompareKeys(NameKey(name), NameKey(kOurStorage)) == 0;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

struct Place {
    std::string folder;
    std::string file;
    ~Place() {
        for (const char* suffix : {"", "-journal", "-new"})
            ::unlink((file + suffix).c_str());
        ::rmdir(folder.c_str());
    }
};

const Place& ThePlace() {
    static const Place place = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string base =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
        std::string pattern = base + "/fuzz_compound_file-XXXXXX";
        Require(::mkdtemp(pattern.data()) != nullptr);
        return Place{pattern, pattern + "/input.cfb"};
    }();
    return place;
}

// Reads a stream to its end; false on a failing call or more bytes than its size.
bool ReadFully(Stream& stream, std::string* out) {
    StatStg st;
    if (Failed(stream.Stat(st)))
        return false;
    char buffer[4096];
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (Failed(stream.Read(buffer, sizeof buffer, &got)))
            return false;
        if (got == 0)
            break;
        total += got;
        if (got > sizeof buffer || total > st.size)
            return false;
        if (out)
            out->append(buffer, got);
    }
    return total == st.size;
}

// Enumerates, opens and reads everything below a storage.
bool Walk(Storage& storage, int depth) {
    if (depth > kMaxDepth)
        return true; // deeper than any file of the sizes fed here can nest
    std::vector<StatStg> list;
    if (Failed(storage.EnumElements(list)))
        return false;
    for (const StatStg& st : list) {
        if (st.type == STGTY_STORAGE) {
            std::unique_ptr<Storage> child;
            if (Failed(storage.OpenStorage(st.name, kRead, child)) || !Walk(*child, depth + 1))
                return false;
        } else {
            std::unique_ptr<Stream> stream;
            if (Failed(storage.OpenStream(st.name, kRead, stream)) || !ReadFully(*stream, nullptr))
                return false;
        }
    }
    return true;
}

std::string Bytes(size_t n, uint8_t seed) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(seed + i * 131);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Place& place = ThePlace();
    const std::string& path = place.file;
    ::unlink((path + "-journal").c_str());
    ::unlink((path + "-new").c_str());
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        Require(f != nullptr);
        Require(size == 0 || std::fwrite(data, 1, size, f) == size);
        Require(std::fclose(f) == 0);
    }

    // Parameters of the changes come from the input's last bytes.
    const uint8_t a = size > 0 ? data[size - 1] : 0;
    const uint8_t b = size > 1 ? data[size - 2] : 0;
    const size_t written = 1 + (size_t{a} * 37 + b) % 9000; // either side of the cutoff
    const size_t kept = written * (b % 4) / 4;
    const uint64_t resized = (b & 1) ? 0 : size_t{a} * 70;
    const std::string ours = Bytes(written, a);

    std::u16string destroyed;
    std::u16string resizedName;
    {
        std::unique_ptr<Storage> root;
        if (Failed(StgOpenStorage(path, kRW, root)))
            return 0;
        Require(Walk(*root, 0));

        std::unique_ptr<Stream> stream;
        Require(Succeeded(root->CreateStream(kOurs, kCreate, stream)));
        uint32_t n = 0;
        Require(Succeeded(stream->Write(ours.data(), static_cast<uint32_t>(ours.size()), &n)));
        Require(n == ours.size());
        Require(Succeeded(stream->SetSize(kept)));
        stream.reset();

        std::vector<StatStg> list;
        Require(Succeeded(root->EnumElements(list)));
        for (const StatStg& st : list) {
            if (ClashesWithOurs(st.name))
                continue;
            if (destroyed.empty()) {
                destroyed = st.name;
                Require(Succeeded(root->DestroyElement(st.name)));
            } else if (st.type == STGTY_STREAM && resizedName.empty()) {
                resizedName = st.name;
                std::unique_ptr<Stream> other;
                Require(Succeeded(root->OpenStream(st.name, kRW, other)));
                Require(Succeeded(other->SetSize(resized)));
            }
        }
        std::unique_ptr<Storage> made;
        Require(Succeeded(root->CreateStorage(kOurStorage, kCreate, made)));
        Require(Succeeded(made->CreateStream(u"inner", kCreate, stream)));
        Require(Succeeded(stream->Write(ours.data(), static_cast<uint32_t>(ours.size() / 2), &n)));
        stream.reset();
        made.reset();
        Require(Succeeded(root->Commit(STGC_DEFAULT)));
    }
    Require(!Exists(path + "-journal"));

    CheckReport report;
    const HResult checked = CompoundFile::Check(path, {}, report);
    for (const std::string& e : report.errors)
        std::fprintf(stderr, "fuzz_compound_file: after the commit: %s\n", e.c_str());
    Require(Succeeded(checked) && report.errors.empty());

    std::unique_ptr<Storage> root;
    Require(Succeeded(StgOpenStorage(path, STGM_READ | STGM_SHARE_DENY_WRITE, root)));
    Require(Walk(*root, 0));
    std::unique_ptr<Stream> stream;
    Require(Succeeded(root->OpenStream(kOurs, kRead, stream)));
    std::string back;
    Require(ReadFully(*stream, &back));
    Require(back == ours.substr(0, kept));
    stream.reset();
    if (!destroyed.empty()) {
        std::vector<StatStg> list;
        Require(Succeeded(root->EnumElements(list)));
        for (const StatStg& st : list)
            Require(st.name != destroyed);
    }
    if (!resizedName.empty()) {
        Require(Succeeded(root->OpenStream(resizedName, kRead, stream)));
        StatStg st;
        Require(Succeeded(stream->Stat(st)));
        Require(st.size == resized);
    }
    return 0;
}
