#include "platform/processor.h"

#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#elif defined(__aarch64__) && defined(_WIN32)
#include <windows.h>
#endif

namespace CX::Platform {

bool ProcessorHasArmSha2() {
#if defined(__aarch64__) && defined(__linux__)
    return (getauxval(AT_HWCAP) & HWCAP_SHA2) != 0;
#elif defined(__aarch64__) && defined(_WIN32)
    // Windows reports AES, SHA-1 and SHA-2 as one feature.
    return IsProcessorFeaturePresent(PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE) != 0;
#else
    return false;
#endif
}

}  // namespace CX::Platform
