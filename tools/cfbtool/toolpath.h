#pragma once

#include <string>
#include <string_view>
#include <vector>

// Element names and paths as the command line spells them: UTF-8, elements separated by "/" or
// "\". Inside a compound file names are UTF-16.
namespace cfbtool {

// False for malformed UTF-8 (bad sequences, overlong forms, surrogates, values past U+10FFFF).
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

// Unpaired surrogates, which a file may hold, become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);

// The elements of a path; empty elements (leading, trailing or doubled separators) are dropped.
std::vector<std::string> SplitPath(std::string_view path);

// The elements joined with "/" and a leading "/", the way ls prints them.
std::string JoinPath(const std::vector<std::string>& elements, size_t count);

} // namespace cfbtool
