#include "lines/reasons.h"

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

}  // namespace CX::Lines
