#include "platform/cfb/cfbresult.h"

#include <cstdio>

namespace platform::cfb {

std::string ResultMessage(HResult hr) {
    struct Text {
        HResult code;
        const char* text;
    };
    static constexpr Text texts[] = {
        {S_OK, "The operation completed successfully."},
        {S_FALSE, "The file is not a compound file."},
        {E_FAIL, "Unspecified error."},
        {E_OUTOFMEMORY, "Not enough memory is available to complete this operation."},
        {E_INVALIDARG, "One or more arguments are not valid."},
        {STG_E_INVALIDFUNCTION, "Unable to perform the requested operation."},
        {STG_E_FILENOTFOUND, "The file or element could not be found."},
        {STG_E_PATHNOTFOUND, "The path could not be found."},
        {STG_E_TOOMANYOPENFILES, "There are too many open files."},
        {STG_E_ACCESSDENIED, "Access denied."},
        {STG_E_INVALIDHANDLE, "The handle is not valid."},
        {STG_E_INSUFFICIENTMEMORY, "There is insufficient memory available to complete the "
                                   "operation."},
        {STG_E_INVALIDPOINTER, "Invalid pointer error."},
        {STG_E_NOMOREFILES, "There are no more entries to return."},
        {STG_E_DISKISWRITEPROTECTED, "The disk is write-protected."},
        {STG_E_SEEKERROR, "An error occurred during a seek operation."},
        {STG_E_WRITEFAULT, "A disk error occurred during a write operation."},
        {STG_E_READFAULT, "A disk error occurred during a read operation."},
        {STG_E_SHAREVIOLATION, "The file is in use by another program."},
        {STG_E_LOCKVIOLATION, "A lock violation has occurred."},
        {STG_E_FILEALREADYEXISTS, "The file or element already exists."},
        {STG_E_INVALIDPARAMETER, "Invalid parameter error."},
        {STG_E_MEDIUMFULL, "There is insufficient disk space to complete the operation."},
        {STG_E_INVALIDHEADER, "The file has an invalid compound file header."},
        {STG_E_INVALIDNAME, "The name is not valid."},
        {STG_E_UNKNOWN, "An unexpected error occurred."},
        {STG_E_UNIMPLEMENTEDFUNCTION, "That function is not implemented."},
        {STG_E_INVALIDFLAG, "Invalid flag error."},
        {STG_E_INUSE, "The element is busy."},
        {STG_E_REVERTED, "The storage has been changed since the last commit."},
        {STG_E_DOCFILECORRUPT, "The compound file is corrupt."},
    };
    for (const Text& t : texts)
        if (t.code == hr)
            return t.text;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "Error 0x%08X.", static_cast<unsigned>(hr));
    return buffer;
}

} // namespace platform::cfb
