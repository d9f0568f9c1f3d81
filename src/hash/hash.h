#pragma once

#include <cstdint>

#include "text/status.h"

namespace CX::Hash {

// A digest algorithm fed in pieces. The order of the virtual operations is fixed.
class IHash {
public:
    virtual ~IHash() = default;

    // The algorithm's name, a constant NUL-terminated text.
    virtual const char* GetName() const = 0;

    // The size in bytes that Final writes.
    virtual std::uint32_t GetDigestSize() const = 0;

    // Starts a new message; the meaning of the argument belongs to the implementation.
    virtual Status Init(std::uintptr_t argument) = 0;

    virtual Status Update(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize) = 0;

    // Writes GetDigestSize() bytes; the caller supplies the room.
    virtual Status Final(std::uint8_t* pBinOutput) = 0;
};

}  // namespace CX::Hash
