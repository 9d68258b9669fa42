#include "platform/tdatetime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(DateTime, CountsDaysFromTheEndOf1899) {
    struct Row {
        double value;
        QDateTime time;
    };
    const Row rows[] = {
        {0.0, QDateTime(QDate(1899, 12, 30), QTime(0, 0))},
        {1.5, QDateTime(QDate(1899, 12, 31), QTime(12, 0))},
        {29373.0, QDateTime(QDate(1980, 6, 1), QTime(0, 0))},
        {-1.25, QDateTime(QDate(1899, 12, 29), QTime(6, 0))},
        {45000.75, QDateTime(QDate(2023, 3, 15), QTime(18, 0))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(platform::ToQDateTime(row.value), row.time);
        EXPECT_DOUBLE_EQ(platform::FromQDateTime(row.time), row.value);
    }
    EXPECT_DOUBLE_EQ(platform::EncodeDateTime(1980, 6, 1), 29373.0);
}

TEST(DateTime, ValuesWithoutACalendarDateGiveAnInvalidTime) {
    for (const double value : {std::nan(""), 1e300, -1e300, 2958466.0, -693594.0})
        EXPECT_FALSE(platform::ToQDateTime(value).isValid()) << value;
    EXPECT_TRUE(platform::ToQDateTime(2958465.5).isValid());
}

TEST(DateTime, RoundingToTheNextMidnightMovesTheDay) {
    EXPECT_EQ(platform::ToQDateTime(0.9999999999), QDateTime(QDate(1899, 12, 31), QTime(0, 0)));
}

TEST(DateTime, NowIsTheLocalWallClock) {
    const QDateTime before = QDateTime::currentDateTime();
    const platform::TDateTime now = platform::Now();
    const QDateTime after = QDateTime::currentDateTime();
    EXPECT_GE(now, platform::FromQDateTime(before) - 1e-8);
    EXPECT_LE(now, platform::FromQDateTime(after) + 1e-8);
}

} // namespace
