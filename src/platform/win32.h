#pragma once

// The Win32 surface the product is written against. On Windows this is <windows.h>
// itself; elsewhere this header declares the same names, types, constants and error
// numbers, and src/platform/posix/ implements them over POSIX. Nothing outside
// src/platform/ asks which system it is on.
//
// What the POSIX stand-in promises (each function's comment in posix/ says more):
// - CreateFileW opens an existing file for reading only (GENERIC_READ, OPEN_EXISTING; any
//   other access or disposition fails with ERROR_INVALID_PARAMETER), close-on-exec, by its
//   UTF-16 path converted to UTF-8 (a lone surrogate becomes U+FFFD). A FIFO without a
//   writer does not hang it. A directory fails with ERROR_ACCESS_DENIED, the empty path
//   with ERROR_PATH_NOT_FOUND, a missing file with ERROR_FILE_NOT_FOUND (but
//   ERROR_PATH_NOT_FOUND when a folder on its way is missing), and errno is mapped as
//   Windows compatibility layers map it.
//   POSIX has no mandatory share modes, so ERROR_SHARING_VIOLATION never arises.
// - ReadFile is one read(2) per call, retried on EINTR; TRUE with 0 bytes at the end.
// - SetFilePointerEx fails with ERROR_NEGATIVE_SEEK for a position below 0 or beyond
//   the largest signed 64-bit value; a position past the end succeeds.
// - GetFileSizeEx reports regular files only; a pipe, socket or device fails with
//   ERROR_INVALID_FUNCTION, as Windows does for handles that are not files.
// - GetFileType answers from fstat: a regular file FILE_TYPE_DISK, a character device
//   FILE_TYPE_CHAR, a FIFO or socket FILE_TYPE_PIPE, anything else FILE_TYPE_UNKNOWN with
//   the last error ERROR_SUCCESS. A regular file on a file system whose sizes say nothing
//   of the content (procfs, cgroup, debugfs, tracefs, securityfs) is FILE_TYPE_UNKNOWN
//   too. An invalid handle: FILE_TYPE_UNKNOWN with ERROR_INVALID_HANDLE.
// - GetFullPathNameW joins a relative path to the working directory; an absolute one (a
//   leading '/') is its own full path. Nothing else is normalised. CreateFileW drops a
//   leading \\?\ before an absolute path, as Windows passes such a path on unparsed.
// - CreateFileW with FILE_FLAG_BACKUP_SEMANTICS opens a directory too (for
//   GetFileInformationByHandle), as Windows does; without it a directory is refused as above.
//   Reading such a handle fails with ERROR_ACCESS_DENIED (EISDIR; Wine says
//   ERROR_INVALID_FUNCTION).
// - FindFirstFileExW takes "<folder>/*", "<folder>\\*" or "*" (the working directory; any
//   info level, name match, flags ignored) and, with FindNextFileW and FindClose, lists every
//   entry of the folder, "." and ".." included, in the order readdir(3) gives. Attributes: a
//   directory FILE_ATTRIBUTE_DIRECTORY, a symbolic link FILE_ATTRIBUTE_REPARSE_POINT with
//   dwReserved0 = IO_REPARSE_TAG_SYMLINK (never followed, whatever it points at), a FIFO,
//   socket or device FILE_ATTRIBUTE_DEVICE, a regular file FILE_ATTRIBUTE_NORMAL. Sizes and
//   times only with FindExInfoStandard (below). A name whose bytes are not UTF-8 comes back with
//   each byte that does not decode as a lone surrogate U+DC80 + byte, so that it can never be taken
//   for a name that converts to UTF-8. Any other pattern, or no data to fill:
//   ERROR_INVALID_PARAMETER. A missing folder: ERROR_PATH_NOT_FOUND (as CreateFileW tells
//   it for "<folder>/*"); a file used as the folder: ERROR_DIRECTORY (a file on the way:
//   ERROR_PATH_NOT_FOUND); a folder that may not be read: ERROR_ACCESS_DENIED; the end of
//   the listing: ERROR_NO_MORE_FILES. FindNextFileW and FindClose refuse anything that is
//   not an open listing with ERROR_INVALID_HANDLE. Listings may run on several threads.
// - GetFileAttributesW follows symbolic links (stat(2); Windows gives the link's own
//   attributes); the attributes as above. Failing: INVALID_FILE_ATTRIBUTES with CreateFileW's
//   error for the path.
// - GetFileInformationByHandle: attributes as above, the size (0 for a directory), the link
//   count, the device as volume serial number (folded to 32 bits) and the inode as file
//   index, the last-write and last-access times; no creation time (0).
// - GetFileInformationByHandleEx knows FileBasicInfo (the times, the change time included,
//   at 100 ns; no creation time) and FileIdInfo (the whole device number as volume serial
//   number, the inode in the low eight bytes of the file id); any other class fails with
//   ERROR_INVALID_PARAMETER, as does a buffer too small for the class.
// - FindFirstFileExW with FindExInfoStandard reports each entry's size and times too, at
//   the cost of one fstatat per entry; with FindExInfoBasic they are 0.
// - GetStdHandle gives the handles of descriptors 0, 1 and 2 (null for one that is not
//   open); another number fails with ERROR_INVALID_PARAMETER.
// - GetConsoleMode succeeds (mode 0) only for a terminal (isatty(3)); anything else fails
//   with ERROR_INVALID_HANDLE, as Windows fails it for what is no console.
//   GetConsoleScreenBufferInfo gives the terminal's size (TIOCGWINSZ) as the buffer and
//   its window; the cursor and attributes are 0.
// - GetLastError is per thread; the stand-in's calls set it only when they fail.
// - HeapAlloc with flags 0 is malloc (null on failure, last error untouched); HeapFree is
//   free.
// - MultiByteToWideChar knows CP_UTF8 with flags 0 only (another code page: 87, a flag:
//   1004) and replaces invalid input the way Windows does, which differs from the Unicode
//   maximal-subpart practice for E0/ED/F0/F4 leads. A destination too small: 0 with 122,
//   nothing written. A byte count of 0: 0 with 87; -1: the text and its NUL.
// - In test builds a fault seam can make each call fail on cue (platform/fault_seam.h).

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else  // the POSIX stand-in

#include <cstddef>
#include <cstdint>

using BOOL = int;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using CHAR = char;
using LPCCH = const char*;
using LPCSTR = const char*;
// A wide character is a UTF-16 code unit, as on Windows.
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// MAX_PATH units: a directory entry's own name never needs more.
inline constexpr DWORD MAX_PATH = 260;

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;  // the reparse tag, when FILE_ATTRIBUTE_REPARSE_POINT is set
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
using LPBY_HANDLE_FILE_INFORMATION = BY_HANDLE_FILE_INFORMATION*;

using ULONGLONG = std::uint64_t;
using BYTE = std::uint8_t;

enum FILE_INFO_BY_HANDLE_CLASS { FileBasicInfo = 0, FileIdInfo = 18 };

struct FILE_BASIC_INFO {
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    DWORD FileAttributes;
};

struct FILE_ID_128 {
    BYTE Identifier[16];
};

struct FILE_ID_INFO {
    ULONGLONG VolumeSerialNumber;
    FILE_ID_128 FileId;
};

using SHORT = std::int16_t;
using WORD = std::uint16_t;

struct COORD {
    SHORT X;
    SHORT Y;
};
struct SMALL_RECT {
    SHORT Left;
    SHORT Top;
    SHORT Right;
    SHORT Bottom;
};
struct CONSOLE_SCREEN_BUFFER_INFO {
    COORD dwSize;
    COORD dwCursorPosition;
    WORD wAttributes;
    SMALL_RECT srWindow;
    COORD dwMaximumWindowSize;
};
using PCONSOLE_SCREEN_BUFFER_INFO = CONSOLE_SCREEN_BUFFER_INFO*;

enum FINDEX_INFO_LEVELS { FindExInfoStandard = 0, FindExInfoBasic = 1 };
enum FINDEX_SEARCH_OPS { FindExSearchNameMatch = 0 };

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;
inline constexpr DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003u;
inline constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000Cu;
inline constexpr DWORD FIND_FIRST_EX_LARGE_FETCH = 0x2;
inline constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD FILE_TYPE_UNKNOWN = 0x0000;
inline constexpr DWORD FILE_TYPE_DISK = 0x0001;
inline constexpr DWORD FILE_TYPE_CHAR = 0x0002;
inline constexpr DWORD FILE_TYPE_PIPE = 0x0003;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_CRC = 23;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_DIRECTORY = 267;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod);
BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
BOOL CloseHandle(HANDLE hObject);
DWORD GetFileType(HANDLE hFile);
DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                       LPWSTR* lpFilePart);

HANDLE FindFirstFileExW(LPCWSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId, LPVOID lpFindFileData,
                        FINDEX_SEARCH_OPS fSearchOp, LPVOID lpSearchFilter,
                        DWORD dwAdditionalFlags);
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL FindClose(HANDLE hFindFile);
DWORD GetFileAttributesW(LPCWSTR lpFileName);
BOOL GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
BOOL GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                  LPVOID lpFileInformation, DWORD dwBufferSize);
HANDLE GetStdHandle(DWORD nStdHandle);
BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);
BOOL GetConsoleScreenBufferInfo(HANDLE hConsoleOutput,
                                PCONSOLE_SCREEN_BUFFER_INFO lpConsoleScreenBufferInfo);

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

#endif
