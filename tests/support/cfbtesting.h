#pragma once

#include "platform/cfb/cfbresult.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <string>

// Small helpers shared by the tests of the compound-file engine.
namespace testsupport {

inline constexpr uint32_t kRW = platform::cfb::STGM_READWRITE | platform::cfb::STGM_SHARE_EXCLUSIVE;
inline constexpr uint32_t kRead = platform::cfb::STGM_READ | platform::cfb::STGM_SHARE_EXCLUSIVE;
inline constexpr uint32_t kCreate = kRW | platform::cfb::STGM_CREATE;

// A result as its number and text, so that a failed comparison names both.
inline std::string Show(platform::cfb::HResult hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return std::string(code) + " " + platform::cfb::ResultMessage(hr);
}

inline std::u16string U(const std::string& utf8) {
    return QString::fromStdString(utf8).toStdU16String();
}

inline std::string Utf8(const std::u16string& name) {
    return QString::fromStdU16String(name).toStdString();
}

// Bytes that differ from one position and one seed to the next.
inline std::string Pattern(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

} // namespace testsupport

#define EXPECT_HR(expected, expr) EXPECT_EQ(testsupport::Show(expr), testsupport::Show(expected))
#define ASSERT_HR(expected, expr) ASSERT_EQ(testsupport::Show(expr), testsupport::Show(expected))
