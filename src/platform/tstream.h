#pragma once

#include <QByteArray>
#include <cstdint>

namespace platform {

enum class TSeekOrigin { Beginning = 0, Current = 1, End = 2 };

// An abstract byte stream. Read and Write answer the number of bytes moved (0 on failure or at
// the end), Seek the new position or -1; none of them raises.
class TStream {
public:
    virtual ~TStream() = default;
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(int64_t size) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    int64_t Size();
};

// A stream over a growable block of memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(QByteArray data) : data_(std::move(data)) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;

    const QByteArray& Data() const { return data_; }

private:
    QByteArray data_;
    int64_t position_ = 0;
};

} // namespace platform
