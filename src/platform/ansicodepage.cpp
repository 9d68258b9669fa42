#include "ansicodepage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <cstdint>

namespace platform {

namespace {

// Windows-1252 for 0x80-0x9F; the undefined bytes keep their own number.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

bool IsContinuation(uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

} // namespace

bool IsValidUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const uint8_t lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        qsizetype length = 0;
        // The bounds of the second byte exclude overlong forms (E0, F0), surrogates (ED) and
        // code points above U+10FFFF (F4).
        uint8_t low = 0x80;
        uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        if (p[i + 1] < low || p[i + 1] > high)
            return false;
        for (qsizetype k = 2; k < length; ++k) {
            if (!IsContinuation(p[i + k]))
                return false;
        }
        i += length;
    }
    return true;
}

QString Windows1252ToWide(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<uint8_t>(bytes[i]);
        out[i] = (byte >= 0x80 && byte <= 0x9F) ? kWindows1252High[byte - 0x80] : char16_t(byte);
    }
    return text;
}

QString Utf8ToWide(QByteArrayView bytes) {
    // Stateless so that nothing is held back at the end; ConvertInitialBom so that a leading
    // U+FEFF is text like any other and survives a round trip.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QByteArray WideToUtf8(QStringView text) {
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString AnsiToWide(QByteArrayView bytes) {
    return IsValidUtf8(bytes) ? Utf8ToWide(bytes) : Windows1252ToWide(bytes);
}

QByteArray AnsiToUtf8(const QByteArray& bytes) {
    return IsValidUtf8(bytes) ? bytes : WideToUtf8(Windows1252ToWide(bytes));
}

} // namespace platform
