// Writing through a handle: WriteFile and FlushFileBuffers over write(2) and fsync(2).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/stand_in.h"

using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::ErrorFromErrno;
using CX::Platform::Detail::FailWith;
using CX::Platform::Detail::FdFromHandle;
using CX::Platform::Detail::TakeFault;

namespace {

// The error for a write or a flush that POSIX refused. A descriptor that is open but may not
// write gives EBADF, where Windows says the handle lacks the access: ERROR_ACCESS_DENIED.
DWORD WriteError(int fd, int errnoValue) {
    if (errnoValue == EBADF && fcntl(fd, F_GETFD) >= 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ErrorFromErrno(errnoValue);
}

}  // namespace

// Windows, synchronous handle: writes the nNumberOfBytesToWrite bytes at the file pointer,
// which moves on by what was written, and returns once all are written or the write fails.
// The count is set to 0 before anything else and to what was written, on success and on
// failure alike (a disk that fills part way keeps the part). write(2) is repeated until
// everything is written, and retried when interrupted. A full disk (ENOSPC, or a quota:
// EDQUOT) fails with ERROR_DISK_FULL; a handle opened for reading only with
// ERROR_ACCESS_DENIED; the rest by ErrorFromErrno. Overlapped writes are not provided
// (ERROR_INVALID_PARAMETER), nor is a null count.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    if (const auto fault = TakeFault(FaultCall::WriteFile); fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    if (lpNumberOfBytesWritten == nullptr || lpOverlapped != nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    const auto* p = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t put = write(fd, p + done, nNumberOfBytesToWrite - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            // A write that takes nothing and reports no error has no room left.
            const DWORD error = put < 0 ? WriteError(fd, errno) : ERROR_DISK_FULL;
            *lpNumberOfBytesWritten = done;
            return FailWith(error);
        }
        done += static_cast<DWORD>(put);
    }
    *lpNumberOfBytesWritten = done;
    return TRUE;
}

// Windows: returns once everything written through the handle's file is on the disk, with
// the file's metadata: fsync(2), retried when interrupted. A handle that may not write fails
// with ERROR_ACCESS_DENIED, as Windows refuses to flush a handle opened for reading only
// (fsync(2) would accept it); a device that cannot be flushed fails as fsync(2) does
// (EINVAL: ERROR_INVALID_PARAMETER); a write the disk could not keep (EIO, ENOSPC) by
// ErrorFromErrno.
BOOL FlushFileBuffers(HANDLE hFile) {
    if (const auto fault = TakeFault(FaultCall::FlushFileBuffers);
        fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    const int fd = FdFromHandle(hFile);
    const int flags = fd < 0 ? -1 : fcntl(fd, F_GETFL);
    if (flags < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if ((flags & O_ACCMODE) == O_RDONLY) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    int result;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? TRUE : FailWith(WriteError(fd, errno));
}
