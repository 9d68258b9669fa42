#pragma once

#include "platform/tstream.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <string>

namespace testsupport {

// A device that hands out at most three bytes per read, as a pipe or a slow medium may.
class TTrickleStream : public platform::TStream {
public:
    explicit TTrickleStream(QByteArray data) : inner_(std::move(data)) {}
    int32_t Read(void* buffer, int32_t count) override {
        return inner_.Read(buffer, std::min(count, 3));
    }
    int32_t Write(const void* buffer, int32_t count) override {
        return inner_.Write(buffer, count);
    }
    int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override {
        return inner_.Seek(offset, origin);
    }
    void SetSize(int64_t size) override { inner_.SetSize(size); }

private:
    platform::TMemoryStream inner_;
};

inline QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

inline std::string ToHex(const QByteArray& bytes) {
    return bytes.toHex(' ').toStdString();
}

} // namespace testsupport
