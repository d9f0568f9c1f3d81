#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace CX::IO {

// Which file a handle reaches: two names with the same identity are one file (a hard link,
// a folder reached again through a link). Wide enough that two files never share one: the
// whole 64-bit volume number and a 128-bit index, as volumes with 128-bit ids give them.
struct FileIdentity {
    std::uint64_t Volume = 0;
    std::uint64_t Index = 0;
    std::uint64_t IndexHigh = 0;

    bool operator==(const FileIdentity&) const = default;
};

// What the system knows of an open file, asked through its handle: what was read is the
// file these facts describe, whatever happened to its name meanwhile. Times are Windows'
// 100 ns units since 1601.
struct FileFacts {
    std::uint64_t Size = 0;  // 0 for a folder
    FileIdentity Identity;
    std::uint32_t Links = 0;
    std::int64_t LastWrite = 0;
    std::int64_t Change = 0;  // the last change of content or metadata
    DWORD Attributes = 0;
};

// The facts of an open handle (a file, or a folder opened with backup semantics): one
// GetFileInformationByHandle, and GetFileInformationByHandleEx for the change time and the
// full identity. False with the system's error number when it cannot tell.
bool FactsOfHandle(HANDLE hFile, FileFacts& facts, DWORD& error);

// The identity alone: the 128-bit id where the volume gives one, else the 64-bit index
// within the 32-bit volume serial number, as every file system has them. Either way, one
// file system always answers the same way, so identities compare.
bool IdentityOfHandle(HANDLE hFile, FileIdentity& identity, DWORD& error);

}  // namespace CX::IO
