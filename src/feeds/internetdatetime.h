#pragma once

#include "platform/tdatetime.h"

#include <QByteArrayView>

namespace feeds {

// The machine's offset from UTC in force now: local time = UTC + offset when Positive.
struct TUtcOffset {
    bool Positive = true;
    int Hours = 0;
    int Minutes = 0;

    bool operator==(const TUtcOffset&) const = default;
};

// From the system time zone: the standard offset, plus the daylight offset when daylight time is
// in force now. The sign is that of the standard offset (zero counts as positive).
TUtcOffset LocalUtcOffset();

// RFC 822 dates of RSS ("Tue, 05 Apr 2005 14:03:09 +0200") and ISO 8601 / W3C dates of Atom and
// Dublin Core ("2005-04-05T14:03:09Z"), converted to local time with the offset in force at the
// moment of the call, whatever the date. Never fails: text that does not fit, or gives an
// impossible date or time, yields the current local time. Callers trim the text.
platform::TDateTime ParseRfc822DateTime(QByteArrayView text);
platform::TDateTime ParseIso8601DateTime(QByteArrayView text);

// The same with the local offset given, for a caller that converts many dates at one moment.
platform::TDateTime ParseRfc822DateTime(QByteArrayView text, const TUtcOffset& local);
platform::TDateTime ParseIso8601DateTime(QByteArrayView text, const TUtcOffset& local);

} // namespace feeds
