// Fuzzes the SHA engine for all five algorithms: the message fed in one call, byte by
// byte, and in pieces the input picks (zero-length pieces with a null pointer included)
// must end in the same digest, or, when the bit count is started near its top, in the
// same state byte for byte. The one call takes the block-wise fast path wherever it can;
// the byte-by-byte feed is the definition it has to agree with.
//
// Input layout:
//   byte 0      bit 0 set: start every context with its bit count m bytes short of its
//               top, m = 1 + byte 1, so that the feed runs into the overflow
//   byte 1      see above
//   bytes 2-3   seed of the piece lengths
//   the rest    the message

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "hash/sha_engine.h"

namespace {

using namespace CX::Hash;

[[noreturn]] void Fail(const char* what, int algorithm) {
    std::fprintf(stderr, "fuzz_sha: algorithm %d: %s\n", algorithm, what);
    std::abort();
}

constexpr std::size_t kDigestSize[] = {20, 28, 32, 48, 64};
constexpr std::size_t kBlockSize[] = {64, 64, 64, 128, 128};

// Sets the bit count m bytes short of its top and gives the block the bytes that such a
// message would have waiting in it.
template <typename State>
void StartNearTop(State& s, std::uint64_t m, std::size_t block) {
    using Word = decltype(State::LengthLow);
    const Word bits = static_cast<Word>(m * 8);
    s.LengthLow = static_cast<Word>(0) - bits;
    s.LengthHigh = std::numeric_limits<Word>::max();
    const std::size_t waiting = (block - m % block) % block;
    for (std::size_t i = 0; i < waiting; ++i) {
        s.MessageBlock[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    s.MessageBlockIndex = static_cast<std::int16_t>(waiting);
}

void Start(ShaContext& c, int algorithm, bool nearTop, std::uint64_t m) {
    std::memset(&c, 0x5C, sizeof(c));  // reset must not depend on earlier content
    ShaReset(&c, static_cast<ShaAlgorithm>(algorithm));
    if (!nearTop) {
        return;
    }
    const std::size_t block = kBlockSize[algorithm];
    switch (algorithm) {
        case 0:
            StartNearTop(c.State.Sha1, m, block);
            break;
        case 1:
        case 2:
            StartNearTop(c.State.Sha256, m, block);
            break;
        default:
            StartNearTop(c.State.Sha512, m, block);
            break;
    }
}

// Everything of a state that defines the rest of the message: the chaining value, the
// count, the waiting bytes and the flags. Bytes of the block past the index are not
// compared: the fast path need not leave them as the byte loop does.
template <typename State>
bool SameState(const State& a, const State& b) {
    return std::memcmp(a.IntermediateHash, b.IntermediateHash, sizeof(a.IntermediateHash)) == 0 &&
           a.LengthLow == b.LengthLow && a.LengthHigh == b.LengthHigh &&
           a.MessageBlockIndex == b.MessageBlockIndex &&
           std::memcmp(a.MessageBlock, b.MessageBlock,
                       static_cast<std::size_t>(a.MessageBlockIndex)) == 0 &&
           a.Computed == b.Computed && a.Corrupted == b.Corrupted;
}

bool SameState(const ShaContext& a, const ShaContext& b, int algorithm) {
    switch (algorithm) {
        case 0:
            return SameState(a.State.Sha1, b.State.Sha1);
        case 1:
        case 2:
            return SameState(a.State.Sha256, b.State.Sha256);
        default:
            return SameState(a.State.Sha512, b.State.Sha512);
    }
}

std::int32_t Corrupted(const ShaContext& c, int algorithm) {
    switch (algorithm) {
        case 0:
            return c.State.Sha1.Corrupted;
        case 1:
        case 2:
            return c.State.Sha256.Corrupted;
        default:
            return c.State.Sha512.Corrupted;
    }
}

// Piece lengths from a small generator: often 0, often near a block boundary, sometimes
// anything up to three blocks.
struct Pieces {
    std::uint32_t Seed;
    std::size_t Next(std::size_t block) {
        Seed = Seed * 1103515245u + 12345u;
        const std::uint32_t r = Seed >> 8;
        switch (r % 4) {
            case 0:
                return 0;
            case 1:
                return block - 1 + (r >> 4) % 3;
            default:
                return (r >> 4) % (3 * block + 1);
        }
    }
};

void CheckAlgorithm(int algorithm, const std::uint8_t* msg, std::size_t n, bool nearTop,
                    std::uint64_t m, std::uint32_t seed) {
    const std::size_t block = kBlockSize[algorithm];
    const std::size_t digestSize = kDigestSize[algorithm];
    const std::uint32_t len = static_cast<std::uint32_t>(n);

    ShaContext one, bytes, split;
    Start(one, algorithm, nearTop, m);
    Start(bytes, algorithm, nearTop, m);
    Start(split, algorithm, nearTop, m);

    // One call.
    if (ShaInput(&one, msg, len) != ShaSuccess) {
        Fail("one call: input refused", algorithm);
    }

    // Byte by byte: once the count has overflowed, every further byte is refused with 1.
    for (std::size_t i = 0; i < n; ++i) {
        const ShaCode want = Corrupted(bytes, algorithm) != 0 ? ShaNull : ShaSuccess;
        if (ShaInput(&bytes, msg + i, 1) != want) {
            Fail("byte by byte: unexpected code", algorithm);
        }
    }

    // Pieces, with empty calls (null data) in between.
    Pieces pieces{seed};
    std::size_t done = 0;
    while (done < n) {
        std::size_t take = pieces.Next(block);
        take = take < n - done ? take : n - done;
        const ShaCode rc = take == 0
                               ? ShaInput(&split, nullptr, 0)
                               : ShaInput(&split, msg + done, static_cast<std::uint32_t>(take));
        if (rc != ShaSuccess && rc != ShaNull) {
            Fail("pieces: unexpected code", algorithm);
        }
        done += take;
    }

    if (!SameState(one, bytes, algorithm)) {
        Fail("one call and byte by byte end in different states", algorithm);
    }
    if (!SameState(one, split, algorithm)) {
        Fail("one call and pieces end in different states", algorithm);
    }

    std::uint8_t d1[64], d2[64], d3[64];
    std::memset(d1, 0xEE, sizeof(d1));
    std::memset(d2, 0xEE, sizeof(d2));
    std::memset(d3, 0xEE, sizeof(d3));
    const ShaCode r1 = ShaResult(&one, d1);
    const ShaCode r2 = ShaResult(&bytes, d2);
    const ShaCode r3 = ShaResult(&split, d3);
    if (r1 != r2 || r1 != r3) {
        Fail("results differ", algorithm);
    }
    if (std::memcmp(d1, d2, sizeof(d1)) != 0 || std::memcmp(d1, d3, sizeof(d1)) != 0) {
        Fail("digests differ", algorithm);
    }
    for (std::size_t i = r1 == ShaSuccess ? digestSize : 0; i < sizeof(d1); ++i) {
        if (d1[i] != 0xEE) {
            Fail("result wrote beyond its digest, or wrote on failure", algorithm);
        }
    }
    if (r1 != ShaSuccess) {
        if (r1 != ShaNull || !nearTop) {
            Fail("result failed without an overflow", algorithm);
        }
        return;
    }

    // Finalised: a second result repeats the digest; empty input is harmless; more bytes
    // spoil the context, and the result then leaves its output alone.
    std::uint8_t again[64];
    if (ShaResult(&one, again) != ShaSuccess || std::memcmp(again, d1, digestSize) != 0) {
        Fail("second result differs", algorithm);
    }
    if (ShaInput(&one, nullptr, 0) != ShaSuccess || ShaResult(&one, again) != ShaSuccess) {
        Fail("empty input after the result changed the state", algorithm);
    }
    if (n > 0) {
        if (ShaInput(&one, msg, len) != ShaStateError) {
            Fail("input after the result not refused", algorithm);
        }
        std::memset(again, 0xEE, sizeof(again));
        if (ShaResult(&one, again) != ShaStateError || again[0] != 0xEE) {
            Fail("result after misuse not refused", algorithm);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const bool nearTop = (data[0] & 1) != 0;
    const std::uint64_t m = 1u + data[1];
    const std::uint32_t seed = data[2] | (std::uint32_t{data[3]} << 8);
    // The message in a block of its own size, so that a read past it is caught.
    const std::size_t n = size - 4;
    auto* msg = static_cast<std::uint8_t*>(std::malloc(n + !n));
    std::memcpy(msg, data + 4, n);
    for (int algorithm = 0; algorithm < 5; ++algorithm) {
        CheckAlgorithm(algorithm, msg, n, nearTop, m, seed);
    }
    std::free(msg);
    return 0;
}
