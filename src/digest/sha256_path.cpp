#include "digest/sha256_path.h"

#include <atomic>

#include "digest/sha256_instructions.h"
#include "hash/sha256_compress.h"
#include "platform/processor.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace CX::Digest {
namespace {

#if defined(__x86_64__)
// The SHA extensions (CPUID leaf 7, EBX bit 29), and SSSE3 and SSE4.1 (leaf 1, ECX bits 9
// and 19), which the byte shuffle and the blend of the same routine need.
bool X86HasSha() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    return ssse3 && sse41 && (ebx & (1u << 29)) != 0;
}
#endif

// The processor's best, asked once.
Sha256Path ProcessorPath() {
    static const Sha256Path path = [] {
#if defined(__x86_64__)
        if (X86HasSha()) {
            return Sha256Path::X86Sha;
        }
#elif defined(__aarch64__)
        if (CX::Platform::ProcessorHasArmSha2()) {
            return Sha256Path::ArmSha2;
        }
#endif
        return Sha256Path::Portable;
    }();
    return path;
}

// A test's choice, or -1 for the processor's.
std::atomic<int> g_chosen{-1};

}  // namespace

const char* NameOf(Sha256Path path) {
    switch (path) {
        case Sha256Path::Portable:
            return "portable";
        case Sha256Path::X86Sha:
            return "x86-64 SHA extensions";
        case Sha256Path::ArmSha2:
            return "ARMv8 SHA2";
    }
    return "?";
}

bool CanRun(Sha256Path path) {
    return path == Sha256Path::Portable || path == ProcessorPath();
}

Sha256Compress CompressOf(Sha256Path path) {
    switch (path) {
#if defined(__x86_64__)
        case Sha256Path::X86Sha:
            return Detail::Sha256CompressX86Sha;
#elif defined(__aarch64__)
        case Sha256Path::ArmSha2:
            return Detail::Sha256CompressArmSha2;
#endif
        default:
            return CX::Hash::Sha256CompressBlocks;
    }
}

Sha256Path Sha256PathInUse() {
    const int chosen = g_chosen.load(std::memory_order_relaxed);
    return chosen < 0 ? ProcessorPath() : static_cast<Sha256Path>(chosen);
}

bool UseSha256PathForTesting(Sha256Path path) {
    if (!CanRun(path)) {
        return false;
    }
    g_chosen.store(static_cast<int>(path), std::memory_order_relaxed);
    return true;
}

}  // namespace CX::Digest
