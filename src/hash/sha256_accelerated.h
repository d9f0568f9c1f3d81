#pragma once

// SHA-256's compression through the processor's own SHA instructions, where it has them
// (x86-64 with the SHA extensions): the same function as the portable one, several times
// faster. Only the engine's own sources and its tests include this header.

#include <cstddef>
#include <cstdint>

namespace CX::Hash::Detail {

// Whether the compression in use is the processor's. On by default where it is there.
bool Sha256Accelerated();

// Chooses the portable compression (false) or the processor's (true, where it is there),
// so that tests can hold both to the same vectors. Returns what is in use afterwards.
// Not for use while another thread hashes.
bool UseSha256Accelerated(bool wanted);

// The processor's compression of count blocks into hash; only where Sha256Accelerated
// can be true. K is the 64 round constants.
void Sha256CompressAccelerated(std::uint32_t* hash, const std::uint8_t* blocks, std::size_t count,
                               const std::uint32_t* K);

}  // namespace CX::Hash::Detail
