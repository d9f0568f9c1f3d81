// Fuzzes the hexadecimal codec: encoding then decoding gives the bytes back, decoding any
// characters follows the arithmetic rule (checked against a rule written out here), the
// room checks refuse exactly when the room is short, and nothing is written outside the
// bytes an operation owns. Buffers are heap blocks of the exact stated size, so ASan
// catches any write past them; the bytes around the output are checked by value.
//
// Input layout:
//   byte 0      case selector (0..255: 2 is upper case, everything else lower)
//   byte 1      room offset for the output buffers: -2..+2 around what is needed
//   the rest    the bytes to encode, and also the text to decode

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mem/heap_string.h"
#include "str/hex_bin_str.h"

namespace {

using CX::StatusCode;
using CX::Str::HexBinStr;
using CX::Str::HexCase;

constexpr unsigned char kPattern = 0xA7;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_hex: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

// A heap block of exactly n bytes (at least one, so that it has an address), filled with
// the pattern.
struct Block {
    explicit Block(std::size_t n)
        : Size(n), Data(static_cast<unsigned char*>(std::malloc(n + !n))) {
        std::memset(Data, kPattern, n + !n);
    }
    ~Block() { std::free(Data); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    bool UntouchedFrom(std::size_t from) const {
        for (std::size_t i = from; i < Size; ++i) {
            if (Data[i] != kPattern) {
                return false;
            }
        }
        return true;
    }

    std::size_t Size;
    unsigned char* Data;
};

// The decode rule: 'A'-'F' and 'a'-'f' count from ten, every other character counts as
// its distance from '0', all modulo 256.
unsigned RuleValue(unsigned char c) {
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10u;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10u;
    }
    return (c + 256u - '0') % 256u;
}

std::uint8_t RuleByte(unsigned char hi, unsigned char lo) {
    return static_cast<std::uint8_t>((RuleValue(hi) * 16 + RuleValue(lo)) % 256);
}

char RuleDigit(unsigned v, bool upper) {
    return static_cast<char>(v < 10 ? '0' + v : (upper ? 'A' : 'a') + (v - 10));
}

std::size_t Room(std::size_t needed, std::uint8_t offset) {
    const long room = static_cast<long>(needed) + static_cast<long>(offset % 5) - 2;
    return room < 0 ? 0 : static_cast<std::size_t>(room);
}

void CheckEncodeDecode(const HexBinStr& codec, bool upper, const std::uint8_t* bin, std::size_t n,
                       std::uint8_t offset) {
    const std::uint32_t cBin = static_cast<std::uint32_t>(n);
    Check(codec.GetStrLenFromBinSize(bin, cBin) == 2 * cBin, "GetStrLenFromBinSize is not 2n");

    const std::size_t room = Room(2 * n, offset);
    Block text(room);
    CX::Status st = codec.BinToStr(bin, cBin, reinterpret_cast<char*>(text.Data),
                                   static_cast<std::uint32_t>(room));
    if (room < 2 * n) {
        Check(st.Code == StatusCode::BufferTooSmall, "BinToStr: short room not refused");
        Check(std::strcmp(st.Message, "Output buffer to small. See GetStrLenFromBinSize") == 0,
              "BinToStr: wrong message");
        Check(text.UntouchedFrom(0), "BinToStr: wrote despite refusing");
        return;
    }
    Check(st.IsSuccess() && st.Message[0] == '\0', "BinToStr failed with room enough");
    for (std::size_t i = 0; i < n; ++i) {
        Check(text.Data[2 * i] == RuleDigit(bin[i] >> 4, upper) &&
                  text.Data[2 * i + 1] == RuleDigit(bin[i] & 15, upper),
              "BinToStr: wrong digit");
    }
    Check(text.UntouchedFrom(2 * n), "BinToStr: wrote past the text");

    // Back again, into a buffer of the same kind of room.
    const std::size_t binRoom = Room(n, offset);
    Block back(binRoom);
    st = codec.StrToBin(reinterpret_cast<const char*>(text.Data), 2 * cBin, back.Data,
                        static_cast<std::uint32_t>(binRoom));
    if (binRoom < n) {
        Check(st.Code == StatusCode::BufferTooSmall, "StrToBin: short room not refused");
        Check(back.UntouchedFrom(0), "StrToBin: wrote despite refusing");
        return;
    }
    Check(st.IsSuccess(), "StrToBin failed on its own encoding");
    Check(std::memcmp(back.Data, bin, n) == 0, "round trip lost bytes");
    Check(back.UntouchedFrom(n), "StrToBin: wrote past the bytes");
}

void CheckDecodeAnything(const HexBinStr& codec, const std::uint8_t* raw, std::size_t m,
                         std::uint8_t offset) {
    const char* text = reinterpret_cast<const char*>(raw);
    const std::uint32_t cText = static_cast<std::uint32_t>(m);
    Check(codec.GetBinSizeFromStrLen(text, cText) == cText / 2, "GetBinSizeFromStrLen is not n/2");

    const std::size_t room = Room(m / 2, offset);
    Block out(room);
    const CX::Status st = codec.StrToBin(text, cText, out.Data, static_cast<std::uint32_t>(room));
    if (m % 2 != 0) {
        Check(st.Code == StatusCode::BadInput, "StrToBin: odd length not refused");
        Check(std::strcmp(st.Message, "cStrInputLen must be a multiple of two") == 0,
              "StrToBin: wrong message for an odd length");
        Check(out.UntouchedFrom(0), "StrToBin: wrote on an odd length");
        return;
    }
    if (room < m / 2) {
        Check(st.Code == StatusCode::BufferTooSmall, "StrToBin: short room not refused");
        Check(std::strcmp(st.Message, "Output buffer to small. See GetBinSizeFromStrLen") == 0,
              "StrToBin: wrong message for a short room");
        Check(out.UntouchedFrom(0), "StrToBin: wrote despite refusing");
        return;
    }
    Check(st.IsSuccess(), "StrToBin refused a character");
    for (std::size_t i = 0; i < m / 2; ++i) {
        Check(out.Data[i] == RuleByte(raw[2 * i], raw[2 * i + 1]), "StrToBin breaks the rule");
    }
    Check(out.UntouchedFrom(m / 2), "StrToBin: wrote past the bytes");
}

void CheckStrings(const HexBinStr& codec, bool upper, const std::uint8_t* bin, std::size_t n,
                  std::uint8_t offset) {
    const std::uint32_t cBin = static_cast<std::uint32_t>(n);
    std::string expected;
    for (std::size_t i = 0; i < n; ++i) {
        expected += RuleDigit(bin[i] >> 4, upper);
        expected += RuleDigit(bin[i] & 15, upper);
    }
    // Earlier content of some length the input picks, shorter or longer than the text.
    const CX::HeapString before(static_cast<std::size_t>(offset) * 3, 'q');

    CX::HeapString assigned = before;
    CX::Status st = codec.AssignStrFromBin(bin, cBin, assigned);
    Check(st.IsSuccess(), "AssignStrFromBin failed");
    Check(assigned.size() == expected.size() &&
              std::memcmp(assigned.data(), expected.data(), expected.size()) == 0 &&
              assigned.c_str()[assigned.size()] == '\0',
          "AssignStrFromBin: wrong text");

    CX::HeapString appended = before;
    st = codec.AppendStrFromBin(bin, cBin, appended);
    Check(st.IsSuccess(), "AppendStrFromBin failed");
    Check(appended.size() == before.size() + expected.size() &&
              std::memcmp(appended.data(), before.data(), before.size()) == 0 &&
              std::memcmp(appended.data() + before.size(), expected.data(), expected.size()) == 0,
          "AppendStrFromBin: wrong text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto hexCase = static_cast<HexCase>(data[0]);
    const bool upper = data[0] == 2;
    const std::uint8_t offset = data[1];
    const HexBinStr codec(hexCase);

    // Copies, so that each buffer is exactly as long as the operation is told.
    const std::vector<std::uint8_t> rest(data + 2, data + size);
    Block bin(rest.size());
    if (!rest.empty()) {
        std::memcpy(bin.Data, rest.data(), rest.size());
    }
    CheckEncodeDecode(codec, upper, bin.Data, bin.Size, offset);
    CheckDecodeAnything(codec, bin.Data, bin.Size, offset);
    CheckStrings(codec, upper, bin.Data, bin.Size, offset);
    return 0;
}
