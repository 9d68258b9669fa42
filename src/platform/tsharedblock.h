#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace platform {

// The block through which a second instance hands a URL to the running one: 4096 bytes of POSIX
// shared memory; at offset 0 the length N (unsigned 32-bit, little-endian, 0 = nothing pending),
// at offset 4 the N bytes of the URL, then a zero byte.
//
// The block lives while some process has it open, like the system's named mappings: each
// process holds a shared flock on it; the one that finds itself alone when it opens the block
// (an exclusive lock succeeds) counts as its creator and clears it, and the last to close it
// removes the name. A block left behind by a killed process is therefore cleared by the next
// one that opens it.
class TSharedBlock {
public:
    static constexpr size_t kSize = 4096;
    static constexpr size_t kLengthSize = 4;
    // Room for the text between the length and the zero byte.
    static constexpr size_t kMaxUrl = kSize - kLengthSize - 1;

    // Opens or creates the block called name ("/" and a name without further slashes). When it
    // can be neither, the object is not Valid and reads as empty.
    explicit TSharedBlock(const QByteArray& name);
    ~TSharedBlock();
    TSharedBlock(const TSharedBlock&) = delete;
    TSharedBlock& operator=(const TSharedBlock&) = delete;

    bool Valid() const { return view_ != nullptr; }
    // Whether this object created the block (and so cleared it).
    bool Created() const { return created_; }

    // The pending URL; empty when nothing is pending and when the length field is larger than
    // the block can hold (a damaged block is not read past its end).
    QByteArray ReadUrl() const;
    // Stores url cut to fit (see Fit) and returns what was stored; an empty url writes length 0.
    QByteArray WriteUrl(const QByteArray& url);

    // The raw 4096 bytes of the mapping; null when not Valid.
    unsigned char* Data() { return view_; }
    const unsigned char* Data() const { return view_; }

    // url cut to at most kMaxUrl bytes, never inside a UTF-8 sequence.
    static QByteArray Fit(const QByteArray& url);

private:
    QByteArray name_;
    int fd_ = -1;
    unsigned char* view_ = nullptr;
    bool created_ = false;
};

} // namespace platform
