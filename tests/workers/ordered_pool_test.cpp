// The ordered pool: every job delivered once, in order, with its own result, whatever the
// workers' timing. Jobs that the test holds and releases force the interleavings.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "support/waits.h"
#include "workers/ordered_pool.h"

namespace {

using namespace std::chrono_literals;

using CX::Testing::Deadline;
using CX::Testing::Sequence;

struct Job {
    int Id = -1;
    bool Held = false;
    int Result = 0;
    bool Ran = false;
    std::chrono::microseconds Delay{0};
};

struct Worker {};

int ResultOf(int id) {
    return id * 7 + 3;
}

// What the test sees of the pool: which held jobs have started, which are released, and
// what was delivered.
class Recorder : public CX::Workers::IPoolJobs<Job, Worker> {
public:
    void Run(Job& job, Worker&) override {
        if (job.Held) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_started.insert(job.Id);
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_released.count(job.Id) != 0; });
        }
        if (job.Delay.count() > 0) {
            std::this_thread::sleep_for(job.Delay);
        }
        job.Result = ResultOf(job.Id);
        job.Ran = true;
    }
    void Deliver(Job& job) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivered.push_back(job.Id);
        if (job.Ran && job.Result != ResultOf(job.Id)) {
            m_stale.push_back(job.Id);
        }
        if (!job.Ran && m_messages.count(job.Id) == 0) {
            m_stale.push_back(job.Id);
        }
        m_changed.notify_all();
    }

    void Message(int id) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.insert(id);
    }
    void Release(int id) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released.insert(id);
        m_changed.notify_all();
    }
    bool WaitStarted(int id) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, Deadline, [&] { return m_started.count(id) != 0; });
    }
    bool WaitDelivered(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, Deadline, [&] { return m_delivered.size() >= count; });
    }
    std::vector<int> Delivered() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_delivered;
    }
    std::vector<int> Stale() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stale;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<int> m_started;
    std::set<int> m_released;
    std::set<int> m_messages;
    std::vector<int> m_delivered;
    std::vector<int> m_stale;  // delivered without having run, or with another's result
};

using Pool = CX::Workers::OrderedPool<Job, Worker>;

// Submits one job; a message is a job that needs no work.
void Submit(Pool& pool, Recorder& recorder, int id, bool message, bool held = false,
            std::chrono::microseconds delay = 0us) {
    Job& job = pool.Next();
    job.Id = id;
    job.Held = held;
    job.Ran = false;
    job.Result = 0;
    job.Delay = delay;
    if (message) {
        recorder.Message(id);
    }
    pool.Submit(!message);
}

// A message, then a job that holds a worker, then more than a window behind them: the
// message's place is reused while the held job runs, and the job that takes that place is
// held too. Nothing may be delivered for it before it has run.
TEST(OrderedPool, APlaceReusedWhileAnEarlierJobRunsIsDeliveredOnlyOnceRun) {
    Recorder recorder;
    constexpr int Total = 14;  // more than the window of 4
    std::thread producer([&] {
        Pool pool(2, recorder, 2);
        ASSERT_EQ(pool.Window(), 4u);
        Submit(pool, recorder, 0, true);
        Submit(pool, recorder, 1, false, true);
        Submit(pool, recorder, 2, false);
        Submit(pool, recorder, 3, false);
        Submit(pool, recorder, 4, false, true);  // the message's place, taken again
        for (int id = 5; id < Total; ++id) {
            Submit(pool, recorder, id, id % 3 == 0);
        }
        pool.Finish();
    });
    ASSERT_TRUE(recorder.WaitStarted(1));
    ASSERT_TRUE(recorder.WaitStarted(4));
    recorder.Release(1);
    ASSERT_TRUE(recorder.WaitDelivered(4));
    // Job 4 is still held: nothing past it can have been delivered.
    EXPECT_EQ(recorder.Delivered(), Sequence(4));
    recorder.Release(4);
    producer.join();
    EXPECT_EQ(recorder.Delivered(), Sequence(Total));
    EXPECT_TRUE(recorder.Stale().empty());
}

// Many jobs of small random delays, with messages among them, for 1 to 8 threads and
// windows both smaller and larger than the work.
TEST(OrderedPool, EveryJobIsDeliveredOnceInOrderWithItsOwnResult) {
    std::mt19937 random(20261208);
    for (unsigned jobs = 1; jobs <= 8; ++jobs) {
        for (std::size_t windowPerJob : {1u, 3u, 256u}) {
            SCOPED_TRACE("jobs " + std::to_string(jobs) + ", window per job " +
                         std::to_string(windowPerJob));
            Recorder recorder;
            constexpr int Total = 700;
            {
                Pool pool(jobs, recorder, windowPerJob);
                for (int id = 0; id < Total; ++id) {
                    const unsigned draw = random() % 100;
                    Submit(pool, recorder, id, draw < 25, false,
                           std::chrono::microseconds(draw < 90 ? 0 : draw * 4));
                }
                pool.Finish();
            }
            EXPECT_EQ(recorder.Delivered(), Sequence(Total));
            EXPECT_TRUE(recorder.Stale().empty());
        }
    }
}

// A run that stops early (after an error, say) destroys the pool without finishing: the
// running job is waited for, nothing more is started or delivered, and nothing hangs.
TEST(OrderedPool, DestroyedWithoutFinishingEndsCleanly) {
    Recorder recorder;
    std::thread producer([&] {
        Pool pool(3, recorder, 2);
        Submit(pool, recorder, 0, false);
        Submit(pool, recorder, 1, false, true);
        Submit(pool, recorder, 2, false, true);
        for (int id = 3; id < 6; ++id) {
            Submit(pool, recorder, id, false);
        }
        ASSERT_TRUE(recorder.WaitStarted(1));
        ASSERT_TRUE(recorder.WaitStarted(2));
        recorder.Release(1);
    });  // the pool's destructor waits for job 2, still held
    recorder.Release(2);
    producer.join();
    const std::vector<int> delivered = recorder.Delivered();
    ASSERT_LE(delivered.size(), 6u);
    EXPECT_EQ(delivered, Sequence(static_cast<int>(delivered.size())));
    EXPECT_TRUE(recorder.Stale().empty());
}

// A slow producer: each job is handed to an idle worker as it arrives, never left waiting
// for more to come.
TEST(OrderedPool, AJobReachesAnIdleWorkerWithoutWaitingForMore) {
    Recorder recorder;
    Pool pool(2, recorder, Pool::DefaultWindowPerJob);
    for (int id = 0; id < 3; ++id) {
        Submit(pool, recorder, id, false, true);
        ASSERT_TRUE(recorder.WaitStarted(id));  // with nothing more submitted
        recorder.Release(id);
    }
    pool.Finish();
    EXPECT_EQ(recorder.Delivered(), Sequence(3));
}

}  // namespace

// Threads start as jobs wait for them, never more than asked for: a job that finds the
// only started worker held gets a thread of its own, and messages start none.
TEST(OrderedPool, AWorkerStartsForEachJobNoStartedWorkerCanTake) {
    Recorder recorder;
    Pool pool(4, recorder, 2);
    Submit(pool, recorder, 0, false, true);
    for (int id = 1; id < 4; ++id) {
        Submit(pool, recorder, id, true);
    }
    ASSERT_TRUE(recorder.WaitStarted(0));
    EXPECT_EQ(pool.Started(), 1u);
    Submit(pool, recorder, 4, false, true);  // while job 0 holds the one worker
    ASSERT_TRUE(recorder.WaitStarted(4));
    EXPECT_EQ(pool.Started(), 2u);
    recorder.Release(0);
    recorder.Release(4);
    pool.Finish();
    EXPECT_EQ(recorder.Delivered(), Sequence(5));
    EXPECT_TRUE(recorder.Stale().empty());
}
