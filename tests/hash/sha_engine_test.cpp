// The engine's input splitting and its state machine. Whole-message digests are checked
// against NIST in sha_vectors_test.cpp; here the one-call or byte-at-a-time digest is the
// reference.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <type_traits>
#include <vector>

#include "sha_test_support.h"

namespace CX::Hash::Testing {
namespace {

using Out = std::array<std::uint8_t, 64 + 1>;  // room for every digest, and a byte beyond
constexpr Out Untouched = [] {
    Out out{};
    for (auto& b : out)
        b = 0xEE;
    return out;
}();

class ShaEngine : public ::testing::TestWithParam<AlgorithmInfo> {
protected:
    ShaEngine() { Reset(); }
    void Reset() {
        std::memset(&Context, 0, sizeof Context);
        ShaReset(&Context, GetParam().Algorithm);
    }
    ShaCode Feed(const Bytes& data) {
        return ShaInput(&Context, data.data(), static_cast<std::uint32_t>(data.size()));
    }
    // The result's code; on success Output holds the digest, and nothing past it changed.
    ShaCode Result() {
        Output = Untouched;
        const ShaCode code = ShaResult(&Context, Output.data());
        EXPECT_TRUE(
            std::equal(Output.begin() + GetParam().DigestSize, Output.end(), Untouched.begin()));
        return code;
    }
    Bytes Written() const { return Bytes(Output.begin(), Output.begin() + GetParam().DigestSize); }
    // Calls f with the live state of the context, whichever its type.
    template <typename F>
    void WithState(F&& f) {
        if (Context.Algorithm == 0)
            f(Context.State.Sha1);
        else if (Context.Algorithm <= 2)
            f(Context.State.Sha256);
        else
            f(Context.State.Sha512);
    }

    ShaContext Context;
    Out Output = Untouched;
};

// The member of context's state union that has the type of state.
template <typename State>
State& SameState(ShaContext& context, const State&) {
    if constexpr (std::is_same_v<State, Sha1State>) {
        return context.State.Sha1;
    } else if constexpr (std::is_same_v<State, Sha256State>) {
        return context.State.Sha256;
    } else {
        return context.State.Sha512;
    }
}

Bytes ByteByByte(const AlgorithmInfo& info, const Bytes& data) {
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < data.size(); ++i)
        cuts.push_back(i);
    return DigestPieces(info, data, cuts);
}

// Every length up to three blocks, fed byte by byte and cut in two anywhere.
TEST_P(ShaEngine, EverySplitOfShortMessages) {
    const Bytes all = PatternBytes(3 * GetParam().BlockSize);
    for (std::size_t length = 0; length <= all.size(); ++length) {
        const Bytes message(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        const Bytes expected = Digest(GetParam(), message);
        ASSERT_EQ(ByteByByte(GetParam(), message), expected) << "length " << length;
        for (std::size_t cut = 0; cut <= length; ++cut) {
            ASSERT_EQ(DigestPieces(GetParam(), message, {cut}), expected) << length << "/" << cut;
        }
    }
}

TEST_P(ShaEngine, RandomSplitsOfOneMebibyte) {
    const Bytes message = PatternBytes(1 << 20, 7);
    const Bytes expected = Digest(GetParam(), message);
    std::mt19937 random(12345);
    for (std::size_t maxPiece : {300, 5000, 200000}) {
        std::uniform_int_distribution<std::size_t> piece(0, maxPiece);
        std::vector<std::size_t> cuts;
        for (std::size_t at = piece(random); at < message.size(); at += piece(random)) {
            cuts.push_back(at);
        }
        EXPECT_EQ(DigestPieces(GetParam(), message, cuts), expected) << maxPiece;
    }
}

// A first piece of each size below a block starts the rest, fed at once, at every offset
// within a block and at every alignment in memory.
TEST_P(ShaEngine, EveryStartOffsetInABlock) {
    const Bytes message = PatternBytes(5 * GetParam().BlockSize + 17, 3);
    const Bytes expected = ByteByByte(GetParam(), message);
    for (std::size_t first = 0; first < GetParam().BlockSize; ++first) {
        EXPECT_EQ(DigestPieces(GetParam(), message, {first}), expected) << first;
    }
}

TEST_P(ShaEngine, ZeroLengthAndNullPointers) {
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(ShaInput(nullptr, nullptr, 0), ShaSuccess);
    EXPECT_EQ(ShaInput(&Context, nullptr, 0), ShaSuccess);
    ASSERT_EQ(ShaInput(&Context, abc.data(), 2), ShaSuccess);
    const ShaContext before = Context;
    EXPECT_EQ(ShaInput(nullptr, abc.data(), 1), ShaNull);
    EXPECT_EQ(ShaInput(&Context, nullptr, 1), ShaNull);
    EXPECT_EQ(ShaResult(nullptr, Output.data()), ShaNull);
    EXPECT_EQ(ShaResult(&Context, nullptr), ShaNull);  // and does not finalise
    EXPECT_EQ(std::memcmp(&before, &Context, sizeof Context), 0);

    ASSERT_EQ(ShaInput(&Context, abc.data() + 2, 1), ShaSuccess);
    ASSERT_EQ(Result(), ShaSuccess);
    EXPECT_EQ(Written(), Digest(GetParam(), abc));
    EXPECT_EQ(ShaInput(&Context, abc.data(), 0), ShaSuccess);  // stays Finalised
    ASSERT_EQ(Result(), ShaSuccess);
    EXPECT_EQ(Written(), Digest(GetParam(), abc));
}

TEST_P(ShaEngine, SelectorOutsideRangeIsRefusedWithoutChange) {
    for (std::int32_t selector : {5, -1, std::numeric_limits<std::int32_t>::min()}) {
        Context.Algorithm = selector;
        const ShaContext before = Context;
        EXPECT_EQ(Result(), ShaBadParam);
        EXPECT_EQ(Output, Untouched);
        EXPECT_EQ(Feed({1}), ShaBadParam);
        EXPECT_EQ(ShaResult(&Context, nullptr), ShaBadParam);  // the selector is checked first
        EXPECT_EQ(std::memcmp(&before, &Context, sizeof Context), 0) << selector;
    }
}

TEST_P(ShaEngine, InputAfterResultIsStickyMisuseUntilReset) {
    ASSERT_EQ(Result(), ShaSuccess);
    EXPECT_EQ(Feed({1}), ShaStateError);
    EXPECT_EQ(Feed({1}), ShaStateError);
    EXPECT_EQ(Result(), ShaStateError);
    EXPECT_EQ(Output, Untouched);
    Reset();
    ASSERT_EQ(Feed({1}), ShaSuccess);
    ASSERT_EQ(Result(), ShaSuccess);
    EXPECT_EQ(Written(), Digest(GetParam(), {1}));
}

// ShaReset starts over from whatever the context holds: bytes in the block, a count, a
// finalised or a corrupted state.
TEST_P(ShaEngine, ResetFromAUsedContextStartsAnEmptyMessage) {
    const Bytes abc = {'a', 'b', 'c'};
    for (ShaCode corrupted : {ShaSuccess, ShaNull, ShaStateError}) {
        SCOPED_TRACE(corrupted);
        std::memset(&Context, 0xA5, sizeof Context);
        WithState([corrupted](auto& state) {
            state.MessageBlockIndex = 17;
            state.Computed = corrupted == ShaStateError;
            state.Corrupted = corrupted;
        });
        ShaReset(&Context, GetParam().Algorithm);
        WithState([](auto& state) {
            EXPECT_EQ(state.LengthLow | state.LengthHigh, 0u);
            EXPECT_EQ(state.MessageBlockIndex, 0);
            EXPECT_EQ(state.Computed, 0);
            EXPECT_EQ(state.Corrupted, ShaSuccess);
        });
        ASSERT_EQ(Feed(abc), ShaSuccess);
        ASSERT_EQ(Result(), ShaSuccess);
        EXPECT_EQ(Written(), Digest(GetParam(), abc));
    }
    // And from a message fed and misused through the engine itself.
    Reset();
    ASSERT_EQ(Feed(abc), ShaSuccess);
    ASSERT_EQ(Result(), ShaSuccess);
    ASSERT_EQ(Feed(abc), ShaStateError);
    ShaReset(&Context, GetParam().Algorithm);
    ASSERT_EQ(Feed(abc), ShaSuccess);
    ASSERT_EQ(Result(), ShaSuccess);
    EXPECT_EQ(Written(), Digest(GetParam(), abc));
}

TEST_P(ShaEngine, FinalisationClearsCountAndBlock) {
    ASSERT_EQ(Feed(PatternBytes(GetParam().BlockSize + 3)), ShaSuccess);
    ASSERT_EQ(Result(), ShaSuccess);
    WithState([](auto& state) {
        EXPECT_EQ(state.LengthLow, 0u);
        EXPECT_EQ(state.LengthHigh, 0u);
        EXPECT_EQ(state.MessageBlockIndex, 0);
        EXPECT_EQ(state.Computed, 1);
        EXPECT_TRUE(std::all_of(std::begin(state.MessageBlock), std::end(state.MessageBlock),
                                [](std::uint8_t b) { return b == 0; }));
    });
}

// White-box: the bit count is set 16 bits below its top, 2^64 or 2^128. The second byte
// overflows it, whether the call ends there or goes on; the state stays Overflowed.
TEST_P(ShaEngine, CountOverflowIsSticky) {
    for (std::uint32_t length : {2u, 3u}) {
        Reset();
        WithState([](auto& state) {
            state.LengthHigh = std::numeric_limits<decltype(state.LengthHigh)>::max();
            state.LengthLow = static_cast<decltype(state.LengthLow)>(0 - 16);
        });
        EXPECT_EQ(Feed(Bytes(length, 1)), ShaSuccess);
        WithState([](auto& state) {
            EXPECT_EQ(state.Corrupted, ShaNull);
            EXPECT_EQ(state.MessageBlockIndex, 2);  // a third byte is not taken
            EXPECT_EQ(state.LengthLow | state.LengthHigh, 0u);
        });
        EXPECT_EQ(Feed({1}), ShaNull);
        EXPECT_EQ(Result(), ShaNull);
        EXPECT_EQ(Output, Untouched);
    }
}

// The byte that overflows the count fills the block, which is not compressed then.
TEST_P(ShaEngine, OverflowOnTheLastByteOfABlockLeavesTheBlockFull) {
    const auto blockSize = static_cast<std::int16_t>(GetParam().BlockSize);
    WithState([blockSize](auto& state) {
        state.LengthHigh = std::numeric_limits<decltype(state.LengthHigh)>::max();
        state.LengthLow = static_cast<decltype(state.LengthLow)>(0 - 8 * blockSize);
    });
    ShaContext before = Context;
    EXPECT_EQ(Feed(PatternBytes(static_cast<std::size_t>(blockSize) + 5)), ShaSuccess);
    WithState([&](auto& state) {
        EXPECT_EQ(state.Corrupted, ShaNull);
        EXPECT_EQ(state.MessageBlockIndex, blockSize);
        const auto& start = SameState(before, state);
        EXPECT_EQ(std::memcmp(state.IntermediateHash, start.IntermediateHash,
                              sizeof start.IntermediateHash),
                  0);
    });
}

// A call that reaches the top goes byte by byte; up to the overflowing byte it must hash
// what a call that stops just short of it hashes a block at a time.
TEST_P(ShaEngine, CallReachingTheTopHashesEveryByteBeforeIt) {
    const std::size_t overflowAt = GetParam().BlockSize + 10;
    const Bytes message = PatternBytes(overflowAt + 5);
    std::vector<ShaContext> ends;
    for (std::size_t length : {message.size(), overflowAt - 1}) {
        Reset();
        WithState([&](auto& state) {
            state.LengthHigh = std::numeric_limits<decltype(state.LengthHigh)>::max();
            state.LengthLow = static_cast<decltype(state.LengthLow)>(0 - 8 * overflowAt);
        });
        ASSERT_EQ(Feed(Bytes(message.begin(), message.begin() + length)), ShaSuccess);
        ends.push_back(Context);
    }
    Context = ends[0];
    WithState([&](auto& reaching) {
        const auto& shortOf = SameState(ends[1], reaching);
        EXPECT_EQ(reaching.Corrupted, ShaNull);
        EXPECT_EQ(shortOf.Corrupted, ShaSuccess);
        EXPECT_EQ(reaching.MessageBlockIndex, shortOf.MessageBlockIndex + 1);
        EXPECT_EQ(std::memcmp(reaching.IntermediateHash, shortOf.IntermediateHash,
                              sizeof shortOf.IntermediateHash),
                  0);
        EXPECT_EQ(std::memcmp(reaching.MessageBlock, shortOf.MessageBlock,
                              static_cast<std::size_t>(shortOf.MessageBlockIndex)),
                  0);
    });
}

// The low count word wraps into the high one, on the byte path and the block path alike.
TEST_P(ShaEngine, LowCountWordCarriesIntoHighWord) {
    for (std::uint32_t length : {1u, static_cast<std::uint32_t>(2 * GetParam().BlockSize + 1)}) {
        Reset();
        WithState([](auto& state) {
            state.LengthLow = std::numeric_limits<decltype(state.LengthLow)>::max() - 7;
        });
        ASSERT_EQ(Feed(PatternBytes(length)), ShaSuccess);
        WithState([&](auto& state) {
            EXPECT_EQ(state.Corrupted, ShaSuccess);
            EXPECT_EQ(state.LengthHigh, 1u);
            EXPECT_EQ(state.LengthLow, 8u * (length - 1));
        });
    }
}

// White-box, with more than 2^32 bits counted already: a carry adds to the high word that is
// there. And a call of 512 MiB, 2^32 bits that a 32-bit product counts as 0, is counted in
// full: from 16 bits below the top, it is seen to pass the top and only two bytes are taken,
// so its other bytes are never read.
TEST_P(ShaEngine, CountKeepsItsHighWordAndCountsHugeCallsInFull) {
    WithState([](auto& state) {
        state.LengthHigh = 1;
        state.LengthLow = std::numeric_limits<decltype(state.LengthLow)>::max() - 7;
    });
    ASSERT_EQ(Feed({1}), ShaSuccess);
    WithState([](auto& state) {
        EXPECT_EQ(state.LengthHigh, 2u);
        EXPECT_EQ(state.LengthLow, 0u);
    });

    constexpr std::uint32_t HalfGiB = 1u << 29;
    const std::unique_ptr<std::uint8_t[]> huge(new std::uint8_t[HalfGiB]);  // left unwritten
    huge[0] = huge[1] = 1;
    Reset();
    WithState([](auto& state) {
        state.LengthHigh = std::numeric_limits<decltype(state.LengthHigh)>::max();
        state.LengthLow = static_cast<decltype(state.LengthLow)>(0 - 16);
    });
    EXPECT_EQ(ShaInput(&Context, huge.get(), HalfGiB), ShaSuccess);
    WithState([](auto& state) {
        EXPECT_EQ(state.Corrupted, ShaNull);
        EXPECT_EQ(state.MessageBlockIndex, 2);
    });
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, ShaEngine, ::testing::ValuesIn(Algorithms),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace CX::Hash::Testing
