#include "tvaluewriter.h"

#include "ansicodepage.h"
#include "tvalueerrors.h"
#include "tvaluetags.h"

#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace platform {

namespace {

const QString kWriteError = QStringLiteral("Stream write error");

bool HasHighByte(const QByteArray& bytes) {
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
}

} // namespace

TValueWriter::~TValueWriter() {
    try {
        Flush();
    } catch (const EWriteError&) {
        // A destructor cannot report; Finish is the way to learn about the failure.
    }
}

void TValueWriter::PutInteger(int32_t value) {
    if (value >= -128 && value <= 127) {
        WriteByte(tvaluetag::kInt8);
        WriteByte(static_cast<uint8_t>(value));
    } else if (value >= -32768 && value <= 32767) {
        WriteByte(tvaluetag::kInt16);
        const auto bits = static_cast<uint16_t>(value);
        WriteByte(static_cast<uint8_t>(bits));
        WriteByte(static_cast<uint8_t>(bits >> 8));
    } else {
        WriteByte(tvaluetag::kInt32);
        WriteUInt32(static_cast<uint32_t>(value));
    }
}

void TValueWriter::PutBoolean(bool value) {
    WriteByte(value ? tvaluetag::kTrue : tvaluetag::kFalse);
}

void TValueWriter::PutDateTime(double value) {
    WriteByte(tvaluetag::kDate);
    const auto bits = qToLittleEndian(std::bit_cast<uint64_t>(value));
    WriteBytes(&bits, sizeof bits);
}

void TValueWriter::PutAnsiText(const QByteArray& text) {
    if (HasHighByte(text)) {
        const QByteArray utf8 = AnsiToUtf8(text);
        WriteByte(tvaluetag::kUtf8String);
        WriteLength(utf8.size());
        WriteBytes(utf8.constData(), utf8.size());
    } else if (text.size() <= 255) {
        WriteByte(tvaluetag::kString);
        WriteByte(static_cast<uint8_t>(text.size()));
        WriteBytes(text.constData(), text.size());
    } else {
        WriteByte(tvaluetag::kLString);
        WriteLength(text.size());
        WriteBytes(text.constData(), text.size());
    }
}

void TValueWriter::PutWideText(const QString& text) {
    const QByteArray utf8 = WideToUtf8(text);
    if (utf8.size() < 2 * text.size()) {
        // Valid UTF-8 converts to itself, so this is tag 20 unless the text is plain ASCII.
        PutAnsiText(utf8);
        return;
    }
    WriteByte(tvaluetag::kWString);
    WriteLength(text.size());
    for (const QChar unit : text) {
        const uint16_t code = unit.unicode();
        WriteByte(static_cast<uint8_t>(code));
        WriteByte(static_cast<uint8_t>(code >> 8));
    }
}

void TValueWriter::PutListStart() {
    WriteByte(tvaluetag::kList);
}

void TValueWriter::PutListEnd() {
    WriteByte(tvaluetag::kNull);
}

void TValueWriter::PutRaw(const void* buffer, int32_t count) {
    if (count > 0)
        WriteBytes(buffer, count);
}

void TValueWriter::Finish() {
    Flush();
}

void TValueWriter::WriteBytes(const void* data, int64_t count) {
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, kBufferSize - used_));
        std::memcpy(buffer_ + used_, bytes, static_cast<size_t>(n));
        used_ += n;
        bytes += n;
        count -= n;
        if (used_ == kBufferSize)
            Flush();
    }
}

void TValueWriter::WriteByte(uint8_t byte) {
    buffer_[used_++] = static_cast<char>(byte);
    if (used_ == kBufferSize)
        Flush();
}

void TValueWriter::WriteUInt32(uint32_t value) {
    const uint32_t bits = qToLittleEndian(value);
    WriteBytes(&bits, sizeof bits);
}

void TValueWriter::WriteLength(qsizetype length) {
    // The format has no room for longer texts; no stream of ours could take them either.
    if (length > std::numeric_limits<int32_t>::max())
        throw EWriteError(kWriteError);
    WriteUInt32(static_cast<uint32_t>(length));
}

void TValueWriter::Flush() {
    if (used_ == 0)
        return;
    const int32_t count = used_;
    used_ = 0;
    if (stream_.Write(buffer_, count) != count)
        throw EWriteError(kWriteError);
}

} // namespace platform
