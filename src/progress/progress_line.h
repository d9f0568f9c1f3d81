#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "lines/standard_error.h"
#include "workers/identify.h"

namespace CX::Progress {

// A one-line progress display on standard error: the files and bytes done, the rate, and
// the name being read, cut to the terminal's width, redrawn at most ten times a second by
// a thread of its own. Only where standard error is a terminal; elsewhere it does nothing.
// A message or a line written meanwhile erases it first (it shares standard error with
// them), and the display is erased when it ends.
class ProgressLine final : public CX::Workers::IReadObserver,
                           private CX::Lines::IStandardErrorSharer {
public:
    explicit ProgressLine(bool wanted);
    ~ProgressLine();

    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // What the workers report to: this display, or null where nothing is drawn.
    CX::Workers::IReadObserver* Observer() { return m_thread.joinable() ? this : nullptr; }

    // On the worker threads.
    void Started(const char* pName) override;
    void Read(std::uint64_t bytes) override { m_bytes.fetch_add(bytes, std::memory_order_relaxed); }
    void Finished() override { m_files.fetch_add(1, std::memory_order_relaxed); }

private:
    void Run();
    void Draw();
    void Erase() override;

    unsigned m_width = 0;
    std::atomic<std::uint64_t> m_files{0};
    std::atomic<std::uint64_t> m_bytes{0};
    std::mutex m_nameLock;
    std::string m_name;
    std::size_t m_drawn = 0;  // columns on screen, under the standard error lock
    std::chrono::steady_clock::time_point m_start;
    std::mutex m_stopLock;
    std::condition_variable m_stopSignal;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace CX::Progress
