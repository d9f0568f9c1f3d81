// The SHA-224/256 path: one compression function over 32-bit words, 64 rounds.

#include <cstddef>
#include <cstdint>

#include "hash/sha256_compress.h"
#include "hash/sha2_compress.h"
#include "hash/sha_engine.h"
#include "hash/sha_path.h"

namespace CX::Hash {
namespace {

constexpr auto& K = Sha256RoundConstants;

// The word, sigma amounts and round constants that make the shared compression SHA-256's.
struct Sha256Params {
    using Word = std::uint32_t;
    static constexpr int BigSigma0[3] = {2, 13, 22};
    static constexpr int BigSigma1[3] = {6, 11, 25};
    static constexpr int SmallSigma0[3] = {7, 18, 3};
    static constexpr int SmallSigma1[3] = {17, 19, 10};
    static constexpr auto& RoundConstants = K;
};

constexpr auto Compress = Detail::Sha2Compression<Sha256Params>::Compress;

}  // namespace

void Sha256CompressBlocks(std::uint32_t* hash, const std::uint8_t* blocks, std::size_t count) {
    Compress(hash, blocks, count);
}

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
