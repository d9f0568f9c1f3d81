#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/input_stream.h"
#include "platform/win32.h"

namespace CX::Lines {

// Names ended by NUL, as find -print0 writes them, read from a stream a block at a time:
// a list of any length costs one block and the longest name. The last name may lack its
// NUL.
class NulNameReader {
public:
    explicit NulNameReader(CX::IO::IInputStream& stream);

    // The next name, which may be empty; false at the end of the list or on a failed
    // read, which Error tells apart.
    bool Next(std::string& name);

    // ERROR_SUCCESS, or the system error that stopped the reading.
    DWORD Error() const { return m_error; }

private:
    static constexpr std::uint32_t BlockSize = 0x10000;

    CX::IO::IInputStream& m_stream;
    std::unique_ptr<char[]> m_block;
    std::uint32_t m_used = 0;
    std::uint32_t m_at = 0;
    bool m_ended = false;
    DWORD m_error = ERROR_SUCCESS;
};

}  // namespace CX::Lines
