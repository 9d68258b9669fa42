#include "feeds/internetdatetime.h"

#include "support/scopedtimezone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using feeds::LocalUtcOffset;
using feeds::ParseIso8601DateTime;
using feeds::ParseRfc822DateTime;
using feeds::TUtcOffset;
using testsupport::ScopedTimeZone;

namespace {

// Zones with fixed rules, so that the results do not depend on the day the tests run. The POSIX
// rules with daylight time from 1 January to the end of the year keep it in force all year.
constexpr char kPlusOne[] = "Africa/Lagos"; // UTC+1, no daylight time
constexpr char kUtc[] = "UTC";
constexpr char kBaseZeroInSummer[] = "GMT0BST,J1/0,J365/25";
constexpr char kEasternInSummer[] = "EST5EDT,J1/0,J365/25";
constexpr char kIndia[] = "Asia/Kolkata";
constexpr char kNewfoundlandWinter[] = "NST3:30";

// Marks a row whose text gives the current time.
constexpr char kNow[] = "now";

struct DateCase {
    const char* zone;
    const char* text;
    const char* expected; // local "yyyy-MM-dd HH:mm:ss", or kNow
};

std::string Local(platform::TDateTime value) {
    return platform::ToQDateTime(value)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .toStdString();
}

void Check(const DateCase& row, platform::TDateTime (*parse)(QByteArrayView)) {
    SCOPED_TRACE(std::string(row.zone) + " | " + row.text);
    const ScopedTimeZone zone(row.zone);
    const platform::TDateTime before = platform::Now();
    const platform::TDateTime value = parse(row.text);
    if (std::string(row.expected) == kNow) {
        const platform::TDateTime after = platform::Now();
        EXPECT_GE(value, before) << Local(value);
        EXPECT_LE(value, after) << Local(value);
    } else {
        EXPECT_EQ(Local(value), row.expected);
    }
}

TEST(InternetDateTime, Rfc822DatesFollowTheStateMachine) {
    const DateCase cases[] = {
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 +0200", "2005-04-05 13:03:09"},
        {kPlusOne, "05 Apr 2005 14:03:09 GMT", "2005-04-05 15:03:09"},
        {kPlusOne, "Tuesday, 05 Apr 2005 14:03:09 GMT", "2005-04-05 15:03:09"},
        {kPlusOne, "Tue,05 Apr 2005 14:03:09 UT", "2005-04-05 15:03:09"},
        {kPlusOne, "Tue, 5 apr 2005 14:03:09 gmt", "2005-04-05 15:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03 EST", "2005-04-05 20:03:00"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 edt", "2005-04-05 19:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 PST", "2005-04-05 23:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 A", "2005-04-05 16:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 N", "2005-04-05 14:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 Y", "2005-04-05 03:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 Z", "2005-04-05 15:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 -0130", "2005-04-05 16:33:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09    +0100", "2005-04-05 14:03:09"},
        {kPlusOne, "  Tue,   05   Apr   2005   14:03:09   GMT", "2005-04-05 15:03:09"},
        {kPlusOne, "Sat, 31 Dec 2005 23:30:00 GMT", "2006-01-01 00:30:00"},
        // Kept as the state machine has them.
        {kPlusOne, "Tue, 05 Apr 05 14:03:09 GMT", "0005-04-05 15:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 XYZ", "2005-04-05 15:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09", "2005-04-05 15:03:00"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03", "2005-04-05 15:00:00"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03+0200", "2005-04-05 15:03:00"},
        {kPlusOne, "Tue 05 Apr 2005 14:03:09 GMT", kNow},
        {kPlusOne, "Tue, 05 April 2005 14:03:09 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 2005", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 ", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 EST ", "2005-04-05 15:03:09"},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 +02:00", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:09 +020", kNow},
        {kPlusOne, "Tue, 5th Apr 2005 14:03:09 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 14.03.09 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 00 14:03:09 GMT", kNow},
        {kPlusOne, "Tue, 00 Apr 2005 14:03:09 GMT", kNow},
        {kPlusOne, "Tue, 31 Feb 2005 14:03:09 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 24:00:00 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 14:60:00 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 2005 14:03:60 GMT", kNow},
        {kPlusOne, "Tue, 05 Apr 99999999999 14:03:09 GMT", kNow},
        {kPlusOne, "", kNow},
        {kPlusOne, "   ", kNow},
        // The offset in force now is applied, whatever the date.
        {kUtc, "Tue, 05 Apr 2005 14:03:09 GMT", "2005-04-05 14:03:09"},
        {kUtc, "Tue, 05 Apr 2005 14:03:09 +0200", "2005-04-05 12:03:09"},
        {kBaseZeroInSummer, "Tue, 05 Jan 2005 14:03:09 GMT", "2005-01-05 15:03:09"},
        {kEasternInSummer, "Tue, 05 Apr 2005 14:03:09 GMT", "2005-04-05 10:03:09"},
        {kIndia, "Tue, 05 Apr 2005 14:03:09 +0000", "2005-04-05 19:33:09"},
        {kNewfoundlandWinter, "Tue, 05 Apr 2005 14:03:09 GMT", "2005-04-05 10:33:09"},
    };
    for (const DateCase& row : cases)
        Check(row, ParseRfc822DateTime);
}

TEST(InternetDateTime, Iso8601DatesFollowTheStateMachine) {
    const DateCase cases[] = {
        {kPlusOne, "2005-04-05T14:03:09Z", "2005-04-05 15:03:09"},
        {kPlusOne, "2005-04-05T14:03:09.250Z", "2005-04-05 15:03:09"},
        {kPlusOne, "2005-04-05T14:03:09+00:00", "2005-04-05 15:03:09"},
        {kPlusOne, "2005-04-05T14:03:09-05:00", "2005-04-05 20:03:09"},
        {kPlusOne, "2005-04-05T14:03:09+05:30", "2005-04-05 09:33:09"},
        {kPlusOne, "2005-04-05T14:03:09.5+01:00", "2005-04-05 14:03:09"},
        {kPlusOne, "2005-04-05T14:03:09ZZ", "2005-04-05 15:03:09"},
        {kPlusOne, "2005-12-31T23:30:00Z", "2006-01-01 00:30:00"},
        // Kept as the state machine has them.
        {kPlusOne, "2005-04-05T14:03:09", "2005-04-05 15:03:00"},
        {kPlusOne, "2005-04-05T14:03:09.5", "2005-04-05 15:03:09"},
        {kPlusOne, "2005-04-05T14:03", "2005-04-05 15:00:00"},
        {kPlusOne, "2005-04-05T14:03:09+0200", kNow},
        {kPlusOne, "2005-04-05 14:03:09Z", kNow},
        {kPlusOne, "2005-04-05t14:03:09Z", kNow},
        {kPlusOne, "2005-04-05T14:03:09z", kNow},
        {kPlusOne, "2005-04-05T14:03Z", kNow},
        {kPlusOne, "2005-04-05T14:03:09+02", kNow},
        {kPlusOne, "2005-04-05T14:03:09.25x", kNow},
        {kPlusOne, "2005-04-05", kNow},
        {kPlusOne, "2005-04", kNow},
        {kPlusOne, "2005-13-05T14:03:09Z", kNow},
        {kPlusOne, "2005-02-29T14:03:09Z", kNow},
        {kPlusOne, "0000-04-05T14:03:09Z", kNow},
        {kPlusOne, "", kNow},
        {kUtc, "2005-04-05T14:03:09Z", "2005-04-05 14:03:09"},
        {kBaseZeroInSummer, "2005-01-05T14:03:09Z", "2005-01-05 15:03:09"},
        {kEasternInSummer, "2005-04-05T14:03:09-04:00", "2005-04-05 14:03:09"},
    };
    for (const DateCase& row : cases)
        Check(row, ParseIso8601DateTime);
}

TEST(InternetDateTime, LocalOffsetIsTheOffsetInForceNow) {
    const struct {
        const char* zone;
        TUtcOffset expected;
    } cases[] = {
        {kPlusOne, {true, 1, 0}},          {kUtc, {true, 0, 0}},
        {kBaseZeroInSummer, {true, 1, 0}}, {kEasternInSummer, {false, 4, 0}},
        {kIndia, {true, 5, 30}},           {kNewfoundlandWinter, {false, 3, 30}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.zone);
        const ScopedTimeZone zone(row.zone);
        const TUtcOffset offset = LocalUtcOffset();
        EXPECT_EQ(offset.Positive, row.expected.Positive);
        EXPECT_EQ(offset.Hours, row.expected.Hours);
        EXPECT_EQ(offset.Minutes, row.expected.Minutes);
    }
}

} // namespace
