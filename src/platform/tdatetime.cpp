#include "platform/tdatetime.h"

#include <cmath>

namespace platform {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

} // namespace

TDateTime Now() {
    return FromQDateTime(QDateTime::currentDateTime());
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    return FromQDateTime(
        QDateTime(QDate(year, month, day), QTime(hour, minute, second, millisecond)));
}

QDateTime ToQDateTime(TDateTime value) {
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
