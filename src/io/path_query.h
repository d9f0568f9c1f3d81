#pragma once

#include <cstdint>

#include "io/file_facts.h"
#include "platform/win32.h"

namespace CX::IO {

// What a path names, links followed: its attributes, size, identity and times. Folders are
// opened too. False with the system's error number when the object cannot be reached.
bool QueryObject(const char* pPath, FileFacts& facts, DWORD& error);

// The attributes of what a path names, links followed; INVALID_FILE_ATTRIBUTES when the
// system cannot tell.
DWORD QueryAttributes(const char* pPath);

}  // namespace CX::IO
