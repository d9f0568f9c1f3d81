#include "io/file_facts.h"

namespace CX::IO {
namespace {

std::int64_t Units(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

// The identity from what GetFileInformationByHandle gave, for a volume without 128-bit ids.
FileIdentity NarrowIdentity(const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity identity;
    identity.Volume = info.dwVolumeSerialNumber;
    identity.Index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return identity;
}

bool WideIdentity(HANDLE hFile, FileIdentity& identity) {
    FILE_ID_INFO info;
    if (GetFileInformationByHandleEx(hFile, FileIdInfo, &info, sizeof info) == FALSE) {
        return false;
    }
    identity.Volume = info.VolumeSerialNumber;
    identity.Index = 0;
    identity.IndexHigh = 0;
    for (int i = 7; i >= 0; --i) {
        identity.Index = (identity.Index << 8) | info.FileId.Identifier[i];
        identity.IndexHigh = (identity.IndexHigh << 8) | info.FileId.Identifier[i + 8];
    }
    return true;
}

}  // namespace

bool IdentityOfHandle(HANDLE hFile, FileIdentity& identity, DWORD& error) {
    if (WideIdentity(hFile, identity)) {
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(hFile, &info) == FALSE) {
        error = GetLastError();
        return false;
    }
    identity = NarrowIdentity(info);
    return true;
}

bool FactsOfHandle(HANDLE hFile, FileFacts& facts, DWORD& error) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (GetFileInformationByHandle(hFile, &info) == FALSE ||
        GetFileInformationByHandleEx(hFile, FileBasicInfo, &basic, sizeof basic) == FALSE) {
        error = GetLastError();
        return false;
    }
    facts.Size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.Links = info.nNumberOfLinks;
    facts.LastWrite = Units(info.ftLastWriteTime);
    facts.Change = basic.ChangeTime.QuadPart;
    facts.Attributes = info.dwFileAttributes;
    if (!WideIdentity(hFile, facts.Identity)) {
        facts.Identity = NarrowIdentity(info);
    }
    return true;
}

}  // namespace CX::IO
