#include "str/hex_bin_str.h"

namespace CX::Str {

namespace {

// Lower-case digits first, upper-case digits from position 16.
constexpr char kDigits[] = "0123456789abcdef0123456789ABCDEF";

// The value of one text character. Anything that is not a letter A-F or a-f is taken as
// if it were a decimal digit, so every character yields some value.
std::uint8_t DigitValue(char ch) {
    const auto c = static_cast<std::uint8_t>(ch);
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 55);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 87);
    }
    return static_cast<std::uint8_t>(c - 48);
}

}  // namespace

std::uint32_t HexBinStr::GetStrLenFromBinSize(const std::uint8_t*,
                                              std::uint32_t cBinInputSize) const {
    return cBinInputSize * 2u;
}

std::uint32_t HexBinStr::GetBinSizeFromStrLen(const char*, std::uint32_t cStrInputLen) const {
    return cStrInputLen >> 1;
}

Status HexBinStr::BinToStr(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                           char* pStrOutput, std::uint32_t cStrOutputLen) const {
    Status status;
    const std::uint32_t needed = GetStrLenFromBinSize(pBinInput, cBinInputSize);
    // The 32-bit length wraps from 2^31 bytes on; the loop below writes the full
    // 2 * cBinInputSize characters, so that is what the room must hold.
    const std::uint64_t written = static_cast<std::uint64_t>(cBinInputSize) * 2u;
    if (needed > cStrOutputLen || written > cStrOutputLen) {
        status.Set(StatusCode::BufferTooSmall, "Output buffer to small. See GetStrLenFromBinSize");
        return status;
    }

    const char* digits = m_hexCase == HexCase::Upper ? kDigits + 16 : kDigits;
    for (std::uint32_t i = 0; i < cBinInputSize; ++i) {
        const std::uint8_t b = pBinInput[i];
        pStrOutput[2 * static_cast<std::size_t>(i)] = digits[b >> 4];
        pStrOutput[2 * static_cast<std::size_t>(i) + 1] = digits[b & 0x0F];
    }
    return status;
}

Status HexBinStr::StrToBin(const char* pStrInput, std::uint32_t cStrInputLen,
                           std::uint8_t* pBinOutput, std::uint32_t cBinOutputSize) const {
    Status status;
    if ((cStrInputLen & 1u) != 0) {
        status.Set(StatusCode::BadInput, "cStrInputLen must be a multiple of two");
        return status;
    }
    const std::uint32_t needed = GetBinSizeFromStrLen(pStrInput, cStrInputLen);
    const std::uint32_t written = cStrInputLen / 2;
    if (needed > cBinOutputSize || written > cBinOutputSize) {
        status.Set(StatusCode::BufferTooSmall, "Output buffer to small. See GetBinSizeFromStrLen");
        return status;
    }

    for (std::uint32_t i = 0; i < cStrInputLen; i += 2) {
        pBinOutput[i / 2] =
            static_cast<std::uint8_t>(DigitValue(pStrInput[i]) * 16 + DigitValue(pStrInput[i + 1]));
    }
    return status;
}

Status HexBinStr::AssignStrFromBin(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize,
                                   HeapString& strOutput) const {
    const std::uint32_t n = GetStrLenFromBinSize(pBinInput, cBinInputSize);
    strOutput.resize(n);
    // The capacity handed on is the string's real length, so a wrapped n makes BinToStr
    // refuse rather than write past the string's storage.
    return BinToStr(pBinInput, cBinInputSize, strOutput.data(), n);
}

}  // namespace CX::Str
