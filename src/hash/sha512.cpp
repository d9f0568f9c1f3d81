// The SHA-384/512 path: one compression function over 64-bit words, 80 rounds.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "hash/sha_engine.h"
#include "hash/sha_path.h"

namespace CX::Hash {
namespace {

constexpr std::uint64_t K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

using Word = std::uint64_t;

// Ch in the form with one operation fewer; same truth table.
constexpr Word Ch(Word x, Word y, Word z) {
    return z ^ (x & (y ^ z));
}
constexpr Word BigSigma0(Word x) {
    return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39);
}
constexpr Word BigSigma1(Word x) {
    return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41);
}
constexpr Word SmallSigma0(Word x) {
    return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7);
}
constexpr Word SmallSigma1(Word x) {
    return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6);
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
    for (; count != 0; --count, blocks += 128) {
        Word w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = Detail::LoadBigEndian<Word>(blocks + 8 * i);
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
        EightRounds<64>(a, b, c, d, e, f, g, h, bc, w);
        EightRounds<72>(a, b, c, d, e, f, g, h, bc, w);
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

void Sha512ProcessBlock(Sha512State* state) {
    Detail::ProcessBlock<Sha512State, Compress>(state);
}

ShaCode Sha512Input(Sha512State* state, const std::uint8_t* data, std::uint32_t length) {
    return Detail::AbsorbInput<Sha512State, Compress>(state, data, length);
}

void Sha512Finalize(Sha512State* state) {
    Detail::FinalizeMessage<Sha512State, Compress>(state);
}

}  // namespace CX::Hash
