#include "workers/ordered_pool.h"

namespace CX::Workers {
namespace {

// Jobs submitted before the submitting thread takes the lock when no worker waits: fewer
// lock round trips per small file, and what is done is still delivered soon.
constexpr std::size_t VisitEvery = 16;

}  // namespace

PoolCore::PoolCore(unsigned jobs, std::size_t windowPerJob)
    : m_workers(jobs <= 1 ? 0 : jobs),
      m_window(jobs <= 1 ? 1 : (windowPerJob == 0 ? 1 : windowPerJob) * jobs),
      m_needsWork(m_window),
      m_queue(m_window),
      m_done(m_window) {}

PoolCore::~PoolCore() = default;

// Threads start as work waits for them (StartWanted): on this VM each costs half a
// millisecond, as much as comparing a small tree's few candidates.
void PoolCore::Start() {
    m_threads.reserve(m_workers);
}

void PoolCore::StartWanted() {
    while (m_threads.size() < m_workers &&
           m_queueTail - m_queueHead > m_idle.load(std::memory_order_relaxed) + m_unclaimed) {
        const unsigned worker = static_cast<unsigned>(m_threads.size());
        m_threads.emplace_back([this, worker] { Work(worker); });
        ++m_unclaimed;
    }
}

void PoolCore::Stop() {
    if (m_threads.empty()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_queueHead = m_queueTail;  // what no worker has started is abandoned
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    m_threads.clear();
}

std::size_t PoolCore::NextPlace() {
    if (m_workers == 0) {
        return 0;
    }
    const std::size_t filled = m_filled.load(std::memory_order_relaxed);  // this thread's own
    if (filled - m_delivered >= m_window) {
        std::unique_lock<std::mutex> lock(m_mutex);
        Gather();
        StartWanted();
        for (;;) {
            DeliverReady(lock);
            if (filled - m_delivered < m_window) {
                break;
            }
            m_head.wait(lock, [this] { return m_done[Place(m_delivered)] != 0; });
        }
        m_sinceVisit = 0;
    }
    return Place(filled);
}

void PoolCore::Submit(bool needsWork) {
    if (m_workers == 0) {
        if (needsWork) {
            RunPlace(0, 0);
        }
        DeliverPlace(0);
        return;
    }
    const std::size_t filled = m_filled.load(std::memory_order_relaxed);
    m_needsWork[Place(filled)] = needsWork ? 1 : 0;
    // Publishes the job, then asks whether a worker sleeps: a worker that goes to sleep
    // counts itself first, then looks at m_filled, so one of the two always sees the other.
    m_filled.store(filled + 1, std::memory_order_seq_cst);
    if (++m_sinceVisit >= VisitEvery || m_idle.load(std::memory_order_seq_cst) > 0 ||
        m_threads.size() < m_workers) {
        std::unique_lock<std::mutex> lock(m_mutex);
        Visit(lock);
    }
}

void PoolCore::Finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (m_workers == 0) {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Gather();
        StartWanted();
        const std::size_t filled = m_gathered;
        for (;;) {
            DeliverReady(lock);
            if (m_delivered == filled) {
                break;
            }
            m_head.wait(lock, [this] { return m_done[Place(m_delivered)] != 0; });
        }
    }
    Stop();
}

void PoolCore::Visit(std::unique_lock<std::mutex>& lock) {
    Gather();
    StartWanted();
    DeliverReady(lock);
    m_sinceVisit = 0;
}

void PoolCore::Gather() {
    const std::size_t filled = m_filled.load(std::memory_order_seq_cst);
    std::size_t added = 0;
    for (; m_gathered < filled; ++m_gathered) {
        const std::size_t place = Place(m_gathered);
        if (m_needsWork[place] != 0) {
            m_done[place] = 0;
            m_queue[m_queueTail % m_window] = m_gathered;
            ++m_queueTail;
            ++added;
        } else {
            m_done[place] = 1;  // a message: nothing for a worker to do
        }
    }
    const unsigned idle = m_idle.load(std::memory_order_relaxed);  // changed under the lock
    if (idle > 1 && added > 1) {
        m_work.notify_all();
    } else if (idle > 0 && added > 0) {
        m_work.notify_one();
    }
}

void PoolCore::DeliverReady(std::unique_lock<std::mutex>& lock) {
    std::size_t count = 0;
    while (m_delivered + count < m_gathered && m_done[Place(m_delivered + count)] != 0) {
        ++count;
    }
    if (count == 0) {
        return;
    }
    // Done jobs are no worker's any more, and their places are not filled again before
    // m_delivered passes them: this thread is the one that fills them.
    lock.unlock();
    for (std::size_t i = 0; i < count; ++i) {
        DeliverPlace(Place(m_delivered + i));
    }
    lock.lock();
    m_delivered += count;
}

// Who touches what. A place belongs to the submitting thread from the moment its last
// job was delivered until its next job is submitted (m_filled passes it). From then on
// it is the pool's: a job that needs work is handed to exactly one worker, which alone
// touches it until it marks it done under the lock, and never again after; a message
// is done as soon as it is gathered. The place returns to the submitting thread only
// when the job is delivered, which happens once it is done and every earlier job has
// been delivered. So a place is never reused while a worker can still touch it, and a
// worker marks done only the one job it ran.
void PoolCore::Work(unsigned worker) {
    std::unique_lock<std::mutex> lock(m_mutex);
    --m_unclaimed;
    for (;;) {
        Gather();
        if (m_stopping) {
            return;
        }
        if (m_queueHead == m_queueTail) {
            m_idle.fetch_add(1, std::memory_order_seq_cst);
            m_work.wait(lock, [this] {
                return m_stopping || m_queueHead != m_queueTail ||
                       m_filled.load(std::memory_order_seq_cst) != m_gathered;
            });
            m_idle.fetch_sub(1, std::memory_order_relaxed);
            continue;
        }
        // One job at a time: the one taken is this worker's alone until it is marked done.
        const std::size_t sequence = m_queue[m_queueHead % m_window];
        ++m_queueHead;
        lock.unlock();
        RunPlace(Place(sequence), worker);
        lock.lock();
        m_done[Place(sequence)] = 1;
        if (sequence == m_delivered) {
            m_head.notify_one();
        }
    }
}

}  // namespace CX::Workers
