#pragma once

#include <QByteArray>

#include <optional>

namespace testsupport {

// Sets TZ for the process while it lives and puts back the value it found (or no TZ). The C
// library reads TZ again (tzset); QTimeZone::systemTimeZone() reads it on every call.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<QByteArray> previous_;
};

} // namespace testsupport
