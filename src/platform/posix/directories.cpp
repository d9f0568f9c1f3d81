// Folder listings and the attributes of a path, over POSIX directory streams and stat.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

#include "platform/posix/stand_in.h"

using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::AttributesFromMode;
using CX::Platform::Detail::FileTime;

using CX::Platform::Detail::ErrorFromErrno;
using CX::Platform::Detail::ErrorFromPathErrno;
using CX::Platform::Detail::FdFromHandle;
using CX::Platform::Detail::FileTimeFromTimespec;
using CX::Platform::Detail::TakeFault;

namespace {

// A name in a folder is at most 255 bytes, each giving at most one UTF-16 unit.
static_assert(sizeof(dirent::d_name) <= MAX_PATH);

// What a find handle points at; the handle is its address.
struct Listing {
    DIR* Dir;
    bool Facts;  // FindExInfoStandard: sizes and times too
};

// The listings open now. A handle is looked up here before it is followed, so that a file
// handle, a closed listing or garbage is refused with ERROR_INVALID_HANDLE instead of read.
// The lock is held for the look-up only: listings on different threads read at once.
std::mutex g_listingsLock;
std::unordered_set<const void*> g_listings;

Listing* FindListing(HANDLE h) {
    const std::lock_guard<std::mutex> guard(g_listingsLock);
    return g_listings.count(h) != 0 ? static_cast<Listing*>(h) : nullptr;
}

// The attributes of an entry from the type readdir gives, so that a listing costs no call
// per entry; only a file system that does not tell the type is asked with fstatat. A
// symbolic link is never followed. An entry gone before it could be asked about is listed
// as a normal file: opening it will tell.
DWORD EntryAttributes(DIR* dir, const dirent& entry) {
    switch (entry.d_type) {
        case DT_DIR:
            return FILE_ATTRIBUTE_DIRECTORY;
        case DT_LNK:
            return FILE_ATTRIBUTE_REPARSE_POINT;
        case DT_REG:
            return FILE_ATTRIBUTE_NORMAL;
        case DT_UNKNOWN: {
            struct stat st;
            return fstatat(dirfd(dir), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                       ? AttributesFromMode(st.st_mode)
                       : FILE_ATTRIBUTE_NORMAL;
        }
        default:
            return FILE_ATTRIBUTE_DEVICE;
    }
}

// With facts asked for, the entry's size and times, its link not followed (as Windows lists
// a link's own). An entry gone since readdir keeps 0s: opening it will tell.
void EntryFacts(DIR* dir, const dirent& entry, WIN32_FIND_DATAW* pData) {
    struct stat st;
    if (fstatat(dirfd(dir), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        const auto size = static_cast<std::uint64_t>(st.st_size);
        pData->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        pData->nFileSizeLow = static_cast<DWORD>(size);
    }
    pData->ftLastWriteTime = FileTime(st.st_mtim);
    pData->ftLastAccessTime = FileTime(st.st_atim);
}

// Fills *pData with the next entry; ERROR_NO_MORE_FILES at the end.
DWORD ReadEntry(DIR* dir, bool facts, WIN32_FIND_DATAW* pData) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) {
        return errno == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno);
    }
    *pData = WIN32_FIND_DATAW{};
    // "." and ".." are folders whose facts no caller asks: a tree would pay two calls a
    // folder for them.
    const bool dots = entry->d_name[0] == '.' &&
                      (entry->d_name[1] == 0 || (entry->d_name[1] == '.' && entry->d_name[2] == 0));
    pData->dwFileAttributes = dots ? FILE_ATTRIBUTE_DIRECTORY : EntryAttributes(dir, *entry);
    if (pData->dwFileAttributes == FILE_ATTRIBUTE_REPARSE_POINT) {
        pData->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    }
    if (facts && !dots) {
        EntryFacts(dir, *entry, pData);
    }
    CX::Platform::Detail::Utf16FromUtf8Name(entry->d_name, pData->cFileName);
    return ERROR_SUCCESS;
}

// One record as getdents64(2) lays it out.
struct KernelEntry {
    std::uint64_t Inode;
    std::int64_t Next;  // the folder's position after this entry
    unsigned short Length;
    unsigned char Type;
    char Name[1];
};

constexpr std::size_t NameAt = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
// getdents64's record for a name of 255 bytes, the longest a folder holds.
constexpr std::size_t LongestEntry = (offsetof(KernelEntry, Name) + 256 + 7) & ~std::size_t{7};

// Fills the record at pInfo for the entry named szName in the folder fd (on device folderDevice)
// and returns its length, a multiple of 8, or 0 when it needs more than room bytes.
std::size_t FillDirectoryRecord(int fd, const struct stat& folder, const KernelEntry& entry,
                                std::byte* pInfo, std::size_t room) {
    WCHAR name[MAX_PATH];
    const std::size_t units = CX::Platform::Detail::Utf16FromUtf8Name(entry.Name, name);
    const std::size_t length = (NameAt + units * sizeof(WCHAR) + 7) & ~std::size_t{7};
    if (length > room) {
        return 0;
    }
    FILE_ID_BOTH_DIR_INFO info{};
    // "." is the folder, whose facts are known already; ".." is listed as a folder without
    // facts: no caller asks about either, and a tree would pay a call for each folder.
    const bool dot = std::strcmp(entry.Name, ".") == 0;
    const bool dotDot = std::strcmp(entry.Name, "..") == 0;
    struct stat st = folder;
    if (dotDot) {
        info.FileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (dot || fstatat(fd, entry.Name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        info.FileAttributes = AttributesFromMode(st.st_mode);
        info.LastWriteTime.QuadPart = FileTimeFromTimespec(st.st_mtim);
        info.LastAccessTime.QuadPart = FileTimeFromTimespec(st.st_atim);
        info.ChangeTime.QuadPart = FileTimeFromTimespec(st.st_ctim);
        info.EndOfFile.QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
        if (st.st_dev == folder.st_dev) {
            info.FileId.QuadPart = static_cast<LONGLONG>(st.st_ino);
        }
    } else {
        // Gone since it was listed: listed by its type, without facts; opening it will tell.
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (entry.Type == DT_DIR) {
            info.FileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        } else if (entry.Type == DT_LNK) {
            info.FileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        }
    }
    if (info.FileAttributes == FILE_ATTRIBUTE_REPARSE_POINT) {
        info.EaSize = IO_REPARSE_TAG_SYMLINK;
    }
    info.FileNameLength = static_cast<DWORD>(units * sizeof(WCHAR));
    std::memcpy(pInfo, &info, NameAt);
    std::memcpy(pInfo + NameAt, name, units * sizeof(WCHAR));
    return length;
}

HANDLE FindFailed(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The folder a pattern lists, with a '/' at its end: "<folder>/*" or "<folder>\*" (the
// backslash taken as the separator here, as on Windows), or "*" for the working directory.
// False for any other pattern.
bool FolderOfPattern(LPCWSTR lpPattern, std::u16string* pFolder) {
    if (lpPattern == nullptr) {
        return false;
    }
    const std::u16string pattern(lpPattern);
    if (pattern == u"*") {
        *pFolder = u"./";
        return true;
    }
    const std::size_t n = pattern.size();
    if (n < 2 || pattern[n - 1] != u'*' || (pattern[n - 2] != u'/' && pattern[n - 2] != u'\\')) {
        return false;
    }
    *pFolder = pattern.substr(0, n - 2) + u'/';
    return true;
}

// Why opendir refused a folder. ENOTDIR is either the folder itself being no folder
// (ERROR_DIRECTORY, as Windows says of a file listed as a folder) or a file standing where
// a folder on the way should be (ERROR_PATH_NOT_FOUND). A missing folder is told as
// CreateFileW tells it for "<folder>/*": the folder of the file "*" is missing.
DWORD OpenDirError(int errnoValue, const std::string& folder) {
    if (errnoValue == ENOTDIR) {
        struct stat st;
        const std::string::size_type end = folder.find_last_not_of('/');
        return stat(folder.substr(0, end + 1).c_str(), &st) == 0 ? ERROR_DIRECTORY
                                                                 : ERROR_PATH_NOT_FOUND;
    }
    return ErrorFromPathErrno(errnoValue, folder + '*');
}

}  // namespace

namespace CX::Platform::Detail {

DWORD AttributesFromMode(std::uint32_t mode) {
    if (S_ISDIR(mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    if (S_ISLNK(mode)) {
        return FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return S_ISREG(mode) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DEVICE;
}

}  // namespace CX::Platform::Detail

// Windows: opens a listing of the folder the pattern names and gives its first entry. Only
// the patterns that list a whole folder are provided: "<folder>/*", "<folder>\*" and "*"
// (the working directory); any other, or a null pFindFileData, fails with
// ERROR_INVALID_PARAMETER. The search operation, filter and flags are ignored. A leading
// \\?\ before an absolute folder is dropped, as CreateFileW does. The entries come in the order
// readdir(3) gives, "." and ".." included as Windows gives them for any folder but a drive's root.
// Each entry's attributes (see EntryAttributes): a directory FILE_ATTRIBUTE_DIRECTORY; a symbolic
// link, never followed, FILE_ATTRIBUTE_REPARSE_POINT with dwReserved0 = IO_REPARSE_TAG_SYMLINK; a
// FIFO, socket or device FILE_ATTRIBUTE_DEVICE; a regular file FILE_ATTRIBUTE_NORMAL. Sizes and
// times cost a stat per entry here, where Windows has them for nothing: they are given with
// FindExInfoStandard only, and are 0 with FindExInfoBasic, and always for "." and "..". The short
// name is empty. The name is UTF-16, with each byte that is not part of well-formed UTF-8 as U+DC80
// + byte. Failures: a missing folder ERROR_PATH_NOT_FOUND, a file named as the folder
// ERROR_DIRECTORY, a folder that may not be read ERROR_ACCESS_DENIED, anything else by
// ErrorFromErrno. The handle is for FindNextFileW and FindClose only; the descriptor behind
// it is close-on-exec.
HANDLE FindFirstFileExW(LPCWSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId, LPVOID lpFindFileData,
                        FINDEX_SEARCH_OPS, LPVOID, DWORD) {
    if (const auto fault = TakeFault(FaultCall::FindFirstFileExW);
        fault.Action == FaultAction::Fail) {
        return FindFailed(static_cast<DWORD>(fault.Value));
    }
    auto* pData = static_cast<WIN32_FIND_DATAW*>(lpFindFileData);
    std::string folder;
    try {
        std::u16string wideFolder;
        if (pData == nullptr || !FolderOfPattern(lpFileName, &wideFolder)) {
            return FindFailed(ERROR_INVALID_PARAMETER);
        }
        if (const DWORD error =
                CX::Platform::Detail::PosixPathFromWide(wideFolder.c_str(), &folder);
            error != ERROR_SUCCESS) {
            return FindFailed(error);
        }
    } catch (const std::bad_alloc&) {
        return FindFailed(ERROR_NOT_ENOUGH_MEMORY);
    }

    // glibc opens the folder close-on-exec, as a Windows handle is not inherited.
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return FindFailed(OpenDirError(errno, folder));
    }
    const bool facts = fInfoLevelId == FindExInfoStandard;
    DWORD error = ReadEntry(dir, facts, pData);
    // A folder always holds "." and ".."; a listing with nothing in it matched nothing.
    if (error == ERROR_NO_MORE_FILES) {
        error = ERROR_FILE_NOT_FOUND;
    }
    Listing* pListing = nullptr;
    if (error == ERROR_SUCCESS) {
        try {
            pListing = new Listing{dir, facts};
            const std::lock_guard<std::mutex> guard(g_listingsLock);
            g_listings.insert(pListing);
        } catch (const std::bad_alloc&) {
            delete pListing;
            error = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    if (error != ERROR_SUCCESS) {
        closedir(dir);
        return FindFailed(error);
    }
    return pListing;
}

// Windows: the next entry of a listing, as FindFirstFileExW describes it; FALSE with
// ERROR_NO_MORE_FILES after the last. A handle that is no open listing fails with
// ERROR_INVALID_HANDLE, a null pFindFileData with ERROR_INVALID_PARAMETER.
BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    if (const auto fault = TakeFault(FaultCall::FindNextFileW); fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    Listing* pListing = FindListing(hFindFile);
    if (pListing == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (lpFindFileData == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const DWORD error = ReadEntry(pListing->Dir, pListing->Facts, lpFindFileData);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
}

// Windows: ends a listing and releases its folder. A handle that is no open listing (null,
// INVALID_HANDLE_VALUE, a file handle, one already closed) fails with ERROR_INVALID_HANDLE.
BOOL FindClose(HANDLE hFindFile) {
    {
        const std::lock_guard<std::mutex> guard(g_listingsLock);
        if (g_listings.erase(hFindFile) == 0) {
            return FailWith(ERROR_INVALID_HANDLE);
        }
    }
    auto* pListing = static_cast<Listing*>(hFindFile);
    closedir(pListing->Dir);
    delete pListing;
    return TRUE;
}

// Windows: the attributes of what the path names, following symbolic links (stat(2)), as
// FindFirstFileExW gives them: a directory, a device, or a normal file. Read-only and the
// other flags are not reported. A failure gives INVALID_FILE_ATTRIBUTES with the error
// CreateFileW would give for the path (a dangling link: ERROR_FILE_NOT_FOUND).
DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    std::string path;
    if (const DWORD error = CX::Platform::Detail::PosixPathFromWide(lpFileName, &path);
        error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(ErrorFromPathErrno(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesFromMode(st.st_mode);
}

// Windows: the next entries of the folder the handle was opened on (FILE_FLAG_BACKUP_SEMANTICS),
// as many as the buffer holds, each call going on from where the last one stopped, "." and ".."
// included, in the order getdents64(2) gives. Each record is FILE_ID_BOTH_DIR_INFO, 8-aligned,
// chained by NextEntryOffset (0 on the last). ".." is a folder without facts (Windows gives
// the parent's). Every other entry's facts are its own lstat (a link is not followed): the
// attributes as FindFirstFileExW gives them, a symbolic link's tag in EaSize as Windows puts a
// reparse point's there, the size (0 for a folder), the last-write, last-access and change times,
// and the inode as FileId. An entry on another device than the folder (a file bound over another:
// its inode says nothing on the folder's volume), or gone before it could be asked about, has
// FileId 0, which no file has. No creation time, no short name, no allocation size. After the last
// entry: ERROR_NO_MORE_FILES. A handle that is not open: ERROR_INVALID_HANDLE; one that is no
// folder's, or a buffer too small for a record's fixed part: ERROR_INVALID_PARAMETER; a buffer too
// small for the next whole record: ERROR_INSUFFICIENT_BUFFER, the entry kept. The folder's position
// is the descriptor's, so one handle is listed by one thread at a time, as on Windows.
BOOL CX::Platform::Detail::FolderEntriesByHandle(HANDLE hFile, LPVOID lpFileInformation,
                                                 DWORD dwBufferSize) {
    if (const auto fault = TakeFault(FaultCall::FileIdBothDirectoryInfo);
        fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    const int fd = FdFromHandle(hFile);
    if (fd < 0) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (lpFileInformation == nullptr || dwBufferSize < sizeof(FILE_ID_BOTH_DIR_INFO)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    auto* const pOut = static_cast<std::byte*>(lpFileInformation);
    std::size_t used = 0;
    std::size_t last = 0;  // the offset of the last record written
    struct stat folder;    // asked when the first entry comes
    bool folderKnown = false;
    alignas(8) char kernel[8192];
    for (;;) {
        // A record takes under six times what its entry takes in getdents64's answer (a
        // one-byte name: 113 bytes against 24): asking for a sixth of the room left brings
        // only entries that fit, so none is read that must be given back. Only a buffer
        // too small for that to hold the longest name's entry reads more, from a position
        // noted to go back to.
        const std::size_t room = dwBufferSize - used;
        const bool bounded = room / 6 >= LongestEntry;
        if (!bounded && used != 0) {
            break;
        }
        const off_t from = bounded ? 0 : lseek(fd, 0, SEEK_CUR);
        const long got = syscall(SYS_getdents64, fd, kernel,
                                 bounded ? std::min(sizeof kernel, room / 6) : sizeof kernel);
        if (got < 0) {
            return FailWith(errno == ENOTDIR ? ERROR_INVALID_PARAMETER
                            : errno == EBADF ? ERROR_INVALID_HANDLE
                                             : ErrorFromErrno(errno));
        }
        if (got == 0) {
            break;
        }
        if (!folderKnown) {
            if (fstat(fd, &folder) != 0) {
                return FailWith(ErrorFromErrno(errno));
            }
            folderKnown = true;
        }
        std::int64_t position = from;
        for (long at = 0; at < got;) {
            const auto& entry = *reinterpret_cast<const KernelEntry*>(kernel + at);
            const std::size_t length =
                FillDirectoryRecord(fd, folder, entry, pOut + used, dwBufferSize - used);
            if (length == 0) {
                // No room (never when bounded): this entry is the next call's.
                lseek(fd, position, SEEK_SET);
                if (used == 0) {
                    return FailWith(ERROR_INSUFFICIENT_BUFFER);
                }
                break;
            }
            if (used != 0) {
                reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(pOut + last)->NextEntryOffset =
                    static_cast<DWORD>(used - last);
            }
            last = used;
            used += length;
            position = entry.Next;
            at += entry.Length;
        }
    }
    if (used == 0) {
        return FailWith(ERROR_NO_MORE_FILES);
    }
    reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(pOut + last)->NextEntryOffset = 0;
    return TRUE;
}
