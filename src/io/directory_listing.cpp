#include "io/directory_listing.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "io/long_path.h"
#include "mem/utf8_to_wide.h"
#include "platform/path_rules.h"
#include "platform/utf8_from_utf16.h"

namespace CX::IO {
namespace {

bool IsSeparator(char c) {
    return c == '/' || (CX::Platform::BackslashIsSeparator && c == '\\');
}

// The standard level is asked only for sizes and times: Windows gives them at either level,
// but elsewhere they cost a call per entry.
HANDLE FindFirst(const HeapWString& wstrPattern, bool withFacts, WIN32_FIND_DATAW& data) {
    return FindFirstFileExW(wstrPattern.c_str(), withFacts ? FindExInfoStandard : FindExInfoBasic,
                            &data, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
}

bool IsDotOrDotDot(const WCHAR* pName) {
    return pName[0] == '.' && (pName[1] == 0 || (pName[1] == '.' && pName[2] == 0));
}

// Windows marks what only stands for another place (a symbolic link, a junction, a mount
// point) as a name surrogate; other reparse points (deduplicated or cloud files) hold
// content of their own and are files or folders like any other. A reparse point without
// a tag is no real one's: Wine marks a symbolic link to a folder that way.
constexpr DWORD NameSurrogateBit = 0x20000000u;

EntryKind KindOf(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (reparseTag == 0 || (reparseTag & NameSurrogateBit) != 0)) {
        return EntryKind::Link;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EntryKind::Directory;
    }
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return EntryKind::Other;
    }
    return EntryKind::File;
}

// Room for a few hundred entries a call.
constexpr DWORD RecordBytes = 0x8000;
constexpr std::size_t NameAt = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);

HANDLE OpenFolder(const HeapWString& wstrPath) {
    return CreateFileW(wstrPath.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::int64_t Units(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

}  // namespace

bool WideToUtf8(const WCHAR* pText, std::string& out) {
    out.clear();
    return CX::Platform::AppendUtf8FromUtf16(pText, out);
}

DirectoryListing::DirectoryListing(const char* pPath, bool withFacts, bool withIdentities)
    : m_withFacts(withFacts || withIdentities) {
    // Whatever keeps the folder from being listed by handle, the other way says why, in the
    // words a listing always gave.
    if (withIdentities && OpenByHandle(pPath)) {
        return;
    }
    std::string pattern(pPath);
    // A verbatim path is handed on unparsed, so only a backslash separates there.
    const bool verbatim = pattern.rfind("\\\\?\\", 0) == 0;
    if (pattern.empty() || !IsSeparator(pattern.back())) {
        pattern += verbatim ? '\\' : '/';
    }
    pattern += '*';
    HeapWString wstrPattern;
    const Status status = Utf8ToWide(pattern.c_str(), wstrPattern);
    if (!status.IsSuccess()) {
        m_error = status.Code == StatusCode::AllocationFailed ? ERROR_NOT_ENOUGH_MEMORY
                                                              : ERROR_NO_UNICODE_TRANSLATION;
        return;
    }
    HANDLE hFind = FindFirst(wstrPattern, m_withFacts, m_data);
    if (hFind == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        HeapWString wstrLong;
        if (!RetryInLongForm(wstrPattern, error, wstrLong)) {
            m_error = error;
            return;
        }
        hFind = FindFirst(wstrLong, m_withFacts, m_data);
        if (hFind == INVALID_HANDLE_VALUE) {
            m_error = GetLastError();
            return;
        }
    }
    m_hFind = hFind;
    m_pending = true;
}

bool DirectoryListing::OpenByHandle(const char* pPath) {
    HeapWString wstrPath;
    if (!Utf8ToWide(pPath, wstrPath).IsSuccess()) {
        return false;
    }
    HANDLE hFolder = OpenFolder(wstrPath);
    if (hFolder == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        HeapWString wstrLong;
        if (!RetryInLongForm(wstrPath, error, wstrLong)) {
            return false;
        }
        hFolder = OpenFolder(wstrLong);
        if (hFolder == INVALID_HANDLE_VALUE) {
            return false;
        }
    }
    // The folder's volume is its files' (a mount point is a folder of its own), told as
    // FactsOfHandle tells a file's, so that identities from either compare equal.
    FileIdentity folder;
    DWORD error = ERROR_SUCCESS;
    m_records.reset(new (std::nothrow) std::uint64_t[RecordBytes / sizeof(std::uint64_t)]);
    if (!m_records || !IdentityOfHandle(hFolder, folder, error) ||
        GetFileInformationByHandleEx(hFolder, FileIdBothDirectoryInfo, m_records.get(),
                                     RecordBytes) == FALSE) {
        CloseHandle(hFolder);
        m_records.reset();
        return false;
    }
    m_volume = folder.Volume;
    m_hFolder = hFolder;
    m_recordAt = 0;
    m_recordsLeft = true;
    return true;
}

DirectoryListing::~DirectoryListing() {
    if (m_hFind != nullptr) {
        FindClose(m_hFind);
    }
    if (m_hFolder != nullptr) {
        CloseHandle(m_hFolder);
    }
}

const FILE_ID_BOTH_DIR_INFO* DirectoryListing::NextRecord() {
    if (!m_recordsLeft) {
        if (GetFileInformationByHandleEx(m_hFolder, FileIdBothDirectoryInfo, m_records.get(),
                                         RecordBytes) == FALSE) {
            m_error = GetLastError();
            if (m_error == ERROR_SUCCESS) {
                m_error = ERROR_NO_MORE_FILES;
            }
            return nullptr;
        }
        m_recordAt = 0;
        m_recordsLeft = true;
    }
    const auto* pRecord = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
        reinterpret_cast<const unsigned char*>(m_records.get()) + m_recordAt);
    if (pRecord->NextEntryOffset == 0) {
        m_recordsLeft = false;
    } else {
        m_recordAt += pRecord->NextEntryOffset;
    }
    return pRecord;
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
    if (m_error != ERROR_SUCCESS) {
        return false;
    }
    if (m_hFolder != nullptr) {
        for (;;) {
            const FILE_ID_BOTH_DIR_INFO* pRecord = NextRecord();
            if (pRecord == nullptr) {
                return false;
            }
            // The name is not NUL-ended there; a name never needs MAX_PATH units.
            std::size_t units = pRecord->FileNameLength / sizeof(WCHAR);
            if (units >= MAX_PATH) {
                units = MAX_PATH - 1;
            }
            std::memcpy(m_data.cFileName, reinterpret_cast<const unsigned char*>(pRecord) + NameAt,
                        units * sizeof(WCHAR));
            m_data.cFileName[units] = 0;
            if (IsDotOrDotDot(m_data.cFileName)) {
                continue;
            }
            entry.NameValid = WideToUtf8(m_data.cFileName, entry.Name);
            // A reparse point's tag is where the extended attributes' size would be.
            entry.Kind = KindOf(pRecord->FileAttributes, pRecord->EaSize);
            entry.Size = static_cast<std::uint64_t>(pRecord->EndOfFile.QuadPart);
            entry.LastWrite = pRecord->LastWriteTime.QuadPart;
            entry.Change = pRecord->ChangeTime.QuadPart;
            // No file has the id 0: the folder could not tell this entry's.
            entry.HasIdentity = pRecord->FileId.QuadPart != 0;
            entry.Identity.Volume = m_volume;
            entry.Identity.Index = static_cast<std::uint64_t>(pRecord->FileId.QuadPart);
            entry.Identity.IndexHigh = 0;
            return true;
        }
    }
    if (m_hFind == nullptr) {
        return false;
    }
    for (;;) {
        if (!m_pending && !FindNextFileW(m_hFind, &m_data)) {
            m_error = GetLastError();
            if (m_error == ERROR_SUCCESS) {
                m_error = ERROR_NO_MORE_FILES;
            }
            return false;
        }
        m_pending = false;
        if (IsDotOrDotDot(m_data.cFileName)) {
            continue;
        }
        entry.NameValid = WideToUtf8(m_data.cFileName, entry.Name);
        entry.Kind = KindOf(m_data.dwFileAttributes, m_data.dwReserved0);
        entry.HasIdentity = false;
        if (m_withFacts) {
            entry.Size =
                (static_cast<std::uint64_t>(m_data.nFileSizeHigh) << 32) | m_data.nFileSizeLow;
            entry.LastWrite = Units(m_data.ftLastWriteTime);
        }
        return true;
    }
}

}  // namespace CX::IO
