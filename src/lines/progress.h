#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace CX::Lines {

// A one-line progress display on standard error: the files and bytes done, the rate, and
// the name being read, cut to the terminal's width, redrawn at most ten times a second by
// a thread of its own. Only where standard error is a terminal; elsewhere it does nothing.
// A message on standard error erases the line first (WriteProblem and WriteMessage see to
// it), and the display is erased when it ends.
class Progress {
public:
    explicit Progress(bool wanted);
    ~Progress();

    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The display of the run, or null: what workers report to.
    static Progress* Current();

    void Started(const char* pName);
    void Read(std::uint64_t bytes) { m_bytes.fetch_add(bytes, std::memory_order_relaxed); }
    void Finished() { m_files.fetch_add(1, std::memory_order_relaxed); }

    // Takes standard error for a message: the line is erased, and drawn again at the next
    // tick. Null when there is no display.
    static std::unique_lock<std::mutex> ClaimStandardError();

private:
    void Run();
    void Draw();
    void Erase();

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

}  // namespace CX::Lines
