#include "mem/utf8_to_wide.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/win32.h"

namespace CX {
namespace {

// Paths up to this many UTF-16 units, terminator included, need no temporary block.
constexpr int kStackUnits = 4000;

Status ConversionFailed(DWORD error) {
    Status status;
    status.SetFormatted(StatusCode::ConversionFailed, "MultiByteToWideChar failed with code {1}",
                        static_cast<std::uint32_t>(error));
    return status;
}

}  // namespace

Status Utf8ToWide(const char* szInput, HeapWString& wstrOutput) {
    const std::size_t cInput = std::strlen(szInput);
    if (cInput >= static_cast<std::size_t>(INT_MAX)) {
        // The platform counts bytes in an int; a text this long cannot be handed over.
        return ConversionFailed(ERROR_INVALID_PARAMETER);
    }
    // The terminator is converted too, so that every call sees the whole text.
    const int cb = static_cast<int>(cInput) + 1;

    const int need = MultiByteToWideChar(CP_UTF8, 0, szInput, cb, nullptr, 0);
    if (need <= 0) {
        return ConversionFailed(GetLastError());
    }

    WCHAR stackBuffer[kStackUnits];
    // Released with delete[] on every way out, also when the assignment below throws.
    std::unique_ptr<WCHAR[]> pHeapBuffer;
    WCHAR* pBuffer = stackBuffer;
    int cBuffer = kStackUnits;
    if (need > kStackUnits) {
        pHeapBuffer.reset(new (std::nothrow) WCHAR[static_cast<std::size_t>(need)]);
        if (pHeapBuffer == nullptr) {
            Status status;
            status.SetFormatted(StatusCode::AllocationFailed, "Failed to allocate {1} bytes",
                                static_cast<std::uint32_t>(2 * static_cast<std::uint64_t>(need)));
            return status;
        }
        pBuffer = pHeapBuffer.get();
        cBuffer = need;
    }

    Status status;
    int count = MultiByteToWideChar(CP_UTF8, 0, szInput, cb, nullptr, 0);
    if (count > 0) {
        // Never offer more room than the buffer has, whatever the second count says.
        count = MultiByteToWideChar(CP_UTF8, 0, szInput, cb, pBuffer,
                                    count < cBuffer ? count : cBuffer);
    }
    if (count <= 0) {
        status = ConversionFailed(GetLastError());
    } else {
        const int length = pBuffer[count - 1] == 0 ? count - 1 : count;
        wstrOutput.assign(pBuffer, static_cast<std::size_t>(length));
    }
    return status;
}

}  // namespace CX
