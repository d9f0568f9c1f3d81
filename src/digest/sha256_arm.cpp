// SHA-256's compression on the ARMv8 SHA2 instructions. Only this file's functions carry
// the extension, so nothing else in the program assumes it.

#include "digest/sha256_instructions.h"

#if defined(__aarch64__)

#include <arm_neon.h>

#include <utility>

#include "hash/sha256_compress.h"

namespace CX::Digest::Detail {
namespace {

// (A, B, C, D) and (E, F, G, H) each in one register; SHA256H and SHA256H2 do four rounds
// between them, both from the state before the four. W[4g..4g+3] are made in w[g mod 4]:
// from g = 4 on, SHA256SU0 and SHA256SU1 turn the last sixteen words into the next four,
// in the slot that held the oldest four.
template <int G>
[[gnu::always_inline]] __attribute__((target("+crypto"))) inline void FourRounds(
    uint32x4_t& abcd, uint32x4_t& efgh, uint32x4_t (&w)[4]) {
    if constexpr (G >= 4) {
        // W[t..t+3] from W[t-16..t-13], W[t-12..t-9], W[t-8..t-5] and W[t-4..t-1].
        w[G & 3] = vsha256su1q_u32(vsha256su0q_u32(w[G & 3], w[(G + 1) & 3]), w[(G + 2) & 3],
                                   w[(G + 3) & 3]);
    }
    const uint32x4_t wk = vaddq_u32(w[G & 3], vld1q_u32(CX::Hash::Sha256RoundConstants + 4 * G));
    const uint32x4_t before = abcd;
    abcd = vsha256hq_u32(abcd, efgh, wk);
    efgh = vsha256h2q_u32(efgh, before, wk);
}

// All 64 rounds written out, so that the schedule stays in registers.
template <int... G>
[[gnu::always_inline]] __attribute__((target("+crypto"))) inline void AllRounds(
    uint32x4_t& abcd, uint32x4_t& efgh, uint32x4_t (&w)[4], std::integer_sequence<int, G...>) {
    (FourRounds<G>(abcd, efgh, w), ...);
}

}  // namespace

__attribute__((target("+crypto"))) void Sha256CompressArmSha2(std::uint32_t* hash,
                                                              const std::uint8_t* blocks,
                                                              std::size_t count) {
    uint32x4_t abcd = vld1q_u32(hash);
    uint32x4_t efgh = vld1q_u32(hash + 4);
    for (; count != 0; --count, blocks += 64) {
        const uint32x4_t abcdSaved = abcd;
        const uint32x4_t efghSaved = efgh;
        uint32x4_t w[4];
        for (int i = 0; i < 4; ++i) {
            // Big-endian words: the bytes of each 32-bit lane reversed.
            w[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(blocks + 16 * i)));
        }
        AllRounds(abcd, efgh, w, std::make_integer_sequence<int, 16>{});
        abcd = vaddq_u32(abcd, abcdSaved);
        efgh = vaddq_u32(efgh, efghSaved);
    }
    vst1q_u32(hash, abcd);
    vst1q_u32(hash + 4, efgh);
}

}  // namespace CX::Digest::Detail

#endif
