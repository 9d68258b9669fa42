#include "feeds/internetdatetime.h"

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace feeds {

namespace {

// Zone kinds: 0 to 13 are named zones with fixed offsets, kUnlisted the numeric offset (and every
// name not listed, with offset 0).
constexpr int kUnlisted = 14;
constexpr std::array<int, 14> kZoneOffsets = {0,    -240, -300, -300, -360, -360, -420,
                                              -420, -480, 0,    -60,  -720, 60,   720};

struct TZoneName {
    QByteArrayView Name;
    int Kind;
};
// The single letters follow the signs printed in RFC 822 itself.
constexpr std::array<TZoneName, 15> kZoneNames = {{{"ut", 0},
                                                   {"gmt", 0},
                                                   {"edt", 1},
                                                   {"est", 2},
                                                   {"cdt", 3},
                                                   {"cst", 4},
                                                   {"mdt", 5},
                                                   {"mst", 6},
                                                   {"pdt", 7},
                                                   {"pst", 8},
                                                   {"z", 9},
                                                   {"a", 10},
                                                   {"m", 11},
                                                   {"n", 12},
                                                   {"y", 13}}};

constexpr std::array<QByteArrayView, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                    "jul", "aug", "sep", "oct", "nov", "dec"};

struct TParsedDate {
    int Day = 0;
    int Month = 0;
    int Year = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int ZoneKind = kUnlisted;
    int ZoneHours = 0;
    int ZoneMinutes = 0;
};

bool IsWhite(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal integer with an optional sign; empty, malformed or out of range counts as 0.
int ToInt(std::string_view token) {
    bool negative = false;
    if (!token.empty() && (token.front() == '+' || token.front() == '-')) {
        negative = token.front() == '-';
        token.remove_prefix(1);
    }
    if (token.empty())
        return 0;
    int64_t value = 0;
    for (const char c : token) {
        if (!IsDigit(c))
            return 0;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX)
            return 0;
    }
    return static_cast<int>(negative ? -value : value);
}

// The sign of a numeric zone followed by two of its digits.
int SignedPair(const std::string& token, size_t digits) {
    return ToInt(std::string{token[0], token[digits], token[digits + 1]});
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Seconds from 30 December 1899 00:00 to an OLE date, whose whole part counts backwards before
// that day while its fraction still counts forwards.
platform::TDateTime FromSeconds(int64_t seconds) {
    constexpr int64_t kDay = 86400;
    int64_t days = seconds / kDay;
    int64_t rest = seconds % kDay;
    if (rest < 0) {
        --days;
        rest += kDay;
    }
    const double fraction = static_cast<double>(rest) / kDay;
    return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

platform::TDateTime Encode(const TParsedDate& date, const TUtcOffset& local) {
    if (date.Year < 1 || date.Year > 9999 || date.Month < 1 || date.Month > 12 || date.Day < 1 ||
        date.Hour > 23 || date.Minute > 59 || date.Second > 59)
        return platform::Now();
    const QDate day(date.Year, date.Month, date.Day);
    if (!day.isValid())
        return platform::Now();
    const int zoneOffset = date.ZoneKind == kUnlisted ? date.ZoneHours * 60 + date.ZoneMinutes
                                                      : kZoneOffsets[date.ZoneKind];
    const int localOffset = (local.Positive ? 1 : -1) * (local.Hours * 60 + local.Minutes);
    static const int64_t kEpoch = QDate(1899, 12, 30).toJulianDay();
    const int64_t seconds = (day.toJulianDay() - kEpoch) * 86400 + date.Hour * 3600 +
                            date.Minute * 60 + date.Second +
                            static_cast<int64_t>(localOffset - zoneOffset) * 60;
    return FromSeconds(seconds);
}

std::optional<TParsedDate> ScanRfc822(QByteArrayView text) {
    TParsedDate date;
    std::string token;
    int state = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (token.empty() && IsWhite(c)) {
            ++i;
            continue;
        }
        switch (state) {
        case 0:
            state = IsDigit(c) ? 2 : 1;
            continue;
        case 1:
            if (c == ',')
                state = 2;
            ++i;
            continue;
        case 2:
            if (IsDigit(c)) {
                token += c;
            } else if (IsWhite(c)) {
                date.Day = ToInt(token);
                token.clear();
                state = 3;
            } else {
                return std::nullopt;
            }
            break;
        case 3:
            if (IsWhite(c)) {
                const std::string month = Lower(token);
                qsizetype number = 0;
                while (number < qsizetype(kMonths.size()) &&
                       kMonths[number] != QByteArrayView(month.data(), qsizetype(month.size())))
                    ++number;
                if (number == qsizetype(kMonths.size()))
                    return std::nullopt;
                date.Month = static_cast<int>(number) + 1;
                token.clear();
                state = 4;
            } else {
                token += c;
            }
            break;
        case 4:
            if (IsDigit(c)) {
                token += c;
            } else if (IsWhite(c)) {
                date.Year = ToInt(token);
                token.clear();
                state = 5;
            } else {
                return std::nullopt;
            }
            break;
        case 5:
            if (IsDigit(c)) {
                token += c;
            } else if (c == ':') {
                date.Hour = ToInt(token);
                token.clear();
                state = 6;
            } else {
                return std::nullopt;
            }
            break;
        case 6:
            if (IsDigit(c)) {
                token += c;
            } else if (c == ':') {
                date.Minute = ToInt(token);
                token.clear();
                state = 7;
            } else if (IsWhite(c) || c == '+' || c == '-') {
                date.Minute = ToInt(token);
                token.clear();
                state = 8;
            } else {
                return std::nullopt;
            }
            break;
        case 7:
            if (IsDigit(c)) {
                token += c;
            } else if (IsWhite(c) || c == '+' || c == '-') {
                date.Second = ToInt(token);
                token.clear();
                state = 8;
                continue;
            } else {
                return std::nullopt;
            }
            break;
        case 8:
            if (!IsWhite(c)) {
                token.clear();
                state = c == '+' || c == '-' ? 10 : 9;
                continue;
            }
            break;
        default:
            token += c;
            break;
        }
        ++i;
    }
    if (token.empty())
        return std::nullopt;
    if (state == 9) {
        const std::string name = Lower(token);
        for (const TZoneName& zone : kZoneNames) {
            if (zone.Name == QByteArrayView(name.data(), qsizetype(name.size())))
                date.ZoneKind = zone.Kind;
        }
    } else if (state == 10) {
        if (token.size() != 5)
            return std::nullopt;
        date.ZoneHours = SignedPair(token, 1);
        date.ZoneMinutes = SignedPair(token, 3);
    }
    return date;
}

std::optional<TParsedDate> ScanIso8601(QByteArrayView text) {
    TParsedDate date;
    std::string token;
    int state = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (token.empty() && IsWhite(c)) {
            ++i;
            continue;
        }
        switch (state) {
        case 0:
        case 1:
        case 2:
            if (IsDigit(c)) {
                token += c;
            } else if (c == '-' && state < 2) {
                (state == 0 ? date.Year : date.Month) = ToInt(token);
                token.clear();
                ++state;
            } else if (c == 'T' && state == 2) {
                date.Day = ToInt(token);
                token.clear();
                state = 3;
            } else {
                return std::nullopt;
            }
            break;
        case 3:
        case 4:
        case 5:
            if (IsDigit(c)) {
                token += c;
            } else if (c == ':' && state < 5) {
                (state == 3 ? date.Hour : date.Minute) = ToInt(token);
                token.clear();
                ++state;
            } else if (c == '.' && state == 5) {
                date.Second = ToInt(token);
                token.clear();
                state = 6;
            } else if ((c == '+' || c == '-' || c == 'Z') && state == 5) {
                date.Second = ToInt(token);
                token.clear();
                state = 7;
                continue;
            } else {
                return std::nullopt;
            }
            break;
        case 6:
            if (c == '+' || c == '-' || c == 'Z') {
                token.clear();
                state = 7;
                continue;
            }
            if (!IsDigit(c))
                return std::nullopt;
            break;
        case 7:
            if (c == '+' || c == '-') {
                token += c;
                state = 8;
            }
            break;
        default:
            if (!IsDigit(c) && c != ':')
                return std::nullopt;
            token += c;
            break;
        }
        ++i;
    }
    if (state == 8) {
        if (token.size() != 6)
            return std::nullopt;
        date.ZoneHours = SignedPair(token, 1);
        date.ZoneMinutes = SignedPair(token, 4);
    } else if (state == 7) {
        date.ZoneKind = 0;
    }
    return date;
}

} // namespace

TUtcOffset LocalUtcOffset() {
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (!zone.isValid())
        return {};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // In the terms of Windows' zone information: minutes to add to local time to get UTC.
    const int baseBias = -zone.standardTimeOffset(now) / 60;
    const int daylightBias = zone.isDaylightTime(now) ? -zone.daylightTimeOffset(now) / 60 : 0;
    const int currentBias = std::abs(baseBias + daylightBias);
    return {baseBias <= 0, currentBias / 60, currentBias % 60};
}

platform::TDateTime ParseRfc822DateTime(QByteArrayView text) {
    return ParseRfc822DateTime(text, LocalUtcOffset());
}

platform::TDateTime ParseIso8601DateTime(QByteArrayView text) {
    return ParseIso8601DateTime(text, LocalUtcOffset());
}

platform::TDateTime ParseRfc822DateTime(QByteArrayView text, const TUtcOffset& local) {
    const std::optional<TParsedDate> date = ScanRfc822(text);
    return date ? Encode(*date, local) : platform::Now();
}

platform::TDateTime ParseIso8601DateTime(QByteArrayView text, const TUtcOffset& local) {
    const std::optional<TParsedDate> date = ScanIso8601(text);
    return date ? Encode(*date, local) : platform::Now();
}

} // namespace feeds
