#pragma once

// The Win32 surface the product is written against. On Windows this is <windows.h>
// itself; elsewhere this header declares the same names, types, constants and error
// numbers, and src/platform/posix/ implements them over POSIX. Nothing outside
// src/platform/ asks which system it is on.
//
// What the POSIX stand-in promises (each function's comment in posix/ says more):
// - CreateFileW opens an existing file for reading (GENERIC_READ, OPEN_EXISTING),
//   close-on-exec, by its UTF-16 path converted to UTF-8 (a lone surrogate becomes U+FFFD).
//   A FIFO without a writer does not hang it. A directory fails with ERROR_ACCESS_DENIED,
//   the empty path with ERROR_PATH_NOT_FOUND, a missing file with ERROR_FILE_NOT_FOUND (but
//   ERROR_PATH_NOT_FOUND when a folder on its way is missing), and errno is mapped as
//   Windows compatibility layers map it.
//   POSIX has no mandatory share modes, so ERROR_SHARING_VIOLATION never arises.
// - CreateFileW with GENERIC_WRITE (alone or with GENERIC_READ) also opens for writing:
//   OPEN_EXISTING; CREATE_NEW (an existing name fails with ERROR_FILE_EXISTS); CREATE_ALWAYS
//   (an existing file is emptied) and OPEN_ALWAYS (kept), which on success set the last
//   error to ERROR_ALREADY_EXISTS when the file was there and to ERROR_SUCCESS when it was
//   made. A new file gets mode 0666 less the umask. Any other access or disposition, or a
//   creating one without GENERIC_WRITE, fails with ERROR_INVALID_PARAMETER.
// - WriteFile writes all it is given at the file pointer (write(2) until done, retried on
//   EINTR), or fails: a full disk (ENOSPC, EDQUOT) with ERROR_DISK_FULL (Windows also
//   reports ERROR_HANDLE_DISK_FULL in places: a caller takes both for a full disk), a
//   handle opened for reading only with ERROR_ACCESS_DENIED. The count says what was
//   written, also on failure. FlushFileBuffers is fsync(2); a handle that may not write
//   fails with ERROR_ACCESS_DENIED, as on Windows.
// - MoveFileExW renames (rename(2), atomic on one file system). Without
//   MOVEFILE_REPLACE_EXISTING an existing target fails with ERROR_ALREADY_EXISTS and is left
//   alone; with it the target is replaced at once (a directory target: ERROR_ACCESS_DENIED).
//   MOVEFILE_WRITE_THROUGH returns only once the folders holding both names are flushed
//   (fsync of each); should that flush fail, the name has moved all the same. Another
//   volume: ERROR_NOT_SAME_DEVICE. Any other flag or a null target: ERROR_INVALID_PARAMETER.
//   An open handle keeps reading the file it replaced. Windows (and Wine) refuse to replace
//   a file that any handle holds open, whatever its sharing (ERROR_ACCESS_DENIED until it is
//   closed); the stand-in cannot see other handles and replaces it.
// - DeleteFileW is unlink(2): a directory fails with ERROR_ACCESS_DENIED, a missing name as
//   CreateFileW tells it. Windows also refuses a read-only file; the stand-in does not.
// - LockFileEx and UnlockFileEx lock a byte range (OVERLAPPED Offset and OffsetHigh; a
//   range reaching past the largest signed 64-bit offset runs to the end of all files) with
//   open-file-description locks, which belong to the handle as Windows locks do: a second
//   handle conflicts, even in the same process, and closing the handle releases them.
//   LOCKFILE_EXCLUSIVE_LOCK excludes every other handle, without it others may share (an
//   exclusive lock needs a handle that may write, a shared one a handle that may read, else
//   ERROR_ACCESS_DENIED; Windows takes either for both).
//   Without LOCKFILE_FAIL_IMMEDIATELY it waits; with it a conflict fails with
//   ERROR_LOCK_VIOLATION. A length of 0, a range starting past that offset, a reserved word
//   that is not 0 or no OVERLAPPED: ERROR_INVALID_PARAMETER. Where the stand-in is softer:
//   the locks are advisory (Windows also refuses other handles' reads and writes in a locked
//   range, so lock a range no one reads, such as one past the data); locking a range again
//   through the same handle succeeds (Windows refuses an overlap), and unlocking what is
//   not locked succeeds (Windows: ERROR_NOT_LOCKED).
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
// - GetFileInformationByHandleEx with FileIdBothDirectoryInfo, on a folder opened with
//   FILE_FLAG_BACKUP_SEMANTICS, lists the folder in the order readdir(3) gives, "." and ".."
//   included, as many entries a call as the buffer holds, each call going on where the last
//   stopped: ERROR_NO_MORE_FILES after the last. ".." is a folder without facts (Windows gives
//   the parent's); every other entry has the facts of its own lstat:
//   attributes as a listing gives them (a symbolic link with EaSize = IO_REPARSE_TAG_SYMLINK,
//   where Windows puts a reparse point's tag), size, last-write, last-access and change times,
//   and the inode as FileId. An entry on another device than the folder (a file bound over
//   another) or gone before it could be asked about has FileId 0, which no file has: its
//   identity is unknown. No short name. A handle that is not a folder's, or a buffer that
//   cannot hold one entry's fixed part: ERROR_INVALID_PARAMETER; an entry that does not fit
//   in the room left is kept for the next call (ERROR_INSUFFICIENT_BUFFER when it is the
//   first).
// - GetStdHandle gives the handles of descriptors 0, 1 and 2 (null for one that is not
//   open); another number fails with ERROR_INVALID_PARAMETER.
// - GetConsoleMode succeeds (mode 0) only for a terminal (isatty(3)); anything else fails
//   with ERROR_INVALID_HANDLE, as Windows fails it for what is no console.
//   GetConsoleScreenBufferInfo gives the terminal's size (TIOCGWINSZ) as the buffer and
//   its window; the cursor and attributes are 0.
// - GetLastError is per thread; the stand-in's calls set it only when they fail, but for
//   CreateFileW's ERROR_ALREADY_EXISTS and ERROR_SUCCESS above.
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

enum FILE_INFO_BY_HANDLE_CLASS { FileBasicInfo = 0, FileIdBothDirectoryInfo = 10, FileIdInfo = 18 };

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

using CCHAR = char;

struct FILE_ID_BOTH_DIR_INFO {
    DWORD NextEntryOffset;
    DWORD FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    DWORD FileAttributes;
    DWORD FileNameLength;  // in bytes, no NUL
    DWORD EaSize;
    CCHAR ShortNameLength;
    WCHAR ShortName[12];
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
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

using ULONG_PTR = std::uintptr_t;
// Windows puts Offset and OffsetHigh in a union with a pointer, which nothing here uses;
// the layout is the same.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
inline constexpr DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
inline constexpr DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;
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
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_NOT_LOCKED = 158;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
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
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL FlushFileBuffers(HANDLE hFile);
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);
BOOL DeleteFileW(LPCWSTR lpFileName);
BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped);
BOOL UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow,
                  DWORD nNumberOfBytesToUnlockHigh, LPOVERLAPPED lpOverlapped);
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
