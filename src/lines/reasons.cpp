#include "lines/reasons.h"

#include "io/path_query.h"
#include "io/std_input_stream.h"

namespace CX::Lines {

const char* ReasonFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Permission denied";
        case ERROR_TOO_MANY_OPEN_FILES:
            return "Too many open files";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Cannot allocate memory";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "Device or resource busy";
        case ERROR_FILENAME_EXCED_RANGE:
            return "File name too long";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_INVALID_NAME:
            return "Invalid argument";
        case ERROR_DIRECTORY:
            return "Not a directory";
        case ERROR_CANT_RESOLVE_FILENAME:
            return "Too many levels of symbolic links";
        case ERROR_NO_UNICODE_TRANSLATION:
            return NotUtf8;
        default:
            return "Input/output error";
    }
}

const char* ReasonForOpen(const char* pPath, DWORD error) {
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = CX::IO::QueryAttributes(pPath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return IsADirectory;
        }
    }
    return ReasonFor(error);
}

const char* ReasonForStandardInput(DWORD error) {
    return error == ERROR_ACCESS_DENIED && CX::IO::StandardInputIsFolder() ? IsADirectory
                                                                           : ReasonFor(error);
}

}  // namespace CX::Lines
