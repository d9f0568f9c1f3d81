#include "str/ibin_str.h"

#include "platform/win32.h"

namespace CX::Str {

namespace {

// Gives a heap block back however the append ends, including the string's length error.
class HeapBlock {
public:
    explicit HeapBlock(void* p) : m_p(p) {}
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    ~HeapBlock() {
        if (m_p != nullptr) {
            HeapFree(GetProcessHeap(), 0, m_p);
        }
    }

private:
    void* m_p;
};

}  // namespace

Status IBinStr::AppendStrFromBin(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                                 HeapString& strOutput) const {
    const std::uint32_t n = GetStrLenFromBinSize(pBinInput, cBinInputSize);

    // One character beyond the text, as a caller that terminates would reserve. n may have
    // wrapped for huge inputs; BinToStr then refuses against this capacity, so the
    // buffer is never overrun. Done in 64 bits so that n + 1 cannot wrap for any codec.
    const std::uint64_t capacity = static_cast<std::uint64_t>(n) + 1;
    char stackBuffer[TempStackChars];
    char* buffer = stackBuffer;
    void* block = nullptr;
    if (n >= TempStackChars) {
        block = HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(capacity));
        if (block == nullptr) {
            Status status;
            status.Set(StatusCode::AllocationFailed, "Failed to allocate temp buffer");
            return status;
        }
        buffer = static_cast<char*>(block);
    }
    HeapBlock release(block);

    const std::uint32_t capacity32 =
        capacity > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(capacity);
    Status status = BinToStr(pBinInput, cBinInputSize, buffer, capacity32);
    if (!status.IsSuccess()) {
        return status;
    }
    strOutput.append(buffer, n);
    return status;
}

}  // namespace CX::Str
