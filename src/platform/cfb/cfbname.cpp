#include "platform/cfb/cfbname.h"

#include "platform/cfb/cfbformat.h"

#include <QChar>

namespace platform::cfb {
namespace {

char16_t UpperUnit(char16_t c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
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

} // namespace

std::u16string NameKey(const std::u16string& name) {
    std::u16string key(name);
    for (char16_t& c : key)
        c = UpperUnit(c);
    return key;
}

int CompareKeys(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool IsValidName(const std::u16string& name) {
    if (name.empty() || name.size() > kMaxNameUnits)
        return false;
    for (const char16_t c : name)
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == 0)
            return false;
    return true;
}

} // namespace platform::cfb
