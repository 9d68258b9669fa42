#pragma once

#include "platform/tstream.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace platform {

// Writes values in the tagged value encoding to a stream it does not own. Bytes collect in a
// 1024-byte buffer that is emptied into the stream when it is full and by Finish; the destructor
// finishes too. Every Put and Finish raise EWriteError ("Stream write error") when the stream
// accepts fewer bytes than it is given; the bytes of that buffer are then dropped. The
// destructor never raises: a failure there goes unreported, so callers that need to know call
// Finish first. Not thread-safe.
class TValueWriter {
public:
    explicit TValueWriter(TStream& stream) : stream_(stream) {}
    ~TValueWriter();
    TValueWriter(const TValueWriter&) = delete;
    TValueWriter& operator=(const TValueWriter&) = delete;

    // The shortest of tags 2, 3 and 4 that holds the value.
    void PutInteger(int32_t value);
    void PutBoolean(bool value);
    // An OLE Automation date: days since 30 December 1899, local time.
    void PutDateTime(double value);
    // 8-bit text (the program's code page is UTF-8): tag 6 or 12 when every byte is below 0x80,
    // else tag 20 with the text as UTF-8 (bytes that are not valid UTF-8 count as Windows-1252).
    void PutAnsiText(const QByteArray& text);
    // The 8-bit rule with the UTF-8 form when that is shorter than the UTF-16 form, else tag 18.
    // Unpaired surrogates become U+FFFD in the UTF-8 form and stay as they are in tag 18.
    void PutWideText(const QString& text);
    void PutListStart();
    void PutListEnd();
    // The bytes as they are, without a tag. A count of 0 or less writes nothing.
    void PutRaw(const void* buffer, int32_t count);

    // Empties the buffer into the stream. The writer can be used again afterwards.
    void Finish();

private:
    static constexpr int32_t kBufferSize = 1024;

    void WriteBytes(const void* data, int64_t count);
    void WriteByte(uint8_t byte);
    void WriteUInt32(uint32_t value);
    void WriteLength(qsizetype length);
    void Flush();

    TStream& stream_;
    int32_t used_ = 0;
    char buffer_[kBufferSize];
};

} // namespace platform
