#pragma once

// SHA-256's compression on the processor's own instructions, one function per instruction
// set; each exists only on its architecture. Call one only where CanRun says so.

#include <cstddef>
#include <cstdint>

namespace CX::Digest::Detail {

#if defined(__x86_64__)
void Sha256CompressX86Sha(std::uint32_t* hash, const std::uint8_t* blocks, std::size_t count);
#endif

#if defined(__aarch64__)
void Sha256CompressArmSha2(std::uint32_t* hash, const std::uint8_t* blocks, std::size_t count);
#endif

}  // namespace CX::Digest::Detail
