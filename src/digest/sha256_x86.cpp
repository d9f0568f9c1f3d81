// SHA-256's compression on the x86-64 SHA extensions. Only this file's functions carry the
// instruction sets they use, so nothing else in the program assumes them.

#include "digest/sha256_instructions.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <utility>

#include "hash/sha256_compress.h"

namespace CX::Digest::Detail {
namespace {

// The state is kept in the two registers the instructions want, (A, B, E, F) and
// (C, D, G, H); each SHA256RNDS2 does two rounds. W[4g..4g+3] are made in w[g mod 4]: from
// g = 4 on, SHA256MSG1 and SHA256MSG2 with one ALIGNR turn the last sixteen words into
// the next four, in the slot that held the oldest four.
template <int G>
[[gnu::always_inline]] __attribute__((target("sha,sse4.1,ssse3"))) inline void FourRounds(
    __m128i& abef, __m128i& cdgh, __m128i (&w)[4]) {
    if constexpr (G >= 4) {
        // W[t..t+3] from W[t-16..t-13], W[t-15..t-12], W[t-7..t-4] and W[t-4..t-1].
        const __m128i older = _mm_sha256msg1_epu32(w[G & 3], w[(G + 1) & 3]);
        const __m128i middle = _mm_alignr_epi8(w[(G + 3) & 3], w[(G + 2) & 3], 4);
        w[G & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(older, middle), w[(G + 3) & 3]);
    }
    const __m128i wk = _mm_add_epi32(
        w[G & 3],
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(CX::Hash::Sha256RoundConstants + 4 * G)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    // The register that held (A, B, E, F) now holds (C, D, G, H): two more rounds give
    // both their roles back.
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// All 64 rounds written out, so that the schedule stays in registers.
template <int... G>
[[gnu::always_inline]] __attribute__((target("sha,sse4.1,ssse3"))) inline void AllRounds(
    __m128i& abef, __m128i& cdgh, __m128i (&w)[4], std::integer_sequence<int, G...>) {
    (FourRounds<G>(abef, cdgh, w), ...);
}

}  // namespace

__attribute__((target("sha,sse4.1,ssse3"))) void Sha256CompressX86Sha(std::uint32_t* hash,
                                                                      const std::uint8_t* blocks,
                                                                      std::size_t count) {
    // Big-endian words: reverses the bytes of each 32-bit lane.
    const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count != 0; --count, blocks += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteOrder);
        }
        AllRounds(abef, cdgh, w, std::make_integer_sequence<int, 16>{});
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash + 4), hgfe);
}

}  // namespace CX::Digest::Detail

#endif
