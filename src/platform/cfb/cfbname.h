#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::cfb {

// The key that orders element names inside a storage: every UTF-16 unit upper-cased on its own
// by a simple, locale-invariant mapping. Two names with equal keys cannot be siblings.
std::u16string NameKey(std::u16string_view name);

char16_t UpperUnitBeyondAscii(char16_t unit);
inline char16_t UpperUnit(char16_t unit) {
    if (unit >= 0x80)
        return UpperUnitBeyondAscii(unit);
    return static_cast<char16_t>(unit - u'a') < 26 ? static_cast<char16_t>(unit - 0x20) : unit;
}

// The sibling order of the format on names: a shorter name first, then unit by unit on the
// upper-cased units.
inline int CompareNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    // Names in one storage often share a long prefix: skip equal units four at a time.
    size_t i = 0;
    for (; i + 4 <= a.size(); i += 4) {
        uint64_t x = 0;
        uint64_t y = 0;
        std::memcpy(&x, a.data() + i, sizeof x);
        std::memcpy(&y, b.data() + i, sizeof y);
        if (x != y)
            break;
    }
    for (; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue;
        const char16_t ua = UpperUnit(a[i]);
        const char16_t ub = UpperUnit(b[i]);
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    return 0;
}

// The same order on keys that are upper-cased already.
inline int CompareKeys(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

// 1 to 31 units, none of "/", "\", ":", "!".
bool IsValidName(std::u16string_view name);

} // namespace platform::cfb
