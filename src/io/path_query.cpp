#include "io/path_query.h"

#include "io/long_path.h"
#include "mem/utf8_to_wide.h"

namespace CX::IO {
namespace {

HANDLE OpenAnything(const HeapWString& wstrPath) {
    // Backup semantics open a folder as well as a file; nothing is read through the handle.
    return CreateFileW(wstrPath.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool QueryObject(const char* pPath, FileFacts& facts, DWORD& error) {
    HeapWString wstrPath;
    if (!Utf8ToWide(pPath, wstrPath).IsSuccess()) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    HANDLE hObject = OpenAnything(wstrPath);
    if (hObject == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        HeapWString wstrLong;
        if (!RetryInLongForm(wstrPath, error, wstrLong)) {
            return false;
        }
        hObject = OpenAnything(wstrLong);
        if (hObject == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            return false;
        }
    }
    const bool known = FactsOfHandle(hObject, facts, error);
    CloseHandle(hObject);
    return known;
}

DWORD QueryAttributes(const char* pPath) {
    HeapWString wstrPath;
    if (!Utf8ToWide(pPath, wstrPath).IsSuccess()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = GetFileAttributesW(wstrPath.c_str());
    HeapWString wstrLong;
    if (attributes == INVALID_FILE_ATTRIBUTES &&
        RetryInLongForm(wstrPath, GetLastError(), wstrLong)) {
        attributes = GetFileAttributesW(wstrLong.c_str());
    }
    return attributes;
}

}  // namespace CX::IO
