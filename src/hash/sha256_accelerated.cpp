#include "hash/sha256_accelerated.h"

// The instructions exist on x86-64 alone; elsewhere the portable compression is the only
// one, and this file only says so.
#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

namespace CX::Hash::Detail {
namespace {

bool ProcessorHasSha() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    const bool sha = (ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}

const bool g_available = ProcessorHasSha();
bool g_inUse = g_available;

}  // namespace

bool Sha256Accelerated() {
    return g_inUse;
}

bool UseSha256Accelerated(bool wanted) {
    g_inUse = wanted && g_available;
    return g_inUse;
}

// The state is kept in the two registers the instructions want, (A, B, E, F) and
// (C, D, G, H); each SHA256RNDS2 does two rounds, and SHA256MSG1/MSG2 with one ALIGNR make
// the next four words of the schedule from the last sixteen.
__attribute__((target("sha,sse4.1,ssse3"))) void Sha256CompressAccelerated(
    std::uint32_t* hash, const std::uint8_t* blocks, std::size_t count, const std::uint32_t* K) {
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
        for (int g = 0; g < 16; ++g) {
            __m128i& word = w[g & 3];
            if (g < 4) {
                word = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * g)), byteOrder);
            } else {
                // W[t..t+3] from W[t-16..t-13], W[t-12..], W[t-7..t-4] and W[t-4..t-1].
                const __m128i older = _mm_sha256msg1_epu32(w[g & 3], w[(g + 1) & 3]);
                const __m128i middle = _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4);
                word = _mm_sha256msg2_epu32(_mm_add_epi32(older, middle), w[(g + 3) & 3]);
            }
            __m128i wk =
                _mm_add_epi32(word, _mm_loadu_si128(reinterpret_cast<const __m128i*>(K + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            wk = _mm_shuffle_epi32(wk, 0x0E);
            // The register that held (A, B, E, F) now holds (C, D, G, H): two more rounds
            // give both their roles back.
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
        }
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

}  // namespace CX::Hash::Detail

#else

namespace CX::Hash::Detail {

bool Sha256Accelerated() {
    return false;
}

bool UseSha256Accelerated(bool) {
    return false;
}

void Sha256CompressAccelerated(std::uint32_t*, const std::uint8_t*, std::size_t,
                               const std::uint32_t*) {}

}  // namespace CX::Hash::Detail

#endif
