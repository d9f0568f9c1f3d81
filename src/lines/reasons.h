#pragma once

#include "platform/win32.h"

namespace CX::Lines {

// The words a person reads for a Win32 error number: the same failure gives the same words
// on Linux (where the stand-in maps errno to these numbers) and on Windows. Numbers
// without words of their own read "Input/output error".
const char* ReasonFor(DWORD error);

// The words for a file that could not be opened for reading: a folder is refused as if
// access were denied, and is asked about only then.
const char* ReasonForOpen(const char* pPath, DWORD error);

// The words for a failed read of standard input: a folder there reads as denied access.
const char* ReasonForStandardInput(DWORD error);

// Reasons that no single system error carries.
inline constexpr const char* IsADirectory = "Is a directory";
inline constexpr const char* NotUtf8 = "Invalid or incomplete multibyte or wide character";

}  // namespace CX::Lines
