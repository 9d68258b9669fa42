#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// The program's 8-bit code page is UTF-8. Byte strings that are not valid UTF-8 come from files
// written on Windows in a Western code page and are read as Windows-1252 instead of failing.

// Strict UTF-8: no overlong forms, no encoded surrogates, nothing above U+10FFFF, no truncated
// or stray sequences.
bool IsValidUtf8(QByteArrayView bytes);

// Windows-1252 to UTF-16. 0x81, 0x8D, 0x8F, 0x90 and 0x9D, undefined in that code page, map to
// the code points of the same number, like every byte outside 0x80-0x9F.
QString Windows1252ToWide(QByteArrayView bytes);

// UTF-8 to UTF-16; each invalid sequence becomes U+FFFD. A leading byte order mark is kept.
QString Utf8ToWide(QByteArrayView bytes);

// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
QByteArray WideToUtf8(QStringView text);

// 8-bit text to UTF-16: as UTF-8 when the bytes are valid UTF-8, else as Windows-1252.
QString AnsiToWide(QByteArrayView bytes);

// 8-bit text to UTF-8: the bytes themselves when they are valid UTF-8, else their Windows-1252
// reading encoded as UTF-8.
QByteArray AnsiToUtf8(const QByteArray& bytes);

} // namespace platform
