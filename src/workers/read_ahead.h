#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "io/input_stream.h"
#include "platform/win32.h"

namespace CX::Workers {

// Reads the rest of a stream on a thread of its own, up to Slots pieces ahead of the
// caller, so that the copy out of the page cache is made while the caller hashes the
// piece before. The stream belongs to that thread from construction to destruction; the
// caller touches it again only afterwards.
class ReadAhead {
public:
    static constexpr std::uint32_t Slots = 4;
    static constexpr std::uint32_t PieceSize = 0x40000;

    // Who is about to wait for the other.
    enum class Wait : std::uint8_t { ForPiece, ForSlot };

    // Starts reading at once, from wherever the stream stands. A test may pass onWait,
    // which is called with the lock held just before a thread waits, so that it can act
    // once that thread really waits.
    explicit ReadAhead(CX::IO::IInputStream& stream, std::function<void(Wait)> onWait = {});
    // Tells the thread to stop (after a read under way) and waits for it.
    ~ReadAhead();

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Waits for the next piece and gives it; the piece given before may be overwritten
    // from now on. False once the stream has ended (error ERROR_SUCCESS: a read gave
    // nothing, or a Windows pipe's writer went) or a read failed (error: that read's).
    bool Next(const std::uint8_t** data, std::uint32_t* size, DWORD* error);

private:
    void Run();
    template <typename Ready>
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& event, Wait who,
                   Ready ready);

    CX::IO::IInputStream& m_stream;
    std::unique_ptr<std::uint8_t[]> m_buffer;  // Slots pieces of PieceSize bytes
    std::function<void(Wait)> m_onWait;

    std::mutex m_mutex;
    std::condition_variable m_filled;  // the reader made a piece, or stopped
    std::condition_variable m_freed;   // the caller gave one back, or wants the end
    std::uint32_t m_sizes[Slots] = {};
    std::uint64_t m_produced = 0;  // pieces read
    std::uint64_t m_released = 0;  // pieces the caller has given back
    bool m_holding = false;        // the caller holds piece m_released
    bool m_ended = false;          // no piece after m_produced will come
    DWORD m_error = ERROR_SUCCESS;
    bool m_stop = false;

    std::thread m_thread;  // last: starts once everything above is set
};

}  // namespace CX::Workers
