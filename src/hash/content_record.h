#pragma once

#include <cstddef>
#include <cstdint>

namespace CX::Hash {

// The tool's content record, the bytes behind every identifier:
//
//   bytes 0..7   the byte count, unsigned 64-bit, least significant byte first
//   bytes 8..39  the SHA-256 digest, as FIPS 180-4 orders it
//
// Two records are equal when the same bytes were hashed; the length leads, so a record
// tells a file's length before any of its bytes is read.
struct ContentRecord {
    static constexpr std::size_t Size = 40;

    std::uint8_t Bytes[Size] = {};

    std::uint64_t Length() const {
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i) {
            length = (length << 8) | Bytes[i];
        }
        return length;
    }

    bool operator==(const ContentRecord&) const = default;
};

}  // namespace CX::Hash
