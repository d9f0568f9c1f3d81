#pragma once

// Shared by the engine tests: the table of algorithms, hex decoding, and digests of a
// message fed in one call or in pieces.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hash/sha_engine.h"

namespace CX::Hash::Testing {

using Bytes = std::vector<std::uint8_t>;

struct AlgorithmInfo {
    ShaAlgorithm Algorithm;
    const char* Name;  // as in the NIST file names
    std::size_t BlockSize;
    std::size_t DigestSize;
};

inline constexpr AlgorithmInfo Algorithms[] = {
    {ShaAlgorithm::Sha1, "SHA1", 64, 20},      {ShaAlgorithm::Sha224, "SHA224", 64, 28},
    {ShaAlgorithm::Sha256, "SHA256", 64, 32},  {ShaAlgorithm::Sha384, "SHA384", 128, 48},
    {ShaAlgorithm::Sha512, "SHA512", 128, 64},
};

inline void PrintTo(const AlgorithmInfo& info, std::ostream* os) {
    *os << info.Name;
}

inline Bytes FromHex(std::string_view hex) {
    Bytes out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), 0, 16));
    }
    return out;
}

inline Bytes PatternBytes(std::size_t size, std::uint32_t seed = 1) {
    Bytes out(size);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

// Feeds data in pieces ending at the given cut points, then reads the digest; empty when
// any step fails.
inline Bytes DigestPieces(const AlgorithmInfo& info, const Bytes& data,
                          const std::vector<std::size_t>& cuts) {
    ShaContext context;
    std::memset(&context, 0, sizeof context);
    ShaReset(&context, info.Algorithm);
    std::size_t start = 0;
    for (std::size_t end : cuts) {
        if (ShaInput(&context, data.data() + start, static_cast<std::uint32_t>(end - start))) {
            return {};
        }
        start = end;
    }
    Bytes digest(info.DigestSize);
    if (ShaInput(&context, data.data() + start, static_cast<std::uint32_t>(data.size() - start)) ||
        ShaResult(&context, digest.data())) {
        return {};
    }
    return digest;
}

inline Bytes Digest(const AlgorithmInfo& info, const Bytes& data) {
    return DigestPieces(info, data, {});
}

}  // namespace CX::Hash::Testing
