#pragma once

// The SHA-2 compression function, written once for SHA-256 and SHA-512. A path tells
// them apart through its parameter type:
//   Word            the word type; a block is 16 words;
//   RoundConstants  one per round, 64 or 80, which sets the number of rounds;
//   BigSigma0, BigSigma1      three rotation amounts each;
//   SmallSigma0, SmallSigma1  two rotation amounts and a shift amount each.
// Only the engine's own sources include this header.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include "hash/sha_path.h"

namespace CX::Hash::Detail {

template <typename Params>
class Sha2Compression {
    using Word = typename Params::Word;
    static constexpr std::size_t Rounds = std::size(Params::RoundConstants);
    static_assert(Rounds % 8 == 0);

    // Ch in the form with one operation fewer; same truth table.
    static constexpr Word Ch(Word x, Word y, Word z) { return z ^ (x & (y ^ z)); }
    static constexpr Word BigSigma0(Word x) {
        constexpr auto& r = Params::BigSigma0;
        return std::rotr(x, r[0]) ^ std::rotr(x, r[1]) ^ std::rotr(x, r[2]);
    }
    static constexpr Word BigSigma1(Word x) {
        constexpr auto& r = Params::BigSigma1;
        return std::rotr(x, r[0]) ^ std::rotr(x, r[1]) ^ std::rotr(x, r[2]);
    }
    static constexpr Word SmallSigma0(Word x) {
        constexpr auto& r = Params::SmallSigma0;
        return std::rotr(x, r[0]) ^ std::rotr(x, r[1]) ^ (x >> r[2]);
    }
    static constexpr Word SmallSigma1(Word x) {
        constexpr auto& r = Params::SmallSigma1;
        return std::rotr(x, r[0]) ^ std::rotr(x, r[1]) ^ (x >> r[2]);
    }

    // The round helpers below are forced inline. Left to itself, GCC at -O3 keeps some of
    // them out of line and passes the working variables through memory, a third slower.

    // Word t of the schedule. The ring holds the last 16 words; from t = 16 on, slot
    // t mod 16 (which held word t - 16) is overwritten with word t.
    template <std::size_t T>
    [[gnu::always_inline]] static Word ScheduleWord(Word (&w)[16]) {
        if constexpr (T >= 16) {
            w[T & 15] +=
                SmallSigma1(w[(T - 2) & 15]) + w[(T - 7) & 15] + SmallSigma0(w[(T - 15) & 15]);
        }
        return w[T & 15];
    }

    // One round changes only d and h; the caller shifts the roles of the eight variables
    // instead of moving their values. Maj(a, b, c) is taken as b ^ ((a ^ b) & (b ^ c)):
    // this round's a ^ b is the next round's b ^ c, so bc carries it over and c is not
    // needed. The terms of t1 that do not wait for e are added first.
    template <std::size_t T>
    [[gnu::always_inline]] static void Round(Word a, Word b, Word& d, Word e, Word f, Word g,
                                             Word& h, Word& bc, Word (&w)[16]) {
        const Word t1 =
            h + Params::RoundConstants[T] + ScheduleWord<T>(w) + Ch(e, f, g) + BigSigma1(e);
        const Word ab = a ^ b;
        d += t1;
        h = t1 + BigSigma0(a) + (b ^ (ab & bc));
        bc = ab;
    }

    // After eight rounds every variable is back in its own role.
    template <std::size_t T>
    [[gnu::always_inline]] static void EightRounds(Word& a, Word& b, Word& c, Word& d, Word& e,
                                                   Word& f, Word& g, Word& h, Word& bc,
                                                   Word (&w)[16]) {
        Round<T + 0>(a, b, d, e, f, g, h, bc, w);
        Round<T + 1>(h, a, c, d, e, f, g, bc, w);
        Round<T + 2>(g, h, b, c, d, e, f, bc, w);
        Round<T + 3>(f, g, a, b, c, d, e, bc, w);
        Round<T + 4>(e, f, h, a, b, c, d, bc, w);
        Round<T + 5>(d, e, g, h, a, b, c, bc, w);
        Round<T + 6>(c, d, f, g, h, a, b, bc, w);
        Round<T + 7>(b, c, e, f, g, h, a, bc, w);
    }

    // Every round of one block, fully unrolled: EightRounds<0>, EightRounds<8>, ...
    template <std::size_t... Group>
    [[gnu::always_inline]] static void AllRounds(Word& a, Word& b, Word& c, Word& d, Word& e,
                                                 Word& f, Word& g, Word& h, Word& bc, Word (&w)[16],
                                                 std::index_sequence<Group...>) {
        (EightRounds<8 * Group>(a, b, c, d, e, f, g, h, bc, w), ...);
    }

public:
    // The chaining value stays in memory between blocks, which leaves the registers to the
    // eight working variables.
    static void Compress(Word* hash, const std::uint8_t* blocks, std::size_t count) {
        for (; count != 0; --count, blocks += 16 * sizeof(Word)) {
            Word w[16];
            for (std::size_t i = 0; i < 16; ++i) {
                w[i] = LoadBigEndian<Word>(blocks + sizeof(Word) * i);
            }
            Word a = hash[0], b = hash[1], c = hash[2], d = hash[3];
            Word e = hash[4], f = hash[5], g = hash[6], h = hash[7];
            Word bc = b ^ c;
            AllRounds(a, b, c, d, e, f, g, h, bc, w, std::make_index_sequence<Rounds / 8>{});
            hash[0] += a;
            hash[1] += b;
            hash[2] += c;
            hash[3] += d;
            hash[4] += e;
            hash[5] += f;
            hash[6] += g;
            hash[7] += h;
        }
    }
};

}  // namespace CX::Hash::Detail
