#pragma once

#include <cstdint>

namespace platform {

// The one-byte tags of the tagged value encoding. Numbers after a tag are little-endian.
namespace tvaluetag {
inline constexpr uint8_t kNull = 0;        // end of list
inline constexpr uint8_t kList = 1;        // start of list
inline constexpr uint8_t kInt8 = 2;        // 1 signed byte
inline constexpr uint8_t kInt16 = 3;       // 2 bytes, signed
inline constexpr uint8_t kInt32 = 4;       // 4 bytes, signed
inline constexpr uint8_t kExtended = 5;    // never written, never accepted
inline constexpr uint8_t kString = 6;      // 1-byte length, then the 8-bit bytes
inline constexpr uint8_t kIdent = 7;       // never written, never accepted
inline constexpr uint8_t kFalse = 8;       // no payload
inline constexpr uint8_t kTrue = 9;        // no payload
inline constexpr uint8_t kBinary = 10;     // never written, never accepted
inline constexpr uint8_t kLString = 12;    // 4-byte length, then the 8-bit bytes
inline constexpr uint8_t kNil = 13;        // never written, never accepted
inline constexpr uint8_t kSingle = 15;     // never written, never accepted
inline constexpr uint8_t kCurrency = 16;   // never written, never accepted
inline constexpr uint8_t kDate = 17;       // 8-byte IEEE 754 double (OLE Automation date)
inline constexpr uint8_t kWString = 18;    // 4-byte count of UTF-16 units, then 2 bytes per unit
inline constexpr uint8_t kInt64 = 19;      // never written, never accepted
inline constexpr uint8_t kUtf8String = 20; // 4-byte length in bytes, then the UTF-8 bytes
} // namespace tvaluetag

} // namespace platform
