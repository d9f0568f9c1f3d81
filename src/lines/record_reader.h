#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/input_stream.h"
#include "platform/win32.h"

namespace CX::Lines {

// Records ended by one byte (a line feed for lists of identifiers, NUL for names as find
// -print0 writes them), read from a stream a block at a time: a list of any length costs
// one block and the longest record kept. The last record may lack its end. A record
// longer than the limit is read past, never kept whole: it comes back empty, marked too
// long, so that neither a list without line ends nor a hostile one can make memory grow.
class RecordReader {
public:
    static constexpr std::size_t DefaultLimit = 256 * 1024;

    RecordReader(CX::IO::IInputStream& stream, char end, std::size_t limit = DefaultLimit);

    // The next record, which may be empty; false at the end of the stream or on a failed
    // read, which Error tells apart. tooLong is set for a record past the limit.
    bool Next(std::string& record, bool& tooLong);

    // ERROR_SUCCESS, or the system error that stopped the reading.
    DWORD Error() const { return m_error; }

private:
    static constexpr std::uint32_t BlockSize = 0x10000;

    bool Fill();

    CX::IO::IInputStream& m_stream;
    char m_end;
    std::size_t m_limit;
    std::unique_ptr<char[]> m_block;
    std::uint32_t m_used = 0;
    std::uint32_t m_at = 0;
    bool m_ended = false;
    DWORD m_error = ERROR_SUCCESS;
};

}  // namespace CX::Lines
