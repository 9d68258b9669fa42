#pragma once

#include <QDateTime>

namespace platform {

// A date and time as the document stores it: local time in days since 30 December 1899 00:00,
// the fraction being the time of day (an OLE Automation date). Before that day the whole part
// counts backwards while the fraction still counts forwards from midnight.
using TDateTime = double;

// The current local time.
TDateTime Now();

// A local date and time given by its parts; no check beyond what QDate and QTime accept.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);

// Both directions read the local wall clock, without any time zone conversion. A value outside
// the years 1 to 9999 gives an invalid QDateTime.
QDateTime ToQDateTime(TDateTime value);
TDateTime FromQDateTime(const QDateTime& value);

} // namespace platform
