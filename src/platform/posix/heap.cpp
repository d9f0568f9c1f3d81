// The process heap over the C library's allocator.

#include <cstdlib>

#include "platform/posix/stand_in.h"

namespace {

// Something for the process heap's handle to point at; nothing reads it.
char g_processHeap;

}  // namespace

using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::TakeFault;

// Windows: the handle of the process's default heap, the same on every call.
HANDLE GetProcessHeap() {
    return &g_processHeap;
}

// Windows, flags 0: an uninitialised block of at least dwBytes bytes, or null when the
// heap cannot supply one; no exception, and the last error is not set. A request of 0
// bytes still gives a block of its own. The stand-in knows no flags: only 0 is used.
LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T dwBytes) {
    if (TakeFault(FaultCall::HeapAlloc).Action == FaultAction::Fail) {
        return nullptr;
    }
    return std::malloc(dwBytes == 0 ? 1 : dwBytes);
}

// Windows, flags 0: releases a block that HeapAlloc gave; null is accepted and does
// nothing. A block from elsewhere is undefined, as there.
BOOL HeapFree(HANDLE, DWORD, LPVOID lpMem) {
    std::free(lpMem);
    if (const auto fault = TakeFault(FaultCall::HeapFree); fault.Action == FaultAction::Fail) {
        SetLastError(static_cast<DWORD>(fault.Value));
        return FALSE;
    }
    return TRUE;
}
