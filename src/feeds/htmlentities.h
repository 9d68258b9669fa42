#pragma once

#include <QString>
#include <QStringView>

#include <span>
#include <string_view>

namespace feeds {

struct THtmlEntity {
    std::string_view Name;
    char16_t Code;
};

// The named character references: the HTML 4.01 Latin-1, symbol and special sets plus "apos",
// sorted by name (case-sensitive). The table is a compile-time constant, so any thread may read it.
std::span<const THtmlEntity> HtmlEntities();

// The code of a named reference, 0 when the name is not in the table.
char16_t HtmlEntityCode(QStringView name);

// Replaces decimal and named character references. Hexadecimal references, unknown names, names
// in the wrong letter case, references without their ";" and "&#0;" stay as written; a decimal
// value above 65535 gives the code unit of the value modulo 65536. The result is never longer
// than the text.
QString DecodeHtmlEntities(const QString& text);

} // namespace feeds
