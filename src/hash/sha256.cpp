// The SHA-224/256 path: one compression function over 32-bit words, 64 rounds.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "hash/sha_engine.h"
#include "hash/sha_path.h"

namespace CX::Hash {
namespace {

constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

using Word = std::uint32_t;

// Ch in the form with one operation fewer; same truth table.
constexpr Word Ch(Word x, Word y, Word z) {
    return z ^ (x & (y ^ z));
}
constexpr Word BigSigma0(Word x) {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
constexpr Word BigSigma1(Word x) {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
constexpr Word SmallSigma0(Word x) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
constexpr Word SmallSigma1(Word x) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}

// The round helpers below are forced inline. Left to itself, GCC at -O3 keeps some of
// them out of line and passes the working variables through memory, a third slower.

// Word t of the schedule. The ring holds the last 16 words; from t = 16 on, slot t mod 16
// (which held word t - 16) is overwritten with word t.
template <int T>
[[gnu::always_inline]] inline Word ScheduleWord(Word (&w)[16]) {
    if constexpr (T >= 16) {
        w[T & 15] += SmallSigma1(w[(T - 2) & 15]) + w[(T - 7) & 15] + SmallSigma0(w[(T - 15) & 15]);
    }
    return w[T & 15];
}

// One round changes only d and h; the caller shifts the roles of the eight variables
// instead of moving their values. Maj(a, b, c) is taken as b ^ ((a ^ b) & (b ^ c)): this
// round's a ^ b is the next round's b ^ c, so bc carries it over and c is not needed.
// The terms of t1 that do not wait for e are added first.
template <int T>
[[gnu::always_inline]] inline void Round(Word a, Word b, Word& d, Word e, Word f, Word g, Word& h,
                                         Word& bc, Word (&w)[16]) {
    const Word t1 = h + K[T] + ScheduleWord<T>(w) + Ch(e, f, g) + BigSigma1(e);
    const Word ab = a ^ b;
    d += t1;
    h = t1 + BigSigma0(a) + (b ^ (ab & bc));
    bc = ab;
}

// After eight rounds every variable is back in its own role.
template <int T>
[[gnu::always_inline]] inline void EightRounds(Word& a, Word& b, Word& c, Word& d, Word& e, Word& f,
                                               Word& g, Word& h, Word& bc, Word (&w)[16]) {
    Round<T + 0>(a, b, d, e, f, g, h, bc, w);
    Round<T + 1>(h, a, c, d, e, f, g, bc, w);
    Round<T + 2>(g, h, b, c, d, e, f, bc, w);
    Round<T + 3>(f, g, a, b, c, d, e, bc, w);
    Round<T + 4>(e, f, h, a, b, c, d, bc, w);
    Round<T + 5>(d, e, g, h, a, b, c, bc, w);
    Round<T + 6>(c, d, f, g, h, a, b, bc, w);
    Round<T + 7>(b, c, e, f, g, h, a, bc, w);
}

// The chaining value stays in memory between blocks, which leaves the registers to the
// eight working variables.
void Compress(Word* hash, const std::uint8_t* blocks, std::size_t count) {
    for (; count != 0; --count, blocks += 64) {
        Word w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = Detail::LoadBigEndian<Word>(blocks + 4 * i);
        }
        Word a = hash[0], b = hash[1], c = hash[2], d = hash[3];
        Word e = hash[4], f = hash[5], g = hash[6], h = hash[7];
        Word bc = b ^ c;
        EightRounds<0>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<8>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<16>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<24>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<32>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<40>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<48>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<56>(a, b, c, d, e, f, g, h, bc, w);
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

}  // namespace

void Sha256ProcessBlock(Sha256State* state) {
    Detail::ProcessBlock<Sha256State, Compress>(state);
}

ShaCode Sha256Input(Sha256State* state, const std::uint8_t* data, std::uint32_t length) {
    return Detail::AbsorbInput<Sha256State, Compress>(state, data, length);
}

void Sha256Finalize(Sha256State* state) {
    Detail::FinalizeMessage<Sha256State, Compress>(state);
}

}  // namespace CX::Hash
