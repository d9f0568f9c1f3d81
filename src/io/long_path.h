#pragma once

#include "mem/heap_string.h"
#include "platform/win32.h"

namespace CX::IO {

// Windows refuses a path of MAX_PATH units or more unless the process is long-path aware
// and the machine's policy lets it be, which on most machines it does not. The same object
// is reached through the full path in its \\?\ form (\\?\UNC\ for a share), which no
// policy limits.
//
// True, with that form in wstrLong, when a call on wstrPath that failed with error is
// worth one more try: the error is one a length refusal gives (3 or 206), the path is that
// long, it is not verbatim already (\\?\ and \\.\ paths go to the system unparsed and are
// never rewritten), and it has a full path.
bool RetryInLongForm(const HeapWString& wstrPath, DWORD error, HeapWString& wstrLong);

}  // namespace CX::IO
