#include "workers/read_ahead.h"

#include <utility>

namespace CX::Workers {

ReadAhead::ReadAhead(CX::IO::IInputStream& stream, std::function<void(Wait)> onWait)
    : m_stream(stream),
      m_buffer(new std::uint8_t[std::size_t{Slots} * PieceSize]),
      m_onWait(std::move(onWait)),
      m_thread(&ReadAhead::Run, this) {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_freed.notify_one();
    m_thread.join();
}

template <typename Ready>
void ReadAhead::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& event,
                          Wait who, Ready ready) {
    while (!ready()) {
        if (m_onWait) {
            m_onWait(who);
        }
        event.wait(lock);
    }
}

void ReadAhead::Run() {
    for (;;) {
        std::uint64_t piece = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            WaitUntil(lock, m_freed, Wait::ForSlot,
                      [this] { return m_stop || m_produced - m_released < Slots; });
            if (m_stop) {
                return;
            }
            piece = m_produced;
        }
        // The slot is the reader's alone until it is counted as produced.
        const std::uint32_t slot = static_cast<std::uint32_t>(piece % Slots);
        std::uint32_t size = 0;
        const Status status =
            m_stream.Read(m_buffer.get() + std::size_t{slot} * PieceSize, PieceSize, &size);
        DWORD error = ERROR_SUCCESS;
        bool ended = status.Code == StatusCode::EndOfData;
        if (!ended && !status.IsSuccess()) {
            // Taken straight after the failed read, on the thread that made it.
            error = GetLastError();
            ended = true;
            if (error == ERROR_BROKEN_PIPE) {
                error = ERROR_SUCCESS;  // a Windows pipe whose writer has gone: its end
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (ended) {
                m_ended = true;
                m_error = error;
            } else {
                m_sizes[slot] = size;
                ++m_produced;
            }
        }
        m_filled.notify_one();
        if (ended) {
            return;
        }
    }
}

bool ReadAhead::Next(const std::uint8_t** data, std::uint32_t* size, DWORD* error) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_holding) {
        m_holding = false;
        ++m_released;
        m_freed.notify_one();
    }
    WaitUntil(lock, m_filled, Wait::ForPiece,
              [this] { return m_produced > m_released || m_ended; });
    if (m_produced == m_released) {
        *error = m_error;
        return false;
    }
    const std::uint32_t slot = static_cast<std::uint32_t>(m_released % Slots);
    m_holding = true;
    *data = m_buffer.get() + std::size_t{slot} * PieceSize;
    *size = m_sizes[slot];
    *error = ERROR_SUCCESS;
    return true;
}

}  // namespace CX::Workers
