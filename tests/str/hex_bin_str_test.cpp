#include "str/hex_bin_str.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace CX::Str {
namespace {

constexpr char kSentinel = '#';

std::string Encode(const HexBinStr& codec, const std::vector<std::uint8_t>& bytes) {
    std::string out(bytes.size() * 2, kSentinel);
    Status s = codec.BinToStr(bytes.data(), static_cast<std::uint32_t>(bytes.size()), out.data(),
                              static_cast<std::uint32_t>(out.size()));
    EXPECT_EQ(s.Code, StatusCode::Success);
    EXPECT_STREQ(s.Message, "");
    return out;
}

std::uint8_t DecodePair(const char* pair) {
    std::uint8_t b = 0x5A;
    Status s = HexBinStr(HexCase::Upper).StrToBin(pair, 2, &b, 1);
    EXPECT_EQ(s.Code, StatusCode::Success);
    return b;
}

TEST(HexBinStr, EncodesWithTheChosenCase) {
    const std::vector<std::uint8_t> bytes = {0x00, 0xAB, 0xFF};
    EXPECT_EQ(Encode(HexBinStr(HexCase::Upper), bytes), "00ABFF");
    EXPECT_EQ(Encode(HexBinStr(HexCase::Lower), bytes), "00abff");
    // Only Upper selects upper case; stray selector values fall back to lower.
    EXPECT_EQ(Encode(HexBinStr(static_cast<HexCase>(0)), bytes), "00abff");
    EXPECT_EQ(Encode(HexBinStr(static_cast<HexCase>(3)), bytes), "00abff");

    std::vector<std::uint8_t> all(256);
    std::string upper;
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02X", i);
        upper += buf;
    }
    EXPECT_EQ(Encode(HexBinStr(HexCase::Upper), all), upper);
}

TEST(HexBinStr, EncodeRoomCheck) {
    const HexBinStr codec(HexCase::Upper);
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56};
    char out[8];

    std::memset(out, kSentinel, sizeof out);
    Status s = codec.BinToStr(bytes, 3, out, 5);
    EXPECT_EQ(s.Code, StatusCode::BufferTooSmall);
    EXPECT_STREQ(s.Message, "Output buffer to small. See GetStrLenFromBinSize");
    EXPECT_EQ(std::string(out, 8), std::string(8, kSentinel));

    s = codec.BinToStr(bytes, 3, out, 6);
    EXPECT_EQ(s.Code, StatusCode::Success);
    EXPECT_EQ(std::string(out, 8), "123456##");

    // Zero bytes succeed and write nothing, even with no room at all.
    std::memset(out, kSentinel, sizeof out);
    EXPECT_EQ(codec.BinToStr(bytes, 0, out, 0).Code, StatusCode::Success);
    EXPECT_EQ(codec.BinToStr(bytes, 0, out, 8).Code, StatusCode::Success);
    EXPECT_EQ(std::string(out, 8), std::string(8, kSentinel));
}

TEST(HexBinStr, DecodesAnyCharacter) {
    EXPECT_EQ(DecodePair("aB"), 0xAB);
    EXPECT_EQ(DecodePair("zz"), 0xEA);
    EXPECT_EQ(DecodePair("G0"), 0x70);
    EXPECT_EQ(DecodePair("0G"), 0x17);
    EXPECT_EQ(DecodePair("  "), 0xF0);

    // Every pair of proper digits, in either case, agrees with strtoul.
    const char digits[] = "0123456789abcdefABCDEF";
    for (const char* hi = digits; *hi != '\0'; ++hi) {
        for (const char* lo = digits; *lo != '\0'; ++lo) {
            const char pair[3] = {*hi, *lo, '\0'};
            EXPECT_EQ(DecodePair(pair), std::strtoul(pair, nullptr, 16)) << pair;
        }
    }
}

TEST(HexBinStr, DecodeChecks) {
    const HexBinStr codec(HexCase::Lower);
    std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};

    // The odd length is reported before the room, even with no room at all.
    Status s = codec.StrToBin("abc", 3, out, 0);
    EXPECT_EQ(s.Code, StatusCode::BadInput);
    EXPECT_STREQ(s.Message, "cStrInputLen must be a multiple of two");
    EXPECT_EQ(codec.StrToBin("abc", 3, out, 4).Code, StatusCode::BadInput);

    s = codec.StrToBin("abcd", 4, out, 1);
    EXPECT_EQ(s.Code, StatusCode::BufferTooSmall);
    EXPECT_STREQ(s.Message, "Output buffer to small. See GetBinSizeFromStrLen");
    EXPECT_EQ(out[0], 0xEE);

    s = codec.StrToBin("abcd", 4, out, 2);
    EXPECT_EQ(s.Code, StatusCode::Success);
    EXPECT_STREQ(s.Message, "");
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xCD);
    EXPECT_EQ(out[2], 0xEE);

    EXPECT_EQ(codec.StrToBin("", 0, out, 0).Code, StatusCode::Success);
}

TEST(HexBinStr, SizeRules) {
    const HexBinStr codec(HexCase::Upper);
    EXPECT_EQ(codec.GetBinSizeFromStrLen(nullptr, 5), 2u);
    EXPECT_EQ(codec.GetBinSizeFromStrLen(nullptr, 0xFFFFFFFFu), 0x7FFFFFFFu);
    EXPECT_EQ(codec.GetStrLenFromBinSize(nullptr, 0), 0u);
    EXPECT_EQ(codec.GetStrLenFromBinSize(nullptr, 40), 80u);
    // The text length is a 32-bit count and wraps; the operations that write must not
    // trust it for huge inputs (see HugeInputsAreRefused).
    EXPECT_EQ(codec.GetStrLenFromBinSize(nullptr, 0x80000000u), 0u);
    EXPECT_EQ(codec.GetStrLenFromBinSize(nullptr, 0x80000004u), 8u);
}

// From 2^31 bytes on, the 32-bit text length wraps to a small number. The input and output
// here are tiny real buffers: if any size check trusted the wrapped length, the encoder
// would run far past them and the sanitizer would stop the test.
TEST(HexBinStr, HugeInputsAreRefused) {
    const HexBinStr codec(HexCase::Upper);
    const std::uint8_t tiny[4] = {1, 2, 3, 4};
    char out[16];
    std::memset(out, kSentinel, sizeof out);

    for (std::uint32_t size : {0x80000000u, 0x80000004u, 0xFFFFFFFFu}) {
        for (std::uint32_t room : {0u, 8u, 16u}) {
            Status s = codec.BinToStr(tiny, size, out, room);
            EXPECT_EQ(s.Code, StatusCode::BufferTooSmall) << size << " into " << room;
            EXPECT_STREQ(s.Message, "Output buffer to small. See GetStrLenFromBinSize");
        }
    }
    EXPECT_EQ(std::string(out, 16), std::string(16, kSentinel));
    // Even the largest stated room is one short of 2^32 characters.
    EXPECT_EQ(codec.BinToStr(tiny, 0x80000000u, out, 0xFFFFFFFFu).Code, StatusCode::BufferTooSmall);

    // The string operations size their buffers from the wrapped length; they must refuse too.
    HeapString str("kept");
    EXPECT_EQ(codec.AppendStrFromBin(tiny, 0x80000004u, str).Code, StatusCode::BufferTooSmall);
    EXPECT_EQ(str, "kept");
    // 2^31 + 5000 bytes wrap to 10000 characters, past the stack buffer: the heap path.
    EXPECT_EQ(codec.AppendStrFromBin(tiny, 0x80000000u + 5000u, str).Code,
              StatusCode::BufferTooSmall);
    EXPECT_EQ(str, "kept");
    EXPECT_EQ(codec.AssignStrFromBin(tiny, 0x80000004u, str).Code, StatusCode::BufferTooSmall);
    EXPECT_LE(str.size(), 8u);
}

TEST(HexBinStr, AssignReplacesAndAppendExtends) {
    const HexBinStr codec(HexCase::Lower);
    const std::uint8_t bytes[] = {0xDE, 0xAD, 0xBE, 0xEF};

    HeapString str(100, 'x');
    ASSERT_EQ(codec.AssignStrFromBin(bytes, 4, str).Code, StatusCode::Success);
    EXPECT_EQ(str, "deadbeef");
    EXPECT_EQ(str.size(), 8u);
    EXPECT_EQ(str.c_str()[8], '\0');

    ASSERT_EQ(codec.AppendStrFromBin(bytes, 2, str).Code, StatusCode::Success);
    EXPECT_EQ(str, "deadbeefdead");
    ASSERT_EQ(codec.AppendStrFromBin(bytes, 0, str).Code, StatusCode::Success);
    EXPECT_EQ(str, "deadbeefdead");

    ASSERT_EQ(codec.AssignStrFromBin(bytes, 0, str).Code, StatusCode::Success);
    EXPECT_TRUE(str.empty());
}

// The shared append works through the codec's own virtual operations and hands on the
// encoder's failure untouched.
TEST(IBinStr, AppendUsesTheCodecsEncoder) {
    struct Refusing : HexBinStr {
        Refusing() : HexBinStr(HexCase::Upper) {}
        Status BinToStr(const std::uint8_t*, std::uint32_t, char*, std::uint32_t) const override {
            Status s;
            s.Set(StatusCode::IoError, "refused");
            return s;
        }
    };
    const Refusing codec;
    const IBinStr& base = codec;
    const std::uint8_t bytes[] = {1, 2};
    HeapString str("kept");
    Status s = base.AppendStrFromBin(bytes, 2, str);
    EXPECT_EQ(s.Code, StatusCode::IoError);
    EXPECT_STREQ(s.Message, "refused");
    EXPECT_EQ(str, "kept");
}

TEST(HexBinStr, RoundTripsRandomBytes) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> bytes(rng() % 600);
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(rng());
        }
        const HexBinStr codec(round % 2 == 0 ? HexCase::Upper : HexCase::Lower);
        const auto n = static_cast<std::uint32_t>(bytes.size());

        HeapString text("prefix");
        ASSERT_EQ(codec.AppendStrFromBin(bytes.data(), n, text).Code, StatusCode::Success);
        ASSERT_EQ(text.size(), 6 + 2 * bytes.size());
        EXPECT_EQ(std::string(text.data() + 6, text.size() - 6), Encode(codec, bytes));

        std::vector<std::uint8_t> back(bytes.size());
        ASSERT_EQ(codec.StrToBin(text.data() + 6, 2 * n, back.data(), n).Code, StatusCode::Success);
        EXPECT_EQ(back, bytes);
    }
}

}  // namespace
}  // namespace CX::Str
