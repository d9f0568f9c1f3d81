// The fault registry: a use counter per hooked call and a few armed actions. Built into
// the test library only (QUILLMARK_FAULT_SEAM); the product has none of this.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/posix/stand_in.h"

namespace CX::Platform {
namespace {

struct Armed {
    FaultCall Call;
    std::uint64_t AtUse;  // the value the call's counter reaches on the use that is hit
    Detail::Fault Fault;
};

constexpr int kMaxArmed = 32;

// Calls may come from several threads at once (listings of different folders), so every
// use of the registry holds g_lock. Which thread's call is the nth is then up to the
// threads: a test that needs an exact use arms faults where one thread makes the calls.
struct Registry {
    std::uint64_t Uses[FaultCallCount] = {};
    Armed Pending[kMaxArmed] = {};
    int PendingCount = 0;
    CreateFileArgs LastCreateFile;
};

Registry g_registry;
std::mutex g_lock;

constexpr const char* kCallNames[FaultCallCount] = {
    "CreateFileW",
    "ReadFile",
    "SetFilePointerEx",
    "GetFileSizeEx",
    "CloseHandle",
    "HeapAlloc",
    "HeapFree",
    "MultiByteToWideChar",
    "GetFileType",
    "FindFirstFileExW",
    "FindNextFileW",
    "GetFileInformationByHandle",
    "GetFileInformationByHandleEx",
    "WriteFile",
    "FlushFileBuffers",
    "MoveFileExW",
    "DeleteFileW",
    "LockFileEx",
    "UnlockFileEx",
    "FileIdBothDirectoryInfo",
};

[[noreturn]] void Abort(const char* szWhat) {
    std::fprintf(stderr, "fault seam: %s\n", szWhat);
    std::abort();
}

bool Accepts(FaultCall call, FaultAction action) {
    switch (action) {
        case FaultAction::Fail:
            return true;
        case FaultAction::ReadNothing:
            return call == FaultCall::ReadFile;
        case FaultAction::AdjustSize:
            return call == FaultCall::GetFileSizeEx;
        case FaultAction::None:
            break;
    }
    return false;
}

bool TryArm(FaultCall call, std::uint32_t nth, FaultAction action, std::int64_t value) {
    if (nth == 0 || !Accepts(call, action) || g_registry.PendingCount == kMaxArmed) {
        return false;
    }
    const std::uint64_t at = g_registry.Uses[static_cast<int>(call)] + nth;
    g_registry.Pending[g_registry.PendingCount++] = Armed{call, at, Detail::Fault{action, value}};
    return true;
}

// Reads an unsigned decimal number of up to 18 digits at *pp and moves past it.
bool ParseNumber(const char*& p, std::int64_t* pValue) {
    std::int64_t v = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++digits > 18) {
            return false;
        }
        v = v * 10 + (*p++ - '0');
    }
    *pValue = v;
    return digits > 0;
}

// Parses one <call>:<n>:<action> entry that ends at a comma or the end of the text.
bool ParseEntry(const char*& p, FaultCall* pCall, std::uint32_t* pNth, FaultAction* pAction,
                std::int64_t* pValue) {
    const char* colon = std::strchr(p, ':');
    if (colon == nullptr) {
        return false;
    }
    int call = 0;
    while (call < FaultCallCount &&
           !(std::strlen(kCallNames[call]) == static_cast<std::size_t>(colon - p) &&
             std::strncmp(kCallNames[call], p, colon - p) == 0)) {
        ++call;
    }
    if (call == FaultCallCount) {
        return false;
    }
    p = colon + 1;
    std::int64_t nth;
    if (!ParseNumber(p, &nth) || nth < 1 || nth > UINT32_MAX || *p++ != ':') {
        return false;
    }
    *pCall = static_cast<FaultCall>(call);
    *pNth = static_cast<std::uint32_t>(nth);
    if (std::strncmp(p, "empty", 5) == 0) {
        p += 5;
        *pAction = FaultAction::ReadNothing;
        *pValue = 0;
    } else if (std::strncmp(p, "size", 4) == 0 && (p[4] == '+' || p[4] == '-')) {
        const bool negative = p[4] == '-';
        p += 5;
        if (!ParseNumber(p, pValue)) {
            return false;
        }
        *pAction = FaultAction::AdjustSize;
        *pValue = negative ? -*pValue : *pValue;
    } else {
        if (!ParseNumber(p, pValue) || *pValue > UINT32_MAX) {
            return false;
        }
        *pAction = FaultAction::Fail;
    }
    return (*p == ',' || *p == '\0') && Accepts(*pCall, *pAction);
}

// The environment is read once, before anything is counted, so that its <n> counts
// from the start of the process.
void ArmFromEnvironmentOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* szSpec = std::getenv("QUILLMARK_FAULTS");
        if (szSpec != nullptr && !ArmFaultsFromText(szSpec)) {
            Abort("QUILLMARK_FAULTS is malformed; expected <call>:<n>:<action>[,...]");
        }
    });
}

}  // namespace

void ArmFault(FaultCall call, std::uint32_t nth, FaultAction action, std::int64_t value) {
    ArmFromEnvironmentOnce();
    const std::lock_guard<std::mutex> guard(g_lock);
    if (!TryArm(call, nth, action, value)) {
        Abort(
            "cannot arm that fault (n is 0, the call cannot take the action, or the "
            "registry is full)");
    }
}

bool ArmFaultsFromText(const char* szSpec) {
    // Parse everything first, so that a malformed text arms nothing.
    struct Entry {
        FaultCall Call;
        std::uint32_t Nth;
        FaultAction Action;
        std::int64_t Value;
    } entries[kMaxArmed];
    int count = 0;
    const char* p = szSpec;
    const std::lock_guard<std::mutex> guard(g_lock);
    while (*p != '\0') {
        if (count == kMaxArmed - g_registry.PendingCount) {
            return false;
        }
        Entry& e = entries[count++];
        if (!ParseEntry(p, &e.Call, &e.Nth, &e.Action, &e.Value)) {
            return false;
        }
        if (*p == ',') {
            ++p;
            if (*p == '\0') {
                return false;
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        TryArm(entries[i].Call, entries[i].Nth, entries[i].Action, entries[i].Value);
    }
    return true;
}

void ResetFaults() {
    ArmFromEnvironmentOnce();
    const std::lock_guard<std::mutex> guard(g_lock);
    g_registry = Registry{};
}

std::uint64_t UseCount(FaultCall call) {
    ArmFromEnvironmentOnce();
    const std::lock_guard<std::mutex> guard(g_lock);
    return g_registry.Uses[static_cast<int>(call)];
}

CreateFileArgs LastCreateFileArgs() {
    const std::lock_guard<std::mutex> guard(g_lock);
    return g_registry.LastCreateFile;
}

namespace Detail {

Fault TakeFault(FaultCall call) {
    ArmFromEnvironmentOnce();
    const std::lock_guard<std::mutex> guard(g_lock);
    const std::uint64_t use = ++g_registry.Uses[static_cast<int>(call)];
    for (int i = 0; i < g_registry.PendingCount; ++i) {
        Armed& a = g_registry.Pending[i];
        if (a.Call == call && a.AtUse == use) {
            const Fault fault = a.Fault;
            a = g_registry.Pending[--g_registry.PendingCount];
            return fault;
        }
    }
    return {};
}

void RecordCreateFileArgs(const CreateFileArgs& args) {
    const std::lock_guard<std::mutex> guard(g_lock);
    g_registry.LastCreateFile = args;
}

}  // namespace Detail
}  // namespace CX::Platform
