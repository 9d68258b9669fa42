#pragma once

#include "feeds/tfeed.h"
#include "platform/tdatetime.h"
#include "platform/tstream.h"

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <string>

// Helpers of the feed reader tests.
namespace feedtesting {

inline QByteArray Fixture(const std::string& name) {
    QFile file(QStringLiteral(VELQUINT_TEST_DATA "/feeds/") + QString::fromStdString(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// A local date as "yyyy-MM-dd HH:mm:ss".
inline std::string Local(platform::TDateTime value) {
    return platform::ToQDateTime(value)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .toStdString();
}

// Whether the value lies between two readings of the clock.
inline bool Between(platform::TDateTime value, platform::TDateTime before,
                    platform::TDateTime after) {
    return value >= before && value <= after;
}

// The fixture read through a memory stream by a formatter of the class.
inline void Load(feeds::TFeed& feed, const std::string& name,
                 feeds::TFeedFormatterClass formatterClass) {
    platform::TMemoryStream stream(Fixture(name));
    feed.LoadFromStream(stream, formatterClass);
}

} // namespace feedtesting
