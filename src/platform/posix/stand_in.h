#pragma once

// What the stand-in's files share among themselves. Not for use outside posix/.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/fault_seam.h"
#include "platform/win32.h"

namespace CX::Platform::Detail {

// A handle is the descriptor plus one, so that no open file is ever null or
// INVALID_HANDLE_VALUE.
inline HANDLE HandleFromFd(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1);
}

// The descriptor behind a handle, or -1 for null and INVALID_HANDLE_VALUE.
inline int FdFromHandle(HANDLE h) {
    const auto v = reinterpret_cast<std::intptr_t>(h);
    if (v <= 0 || v - 1 > INT32_MAX) {
        return -1;
    }
    return static_cast<int>(v - 1);
}

// A call's failure: the last error set, FALSE returned.
inline BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The Win32 error number that Windows compatibility layers give for an errno value.
DWORD ErrorFromErrno(int errnoValue);

// UTF-16 to UTF-8 for handing a path to POSIX; a lone surrogate becomes U+FFFD. Stops at
// the first NUL. Throws std::bad_alloc when the text cannot grow.
std::string Utf8FromUtf16Path(const WCHAR* pPath);

// The POSIX path for a name the product passes in, as CreateFileW reads it: the prefix
// \\?\ before an absolute path is dropped, the rest converted by Utf8FromUtf16Path. Returns
// ERROR_SUCCESS, ERROR_PATH_NOT_FOUND for a null or empty name, or ERROR_NOT_ENOUGH_MEMORY.
DWORD PosixPathFromWide(LPCWSTR lpName, std::string* pPath);

// The error for a path that a POSIX call refused with errnoValue: ENOENT is told apart into
// ERROR_FILE_NOT_FOUND (the folder that should hold it is there) and ERROR_PATH_NOT_FOUND
// (a folder on its way is missing), as Windows tells them; anything else by ErrorFromErrno.
DWORD ErrorFromPathErrno(int errnoValue, const std::string& path);

// The Win32 attributes of a file of this st_mode type: a directory, a symbolic link (as a
// reparse point), a device (FIFO, socket, character or block device) or a normal file.
DWORD AttributesFromMode(std::uint32_t mode);

// GetFileInformationByHandleEx's FileIdBothDirectoryInfo class: a folder's entries, listed
// with the other listings (directories.cpp).
BOOL FolderEntriesByHandle(HANDLE hFile, LPVOID lpFileInformation, DWORD dwBufferSize);

// UTF-8 to UTF-16 for a name read from a folder, into pOut (room for one unit per byte plus a
// NUL suffices); returns the units written before the NUL. A byte that does not
// decode as well-formed UTF-8 becomes the lone surrogate U+DC80 + byte, which well-formed
// UTF-8 can never produce.
std::size_t Utf16FromUtf8Name(const char* szName, char16_t* pOut);

// UTF-8 to UTF-16 by Windows' replacement rule, for paths the system hands back (the
// working directory). Throws std::bad_alloc when the text cannot grow.
std::u16string Utf16FromUtf8Path(const std::string& path);

// A time of stat(2) as Windows counts time: 100 ns units since 1601-01-01 (UTC). The
// nanoseconds below 100 are dropped.
std::int64_t FileTimeFromTimespec(const struct timespec& time);
inline FILETIME FileTime(const struct timespec& time) {
    const auto units = static_cast<std::uint64_t>(FileTimeFromTimespec(time));
    return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

struct Fault {
    FaultAction Action = FaultAction::None;
    std::int64_t Value = 0;
};

#ifdef QUILLMARK_FAULT_SEAM
// Counts one use of call and hands out the action armed for that use, if any.
Fault TakeFault(FaultCall call);
void RecordCreateFileArgs(const CreateFileArgs& args);
#else
// The product build: nothing is counted and nothing can fire, so every check on the
// result folds away.
constexpr Fault TakeFault(FaultCall) {
    return {};
}
constexpr void RecordCreateFileArgs(const CreateFileArgs&) {}
#endif

}  // namespace CX::Platform::Detail
