#pragma once

#include <cstdint>

#include "text/status.h"

namespace CX::IO {

// A readable source of bytes with an unsigned 64-bit position and size. The slot order of
// the operations is fixed; implementations keep it.
class IInputStream {
public:
    virtual ~IInputStream() {}

    // Reads up to cBytesToRead bytes into pBuffer and stores the count delivered through
    // pcBytesRead: Success when it is above 0, EndOfData when it is 0.
    virtual Status Read(void* pBuffer, std::uint32_t cBytesToRead, std::uint32_t* pcBytesRead) = 0;
    // Moves the position to nOffset bytes from the start; past the end is allowed.
    virtual Status Seek(std::uint64_t nOffset) = 0;
    virtual Status GetPosition(std::uint64_t* pPosition) = 0;
    virtual Status GetSize(std::uint64_t* pSize) = 0;
    // True when the position is at or past the size, or when either cannot be had.
    virtual bool IsEndOfStream() = 0;
    virtual bool IsOpen() = 0;
    // The stream's name as a NUL-terminated text.
    virtual const char* GetName() = 0;
};

}  // namespace CX::IO
