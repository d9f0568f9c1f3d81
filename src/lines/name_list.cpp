#include "lines/name_list.h"

#include <cstring>

namespace CX::Lines {

NulNameReader::NulNameReader(CX::IO::IInputStream& stream)
    : m_stream(stream), m_block(new char[BlockSize]) {}

bool NulNameReader::Next(std::string& name) {
    name.clear();
    bool any = false;
    for (;;) {
        if (m_at < m_used) {
            const char* start = m_block.get() + m_at;
            const void* nul = std::memchr(start, '\0', m_used - m_at);
            if (nul != nullptr) {
                const auto length =
                    static_cast<std::uint32_t>(static_cast<const char*>(nul) - start);
                name.append(start, length);
                m_at += length + 1;
                return true;
            }
            name.append(start, m_used - m_at);
            any = true;
            m_at = m_used;
        }
        if (m_ended) {
            return false;
        }
        std::uint32_t cRead = 0;
        const Status status = m_stream.Read(m_block.get(), BlockSize, &cRead);
        m_at = 0;
        m_used = 0;
        if (status.Code == StatusCode::EndOfData) {
            m_ended = true;
            return any;  // a last name without its NUL
        }
        if (!status.IsSuccess()) {
            const DWORD error = GetLastError();
            m_ended = true;
            if (error == ERROR_BROKEN_PIPE) {
                return any;
            }
            m_error = error;
            return false;
        }
        m_used = cRead;
    }
}

}  // namespace CX::Lines
