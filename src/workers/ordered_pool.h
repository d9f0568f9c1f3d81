#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "workers/identify.h"

namespace CX::Workers {

enum class JobKind : std::uint8_t {
    File,           // identify the file at OpenPath (or at Name when OpenPath is empty)
    StandardInput,  // identify standard input
    Check,          // identify as File, against Expected: its length is checked first
    Problem,        // an error found before any reading: Name and Reason, nothing to do
    Note,           // a remark that is no error: Name and Reason, nothing to do
    Text,           // anything else for the deliverer, in order: Name holds it
};

// One place in the window: what to do, and once done, what came of it.
struct Slot {
    JobKind Kind = JobKind::File;
    std::string Name;      // as printed
    std::string OpenPath;  // as opened, when it differs from Name
    const char* Reason = "";
    int Tag = 0;  // the deliverer's own mark, for Text
    std::uint8_t Expected[CX::Hash::ContentDigest::RecordSize];
    Outcome Result;
    bool Done = false;  // guarded by the pool's lock
};

// Takes the slots in the order they were submitted, once each is done.
class IDelivery {
public:
    virtual ~IDelivery() {}
    virtual void Deliver(Slot& slot) = 0;
};

// Identifies files on worker threads while the caller goes on finding more, and hands the
// results back in the order the files were submitted. A bounded window of slots holds the
// work in flight: submitting into a full window first delivers what is finished, so
// output starts at once, stays ordered, and memory does not grow with the number of files.
// Only the thread that submits ever delivers, so the delivery needs no lock of its own.
//
// With one job, files are identified on the caller's thread as they are submitted.
class OrderedPool {
public:
    OrderedPool(unsigned jobs, IDelivery& delivery);
    ~OrderedPool();

    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // The next slot to fill, waiting for room if the window is full. Fill it, then Submit.
    // Submitted slots reach the workers a few at a time, and before this thread waits.
    Slot& Next();
    void Submit();

    // Waits for every submitted slot and delivers it; the workers then end.
    void Finish();

private:
    static constexpr std::size_t WindowPerJob = 256;
    // Slots handed over at once: fewer lock and wake-ups per file, with little wait.
    static constexpr std::size_t Batch = 16;

    Slot& At(std::size_t sequence) { return m_slots[sequence % m_slots.size()]; }
    // Hands the filled slots to the workers; called with the lock held.
    void Publish();
    void Work();
    static void Process(Slot& slot, Identifier& identifier);
    // Delivers the finished slots at the head of the window; called with the lock held,
    // it lets go of it while delivering.
    void DeliverReady(std::unique_lock<std::mutex>& lock);

    IDelivery& m_delivery;
    unsigned m_jobs = 1;
    std::vector<Slot> m_slots;
    std::vector<std::thread> m_threads;
    std::unique_ptr<Identifier> m_inline;  // with one job

    std::mutex m_mutex;
    std::condition_variable m_work;  // a slot was submitted, or the pool ends
    std::condition_variable m_head;  // the slot at the head of the window is done
    std::size_t m_filled = 0;        // slots filled by the submitting thread (its own count)
    std::size_t m_submitted = 0;     // of which the workers may take
    std::size_t m_claimed = 0;
    unsigned m_idle = 0;  // workers waiting for a slot
    std::size_t m_delivered = 0;
    bool m_stopping = false;
};

}  // namespace CX::Workers
