#include "lines/record_reader.h"

#include <cstring>

namespace CX::Lines {

RecordReader::RecordReader(CX::IO::IInputStream& stream, char end, std::size_t limit)
    : m_stream(stream), m_end(end), m_limit(limit), m_block(new char[BlockSize]) {}

bool RecordReader::Fill() {
    m_at = 0;
    m_used = 0;
    if (m_ended) {
        return false;
    }
    std::uint32_t cRead = 0;
    const Status status = m_stream.Read(m_block.get(), BlockSize, &cRead);
    if (status.Code == StatusCode::EndOfData) {
        m_ended = true;
        return false;
    }
    if (!status.IsSuccess()) {
        // Taken straight after the failed read, which set it last.
        const DWORD error = GetLastError();
        m_ended = true;
        if (error != ERROR_BROKEN_PIPE) {  // a Windows pipe's end, not a failure
            m_error = error;
        }
        return false;
    }
    m_used = cRead;
    return true;
}

bool RecordReader::Next(std::string& record, bool& tooLong) {
    record.clear();
    tooLong = false;
    bool any = false;
    for (;;) {
        if (m_at == m_used && !Fill()) {
            // A last record without its end still counts, unless the reading failed.
            return any && m_error == ERROR_SUCCESS;
        }
        const char* start = m_block.get() + m_at;
        const std::uint32_t available = m_used - m_at;
        const void* end = std::memchr(start, m_end, available);
        const std::uint32_t length =
            end != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(end) - start)
                           : available;
        any = true;
        if (!tooLong) {
            if (record.size() + length > m_limit) {
                tooLong = true;
                record.clear();
            } else {
                record.append(start, length);
            }
        }
        if (end != nullptr) {
            m_at += length + 1;
            return true;
        }
        m_at = m_used;
    }
}

}  // namespace CX::Lines
