// The calling thread's last error, and the errno translation the other calls report with.

#include <cerrno>

#include "platform/posix/stand_in.h"

namespace {

// Windows keeps the last error in each thread's own block; so does this.
thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

// Windows: the calling thread's last-error value, as the last failing call left it. The
// stand-in's calls set it only when they fail.
DWORD GetLastError() {
    return t_lastError;
}

// Windows: sets the calling thread's last-error value; other threads do not see it.
void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

namespace CX::Platform::Detail {

// The table Windows compatibility layers use when a POSIX call fails in place of a Win32
// one. Anything it does not name becomes ERROR_GEN_FAILURE.
DWORD ErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
        case ENOENT:
        case ENXIO:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EAGAIN:
            return ERROR_SHARING_VIOLATION;
        case EIO:
            return ERROR_NOT_READY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace CX::Platform::Detail
