#pragma once

#include <cstdint>

#include "str/ibin_str.h"

namespace CX::Str {

// The case of the digits that HexBinStr writes. Only Upper selects upper case; any other
// value, including ones outside the named set, selects lower case.
enum class HexCase : std::uint32_t {
    Lower = 1,
    Upper = 2,
};

// Hexadecimal text: two characters per byte, high nibble first. Decoding rejects no
// character; one outside 0-9, A-F, a-f still yields a value by the same arithmetic.
class HexBinStr : public IBinStr {
public:
    explicit HexBinStr(HexCase hexCase) : m_hexCase(hexCase) {}
    ~HexBinStr() override {}

    Status AssignStrFromBin(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                            HeapString& strOutput) const override;
    Status BinToStr(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize, char* pStrOutput,
                    std::uint32_t cStrOutputLen) const override;
    Status StrToBin(const char* pStrInput, std::uint32_t cStrInputLen, std::uint8_t* pBinOutput,
                    std::uint32_t cBinOutputSize) const override;

    // Twice the byte count, modulo 2^32. BinToStr does not rely on it alone for its room check.
    std::uint32_t GetStrLenFromBinSize(const std::uint8_t* pBinInput,
                                       std::uint32_t cBinInputSize) const override;
    // Half the character count, rounded down.
    std::uint32_t GetBinSizeFromStrLen(const char* pStrInput,
                                       std::uint32_t cStrInputLen) const override;

private:
    HexCase m_hexCase;
};

}  // namespace CX::Str
