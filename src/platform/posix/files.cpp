// File services over POSIX descriptors: opening, reading, seeking and what a handle's file
// is. A handle is the descriptor plus one (stand_in.h).

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "platform/posix/stand_in.h"

using CX::Platform::CreateFileArgs;
using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::AttributesFromMode;
using CX::Platform::Detail::ErrorFromErrno;
using CX::Platform::Detail::ErrorFromPathErrno;
using CX::Platform::Detail::FailWith;
using CX::Platform::Detail::FdFromHandle;
using CX::Platform::Detail::FileTime;
using CX::Platform::Detail::FileTimeFromTimespec;
using CX::Platform::Detail::HandleFromFd;
using CX::Platform::Detail::TakeFault;

namespace {

BOOL FailFromErrno() {
    return FailWith(ErrorFromErrno(errno));
}

HANDLE OpenFailed(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// File systems whose files report a size (mostly 0) that says nothing of what a read
// delivers: the kernel makes the text up as it is read.
bool SizeIsMadeUp(int fd, dev_t device) {
    // A tree is mostly one file system: the answer for the last device this thread asked
    // about is kept, so that a tree's files cost no fstatfs each.
    thread_local dev_t t_device = 0;
    thread_local bool t_known = false;
    thread_local bool t_madeUp = false;
    if (t_known && t_device == device) {
        return t_madeUp;
    }
    struct statfs sfs;
    if (fstatfs(fd, &sfs) != 0) {
        return false;
    }
    bool madeUp;
    switch (static_cast<std::uint32_t>(sfs.f_type)) {
        case 0x9fa0u:      // procfs
        case 0x27e0ebu:    // cgroup
        case 0x63677270u:  // cgroup2
        case 0x64626720u:  // debugfs
        case 0x74726163u:  // tracefs
        case 0x73636673u:  // securityfs
            madeUp = true;
            break;
        default:
            madeUp = false;
    }
    t_device = device;
    t_known = true;
    t_madeUp = madeUp;
    return madeUp;
}

constexpr char16_t kLongPathPrefix[] = u"\\\\?\\";

// What CreateFileW learned of each descriptor it opened, by number: a file's type and
// identity never change while a descriptor is open on it, so GetFileType and the FileIdInfo
// class answer from here without a call, as Windows answers from its handle. A tree's files
// then cost one fstat each, at the open. CloseHandle forgets a number before it closes it,
// so a number that another open hands out again is never taken for the file it was. The
// slots are atomics: a handle opened on one thread is asked about on another, and a number
// is reused on any.
class OpenedFiles {
public:
    void Remember(int fd, const struct stat& st) {
        if (Slot* slot = At(fd)) {
            slot->Device.store(static_cast<std::uint64_t>(st.st_dev), std::memory_order_relaxed);
            slot->Inode.store(static_cast<std::uint64_t>(st.st_ino), std::memory_order_relaxed);
            slot->Mode.store(static_cast<std::uint32_t>(st.st_mode), std::memory_order_release);
        }
    }
    void Forget(int fd) {
        if (Slot* slot = At(fd)) {
            slot->Mode.store(0, std::memory_order_release);
        }
    }
    // False for a number no open of ours holds (standard handles, a number past the table).
    bool Recall(int fd, struct stat& st) {
        Slot* slot = At(fd);
        const std::uint32_t mode = slot != nullptr ? slot->Mode.load(std::memory_order_acquire) : 0;
        if (mode == 0) {
            return false;
        }
        st.st_mode = static_cast<mode_t>(mode);
        st.st_dev = static_cast<dev_t>(slot->Device.load(std::memory_order_relaxed));
        st.st_ino = static_cast<ino_t>(slot->Inode.load(std::memory_order_relaxed));
        return true;
    }

private:
    struct Slot {
        std::atomic<std::uint32_t> Mode{0};  // st_mode; 0 while no open of ours holds the number
        std::atomic<std::uint64_t> Device{0};
        std::atomic<std::uint64_t> Inode{0};
    };
    // Numbers below this many have a slot; a process rarely holds more open at once, and
    // above it fstat answers. Static, so nothing is allocated and nothing is left at exit:
    // a page costs memory only once a number on it is used.
    static constexpr std::size_t Slots = 4096;

    Slot* At(int fd) {
        return fd >= 0 && static_cast<std::size_t>(fd) < Slots ? &m_slots[fd] : nullptr;
    }

    Slot m_slots[Slots];
};

OpenedFiles g_opened;

// The stat of an open descriptor, whole (fstat), or only its type, device and inode, from
// what its open learned when that is known.
bool TypeAndIdentity(int fd, struct stat& st) {
    return g_opened.Recall(fd, st) || fstat(fd, &st) == 0;
}

}  // namespace

namespace CX::Platform::Detail {

std::int64_t FileTimeFromTimespec(const struct timespec& time) {
    // Seconds from 1601-01-01 to 1970-01-01.
    constexpr std::int64_t EpochOffset = 11644473600;
    return (static_cast<std::int64_t>(time.tv_sec) + EpochOffset) * 10000000 +
           static_cast<std::int64_t>(time.tv_nsec) / 100;
}

// Windows tells a missing file (ERROR_FILE_NOT_FOUND) from a missing folder on its way
// (ERROR_PATH_NOT_FOUND); ENOENT is both. The file alone is missing when the folder that
// should hold it is there.
DWORD ErrorFromPathErrno(int errnoValue, const std::string& path) {
    if (errnoValue != ENOENT) {
        return ErrorFromErrno(errnoValue);
    }
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string::size_type slash = path.rfind('/', end);
    if (slash == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;  // in the working directory, which is there
    }
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash + 1);
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_PATH_NOT_FOUND;
}

// Windows hands a path that starts with \\?\ on without parsing it, and POSIX never parses
// one, so before an absolute path the prefix is simply dropped.
DWORD PosixPathFromWide(LPCWSTR lpName, std::string* pPath) {
    if (lpName == nullptr || lpName[0] == 0) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (std::char_traits<char16_t>::compare(lpName, kLongPathPrefix, 4) == 0 && lpName[4] == u'/') {
        lpName += 4;
    }
    try {
        *pPath = Utf8FromUtf16Path(lpName);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

}  // namespace CX::Platform::Detail

namespace {

// The open(2) flags for an access and a disposition the stand-in provides, or -1: reading
// or writing an existing file, and creating one only for a handle that may write it.
int OpenFlags(DWORD access, DWORD disposition) {
    int flags;
    switch (access) {
        case GENERIC_READ:
            flags = O_RDONLY;
            break;
        case GENERIC_WRITE:
            flags = O_WRONLY;
            break;
        case GENERIC_READ | GENERIC_WRITE:
            flags = O_RDWR;
            break;
        default:
            return -1;
    }
    if (disposition != OPEN_EXISTING &&
        ((access & GENERIC_WRITE) == 0 ||
         (disposition != CREATE_NEW && disposition != CREATE_ALWAYS &&
          disposition != OPEN_ALWAYS))) {
        return -1;
    }
    return flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
}

int OpenRetried(const std::string& path, int flags) {
    int fd;
    do {
        fd = open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens by disposition; *pExisted tells whether the file was there (CREATE_ALWAYS and
// OPEN_ALWAYS report it). Making the file exclusively first tells made from found without
// a race; a file removed between the two tries is tried again, a few times.
int OpenByDisposition(const std::string& path, int flags, DWORD disposition, bool* pExisted) {
    *pExisted = disposition == OPEN_EXISTING;
    if (disposition == OPEN_EXISTING) {
        return OpenRetried(path, flags);
    }
    if (disposition == CREATE_NEW) {
        return OpenRetried(path, flags | O_CREAT | O_EXCL);
    }
    int fd = -1;
    for (int attempt = 0; attempt < 8; ++attempt) {
        fd = OpenRetried(path, flags | O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
        fd = OpenRetried(path, flags | (disposition == CREATE_ALWAYS ? O_TRUNC : 0));
        if (fd >= 0 || errno != ENOENT) {
            *pExisted = fd >= 0;
            return fd;
        }
    }
    return fd;
}

// What a refused open reports: CREATE_NEW on an existing name is ERROR_FILE_EXISTS.
DWORD OpenError(int errnoValue, const std::string& path) {
    return errnoValue == EEXIST ? ERROR_FILE_EXISTS : ErrorFromPathErrno(errnoValue, path);
}

// Refuses what an open found but may not keep (a directory without backup semantics) and
// makes a descriptor that can wait (a FIFO, a device, a socket) blocking again. O_NONBLOCK
// only matters there: a regular file or a folder keeps it, which changes nothing and saves
// two calls on every file of a tree. Returns the error, or ERROR_SUCCESS.
DWORD CheckOpened(int fd, DWORD flagsAndAttributes) {
    struct stat st;
    int flags = 0;
    if (fstat(fd, &st) != 0 ||
        (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) &&
         ((flags = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0))) {
        return ErrorFromErrno(errno);
    }
    if (S_ISDIR(st.st_mode) && (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    g_opened.Remember(fd, st);
    return ERROR_SUCCESS;
}

}  // namespace

// Windows: opens a file and returns its handle, or INVALID_HANDLE_VALUE with the last
// error set. The UTF-16 path is handed to POSIX as UTF-8 (a lone surrogate becomes
// U+FFFD) and used as POSIX reads it: separators, case and trailing dots are not given
// Windows' meaning. The descriptor is close-on-exec, as a Windows handle is not inherited
// unless asked for.
// - Access is GENERIC_READ, GENERIC_WRITE or both. OPEN_EXISTING opens what is there;
//   with GENERIC_WRITE, CREATE_NEW makes a new file (an existing name fails with
//   ERROR_FILE_EXISTS), CREATE_ALWAYS empties an existing file or makes one, OPEN_ALWAYS
//   keeps an existing file or makes one. The last two leave ERROR_ALREADY_EXISTS as the
//   last error when the file was there and ERROR_SUCCESS when it was made, as Windows does.
//   A new file gets mode 0666 less the umask. Any other access or disposition, or a
//   creating one without GENERIC_WRITE, fails with ERROR_INVALID_PARAMETER instead of
//   opening something else. Share modes are accepted and mean nothing: POSIX has no
//   mandatory sharing, so ERROR_SHARING_VIOLATION never arises. Security attributes,
//   attribute flags and the template are ignored; of the flags only
//   FILE_FLAG_BACKUP_SEMANTICS counts (below).
// - The open does not wait: it is made with O_NONBLOCK, which is then cleared, so that a
//   FIFO without a writer opens at once (and then reads as empty) instead of hanging.
// - A directory fails with ERROR_ACCESS_DENIED, as on Windows without backup semantics;
//   with FILE_FLAG_BACKUP_SEMANTICS it opens for reading, so that GetFileInformationByHandle
//   can tell which directory it is (reading it fails as read(2) does: EISDIR,
//   ERROR_ACCESS_DENIED). The empty (or null) path with ERROR_PATH_NOT_FOUND; a missing
//   file with ERROR_FILE_NOT_FOUND, but ERROR_PATH_NOT_FOUND when a folder on its way is
//   missing; everything else by ErrorFromErrno (a file used as a directory 3, a path too
//   long 206, a full disk 112, ...).
// - A leading \\?\ before an absolute path is dropped: Windows hands such a path on
//   without parsing it, and POSIX never parses one.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    CX::Platform::Detail::RecordCreateFileArgs(
        CreateFileArgs{dwDesiredAccess, dwShareMode, lpSecurityAttributes == nullptr,
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile == nullptr});
    if (const auto fault = TakeFault(FaultCall::CreateFileW); fault.Action == FaultAction::Fail) {
        return OpenFailed(static_cast<DWORD>(fault.Value));
    }
    const int flags = OpenFlags(dwDesiredAccess, dwCreationDisposition);
    if (flags < 0) {
        return OpenFailed(ERROR_INVALID_PARAMETER);
    }
    std::string path;
    if (const DWORD error = CX::Platform::Detail::PosixPathFromWide(lpFileName, &path);
        error != ERROR_SUCCESS) {
        return OpenFailed(error);
    }
    bool existed = false;
    const int fd = OpenByDisposition(path, flags, dwCreationDisposition, &existed);
    if (fd < 0) {
        return OpenFailed(OpenError(errno, path));
    }
    if (const DWORD error = CheckOpened(fd, dwFlagsAndAttributes); error != ERROR_SUCCESS) {
        close(fd);
        return OpenFailed(error);
    }
    if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS) {
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    return HandleFromFd(fd);
}

// Windows, synchronous handle: one read of up to nNumberOfBytesToRead bytes at the file
// pointer, which moves on by what was delivered. The count is set to 0 before anything
// else and to the delivered count on success. TRUE with 0 bytes at or past the end, and
// for a request of 0 bytes. A short count is handed on as it comes; an interrupted read is
// retried. Overlapped reads are not provided (ERROR_INVALID_PARAMETER), nor is a null count.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    const auto fault = TakeFault(FaultCall::ReadFile);
    if (fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    if (lpNumberOfBytesRead == nullptr || lpOverlapped != nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (fault.Action == FaultAction::ReadNothing || nNumberOfBytesToRead == 0) {
        return TRUE;
    }
    ssize_t got;
    do {
        got = read(fd, lpBuffer, nNumberOfBytesToRead);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return FailFromErrno();
    }
    *lpNumberOfBytesRead = static_cast<DWORD>(got);
    return TRUE;
}

// Windows: moves the file pointer to liDistanceToMove from the start (FILE_BEGIN), the
// current pointer (FILE_CURRENT) or the end (FILE_END) and reports the new pointer when
// asked. A resulting position below 0, or beyond the largest signed 64-bit value, fails
// with ERROR_NEGATIVE_SEEK and leaves the pointer where it was; a position past the end is
// allowed. Another move method fails with ERROR_INVALID_PARAMETER. One difference: a
// position beyond what the file system can hold fails as lseek(2) does (EINVAL, so
// ERROR_INVALID_PARAMETER), where Windows may accept it.
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
    if (const auto fault = TakeFault(FaultCall::SetFilePointerEx);
        fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    std::int64_t base = 0;
    if (dwMoveMethod == FILE_CURRENT) {
        const off_t current = lseek(fd, 0, SEEK_CUR);
        if (current < 0) {
            return FailFromErrno();
        }
        base = current;
    } else if (dwMoveMethod == FILE_END) {
        struct stat st;
        if (fstat(fd, &st) != 0) {
            return FailFromErrno();
        }
        base = st.st_size;
    } else if (dwMoveMethod != FILE_BEGIN) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    std::int64_t target;
    if (__builtin_add_overflow(base, liDistanceToMove.QuadPart, &target) || target < 0) {
        return FailWith(ERROR_NEGATIVE_SEEK);
    }
    // The position query (0 from the current pointer) is answered by the lseek that found
    // the pointer: one call, as on Windows.
    const off_t moved = dwMoveMethod == FILE_CURRENT && target == base
                            ? static_cast<off_t>(base)
                            : lseek(fd, static_cast<off_t>(target), SEEK_SET);
    if (moved < 0) {
        return FailFromErrno();
    }
    if (lpNewFilePointer != nullptr) {
        lpNewFilePointer->QuadPart = moved;
    }
    return TRUE;
}

// Windows: the size of a file, from fstat. A handle that is not a regular file (a pipe,
// a socket, a character device) fails with ERROR_INVALID_FUNCTION, as Windows answers for
// handles that are not files.
BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    const auto fault = TakeFault(FaultCall::GetFileSizeEx);
    if (fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        return FailFromErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return FailWith(ERROR_INVALID_FUNCTION);
    }
    std::int64_t size = st.st_size;
    if (fault.Action == FaultAction::AdjustSize) {
        if (__builtin_add_overflow(size, fault.Value, &size)) {
            size = fault.Value < 0 ? 0 : INT64_MAX;
        }
        if (size < 0) {
            size = 0;
        }
    }
    lpFileSize->QuadPart = size;
    return TRUE;
}

// Windows: what kind of object the handle is, from the fstat its open made (OpenedFiles), or
// from fstat for a handle we did not open. FILE_TYPE_DISK is what has a
// size that tells its length: a regular file, unless its file system makes its content up
// as it is read (procfs and its kin, see SizeIsMadeUp), which is FILE_TYPE_UNKNOWN. A
// character device is FILE_TYPE_CHAR, a FIFO or a socket FILE_TYPE_PIPE, and anything
// else (a directory, a block device) FILE_TYPE_UNKNOWN. An answer sets the last error to
// ERROR_SUCCESS, so that FILE_TYPE_UNKNOWN can be told from a failure, as on Windows; an
// invalid handle fails with ERROR_INVALID_HANDLE.
DWORD GetFileType(HANDLE hFile) {
    if (const auto fault = TakeFault(FaultCall::GetFileType); fault.Action == FaultAction::Fail) {
        SetLastError(static_cast<DWORD>(fault.Value));
        return FILE_TYPE_UNKNOWN;
    }
    const int fd = FdFromHandle(hFile);
    struct stat st;
    if (fd < 0 || !TypeAndIdentity(fd, st)) {
        SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ErrorFromErrno(errno));
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(ERROR_SUCCESS);
    if (S_ISREG(st.st_mode)) {
        return SizeIsMadeUp(fd, st.st_dev) ? FILE_TYPE_UNKNOWN : FILE_TYPE_DISK;
    }
    if (S_ISCHR(st.st_mode)) {
        return FILE_TYPE_CHAR;
    }
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        return FILE_TYPE_PIPE;
    }
    return FILE_TYPE_UNKNOWN;
}

// Windows: the full path of lpFileName. A path that begins with '/' is its own full path;
// any other is joined to the working directory with one '/'. Nothing else is normalised
// ("." and ".." stay). With room for the path and its NUL it writes both and returns the
// path's length; otherwise it writes nothing and returns the room needed, NUL included.
// *lpFilePart, when asked for, points at the last component in the buffer, or is null
// when the path ends in '/'. A null or empty name fails with ERROR_INVALID_NAME.
DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                       LPWSTR* lpFilePart) {
    if (lpFileName == nullptr || lpFileName[0] == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::u16string full;
    try {
        if (lpFileName[0] != u'/') {
            std::string cwd(256, '\0');
            while (getcwd(cwd.data(), cwd.size()) == nullptr) {
                if (errno != ERANGE) {
                    SetLastError(ErrorFromErrno(errno));
                    return 0;
                }
                cwd.resize(cwd.size() * 2);
            }
            cwd.resize(std::char_traits<char>::length(cwd.c_str()));
            full = CX::Platform::Detail::Utf16FromUtf8Path(cwd);
            if (full.empty() || full.back() != u'/') {
                full += u'/';
            }
        }
        full += lpFileName;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (full.size() >= UINT32_MAX) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const auto length = static_cast<DWORD>(full.size());
    if (lpBuffer == nullptr || nBufferLength <= length) {
        return length + 1;
    }
    std::char_traits<char16_t>::copy(lpBuffer, full.c_str(), full.size() + 1);
    if (lpFilePart != nullptr) {
        const auto slash = full.rfind(u'/');
        *lpFilePart = slash + 1 == full.size() ? nullptr : lpBuffer + (slash + 1);
    }
    return length;
}

// Windows: releases the handle. Null, INVALID_HANDLE_VALUE and a handle already closed
// fail with ERROR_INVALID_HANDLE. An interrupted close still releases the descriptor on
// the systems we build for, so it counts as done.
BOOL CloseHandle(HANDLE hObject) {
    const auto fault = TakeFault(FaultCall::CloseHandle);
    const int fd = FdFromHandle(hObject);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    g_opened.Forget(fd);
    if (close(fd) != 0 && errno != EINTR) {
        return FailFromErrno();
    }
    if (fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    return TRUE;
}

// Windows: what the handle's file is, from fstat: its attributes (as a listing gives them),
// its size (0 for a directory, as Windows reports one), its link count, and the pair that
// names it on this machine: the volume serial number, here the device, and the file index,
// here the inode. Times are not reported (0). An invalid handle fails with
// ERROR_INVALID_HANDLE.
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    if (const auto fault = TakeFault(FaultCall::GetFileInformationByHandle);
        fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (lpFileInformation == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        return FailFromErrno();
    }
    // The device number as stat(2) gives it keeps a major below 4096 and a minor below 2^20
    // whole in its low 32 bits (it is what stat -c %d prints), which every device Linux
    // makes fits; only wider numbers have bits above, and those are folded in by xor.
    const auto device = static_cast<std::uint64_t>(st.st_dev);
    const auto size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    const auto index = static_cast<std::uint64_t>(st.st_ino);
    *lpFileInformation = BY_HANDLE_FILE_INFORMATION{};
    lpFileInformation->dwFileAttributes = AttributesFromMode(st.st_mode);
    lpFileInformation->ftLastWriteTime = FileTime(st.st_mtim);
    lpFileInformation->ftLastAccessTime = FileTime(st.st_atim);
    lpFileInformation->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    lpFileInformation->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    lpFileInformation->nFileSizeLow = static_cast<DWORD>(size);
    lpFileInformation->nNumberOfLinks =
        st.st_nlink > UINT32_MAX ? UINT32_MAX : static_cast<DWORD>(st.st_nlink);
    lpFileInformation->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    lpFileInformation->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

// Windows: one class of facts about an open file. FileBasicInfo: the last-write, last-access
// and change times (the creation time is 0: stat(2) does not tell it) and the attributes.
// FileIdInfo: the whole device number as the volume serial number and the inode in the low
// eight bytes of the file id (little-endian), the rest 0, so that no two files share it;
// known from the open without a call (OpenedFiles).
// Any other class, or a buffer smaller than the class's structure: ERROR_INVALID_PARAMETER.
BOOL GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                  LPVOID lpFileInformation, DWORD dwBufferSize) {
    // A folder's entries are a listing, with a fault-seam entry of their own.
    if (FileInformationClass == FileIdBothDirectoryInfo) {
        return CX::Platform::Detail::FolderEntriesByHandle(hFile, lpFileInformation, dwBufferSize);
    }
    if (const auto fault = TakeFault(FaultCall::GetFileInformationByHandleEx);
        fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    const bool basic = FileInformationClass == FileBasicInfo;
    if (lpFileInformation == nullptr || (!basic && FileInformationClass != FileIdInfo) ||
        dwBufferSize < (basic ? sizeof(FILE_BASIC_INFO) : sizeof(FILE_ID_INFO))) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    struct stat st;
    if (basic ? fstat(fd, &st) != 0 : !TypeAndIdentity(fd, st)) {
        return FailFromErrno();
    }
    if (basic) {
        auto& info = *static_cast<FILE_BASIC_INFO*>(lpFileInformation);
        info = FILE_BASIC_INFO{};
        info.LastWriteTime.QuadPart = FileTimeFromTimespec(st.st_mtim);
        info.LastAccessTime.QuadPart = FileTimeFromTimespec(st.st_atim);
        info.ChangeTime.QuadPart = FileTimeFromTimespec(st.st_ctim);
        info.FileAttributes = AttributesFromMode(st.st_mode);
        return TRUE;
    }
    auto& info = *static_cast<FILE_ID_INFO*>(lpFileInformation);
    info = FILE_ID_INFO{};
    info.VolumeSerialNumber = static_cast<ULONGLONG>(st.st_dev);
    auto index = static_cast<std::uint64_t>(st.st_ino);
    for (int i = 0; i < 8; ++i, index >>= 8) {
        info.FileId.Identifier[i] = static_cast<BYTE>(index);
    }
    return TRUE;
}

// Windows: the standard input, output or error handle: here the handle of descriptor 0, 1
// or 2. A descriptor that is not open gives null, as Windows gives for a process that has
// no such handle. Closing one with CloseHandle closes the descriptor, as on Windows. Any
// other number fails with INVALID_HANDLE_VALUE and ERROR_INVALID_PARAMETER.
HANDLE GetStdHandle(DWORD nStdHandle) {
    int fd;
    switch (nStdHandle) {
        case STD_INPUT_HANDLE:
            fd = 0;
            break;
        case STD_OUTPUT_HANDLE:
            fd = 1;
            break;
        case STD_ERROR_HANDLE:
            fd = 2;
            break;
        default:
            return OpenFailed(ERROR_INVALID_PARAMETER);
    }
    return fcntl(fd, F_GETFD) < 0 ? nullptr : HandleFromFd(fd);
}

// Windows: whether the handle is a console; the stand-in's console is a terminal. The
// mode reported is 0: no caller of ours reads it.
BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    const int fd = FdFromHandle(hConsoleHandle);
    if (fd < 0 || isatty(fd) == 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (lpMode != nullptr) {
        *lpMode = 0;
    }
    return TRUE;
}

// Windows: the console's buffer and visible window; here the terminal's rows and columns,
// which are both.
BOOL GetConsoleScreenBufferInfo(HANDLE hConsoleOutput,
                                PCONSOLE_SCREEN_BUFFER_INFO lpConsoleScreenBufferInfo) {
    const int fd = FdFromHandle(hConsoleOutput);
    struct winsize size;
    if (fd < 0 || lpConsoleScreenBufferInfo == nullptr || ioctl(fd, TIOCGWINSZ, &size) != 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    CONSOLE_SCREEN_BUFFER_INFO& info = *lpConsoleScreenBufferInfo;
    info = CONSOLE_SCREEN_BUFFER_INFO{};
    info.dwSize.X = static_cast<SHORT>(size.ws_col);
    info.dwSize.Y = static_cast<SHORT>(size.ws_row);
    info.srWindow.Right = static_cast<SHORT>(size.ws_col > 0 ? size.ws_col - 1 : 0);
    info.srWindow.Bottom = static_cast<SHORT>(size.ws_row > 0 ? size.ws_row - 1 : 0);
    info.dwMaximumWindowSize = info.dwSize;
    return TRUE;
}
