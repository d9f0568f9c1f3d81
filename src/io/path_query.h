#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace CX::IO {

// Where an object lives, as the system tells it: two names with the same identity are the
// same file or folder (a folder reached again through a link, a hard link).
struct FileIdentity {
    DWORD Volume = 0;
    std::uint64_t Index = 0;

    bool operator==(const FileIdentity&) const = default;
};

// What a path names, links followed: its attributes and identity. Folders are opened too.
// False with the system's error number when the object cannot be reached.
bool QueryObject(const char* pPath, DWORD& attributes, FileIdentity& identity, DWORD& error);

// The attributes of what a path names, links followed; INVALID_FILE_ATTRIBUTES when the
// system cannot tell.
DWORD QueryAttributes(const char* pPath);

}  // namespace CX::IO
