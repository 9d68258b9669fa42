#include "platform/tdatetime.h"

#include <cmath>
#include <cstdint>
#include <ctime>

namespace platform {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

constexpr int64_t kEpochFrom1970 = -25569; // 30 December 1899

} // namespace

// Read straight from the C library's local time: loading a large index stamps every entry, and
// going through QDateTime's time zone machinery costs ten times as much.
TDateTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    const int64_t days =
        DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) -
        kEpochFrom1970;
    const double ms = ((local.tm_hour * 60.0 + local.tm_min) * 60.0 + local.tm_sec) * 1000.0 +
                      static_cast<double>(now.tv_nsec / 1000000);
    return static_cast<double>(days) + ms / kMsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    return FromQDateTime(
        QDateTime(QDate(year, month, day), QTime(hour, minute, second, millisecond)));
}

QDateTime ToQDateTime(TDateTime value) {
    // Beyond the years 1 to 9999 (NaN included) no calendar date stands for the value.
    if (!(value > -693594.0 && value < 2958466.0))
        return {};
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    auto ms = static_cast<qint64>(std::llround(fraction * kMsPerDay));
    qint64 days = static_cast<qint64>(whole);
    if (ms >= static_cast<qint64>(kMsPerDay)) {
        // Rounding reached the next midnight.
        ms = 0;
        days += value < 0 ? -1 : 1;
    }
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

TDateTime FromQDateTime(const QDateTime& value) {
    const double days = static_cast<double>(kEpoch.daysTo(value.date()));
    const double fraction = value.time().msecsSinceStartOfDay() / kMsPerDay;
    return days < 0 ? days - fraction : days + fraction;
}

} // namespace platform
