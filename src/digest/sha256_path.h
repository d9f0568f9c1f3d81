#pragma once

// Which compression quillsum's digest runs SHA-256 on. Chosen once per process from
// what the processor reports; tests may narrow it to the portable rounds.

#include <cstddef>
#include <cstdint>

namespace CX::Digest {

enum class Sha256Path : std::uint8_t {
    Portable,  // the engine's rounds (CX::Hash::Sha256CompressBlocks)
    X86Sha,    // SHA256RNDS2, SHA256MSG1, SHA256MSG2
    ArmSha2,   // SHA256H, SHA256H2, SHA256SU0, SHA256SU1
};

using Sha256Compress = void (*)(std::uint32_t* hash, const std::uint8_t* blocks, std::size_t count);

const char* NameOf(Sha256Path path);

// Whether this processor (and its operating system) can run the path.
bool CanRun(Sha256Path path);

// The compression of a path this processor can run.
Sha256Compress CompressOf(Sha256Path path);

// The path a digest takes when it is reset: the processor's instructions where it has
// them, unless a test said otherwise.
Sha256Path Sha256PathInUse();

// Tests only (no option or variable of the program reaches it): every digest reset from
// now on takes the path, where this processor can run it. Returns whether it could; the
// path in use is unchanged when not. Not while another thread resets a digest.
bool UseSha256PathForTesting(Sha256Path path);

}  // namespace CX::Digest
