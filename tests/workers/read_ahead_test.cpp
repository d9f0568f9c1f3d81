// The read-ahead thread against a stream whose every read the test lets through, and an
// observer that tells when either side really waits for the other: each interleaving the
// two threads can take is forced in turn. Run under ThreadSanitizer too (preset tsan).

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/waits.h"
#include "workers/read_ahead.h"

namespace {

using CX::Workers::ReadAhead;
using Wait = ReadAhead::Wait;
using CX::Status;
using CX::StatusCode;

using CX::Testing::Deadline;

// Byte k of read i.
std::uint8_t ByteOf(std::size_t read, std::size_t k) {
    return static_cast<std::uint8_t>(read * 31 + k * 7 + k / 251);
}

// Read i delivers Sizes[i] bytes once the test has let it through; the read after the
// last is the end, and read FailAt fails with FailError.
class GatedStream : public CX::IO::IInputStream {
public:
    std::vector<std::uint32_t> Sizes;
    std::size_t FailAt = ~std::size_t{0};
    DWORD FailError = 0;

    void Allow(std::size_t reads) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_allowed = reads;
        m_event.notify_all();
    }
    std::size_t Started() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_started;
    }
    std::size_t Finished() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_finished;
    }
    bool WaitStarted(std::size_t reads) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_event.wait_for(lock, Deadline, [&] { return m_started >= reads; });
    }

    Status Read(void* pBuffer, std::uint32_t cBytesToRead, std::uint32_t* pcBytesRead) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        const std::size_t i = m_started++;
        m_event.notify_all();
        m_event.wait(lock, [&] { return m_allowed > i; });
        lock.unlock();
        Status status;
        *pcBytesRead = 0;
        if (i == FailAt) {
            SetLastError(FailError);
            status.Set(StatusCode::IoError, "ReadFile failed");
        } else if (i >= Sizes.size()) {
            status.Set(StatusCode::EndOfData, "");
        } else {
            EXPECT_LE(Sizes[i], cBytesToRead);
            auto* bytes = static_cast<std::uint8_t*>(pBuffer);
            for (std::size_t k = 0; k < Sizes[i]; ++k) {
                bytes[k] = ByteOf(i, k);
            }
            *pcBytesRead = Sizes[i];
        }
        lock.lock();
        ++m_finished;
        return status;
    }
    Status Seek(std::uint64_t) override { return Status(); }
    Status GetPosition(std::uint64_t*) override { return Status(); }
    Status GetSize(std::uint64_t*) override { return Status(); }
    bool IsEndOfStream() override { return false; }
    bool IsOpen() override { return true; }
    const char* GetName() override { return "gated"; }

private:
    std::mutex m_mutex;
    std::condition_variable m_event;
    std::size_t m_allowed = 0, m_started = 0, m_finished = 0;
};

// Counts the waits the read-ahead reports, and lets the test wait for one.
class Waits {
public:
    std::function<void(Wait)> Observer() {
        return [this](Wait who) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_count[who == Wait::ForSlot];
            m_event.notify_all();
        };
    }
    bool WaitFor(Wait who, int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_event.wait_for(lock, Deadline,
                                [&] { return m_count[who == Wait::ForSlot] >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_event;
    int m_count[2] = {};
};

// The next piece must be read i, byte for byte.
void ExpectPiece(ReadAhead& ahead, const GatedStream& stream, std::size_t i) {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    DWORD error = 1;
    ASSERT_TRUE(ahead.Next(&data, &size, &error)) << "piece " << i;
    ASSERT_EQ(size, stream.Sizes[i]);
    EXPECT_EQ(error, ERROR_SUCCESS);
    for (std::size_t k = 0; k < size; ++k) {
        ASSERT_EQ(data[k], ByteOf(i, k)) << "piece " << i << " byte " << k;
    }
}

DWORD ExpectEnd(ReadAhead& ahead) {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    DWORD error = 12345;
    EXPECT_FALSE(ahead.Next(&data, &size, &error));
    return error;
}

TEST(ReadAhead, TheCallerWaitsForAPieceStillBeingRead) {
    GatedStream stream;
    stream.Sizes = {100, ReadAhead::PieceSize};
    Waits waits;
    ReadAhead ahead(stream, waits.Observer());
    ASSERT_TRUE(stream.WaitStarted(1));
    auto first = std::async(std::launch::async, [&] { ExpectPiece(ahead, stream, 0); });
    ASSERT_TRUE(waits.WaitFor(Wait::ForPiece, 1));  // the caller waits, the read is held
    stream.Allow(1);
    first.get();
    // The end arrives while the caller waits for it, after one more piece.
    auto rest = std::async(std::launch::async, [&] {
        ExpectPiece(ahead, stream, 1);
        EXPECT_EQ(ExpectEnd(ahead), ERROR_SUCCESS);
    });
    ASSERT_TRUE(waits.WaitFor(Wait::ForPiece, 2));
    stream.Allow(3);
    rest.get();
}

// The reader fills every slot, then waits with its next read not begun; pieces given
// back one at a time let it on, and none is overwritten before the caller had it.
TEST(ReadAhead, TheReaderWaitsForASlotTheCallerStillHolds) {
    GatedStream stream;
    stream.Sizes.assign(ReadAhead::Slots * 2 + 1, ReadAhead::PieceSize);
    stream.Sizes[3] = 1;
    Waits waits;
    stream.Allow(~std::size_t{0});
    ReadAhead ahead(stream, waits.Observer());
    ASSERT_TRUE(waits.WaitFor(Wait::ForSlot, 1));
    EXPECT_EQ(stream.Started(), ReadAhead::Slots);
    for (std::size_t i = 0; i < stream.Sizes.size(); ++i) {
        ExpectPiece(ahead, stream, i);
        // Holding piece i, the reader may be at most Slots - 1 pieces past it.
        EXPECT_LE(stream.Started(), i + ReadAhead::Slots);
    }
    EXPECT_EQ(ExpectEnd(ahead), ERROR_SUCCESS);
}

TEST(ReadAhead, AFailedReadEndsWithItsOwnErrorAfterThePiecesBeforeIt) {
    GatedStream failing;
    failing.Sizes = {10, 20, 30};
    failing.FailAt = 2;
    failing.FailError = ERROR_ACCESS_DENIED;
    failing.Allow(~std::size_t{0});
    ReadAhead ahead(failing);
    ExpectPiece(ahead, failing, 0);
    ExpectPiece(ahead, failing, 1);
    // Taken on the reader's thread, where the failed read set it.
    EXPECT_EQ(ExpectEnd(ahead), ERROR_ACCESS_DENIED);

    GatedStream pipe;  // a Windows pipe whose writer has gone: its end, not a failure
    pipe.Sizes = {5};
    pipe.FailAt = 1;
    pipe.FailError = ERROR_BROKEN_PIPE;
    pipe.Allow(~std::size_t{0});
    ReadAhead fromPipe(pipe);
    ExpectPiece(fromPipe, pipe, 0);
    EXPECT_EQ(ExpectEnd(fromPipe), ERROR_SUCCESS);
}

TEST(ReadAhead, DestroyedWhileTheReaderWaitsForASlotOrIsInARead) {
    GatedStream full;
    full.Sizes.assign(ReadAhead::Slots + 3, 8);
    full.Allow(~std::size_t{0});
    Waits waits;
    {
        ReadAhead ahead(full, waits.Observer());
        ASSERT_TRUE(waits.WaitFor(Wait::ForSlot, 1));
    }
    EXPECT_EQ(full.Finished(), ReadAhead::Slots);

    GatedStream held;
    held.Sizes = {8, 8};
    auto ahead = std::make_unique<ReadAhead>(held);
    ASSERT_TRUE(held.WaitStarted(1));
    auto destroyed = std::async(std::launch::async, [&] { ahead.reset(); });
    // The destructor waits for the read under way, and no other read begins.
    held.Allow(~std::size_t{0});
    destroyed.get();
    EXPECT_EQ(held.Finished(), held.Started());
}

}  // namespace
