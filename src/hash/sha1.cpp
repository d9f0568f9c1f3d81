// The SHA-1 path: one compression function over 32-bit words, 80 rounds in four groups.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "hash/sha_engine.h"
#include "hash/sha_path.h"

namespace CX::Hash {
namespace {

using Word = std::uint32_t;

// The round function and constant of round t: Ch, Parity, Maj, Parity, 20 rounds each.
template <int T>
constexpr Word RoundFunction(Word b, Word c, Word d) {
    if constexpr (T < 20) {
        return d ^ (b & (c ^ d));
    } else if constexpr (T < 40 || T >= 60) {
        return b ^ c ^ d;
    } else {
        return (b & c) | (d & (b | c));
    }
}

template <int T>
constexpr Word RoundConstant() {
    if constexpr (T < 20) {
        return 0x5a827999;
    } else if constexpr (T < 40) {
        return 0x6ed9eba1;
    } else if constexpr (T < 60) {
        return 0x8f1bbcdc;
    } else {
        return 0xca62c1d6;
    }
}

// The round helpers below are forced inline. Left to itself, GCC at -O3 keeps some of
// them out of line and passes the working variables through memory, a third slower.

// Word t of the schedule, kept in a ring of the last 16 words.
template <int T>
[[gnu::always_inline]] inline Word ScheduleWord(Word (&w)[16]) {
    if constexpr (T >= 16) {
        w[T & 15] = std::rotl(w[(T - 3) & 15] ^ w[(T - 8) & 15] ^ w[(T - 14) & 15] ^ w[T & 15], 1);
    }
    return w[T & 15];
}

// One round changes only b and e; the caller shifts the roles of the five variables.
template <int T>
[[gnu::always_inline]] inline void Round(Word a, Word& b, Word c, Word d, Word& e, Word (&w)[16]) {
    e += std::rotl(a, 5) + RoundFunction<T>(b, c, d) + RoundConstant<T>() + ScheduleWord<T>(w);
    b = std::rotl(b, 30);
}

// After five rounds every variable is back in its own role.
template <int T>
[[gnu::always_inline]] inline void FiveRounds(Word& a, Word& b, Word& c, Word& d, Word& e,
                                              Word (&w)[16]) {
    Round<T + 0>(a, b, c, d, e, w);
    Round<T + 1>(e, a, b, c, d, w);
    Round<T + 2>(d, e, a, b, c, w);
    Round<T + 3>(c, d, e, a, b, w);
    Round<T + 4>(b, c, d, e, a, w);
}

// Every round of one block, fully unrolled: FiveRounds<0>, FiveRounds<5>, ... FiveRounds<75>.
template <int... Group>
[[gnu::always_inline]] inline void AllRounds(Word& a, Word& b, Word& c, Word& d, Word& e,
                                             Word (&w)[16], std::integer_sequence<int, Group...>) {
    (FiveRounds<5 * Group>(a, b, c, d, e, w), ...);
}

void Compress(Word* hash, const std::uint8_t* blocks, std::size_t count) {
    Word h0 = hash[0], h1 = hash[1], h2 = hash[2], h3 = hash[3], h4 = hash[4];
    for (; count != 0; --count, blocks += 64) {
        Word w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = Detail::LoadBigEndian<Word>(blocks + 4 * i);
        }
        Word a = h0, b = h1, c = h2, d = h3, e = h4;
        AllRounds(a, b, c, d, e, w, std::make_integer_sequence<int, 16>{});
        h0 += a;
        h1 += b;
        h2 += c;
        h3 += d;
        h4 += e;
    }
    hash[0] = h0;
    hash[1] = h1;
    hash[2] = h2;
    hash[3] = h3;
    hash[4] = h4;
}

}  // namespace

void Sha1ProcessBlock(Sha1State* state) {
    Detail::ProcessBlock<Sha1State, Compress>(state);
}

ShaCode Sha1Input(Sha1State* state, const std::uint8_t* data, std::uint32_t length) {
    return Detail::AbsorbInput<Sha1State, Compress>(state, data, length);
}

void Sha1Finalize(Sha1State* state) {
    Detail::FinalizeMessage<Sha1State, Compress>(state);
}

}  // namespace CX::Hash
