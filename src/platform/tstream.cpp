#include "tstream.h"

#include <algorithm>
#include <cstring>

namespace platform {

int64_t TStream::Size() {
    const int64_t here = Position();
    const int64_t end = Seek(0, TSeekOrigin::End);
    Seek(here, TSeekOrigin::Beginning);
    return end;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || position_ >= data_.size())
        return 0;
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, data_.size() - position_));
    std::memcpy(buffer, data_.constData() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0)
        return 0;
    const int64_t end = position_ + count;
    if (end > data_.size())
        data_.resize(end, '\0');
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::Current)
        base = position_;
    else if (origin == TSeekOrigin::End)
        base = data_.size();
    const int64_t target = base + offset;
    if (target < 0)
        return -1;
    position_ = target;
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    if (size < 0)
        return;
    data_.resize(size, '\0');
    position_ = std::min(position_, size);
}

} // namespace platform
