#pragma once

#include <cstdint>

#include "mem/heap_string.h"
#include "text/status.h"

namespace CX::Str {

// A byte-to-text codec. The slot order of the virtual operations is part of the interface;
// AppendStrFromBin is shared by every codec and built only on GetStrLenFromBinSize and
// BinToStr, so a codec need not provide it.
//
// Counts are unsigned 32-bit. A character count never includes a terminator and no
// operation writes one into a caller's buffer. Output arguments are written only on success.
class IBinStr {
public:
    virtual ~IBinStr() {}

    // Replaces the content of strOutput with the text form of the input. strOutput may
    // already have been resized when the encoding step fails.
    virtual Status AssignStrFromBin(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                                    HeapString& strOutput) const = 0;

    // Writes the text form into pStrOutput, which holds cStrOutputLen characters.
    virtual Status BinToStr(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                            char* pStrOutput, std::uint32_t cStrOutputLen) const = 0;

    // Writes the bytes that the text stands for into pBinOutput, which holds cBinOutputSize.
    virtual Status StrToBin(const char* pStrInput, std::uint32_t cStrInputLen,
                            std::uint8_t* pBinOutput, std::uint32_t cBinOutputSize) const = 0;

    // Characters needed for the text form of cBinInputSize bytes.
    virtual std::uint32_t GetStrLenFromBinSize(const std::uint8_t* pBinInput,
                                               std::uint32_t cBinInputSize) const = 0;

    // Bytes that cStrInputLen characters decode to.
    virtual std::uint32_t GetBinSizeFromStrLen(const char* pStrInput,
                                               std::uint32_t cStrInputLen) const = 0;

    // Appends the text form of the input to strOutput, which is unchanged on failure.
    // Texts shorter than TempStackChars need no heap block; longer ones take exactly one,
    // released before returning.
    virtual Status AppendStrFromBin(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                                    HeapString& strOutput) const;

    static constexpr std::uint32_t TempStackChars = 8192;
};

}  // namespace CX::Str
