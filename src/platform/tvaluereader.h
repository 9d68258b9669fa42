#pragma once

#include "platform/tstream.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace platform {

// Reads values in the tagged value encoding from a stream it does not own, through a 1024-byte
// buffer. Failures raise EReadError: "Invalid property value" when the next value is not of the
// kind asked for, "Stream read error" when the stream ends first; the position after a failure
// is unspecified and the caller stops reading. Lengths come from the input and are not trusted:
// texts grow as their bytes arrive, so a huge length in a short stream costs no more memory than
// the stream holds. Finish (and the destructor) moves the stream back over the bytes buffered
// but not used, so that the stream stands just after the last value read. Not thread-safe.
class TValueReader {
public:
    explicit TValueReader(TStream& stream) : stream_(stream) {}
    ~TValueReader() { Finish(); }
    TValueReader(const TValueReader&) = delete;
    TValueReader& operator=(const TValueReader&) = delete;

    // Tag 2, 3 or 4, sign-extended.
    int32_t GetInteger();
    // One byte of any value: 9 is true, everything else false.
    bool GetBoolean();
    // Tag 17, or an integer taken as a whole number of days.
    double GetDateTime();
    // Tags 6 and 12 as they are; tags 18 and 20 as UTF-8 (invalid units become U+FFFD).
    QByteArray GetAnsiText();
    // Tags 6 and 12 from the 8-bit code page (UTF-8, or Windows-1252 when not valid UTF-8),
    // tag 18 as its units, tag 20 from UTF-8 (invalid sequences become U+FFFD).
    QString GetWideText();
    // The tag must be 1 (respectively 0); otherwise the value is skipped and the read fails.
    void GetListStart();
    void GetListEnd();
    // Whether the next byte is 0, without consuming it.
    bool AtListEnd();
    // The bytes as they are, without a tag. A count of 0 or less reads nothing.
    void GetRaw(void* buffer, int32_t count);

    // Gives the unused buffered bytes back to the stream. Reading can go on afterwards.
    void Finish();

private:
    static constexpr int32_t kBufferSize = 1024;

    bool Fill();
    bool TryReadBytes(void* data, int64_t count);
    bool TrySkipBytes(int64_t count);
    bool TryReadByte(uint8_t& byte);
    uint8_t ReadByte();
    uint8_t PeekByte();
    void ReadBytes(void* data, int64_t count);
    uint32_t ReadUInt32();
    int32_t ReadLength();
    int32_t ReadIntegerAfter(uint8_t tag);
    QByteArray ReadBytesOfLength(int64_t length);
    QString ReadUtf16(int32_t units);
    void SkipValueAfter(uint8_t tag);

    TStream& stream_;
    int32_t position_ = 0;
    int32_t end_ = 0;
    char buffer_[kBufferSize];
};

} // namespace platform
