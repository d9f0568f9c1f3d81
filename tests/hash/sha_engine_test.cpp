// The engine's input splitting and its state machine. Digests of whole messages are
// checked against NIST in sha_vectors_test.cpp; here the one-call digest (or the
// byte-at-a-time one) is the reference.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "sha_test_support.h"

namespace CX::Hash::Testing {
namespace {

ShaContext Fresh(ShaAlgorithm algorithm) {
    ShaContext context;
    std::memset(&context, 0, sizeof context);
    ShaReset(&context, algorithm);
    return context;
}

// Calls f with the live state of the context, whichever its type.
template <typename F>
void WithState(ShaContext& context, F&& f) {
    switch (static_cast<ShaAlgorithm>(context.Algorithm)) {
        case ShaAlgorithm::Sha1:
            f(context.State.Sha1);
            break;
        case ShaAlgorithm::Sha224:
        case ShaAlgorithm::Sha256:
            f(context.State.Sha256);
            break;
        default:
            f(context.State.Sha512);
            break;
    }
}

Bytes ByteByByte(const AlgorithmInfo& info, const Bytes& data) {
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < data.size(); ++i) {
        cuts.push_back(i);
    }
    return DigestPieces(info, data, cuts);
}

using Digest64 = std::array<std::uint8_t, 64>;

Digest64 Untouched() {
    Digest64 out;
    out.fill(0xEE);
    return out;
}

class ShaEngine : public ::testing::TestWithParam<AlgorithmInfo> {};

// Two pieces, cut anywhere, for every length up to three blocks; the one-call digest in
// turn agrees with feeding single bytes.
TEST_P(ShaEngine, EverySplitOfShortMessages) {
    const AlgorithmInfo& info = GetParam();
    const Bytes all = PatternBytes(3 * info.BlockSize);
    for (std::size_t length = 0; length <= all.size(); ++length) {
        const Bytes message(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        const Bytes expected = Digest(info, message);
        ASSERT_EQ(ByteByByte(info, message), expected) << "length " << length;
        for (std::size_t cut = 0; cut <= length; ++cut) {
            ASSERT_EQ(DigestPieces(info, message, {cut}), expected)
                << "length " << length << " cut " << cut;
        }
    }
}

TEST_P(ShaEngine, RandomSplitsOfOneMebibyte) {
    const AlgorithmInfo& info = GetParam();
    const Bytes message = PatternBytes(1 << 20, 7);
    const Bytes expected = Digest(info, message);
    std::mt19937 random(12345);
    for (std::size_t maxPiece : {std::size_t{300}, std::size_t{5000}, std::size_t{200000}}) {
        std::uniform_int_distribution<std::size_t> piece(0, maxPiece);
        std::vector<std::size_t> cuts;
        for (std::size_t at = piece(random); at < message.size(); at += piece(random)) {
            cuts.push_back(at);
        }
        EXPECT_EQ(DigestPieces(info, message, cuts), expected) << "pieces up to " << maxPiece;
    }
}

// A first piece of every size below a block puts the rest, fed at once, at every offset
// within the block and at every alignment in memory.
TEST_P(ShaEngine, EveryStartOffsetInABlock) {
    const AlgorithmInfo& info = GetParam();
    const Bytes message = PatternBytes(5 * info.BlockSize + 17, 3);
    const Bytes expected = ByteByByte(info, message);
    for (std::size_t first = 0; first < info.BlockSize; ++first) {
        EXPECT_EQ(DigestPieces(info, message, {first}), expected) << "first piece " << first;
    }
}

TEST_P(ShaEngine, ResultWritesExactlyTheDigestSize) {
    ShaContext context = Fresh(GetParam().Algorithm);
    Digest64 out = Untouched();
    ASSERT_EQ(ShaResult(&context, out.data()), ShaSuccess);
    const std::size_t size = GetParam().DigestSize;
    EXPECT_NE(out[size - 1], 0xEE);  // probable, for these fixed digests of the empty message
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(size), out.end(),
                            [](std::uint8_t b) { return b == 0xEE; }));
}

TEST_P(ShaEngine, ZeroLengthInputSucceedsWhateverTheState) {
    const std::uint8_t byte = 'x';
    EXPECT_EQ(ShaInput(nullptr, nullptr, 0), ShaSuccess);
    ShaContext context = Fresh(GetParam().Algorithm);
    EXPECT_EQ(ShaInput(&context, nullptr, 0), ShaSuccess);
    Digest64 first = Untouched(), second = Untouched();
    ASSERT_EQ(ShaResult(&context, first.data()), ShaSuccess);
    EXPECT_EQ(ShaInput(&context, &byte, 0), ShaSuccess);  // stays Finalised
    ASSERT_EQ(ShaResult(&context, second.data()), ShaSuccess);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + GetParam().DigestSize), Digest(GetParam(), {}));
}

TEST_P(ShaEngine, NullPointersAreRefusedWithoutChange) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    ShaContext context = Fresh(GetParam().Algorithm);
    ASSERT_EQ(ShaInput(&context, abc, 2), ShaSuccess);
    const ShaContext before = context;

    EXPECT_EQ(ShaInput(nullptr, abc, 1), ShaNull);
    EXPECT_EQ(ShaInput(&context, nullptr, 1), ShaNull);
    EXPECT_EQ(ShaResult(nullptr, Untouched().data()), ShaNull);
    EXPECT_EQ(ShaResult(&context, nullptr), ShaNull);  // does not finalise
    EXPECT_EQ(std::memcmp(&before, &context, sizeof context), 0);

    ASSERT_EQ(ShaInput(&context, abc + 2, 1), ShaSuccess);  // the message goes on
    Digest64 out = Untouched();
    ASSERT_EQ(ShaResult(&context, out.data()), ShaSuccess);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + GetParam().DigestSize),
              Digest(GetParam(), Bytes(abc, abc + 3)));
}

TEST_P(ShaEngine, SelectorOutsideRangeIsRefused) {
    const std::uint8_t byte = 'x';
    for (std::int32_t selector : {5, -1, std::numeric_limits<std::int32_t>::min()}) {
        ShaContext context = Fresh(GetParam().Algorithm);
        context.Algorithm = selector;
        const ShaContext before = context;
        Digest64 out = Untouched();
        EXPECT_EQ(ShaResult(&context, out.data()), ShaBadParam);
        EXPECT_EQ(ShaInput(&context, &byte, 1), ShaBadParam);
        EXPECT_EQ(out, Untouched());
        EXPECT_EQ(std::memcmp(&before, &context, sizeof context), 0) << selector;
    }
}

TEST_P(ShaEngine, InputAfterResultIsStickyMisuseUntilReset) {
    const std::uint8_t byte = 'x';
    ShaContext context = Fresh(GetParam().Algorithm);
    Digest64 out = Untouched();
    ASSERT_EQ(ShaResult(&context, out.data()), ShaSuccess);
    EXPECT_EQ(ShaInput(&context, &byte, 1), ShaStateError);
    EXPECT_EQ(ShaInput(&context, &byte, 1), ShaStateError);
    out = Untouched();
    EXPECT_EQ(ShaResult(&context, out.data()), ShaStateError);
    EXPECT_EQ(out, Untouched());

    ShaReset(&context, GetParam().Algorithm);
    ASSERT_EQ(ShaInput(&context, &byte, 1), ShaSuccess);
    ASSERT_EQ(ShaResult(&context, out.data()), ShaSuccess);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + GetParam().DigestSize),
              Digest(GetParam(), Bytes{byte}));
}

// White-box: the bit count is set near its top, 2^64 - 1 or 2^128 - 1 bits. The second
// byte overflows it, whether the call ends there or goes on.
TEST_P(ShaEngine, CountOverflowIsStickyAfterTheCallThatCausesIt) {
    const std::uint8_t bytes[3] = {1, 2, 3};
    for (std::uint32_t length : {2u, 3u}) {
        ShaContext context = Fresh(GetParam().Algorithm);
        WithState(context, [](auto& state) {
            using Word = decltype(state.LengthLow);
            state.LengthHigh = std::numeric_limits<Word>::max();
            state.LengthLow = static_cast<Word>(0 - 16);
        });
        EXPECT_EQ(ShaInput(&context, bytes, length), ShaSuccess);
        WithState(context, [](auto& state) {
            EXPECT_EQ(state.Corrupted, ShaNull);
            EXPECT_EQ(state.MessageBlockIndex, 2);  // a third byte is not taken
            EXPECT_EQ(state.LengthLow, 0u);
            EXPECT_EQ(state.LengthHigh, 0u);
        });
        EXPECT_EQ(ShaInput(&context, bytes, 1), ShaNull);
        Digest64 out = Untouched();
        EXPECT_EQ(ShaResult(&context, out.data()), ShaNull);
        EXPECT_EQ(out, Untouched());

        ShaReset(&context, GetParam().Algorithm);
        ASSERT_EQ(ShaResult(&context, out.data()), ShaSuccess);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + GetParam().DigestSize), Digest(GetParam(), {}));
    }
}

// A call that reaches the top runs byte by byte; up to the overflowing byte it must
// compress exactly what a call stopping just short of it does a block at a time.
TEST_P(ShaEngine, CallReachingTheTopHashesEveryByteBeforeIt) {
    const std::size_t overflowAt = GetParam().BlockSize + 10;  // 1-based
    const Bytes message = PatternBytes(overflowAt + 5);
    auto nearTop = [&](ShaContext& context) {
        WithState(context, [&](auto& state) {
            using Word = decltype(state.LengthLow);
            state.LengthHigh = std::numeric_limits<Word>::max();
            state.LengthLow = static_cast<Word>(0 - 8 * overflowAt);
        });
    };
    ShaContext reaching = Fresh(GetParam().Algorithm), shortOf = Fresh(GetParam().Algorithm);
    nearTop(reaching);
    nearTop(shortOf);
    ASSERT_EQ(ShaInput(&reaching, message.data(), static_cast<std::uint32_t>(message.size())),
              ShaSuccess);
    ASSERT_EQ(ShaInput(&shortOf, message.data(), static_cast<std::uint32_t>(overflowAt - 1)),
              ShaSuccess);
    WithState(reaching, [&](auto& r) {
        WithState(shortOf, [&](auto& s) {
            EXPECT_EQ(r.Corrupted, ShaNull);
            EXPECT_EQ(s.Corrupted, ShaSuccess);
            EXPECT_EQ(r.MessageBlockIndex, s.MessageBlockIndex + 1);
            EXPECT_EQ(
                std::memcmp(r.IntermediateHash, s.IntermediateHash, sizeof r.IntermediateHash), 0);
            EXPECT_EQ(std::memcmp(r.MessageBlock, s.MessageBlock,
                                  static_cast<std::size_t>(s.MessageBlockIndex)),
                      0);
        });
    });
}

// The low word wraps into the high one, on the byte path and on the block path alike.
TEST_P(ShaEngine, LowCountWordCarriesIntoHighWord) {
    const Bytes message = PatternBytes(2 * GetParam().BlockSize + 1);
    for (std::uint32_t length : {1u, static_cast<std::uint32_t>(message.size())}) {
        ShaContext context = Fresh(GetParam().Algorithm);
        WithState(context, [](auto& state) {
            using Word = decltype(state.LengthLow);
            state.LengthLow = std::numeric_limits<Word>::max() - 7;  // one byte below the wrap
        });
        ASSERT_EQ(ShaInput(&context, message.data(), length), ShaSuccess);
        WithState(context, [&](auto& state) {
            EXPECT_EQ(state.Corrupted, ShaSuccess);
            EXPECT_EQ(state.LengthHigh, 1u);
            EXPECT_EQ(state.LengthLow, 8u * (length - 1));
        });
    }
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, ShaEngine, ::testing::ValuesIn(Algorithms),
                         [](const auto& info) { return ParamName(info.param); });

}  // namespace
}  // namespace CX::Hash::Testing
