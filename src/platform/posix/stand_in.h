#pragma once

// What the stand-in's files share among themselves. Not for use outside posix/.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fault_seam.h"
#include "platform/win32.h"

namespace CX::Platform::Detail {

// The Win32 error number that Windows compatibility layers give for an errno value.
DWORD ErrorFromErrno(int errnoValue);

// UTF-16 to UTF-8 for handing a path to POSIX; a lone surrogate becomes U+FFFD. Stops at
// the first NUL. Throws std::bad_alloc when the text cannot grow.
std::string Utf8FromUtf16Path(const WCHAR* pPath);

// UTF-8 to UTF-16 by Windows' replacement rule, for paths the system hands back (the
// working directory). Throws std::bad_alloc when the text cannot grow.
std::u16string Utf16FromUtf8Path(const std::string& path);

struct Fault {
    FaultAction Action = FaultAction::None;
    std::int64_t Value = 0;
};

#ifdef QUILLMARK_FAULT_SEAM
// Counts one use of call and hands out the action armed for that use, if any.
Fault TakeFault(FaultCall call);
void RecordCreateFileArgs(const CreateFileArgs& args);
#else
// The product build: nothing is counted and nothing can fire, so every check on the
// result folds away.
constexpr Fault TakeFault(FaultCall) {
    return {};
}
constexpr void RecordCreateFileArgs(const CreateFileArgs&) {}
#endif

}  // namespace CX::Platform::Detail
