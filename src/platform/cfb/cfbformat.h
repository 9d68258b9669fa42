#pragma once

#include <cstdint>

// Constants of the compound file binary format, under the format's own names.
namespace platform::cfb {

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

inline constexpr uint32_t MAXREGSECT = 0xFFFFFFFA;
inline constexpr uint32_t DIFSECT = 0xFFFFFFFC;
inline constexpr uint32_t FATSECT = 0xFFFFFFFD;
inline constexpr uint32_t ENDOFCHAIN = 0xFFFFFFFE;
inline constexpr uint32_t FREESECT = 0xFFFFFFFF;
inline constexpr uint32_t NOSTREAM = 0xFFFFFFFF;
inline constexpr uint32_t MAXREGSID = 0xFFFFFFFA;

inline constexpr uint32_t kHeaderFields = 512;
inline constexpr uint32_t kHeaderDifatSlots = 109;
inline constexpr uint32_t kMiniSectorSize = 64;
inline constexpr uint32_t kMiniStreamCutoff = 4096;
inline constexpr uint32_t kDirEntrySize = 128;
inline constexpr uint32_t kMaxNameUnits = 31;
inline constexpr uint64_t kMaxV3StreamSize = 0x80000000ULL;

// Header field offsets.
namespace hdr {
inline constexpr uint32_t Signature = 0x00;
inline constexpr uint32_t MinorVersion = 0x18;
inline constexpr uint32_t MajorVersion = 0x1A;
inline constexpr uint32_t ByteOrder = 0x1C;
inline constexpr uint32_t SectorShift = 0x1E;
inline constexpr uint32_t MiniSectorShift = 0x20;
inline constexpr uint32_t NumDirSectors = 0x28;
inline constexpr uint32_t NumFatSectors = 0x2C;
inline constexpr uint32_t FirstDirSector = 0x30;
inline constexpr uint32_t TransactionSignature = 0x34;
inline constexpr uint32_t MiniStreamCutoff = 0x38;
inline constexpr uint32_t FirstMiniFatSector = 0x3C;
inline constexpr uint32_t NumMiniFatSectors = 0x40;
inline constexpr uint32_t FirstDifatSector = 0x44;
inline constexpr uint32_t NumDifatSectors = 0x48;
inline constexpr uint32_t Difat = 0x4C;
} // namespace hdr

// Directory entry field offsets.
namespace dirent {
inline constexpr uint32_t Name = 0x00;
inline constexpr uint32_t NameLength = 0x40;
inline constexpr uint32_t ObjectType = 0x42;
inline constexpr uint32_t Colour = 0x43;
inline constexpr uint32_t Left = 0x44;
inline constexpr uint32_t Right = 0x48;
inline constexpr uint32_t Child = 0x4C;
inline constexpr uint32_t Clsid = 0x50;
inline constexpr uint32_t StateBits = 0x60;
inline constexpr uint32_t CreationTime = 0x64;
inline constexpr uint32_t ModifiedTime = 0x6C;
inline constexpr uint32_t StartSector = 0x74;
inline constexpr uint32_t StreamSize = 0x78;
} // namespace dirent

enum ObjectType : uint8_t { TypeUnallocated = 0, TypeStorage = 1, TypeStream = 2, TypeRoot = 5 };
enum Colour : uint8_t { Red = 0, Black = 1 };

} // namespace platform::cfb
