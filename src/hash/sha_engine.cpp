// The context-level operations: reset with the initial hash values, and the dispatch of
// input and result to the path that the selector names.

#include "hash/sha_engine.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "hash/sha256_compress.h"
#include "hash/sha_path.h"

namespace CX::Hash {
namespace {

constexpr std::uint32_t Sha1Initial[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476,
                                          0xc3d2e1f0};
constexpr std::uint32_t Sha224Initial[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                            0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
constexpr std::uint64_t Sha384Initial[8] = {
    0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
    0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
constexpr std::uint64_t Sha512Initial[8] = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

// The block itself is not cleared: nothing reads it beyond MessageBlockIndex.
template <typename State, typename Word, std::size_t N>
void ResetState(State& state, const Word (&initial)[N]) {
    std::copy(std::begin(initial), std::end(initial), state.IntermediateHash);
    state.LengthLow = 0;
    state.LengthHigh = 0;
    state.MessageBlockIndex = 0;
    state.Computed = 0;
    state.Corrupted = 0;
}

}  // namespace

void ShaReset(ShaContext* context, ShaAlgorithm algorithm) {
    context->Algorithm = static_cast<std::int32_t>(algorithm);
    switch (algorithm) {
        case ShaAlgorithm::Sha1:
            ResetState(context->State.Sha1, Sha1Initial);
            break;
        case ShaAlgorithm::Sha224:
            ResetState(context->State.Sha256, Sha224Initial);
            break;
        case ShaAlgorithm::Sha256:
            ResetState(context->State.Sha256, Sha256InitialHash);
            break;
        case ShaAlgorithm::Sha384:
            ResetState(context->State.Sha512, Sha384Initial);
            break;
        case ShaAlgorithm::Sha512:
            ResetState(context->State.Sha512, Sha512Initial);
            break;
    }
}

ShaCode ShaInput(ShaContext* context, const std::uint8_t* data, std::uint32_t length) {
    if (length == 0) {
        return ShaSuccess;
    }
    if (context == nullptr) {
        return ShaNull;
    }
    switch (static_cast<ShaAlgorithm>(context->Algorithm)) {
        case ShaAlgorithm::Sha1:
            return Sha1Input(&context->State.Sha1, data, length);
        case ShaAlgorithm::Sha224:
        case ShaAlgorithm::Sha256:
            return Sha256Input(&context->State.Sha256, data, length);
        case ShaAlgorithm::Sha384:
        case ShaAlgorithm::Sha512:
            return Sha512Input(&context->State.Sha512, data, length);
    }
    return ShaBadParam;
}

ShaCode ShaResult(ShaContext* context, std::uint8_t* digest) {
    constexpr std::size_t DigestSize[] = {20, 28, 32, 48, 64};  // by selector
    if (context == nullptr) {
        return ShaNull;
    }
    if (context->Algorithm < 0 || context->Algorithm > 4) {
        return ShaBadParam;
    }
    if (digest == nullptr) {
        return ShaNull;
    }
    const std::size_t size = DigestSize[context->Algorithm];
    switch (static_cast<ShaAlgorithm>(context->Algorithm)) {
        case ShaAlgorithm::Sha1:
            return Detail::WriteResult<Sha1State, Sha1Finalize>(&context->State.Sha1, digest, size);
        case ShaAlgorithm::Sha224:
        case ShaAlgorithm::Sha256:
            return Detail::WriteResult<Sha256State, Sha256Finalize>(&context->State.Sha256, digest,
                                                                    size);
        case ShaAlgorithm::Sha384:
        case ShaAlgorithm::Sha512:
            return Detail::WriteResult<Sha512State, Sha512Finalize>(&context->State.Sha512, digest,
                                                                    size);
    }
    return ShaBadParam;
}

}  // namespace CX::Hash
