#pragma once

#include <cstdint>

#include "hash/hash.h"
#include "hash/sha_engine.h"
#include "text/status.h"

namespace CX::Hash {

// SHA-256 over the engine. The context is taken at construction with a no-throw
// allocation; when that fails the object still exists, and Init, Update and Final report
// NotReady ("Context not initialized") for its whole life.
class SHA256Hash : public IHash {
public:
    static constexpr std::uint32_t DigestSize = 32;

    SHA256Hash();
    ~SHA256Hash() override;

    SHA256Hash(const SHA256Hash&) = delete;
    SHA256Hash& operator=(const SHA256Hash&) = delete;

    const char* GetName() const override;
    std::uint32_t GetDigestSize() const override;

    // The argument is not used; any value starts an empty message.
    Status Init(std::uintptr_t argument) override;

    // A failure of the engine (null input, input after Final, a message too long) is
    // reported as BadInput naming the engine's code, never as Success.
    Status Update(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize) override;

    // Writes 32 bytes; on failure the output is left as it was.
    Status Final(std::uint8_t* pBinOutput) override;

private:
    ShaContext* Context;  // owned; null when the allocation failed
};

}  // namespace CX::Hash
