#pragma once

#include <string>

namespace platform::cfb {

// The key that orders element names inside a storage: every UTF-16 unit upper-cased on its own
// by a simple, locale-invariant mapping. Two names with equal keys cannot be siblings.
std::u16string NameKey(const std::u16string& name);

// The sibling order of the format: a shorter name first, then unit by unit on the keys.
int CompareKeys(const std::u16string& a, const std::u16string& b);

// 1 to 31 units, none of "/", "\", ":", "!".
bool IsValidName(const std::u16string& name);

} // namespace platform::cfb
