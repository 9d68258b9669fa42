#include "support/scopedtimezone.h"

#include <cstdlib>
#include <ctime>

namespace testsupport {

ScopedTimeZone::ScopedTimeZone(const char* zone) {
    if (const char* value = std::getenv("TZ"))
        previous_ = QByteArray(value);
    setenv("TZ", zone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (previous_)
        setenv("TZ", previous_->constData(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace testsupport
