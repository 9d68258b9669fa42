#pragma once

#include <cstdint>
#include <string>

// Result codes of the storage interface: the published 32-bit values, and the mode and flag words.
namespace platform::cfb {

using HResult = int32_t;

constexpr HResult Code(uint32_t value) {
    return static_cast<HResult>(value);
}

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_FAIL = Code(0x80004005);
inline constexpr HResult E_OUTOFMEMORY = Code(0x8007000E);
inline constexpr HResult E_INVALIDARG = Code(0x80070057);
inline constexpr HResult STG_E_INVALIDFUNCTION = Code(0x80030001);
inline constexpr HResult STG_E_FILENOTFOUND = Code(0x80030002);
inline constexpr HResult STG_E_PATHNOTFOUND = Code(0x80030003);
inline constexpr HResult STG_E_TOOMANYOPENFILES = Code(0x80030004);
inline constexpr HResult STG_E_ACCESSDENIED = Code(0x80030005);
inline constexpr HResult STG_E_INVALIDHANDLE = Code(0x80030006);
inline constexpr HResult STG_E_INSUFFICIENTMEMORY = Code(0x80030008);
inline constexpr HResult STG_E_INVALIDPOINTER = Code(0x80030009);
inline constexpr HResult STG_E_NOMOREFILES = Code(0x80030012);
inline constexpr HResult STG_E_DISKISWRITEPROTECTED = Code(0x80030013);
inline constexpr HResult STG_E_SEEKERROR = Code(0x80030019);
inline constexpr HResult STG_E_WRITEFAULT = Code(0x8003001D);
inline constexpr HResult STG_E_READFAULT = Code(0x8003001E);
inline constexpr HResult STG_E_SHAREVIOLATION = Code(0x80030020);
inline constexpr HResult STG_E_LOCKVIOLATION = Code(0x80030021);
inline constexpr HResult STG_E_FILEALREADYEXISTS = Code(0x80030050);
inline constexpr HResult STG_E_INVALIDPARAMETER = Code(0x80030057);
inline constexpr HResult STG_E_MEDIUMFULL = Code(0x80030070);
inline constexpr HResult STG_E_INVALIDHEADER = Code(0x800300FB);
inline constexpr HResult STG_E_INVALIDNAME = Code(0x800300FC);
inline constexpr HResult STG_E_UNKNOWN = Code(0x800300FD);
inline constexpr HResult STG_E_UNIMPLEMENTEDFUNCTION = Code(0x800300FE);
inline constexpr HResult STG_E_INVALIDFLAG = Code(0x800300FF);
inline constexpr HResult STG_E_INUSE = Code(0x80030100);
inline constexpr HResult STG_E_REVERTED = Code(0x80030102);
inline constexpr HResult STG_E_DOCFILECORRUPT = Code(0x80030109);

inline constexpr bool Failed(HResult hr) {
    return hr < 0;
}
inline constexpr bool Succeeded(HResult hr) {
    return hr >= 0;
}

// The text shown for a result code, e.g. "The compound file is corrupt.".
std::string ResultMessage(HResult hr);

// Mode words.
inline constexpr uint32_t STGM_READ = 0x0;
inline constexpr uint32_t STGM_WRITE = 0x1;
inline constexpr uint32_t STGM_READWRITE = 0x2;
inline constexpr uint32_t STGM_SHARE_EXCLUSIVE = 0x10;
inline constexpr uint32_t STGM_SHARE_DENY_WRITE = 0x20;
inline constexpr uint32_t STGM_SHARE_DENY_READ = 0x30;
inline constexpr uint32_t STGM_SHARE_DENY_NONE = 0x40;
inline constexpr uint32_t STGM_CREATE = 0x1000;
inline constexpr uint32_t STGM_TRANSACTED = 0x10000;
inline constexpr uint32_t STGM_DELETEONRELEASE = 0x4000000;

inline constexpr uint32_t STGC_DEFAULT = 0;
inline constexpr uint32_t STGC_OVERWRITE = 1;

inline constexpr uint32_t STGMOVE_MOVE = 0;
inline constexpr uint32_t STGMOVE_COPY = 1;

inline constexpr uint32_t STGTY_STORAGE = 1;
inline constexpr uint32_t STGTY_STREAM = 2;

inline constexpr uint32_t STREAM_SEEK_SET = 0;
inline constexpr uint32_t STREAM_SEEK_CUR = 1;
inline constexpr uint32_t STREAM_SEEK_END = 2;

} // namespace platform::cfb
