#pragma once

#include "mem/heap_string.h"
#include "text/status.h"

namespace CX {

// Converts the NUL-terminated UTF-8 text szInput into wstrOutput, replacing its content;
// the length excludes the terminator. Malformed UTF-8 is no error: the platform replaces
// it by its own rule. On failure (ConversionFailed, AllocationFailed) wstrOutput keeps
// what it held.
Status Utf8ToWide(const char* szInput, HeapWString& wstrOutput);

}  // namespace CX
