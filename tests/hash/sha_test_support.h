#pragma once

// Helpers shared by the engine tests: one-call and piecewise digests, hex decoding and
// the table of algorithms.

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

inline Bytes FromHex(std::string_view hex) {
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9')
            return static_cast<std::uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<std::uint8_t>(c - 'a' + 10);
        return static_cast<std::uint8_t>(c - 'A' + 10);
    };
    Bytes out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    }
    return out;
}

inline Bytes PatternBytes(std::size_t size, std::uint32_t seed = 1) {
    Bytes out(size);
    std::uint32_t x = seed;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

// Feeds data in pieces ending at the given cut points, then reads the digest.
inline Bytes DigestPieces(const AlgorithmInfo& info, const Bytes& data,
                          const std::vector<std::size_t>& cuts) {
    ShaContext context;
    std::memset(&context, 0, sizeof context);
    ShaReset(&context, info.Algorithm);
    std::size_t start = 0;
    for (std::size_t end : cuts) {
        if (ShaInput(&context, data.data() + start, static_cast<std::uint32_t>(end - start)) !=
            ShaSuccess) {
            return {};
        }
        start = end;
    }
    ShaInput(&context, data.data() + start, static_cast<std::uint32_t>(data.size() - start));
    Bytes digest(info.DigestSize);
    if (ShaResult(&context, digest.data()) != ShaSuccess) {
        return {};
    }
    return digest;
}

inline Bytes Digest(const AlgorithmInfo& info, const Bytes& data) {
    return DigestPieces(info, data, {});
}

inline std::string ParamName(const AlgorithmInfo& info) {
    return info.Name;
}

}  // namespace CX::Hash::Testing
