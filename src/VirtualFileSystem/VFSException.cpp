#include "VirtualFileSystem/VFSException.h"

namespace VORTALEX {

const char* VFSException::Text(int code) noexcept
{
    static const char* const texts[] = {
        "Unknown error...",
        "Not release...",
        "Folder does not exist",
        "File name too long",
        "Error: Opening file",
        "Error: Get file size",
        "Error: Written file",
        "Error: Reading file",
        "Error: Set file pointer",
        "Error: Not valid storage file",
        "Error: Unicode storage file",
        "Error: Multibyte storage file",
        "Error: Storage size > 4 GByte",
        "Buffer to small",
        "Record not exist",
        "Error compress file",
        "Error uncompress file",
        "Query data file does not exist",
    };
    if (code < 0 || code >= static_cast<int>(sizeof texts / sizeof texts[0]))
        return texts[0];
    return texts[code];
}

}  // namespace VORTALEX
