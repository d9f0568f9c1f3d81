// Byte-range locks: LockFileEx and UnlockFileEx over open-file-description locks, which
// belong to an open file as Windows locks belong to a handle.

#include <fcntl.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/stand_in.h"

using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::ErrorFromErrno;
using CX::Platform::Detail::FailWith;
using CX::Platform::Detail::FdFromHandle;
using CX::Platform::Detail::TakeFault;

namespace {

// The POSIX range for a Windows one: offset and length from the OVERLAPPED and the two
// words. POSIX offsets stop at the largest signed 64-bit value, so a range that reaches
// past it runs to the end (l_len 0), which no file can reach. False for a length of 0 or a
// start past that offset.
bool RangeOf(const OVERLAPPED* pOverlapped, DWORD lengthLow, DWORD lengthHigh,
             struct flock* pLock) {
    const std::uint64_t start =
        (static_cast<std::uint64_t>(pOverlapped->OffsetHigh) << 32) | pOverlapped->Offset;
    const std::uint64_t length = (static_cast<std::uint64_t>(lengthHigh) << 32) | lengthLow;
    if (length == 0 || start > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    *pLock = {};
    pLock->l_whence = SEEK_SET;
    pLock->l_start = static_cast<off_t>(start);
    pLock->l_len =
        length > static_cast<std::uint64_t>(INT64_MAX) - start ? 0 : static_cast<off_t>(length);
    return true;
}

// Sets or clears an open-file-description lock, waiting when asked; retried when a wait is
// interrupted. Returns the error, or ERROR_SUCCESS.
DWORD SetLock(int fd, struct flock* pLock, bool wait) {
    int result;
    do {
        result = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, pLock);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return ERROR_SUCCESS;
    }
    // A conflict that was not waited for; EBADF: the handle lacks the access the lock needs.
    if (errno == EAGAIN || errno == EACCES) {
        return ERROR_LOCK_VIOLATION;
    }
    return errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno);
}

// What both calls check first, in Windows' order: the fault seam, the handle, then the
// parameters and the range. False, with the last error set, when the call is to fail.
bool Prepare(FaultCall call, HANDLE hFile, DWORD reserved, const OVERLAPPED* pOverlapped,
             DWORD lengthLow, DWORD lengthHigh, bool flagsKnown, int* pFd, struct flock* pLock) {
    if (const auto fault = TakeFault(call); fault.Action == FaultAction::Fail) {
        FailWith(static_cast<DWORD>(fault.Value));
        return false;
    }
    *pFd = FdFromHandle(hFile);
    if (*pFd < 0) {
        FailWith(ERROR_INVALID_HANDLE);
        return false;
    }
    if (reserved != 0 || pOverlapped == nullptr || !flagsKnown ||
        !RangeOf(pOverlapped, lengthLow, lengthHigh, pLock)) {
        FailWith(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

}  // namespace

// Windows: locks a byte range of the handle's file: from the OVERLAPPED's Offset and
// OffsetHigh, nNumberOfBytesToLockLow and High bytes long (a range may lie past the end).
// LOCKFILE_EXCLUSIVE_LOCK keeps every other handle out of it, even one of this process;
// without it other handles may hold shared locks on it too. Without
// LOCKFILE_FAIL_IMMEDIATELY the call waits until the range is free; with it a conflict fails
// at once with ERROR_LOCK_VIOLATION. The lock lasts until UnlockFileEx or until the handle
// is closed (or the process ends). A handle opened for reading only cannot take an exclusive
// lock here (ERROR_ACCESS_DENIED), one for writing only no shared one: POSIX asks for that
// access where Windows asks for either. A length of 0, a start past the largest signed
// 64-bit offset (where POSIX stops), a reserved word that is not 0 or no OVERLAPPED fail
// with ERROR_INVALID_PARAMETER; the OVERLAPPED's event is not used: the call completes
// before it returns. Where the stand-in is softer than Windows: its locks are advisory, so
// the reads and writes of other handles in a locked range are not refused; and a range
// locked again through the same handle is simply locked (Windows refuses an overlap).
BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped) {
    int fd = -1;
    struct flock lock;
    const bool flagsKnown = (dwFlags & ~(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) == 0;
    if (!Prepare(FaultCall::LockFileEx, hFile, dwReserved, lpOverlapped, nNumberOfBytesToLockLow,
                 nNumberOfBytesToLockHigh, flagsKnown, &fd, &lock)) {
        return FALSE;
    }
    lock.l_type = (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) != 0 ? F_WRLCK : F_RDLCK;
    const DWORD error = SetLock(fd, &lock, (dwFlags & LOCKFILE_FAIL_IMMEDIATELY) == 0);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
}

// Windows: releases the lock LockFileEx took on the same range through the same handle, so
// that a handle waiting for it goes on. The range is given as to LockFileEx (the same
// refusals). Where the stand-in is softer: unlocking a range that holds no lock of the
// handle succeeds (Windows: ERROR_NOT_LOCKED).
BOOL UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow,
                  DWORD nNumberOfBytesToUnlockHigh, LPOVERLAPPED lpOverlapped) {
    int fd = -1;
    struct flock lock;
    if (!Prepare(FaultCall::UnlockFileEx, hFile, dwReserved, lpOverlapped,
                 nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh, true, &fd, &lock)) {
        return FALSE;
    }
    lock.l_type = F_UNLCK;
    const DWORD error = SetLock(fd, &lock, false);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
}
