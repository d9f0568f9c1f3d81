#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace CX::Workers {

// The ordering and the hand-over of an OrderedPool, whatever its jobs are. A job is known
// here by its sequence number, the order in which it was submitted, and by its place in
// the window (the sequence number modulo the window's size).
class PoolCore {
public:
    PoolCore(const PoolCore&) = delete;
    PoolCore& operator=(const PoolCore&) = delete;

    std::size_t Window() const { return m_window; }

protected:
    // With one job, nothing runs on another thread: each job is run and delivered as it is
    // submitted. Otherwise the window holds windowPerJob places for each thread.
    PoolCore(unsigned jobs, std::size_t windowPerJob);
    ~PoolCore();

    // Readies the workers, which start as jobs wait for them; the derived pool calls it
    // once its own members exist.
    void Start();
    // Ends the workers without delivering anything more: a job already running is
    // finished, none is started. The derived pool calls it before its members go.
    void Stop();

    // The place of the next job, waiting for room (and delivering) while the window is full.
    std::size_t NextPlace();
    // The job at the place NextPlace gave is filled. One that needs no work (a message for
    // the deliverer) is never seen by a worker.
    void Submit(bool needsWork);
    // Waits for every submitted job and delivers it, then ends the workers.
    void Finish();

    unsigned Workers() const { return m_workers; }
    // Worker threads started so far; on the submitting thread.
    unsigned Started() const { return static_cast<unsigned>(m_threads.size()); }

    // On a worker thread (or, with one job, the submitting one).
    virtual void RunPlace(std::size_t place, unsigned worker) = 0;
    // Always on the submitting thread, in submission order, once the job is done.
    virtual void DeliverPlace(std::size_t place) = 0;

private:
    std::size_t Place(std::size_t sequence) const { return sequence % m_window; }
    void Work(unsigned worker);
    // Takes in what the submitting thread has filled since; with the lock held.
    void Gather();
    // Delivers the done jobs at the head of the window; with the lock held, which it lets
    // go of while delivering.
    void DeliverReady(std::unique_lock<std::mutex>& lock);
    // Gathers, delivers what is ready, and wakes a worker if one waits; with the lock held.
    void Visit(std::unique_lock<std::mutex>& lock);
    // Starts a worker for each gathered job that no waiting or starting worker will take,
    // while fewer than m_workers run; on the submitting thread, with the lock held.
    void StartWanted();

    const unsigned m_workers;  // threads; 0 runs every job on the submitting thread
    const std::size_t m_window;
    std::vector<std::thread> m_threads;  // the submitting thread's alone

    // Which thread owns which place, and when it passes: see Work, where the lock is taken.

    // Written by the submitting thread alone, read by it without the lock.
    std::vector<char> m_needsWork;  // per place: also read under the lock, once published
    std::size_t m_sinceVisit = 0;   // jobs submitted since the lock was last taken
    bool m_finished = false;

    // m_filled is stored by the submitting thread after it has filled the job: a thread
    // that loads it, then reads the job, sees it whole. Sequentially consistent with
    // m_idle, so that a worker going to sleep and a job being submitted always see one
    // another (a job is never left waiting while a worker sleeps).
    std::atomic<std::size_t> m_filled{0};
    std::atomic<unsigned> m_idle{0};  // workers waiting for work; changed under the lock

    std::mutex m_mutex;
    std::condition_variable m_work;  // work was gathered, or the pool ends
    std::condition_variable m_head;  // the job at the head of the window is done
    // Guarded by m_mutex.
    std::size_t m_gathered = 0;        // jobs taken in from m_filled
    std::vector<std::size_t> m_queue;  // ring of sequence numbers waiting for a worker
    std::size_t m_queueHead = 0;       // next to hand out (a count; the ring wraps)
    std::size_t m_queueTail = 0;
    std::vector<char> m_done;     // per place
    unsigned m_unclaimed = 0;     // workers started that have not yet taken the lock
    std::size_t m_delivered = 0;  // written only by the submitting thread
    bool m_stopping = false;
};

// What a mode gives the pool: how a job is run, and what is done with it once it is.
template <class Job, class Worker>
class IPoolJobs {
public:
    // On a worker thread: touches only the job and the worker.
    virtual void Run(Job& job, Worker& worker) = 0;
    // On the submitting thread, in submission order.
    virtual void Deliver(Job& job) = 0;

protected:
    ~IPoolJobs() = default;
};

// Runs jobs on worker threads while the caller goes on submitting more, and hands them back
// in the order they were submitted. A bounded window of jobs holds the work in flight:
// submitting into a full window first delivers what is done, so output starts at once,
// stays ordered, and memory does not grow with the number of jobs. Only the thread that
// submits ever delivers. Each worker thread has a Worker of its own (a buffer, a digest).
//
// Deliveries happen only in Next, Submit and Finish; destroying the pool without Finish
// abandons what was not delivered.
template <class Job, class Worker>
class OrderedPool final : private PoolCore {
public:
    static constexpr std::size_t DefaultWindowPerJob = 256;

    // Each worker thread's Worker is made from workerArgs.
    template <class... WorkerArgs>
    OrderedPool(unsigned jobs, IPoolJobs<Job, Worker>& mode, std::size_t windowPerJob,
                const WorkerArgs&... workerArgs)
        : PoolCore(jobs, windowPerJob), m_mode(mode), m_jobs(Window()) {
        const unsigned workers = Workers() == 0 ? 1 : Workers();
        for (unsigned i = 0; i < workers; ++i) {
            m_workers.push_back(std::make_unique<Worker>(workerArgs...));
        }
        Start();
    }
    ~OrderedPool() { Stop(); }

    // The next job to fill; then Submit it.
    Job& Next() { return m_jobs[NextPlace()]; }
    void Submit(bool needsWork = true) { PoolCore::Submit(needsWork); }
    void Finish() { PoolCore::Finish(); }
    using PoolCore::Started;
    using PoolCore::Window;

private:
    void RunPlace(std::size_t place, unsigned worker) override {
        m_mode.Run(m_jobs[place], *m_workers[worker]);
    }
    void DeliverPlace(std::size_t place) override { m_mode.Deliver(m_jobs[place]); }

    IPoolJobs<Job, Worker>& m_mode;
    std::vector<Job> m_jobs;
    std::vector<std::unique_ptr<Worker>> m_workers;
};

}  // namespace CX::Workers
