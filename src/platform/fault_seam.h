#pragma once

// The fault seam of the POSIX stand-in: tests make its calls fail, or answer oddly, on
// cue. It exists only in the test build of the stand-in (library cx_platform_fault, and
// so cx_fault); the product library has none of it compiled in and reads no environment.
//
// Every hooked call counts its uses. An armed action fires on one use of one call,
// counted from the moment it is armed (1 = the very next use), and is then spent:
//
//   FailOn(FaultCall::ReadFile, 2, 5);       // the 2nd ReadFile from now fails, error 5
//   ReadNothingOn(1);                        // the next ReadFile succeeds with 0 bytes
//   AdjustSizeOn(1, -10);                    // the next GetFileSizeEx reports size - 10
//
// A failing call sets the last error to the chosen number and returns the call's failure
// value (INVALID_HANDLE_VALUE, FALSE, 0, FILE_TYPE_UNKNOWN or null), without touching the file
// (a failing WriteFile writes nothing, a failing MoveFileExW or DeleteFileW leaves every name
// as it was, a failing LockFileEx takes no lock and does not wait); a failing HeapAlloc
// returns null and leaves the last error alone, as the real one does. A failing
// CloseHandle or HeapFree still releases what it was given, so that a test leaks nothing. A
// failing FindNextFileW takes no entry and leaves the listing open: the caller still closes
// it, and may go on listing after it. A reported size is kept within 0 and the largest signed
// 64-bit value.
//
// A test executable, such as the driver linked against cx_fault, can be armed from its
// environment. QUILLMARK_FAULTS is read once, before the first hooked call counts:
//
//   QUILLMARK_FAULTS=<entry>[,<entry>...]     <entry> = <call>:<n>:<action>
//     <call>    CreateFileW ReadFile SetFilePointerEx GetFileSizeEx CloseHandle
//               HeapAlloc HeapFree MultiByteToWideChar GetFileType
//               FindFirstFileExW FindNextFileW GetFileInformationByHandle
//               GetFileInformationByHandleEx WriteFile FlushFileBuffers MoveFileExW
//               DeleteFileW LockFileEx UnlockFileEx
//               FileIdBothDirectoryInfo (GetFileInformationByHandleEx listing a folder;
//               it counts here, not under GetFileInformationByHandleEx)
//     <n>       the use that the action hits, 1 = the first use in the process
//     <action>  a decimal error number: the call fails with that error
//               empty        (ReadFile only) succeeds delivering 0 bytes
//               size+K size-K (GetFileSizeEx only) reports the true size plus or minus K
//
//   e.g. QUILLMARK_FAULTS=ReadFile:2:5,GetFileSizeEx:1:size-10
//        QUILLMARK_FAULTS=WriteFile:2:112      (the second write finds the disk full)
//
// A malformed value is reported on standard error and aborts the process, so that a test
// never runs silently without the faults it asked for.

#include <cstdint>

#include "platform/win32.h"

namespace CX::Platform {

// The hooked calls, named as the calls themselves.
enum class FaultCall : std::uint8_t {
    CreateFileW,
    ReadFile,
    SetFilePointerEx,
    GetFileSizeEx,
    CloseHandle,
    HeapAlloc,
    HeapFree,
    MultiByteToWideChar,
    GetFileType,
    FindFirstFileExW,
    FindNextFileW,
    GetFileInformationByHandle,
    GetFileInformationByHandleEx,
    WriteFile,
    FlushFileBuffers,
    MoveFileExW,
    DeleteFileW,
    LockFileEx,
    UnlockFileEx,
    FileIdBothDirectoryInfo,
};
inline constexpr int FaultCallCount = 20;

enum class FaultAction : std::uint8_t {
    None,
    Fail,         // value: the error number
    ReadNothing,  // ReadFile only: success with 0 bytes delivered, the file untouched
    AdjustSize,   // GetFileSizeEx only: value is added to the true size
};

// Arms action on the nth use of call from now (n >= 1). Arming an action on a call that
// cannot take it, or more than the registry holds, aborts: that is a broken test.
void ArmFault(FaultCall call, std::uint32_t nth, FaultAction action, std::int64_t value);

inline void FailOn(FaultCall call, std::uint32_t nth, DWORD error) {
    ArmFault(call, nth, FaultAction::Fail, static_cast<std::int64_t>(error));
}
inline void ReadNothingOn(std::uint32_t nth) {
    ArmFault(FaultCall::ReadFile, nth, FaultAction::ReadNothing, 0);
}
inline void AdjustSizeOn(std::uint32_t nth, std::int64_t delta) {
    ArmFault(FaultCall::GetFileSizeEx, nth, FaultAction::AdjustSize, delta);
}

// Arms the entries of a QUILLMARK_FAULTS value (syntax above). On a malformed value it
// arms nothing and returns false.
bool ArmFaultsFromText(const char* szSpec);

// Disarms everything (including what the environment armed) and sets every count to 0.
void ResetFaults();

// How often call has been used since the process started or ResetFaults.
std::uint64_t UseCount(FaultCall call);

// The arguments of the last CreateFileW, so that a test can check what a caller asked for.
struct CreateFileArgs {
    DWORD DesiredAccess = 0;
    DWORD ShareMode = 0;
    bool SecurityAttributesNull = false;
    DWORD CreationDisposition = 0;
    DWORD FlagsAndAttributes = 0;
    bool TemplateFileNull = false;
};
CreateFileArgs LastCreateFileArgs();

}  // namespace CX::Platform
