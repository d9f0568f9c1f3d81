#pragma once

#include "platform/win32.h"

namespace CX::Lines {

// The words a person reads for a Win32 error number: the same failure gives the same words
// on Linux (where the stand-in maps errno to these numbers) and on Windows. Numbers
// without words of their own read "Input/output error".
const char* ReasonFor(DWORD error);

// Reasons that no single system error carries.
inline constexpr const char* IsADirectory = "Is a directory";
inline constexpr const char* NotUtf8 = "Invalid or incomplete multibyte or wide character";

}  // namespace CX::Lines
