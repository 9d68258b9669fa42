#include "tvaluereader.h"

#include "ansicodepage.h"
#include "tvalueerrors.h"
#include "tvaluetags.h"

#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cstring>

namespace platform {

namespace {

const QString kInvalidValue = QStringLiteral("Invalid property value");
const QString kReadError = QStringLiteral("Stream read error");

// Texts are read in pieces of this many bytes, so that memory follows the bytes that arrive
// rather than the length a damaged or hostile stream announces.
constexpr int64_t kChunkBytes = 64 * 1024;

[[noreturn]] void ThrowInvalid() {
    throw EReadError(kInvalidValue);
}
[[noreturn]] void ThrowReadError() {
    throw EReadError(kReadError);
}

} // namespace

int32_t TValueReader::GetInteger() {
    return ReadIntegerAfter(ReadByte());
}

bool TValueReader::GetBoolean() {
    return ReadByte() == tvaluetag::kTrue;
}

double TValueReader::GetDateTime() {
    if (PeekByte() != tvaluetag::kDate)
        return GetInteger();
    ReadByte();
    uint64_t bits = 0;
    ReadBytes(&bits, sizeof bits);
    return std::bit_cast<double>(qFromLittleEndian(bits));
}

QByteArray TValueReader::GetAnsiText() {
    const uint8_t tag = ReadByte();
    switch (tag) {
    case tvaluetag::kString:
        return ReadBytesOfLength(ReadByte());
    case tvaluetag::kLString:
        return ReadBytesOfLength(ReadLength());
    case tvaluetag::kWString:
        return WideToUtf8(ReadUtf16(ReadLength()));
    case tvaluetag::kUtf8String: {
        const QByteArray bytes = ReadBytesOfLength(ReadLength());
        return IsValidUtf8(bytes) ? bytes : WideToUtf8(Utf8ToWide(bytes));
    }
    default:
        ThrowInvalid();
    }
}

QString TValueReader::GetWideText() {
    const uint8_t tag = ReadByte();
    switch (tag) {
    case tvaluetag::kString:
        return AnsiToWide(ReadBytesOfLength(ReadByte()));
    case tvaluetag::kLString:
        return AnsiToWide(ReadBytesOfLength(ReadLength()));
    case tvaluetag::kWString:
        return ReadUtf16(ReadLength());
    case tvaluetag::kUtf8String:
        return Utf8ToWide(ReadBytesOfLength(ReadLength()));
    default:
        ThrowInvalid();
    }
}

void TValueReader::GetListStart() {
    const uint8_t tag = ReadByte();
    if (tag != tvaluetag::kList) {
        SkipValueAfter(tag);
        ThrowInvalid();
    }
}

void TValueReader::GetListEnd() {
    const uint8_t tag = ReadByte();
    if (tag != tvaluetag::kNull) {
        SkipValueAfter(tag);
        ThrowInvalid();
    }
}

bool TValueReader::AtListEnd() {
    return PeekByte() == tvaluetag::kNull;
}

void TValueReader::GetRaw(void* buffer, int32_t count) {
    if (count > 0)
        ReadBytes(buffer, count);
}

void TValueReader::Finish() {
    if (end_ > position_)
        stream_.Seek(position_ - end_, TSeekOrigin::Current);
    position_ = 0;
    end_ = 0;
}

bool TValueReader::Fill() {
    position_ = 0;
    end_ = std::max(stream_.Read(buffer_, kBufferSize), 0);
    return end_ > 0;
}

bool TValueReader::TryReadBytes(void* data, int64_t count) {
    auto* out = static_cast<char*>(data);
    while (count > 0) {
        if (position_ == end_) {
            // Large reads bypass the buffer; the buffer stays empty, so Finish has nothing to
            // give back for them.
            if (count >= kBufferSize) {
                const auto n = static_cast<int32_t>(std::min<int64_t>(count, 1 << 30));
                const int32_t got = stream_.Read(out, n);
                if (got <= 0)
                    return false;
                out += got;
                count -= got;
                continue;
            }
            if (!Fill())
                return false;
        }
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, end_ - position_));
        std::memcpy(out, buffer_ + position_, static_cast<size_t>(n));
        position_ += n;
        out += n;
        count -= n;
    }
    return true;
}

bool TValueReader::TrySkipBytes(int64_t count) {
    while (count > 0) {
        if (position_ == end_ && !Fill())
            return false;
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, end_ - position_));
        position_ += n;
        count -= n;
    }
    return true;
}

bool TValueReader::TryReadByte(uint8_t& byte) {
    if (position_ == end_ && !Fill())
        return false;
    byte = static_cast<uint8_t>(buffer_[position_++]);
    return true;
}

uint8_t TValueReader::ReadByte() {
    uint8_t byte = 0;
    if (!TryReadByte(byte))
        ThrowReadError();
    return byte;
}

uint8_t TValueReader::PeekByte() {
    if (position_ == end_ && !Fill())
        ThrowReadError();
    return static_cast<uint8_t>(buffer_[position_]);
}

void TValueReader::ReadBytes(void* data, int64_t count) {
    if (!TryReadBytes(data, count))
        ThrowReadError();
}

uint32_t TValueReader::ReadUInt32() {
    uint32_t bits = 0;
    ReadBytes(&bits, sizeof bits);
    return qFromLittleEndian(bits);
}

int32_t TValueReader::ReadLength() {
    const auto length = static_cast<int32_t>(ReadUInt32());
    if (length < 0)
        ThrowInvalid();
    return length;
}

int32_t TValueReader::ReadIntegerAfter(uint8_t tag) {
    switch (tag) {
    case tvaluetag::kInt8:
        return static_cast<int8_t>(ReadByte());
    case tvaluetag::kInt16: {
        uint16_t bits = 0;
        ReadBytes(&bits, sizeof bits);
        return static_cast<int16_t>(qFromLittleEndian(bits));
    }
    case tvaluetag::kInt32:
        return static_cast<int32_t>(ReadUInt32());
    default:
        ThrowInvalid();
    }
}

QByteArray TValueReader::ReadBytesOfLength(int64_t length) {
    QByteArray bytes;
    if (length <= kChunkBytes) {
        bytes.resize(length);
        ReadBytes(bytes.data(), length);
        return bytes;
    }
    int64_t done = 0;
    while (done < length) {
        const int64_t n = std::min(length - done, kChunkBytes);
        if (bytes.capacity() < done + n)
            bytes.reserve(std::min(length, std::max<int64_t>(done + n, 2 * bytes.capacity())));
        bytes.resize(done + n);
        ReadBytes(bytes.data() + done, n);
        done += n;
    }
    return bytes;
}

QString TValueReader::ReadUtf16(int32_t units) {
    constexpr int64_t kChunkUnits = kChunkBytes / 2;
    QString text;
    int64_t done = 0;
    while (done < units) {
        const int64_t n = std::min(units - done, kChunkUnits);
        if (text.capacity() < done + n)
            text.reserve(
                std::min<int64_t>(units, std::max<int64_t>(done + n, 2 * text.capacity())));
        text.resize(done + n);
        char16_t* piece = reinterpret_cast<char16_t*>(text.data()) + done;
        ReadBytes(piece, 2 * n);
        qFromLittleEndian<char16_t>(piece, n, piece);
        done += n;
    }
    return text;
}

// Consumes what follows a tag that was not the one expected, a whole list for tag 1. Stops
// without complaint where the stream ends or at a tag it cannot measure: the caller fails
// with "Invalid property value" either way.
void TValueReader::SkipValueAfter(uint8_t tag) {
    int64_t depth = 0;
    for (;;) {
        int64_t payload = 0;
        switch (tag) {
        case tvaluetag::kList:
            ++depth;
            break;
        case tvaluetag::kNull:
            if (depth > 0)
                --depth;
            break;
        case tvaluetag::kFalse:
        case tvaluetag::kTrue:
            break;
        case tvaluetag::kInt8:
            payload = 1;
            break;
        case tvaluetag::kInt16:
            payload = 2;
            break;
        case tvaluetag::kInt32:
            payload = 4;
            break;
        case tvaluetag::kDate:
            payload = 8;
            break;
        case tvaluetag::kString: {
            uint8_t length = 0;
            if (!TryReadByte(length))
                return;
            payload = length;
            break;
        }
        case tvaluetag::kLString:
        case tvaluetag::kUtf8String:
        case tvaluetag::kWString: {
            uint32_t bits = 0;
            if (!TryReadBytes(&bits, sizeof bits))
                return;
            const auto length = static_cast<int32_t>(qFromLittleEndian(bits));
            if (length < 0)
                return;
            payload = tag == tvaluetag::kWString ? 2 * int64_t{length} : length;
            break;
        }
        default:
            return;
        }
        if (!TrySkipBytes(payload) || depth == 0 || !TryReadByte(tag))
            return;
    }
}

} // namespace platform
