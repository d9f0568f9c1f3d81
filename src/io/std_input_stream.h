#pragma once

#include <cstdint>

#include "io/input_stream.h"
#include "platform/win32.h"
#include "text/status.h"

namespace CX::IO {

// The process's standard input, read through its system handle: bytes as they come, with
// no text-mode translation on any system. It has no position or size (SeekFailed).
class StdInputStream : public IInputStream {
public:
    StdInputStream();

    Status Read(void* pBuffer, std::uint32_t cBytesToRead, std::uint32_t* pcBytesRead) override;
    Status Seek(std::uint64_t nOffset) override;
    Status GetPosition(std::uint64_t* pPosition) override;
    Status GetSize(std::uint64_t* pSize) override;
    bool IsEndOfStream() override { return true; }
    bool IsOpen() override;
    const char* GetName() override { return "-"; }

private:
    HANDLE m_hInput;
};

// Whether standard input is a folder (`< folder` in a Linux shell), whose reads fail as
// if access were denied: asked only after such a failure, to give it its own words.
bool StandardInputIsFolder();

}  // namespace CX::IO
