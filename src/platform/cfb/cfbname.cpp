#include "platform/cfb/cfbname.h"

#include "platform/cfb/cfbformat.h"

#include <QChar>

namespace platform::cfb {
char16_t UpperUnitBeyondAscii(char16_t c) {
    if (QChar::isSurrogate(c))
        return c;
    // The mapping table of the format's reference implementation differs from Unicode's simple
    // upper-case mapping in these places.
    switch (c) {
    case 0x1FC3:
    case 0x2C65:
    case 0x2C66:
        return c;
    case 0x1FCC:
        return 0x1FC3;
    case 0x023A:
        return 0x2C65;
    case 0x023E:
        return 0x2C66;
    default:
        break;
    }
    const char32_t upper = QChar::toUpper(static_cast<char32_t>(c));
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : c;
}

std::u16string NameKey(std::u16string_view name) {
    std::u16string key(name);
    for (char16_t& c : key)
        c = UpperUnit(c);
    return key;
}

bool IsValidName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxNameUnits)
        return false;
    for (const char16_t c : name)
        if (c <= u'\\' && (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == 0))
            return false;
    return true;
}

} // namespace platform::cfb
