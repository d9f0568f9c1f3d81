#include "io/directory_listing.h"

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

EntryKind KindOf(const WIN32_FIND_DATAW& data) {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (data.dwReserved0 == 0 || (data.dwReserved0 & NameSurrogateBit) != 0)) {
        return EntryKind::Link;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EntryKind::Directory;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return EntryKind::Other;
    }
    return EntryKind::File;
}

}  // namespace

bool WideToUtf8(const WCHAR* pText, std::string& out) {
    out.clear();
    return CX::Platform::AppendUtf8FromUtf16(pText, out);
}

DirectoryListing::DirectoryListing(const char* pPath, bool withFacts) : m_withFacts(withFacts) {
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
    HANDLE hFind = FindFirst(wstrPattern, withFacts, m_data);
    if (hFind == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        HeapWString wstrLong;
        if (!RetryInLongForm(wstrPattern, error, wstrLong)) {
            m_error = error;
            return;
        }
        hFind = FindFirst(wstrLong, withFacts, m_data);
        if (hFind == INVALID_HANDLE_VALUE) {
            m_error = GetLastError();
            return;
        }
    }
    m_hFind = hFind;
    m_pending = true;
}

DirectoryListing::~DirectoryListing() {
    if (m_hFind != nullptr) {
        FindClose(m_hFind);
    }
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
    if (m_hFind == nullptr || m_error != ERROR_SUCCESS) {
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
        entry.Kind = KindOf(m_data);
        if (m_withFacts) {
            entry.Size =
                (static_cast<std::uint64_t>(m_data.nFileSizeHigh) << 32) | m_data.nFileSizeLow;
            entry.LastWrite = static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(m_data.ftLastWriteTime.dwHighDateTime) << 32) |
                m_data.ftLastWriteTime.dwLowDateTime);
        }
        return true;
    }
}

}  // namespace CX::IO
