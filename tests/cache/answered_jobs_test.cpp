// Jobs a mode answers itself (a file its cache knows by its folder's listing) share the
// window with jobs the workers run: each is delivered once, in its place, with what it was
// answered, and no worker ever touches one. Jobs the test holds and releases force the
// interleavings: answered places reused while an earlier job still runs, answers behind a
// held job, a window of answers with nothing for the workers.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "run/run_core.h"
#include "support/waits.h"

namespace {

using namespace std::chrono_literals;

using CX::Testing::Deadline;
using CX::Testing::Sequence;

class Gate {
public:
    void Enter(int id) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_started.insert(id);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_released.count(id) != 0; });
    }
    void Release(int id) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_released.insert(id);
        m_changed.notify_all();
    }
    bool WaitStarted(int id) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, Deadline, [&] { return m_started.count(id) != 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<int> m_started;
    std::set<int> m_released;
};

struct TestJob : CX::Run::JobBase {
    int Id = -1;
    bool Held = false;
    bool Ran = false;
    Gate* pGate = nullptr;

    // On a worker thread: the job alone.
    void Run(CX::Workers::Identifier&) {
        if (Held) {
            pGate->Enter(Id);
        }
        Ran = true;
        Result.Error = static_cast<DWORD>(Id);
    }
};

class AnsweringMode final : public CX::Run::RunCore<TestJob> {
public:
    AnsweringMode(unsigned jobs, Gate& gate) : RunCore(false, jobs, nullptr), m_gate(gate) {}

    void Work(int id, bool held) {
        TestJob& job = Fill(id);
        job.Held = held;
        Submit();
    }
    void Answer(int id) {
        TestJob& job = Fill(id);
        job.Result.WasKnown = true;
        job.Result.Error = static_cast<DWORD>(id);
        SubmitAnswered();
    }
    int End() { return Finish(); }

    std::vector<int> Order;
    std::vector<int> Wrong;  // delivered with another's result, or run though answered

private:
    TestJob& Fill(int id) {
        TestJob& job = Next();
        job.What = CX::Run::JobBase::Kind::Work;
        job.Id = id;
        job.Held = false;
        job.Ran = false;
        job.pGate = &m_gate;
        job.Result = CX::Workers::Outcome{};
        return job;
    }
    void Delivered(TestJob& job) override {
        Order.push_back(job.Id);
        if (job.Result.Error != static_cast<DWORD>(job.Id) || job.Ran == job.Result.WasKnown) {
            Wrong.push_back(job.Id);
        }
    }
    void DeliveredText(TestJob&) override {}
    void File(const std::string&, const std::string&, std::uint64_t) override {}

    Gate& m_gate;
};

TEST(AnsweredJobs, DeliveredInTheirPlacesAndNeverRun) {
    for (const unsigned jobs : {1u, 2u, 3u}) {
        SCOPED_TRACE(jobs);
        Gate gate;
        AnsweringMode mode(jobs, gate);
        int id = 0;
        const std::size_t window = 256 * jobs;
        if (jobs > 1) {
            // A held job, then more than a window of answers and work behind it: answered
            // places come round again while it runs, and wait for it.
            mode.Work(id++, true);
            ASSERT_TRUE(gate.WaitStarted(0));
            for (std::size_t i = 0; i < window - 1; ++i) {
                if (i % 5 == 0) {
                    mode.Work(id++, false);
                } else {
                    mode.Answer(id++);
                }
            }
            EXPECT_TRUE(mode.Order.empty());
            gate.Release(0);
            // Every place is taken again, answered jobs first.
            for (std::size_t i = 0; i < window + 3; ++i) {
                mode.Answer(id++);
            }
            // An answer behind a second held job, whose worker others pass.
            const int held = id;
            mode.Work(id++, true);
            ASSERT_TRUE(gate.WaitStarted(held));
            mode.Answer(id++);
            mode.Work(id++, false);
            mode.Answer(id++);
            gate.Release(held);
        }
        for (int i = 0; i < 50; ++i) {
            if (i % 3 == 0) {
                mode.Work(id++, false);
            } else {
                mode.Answer(id++);
            }
        }
        EXPECT_EQ(mode.End(), CX::Run::ExitSuccess);
        EXPECT_EQ(mode.Order, Sequence(id));
        EXPECT_TRUE(mode.Wrong.empty()) << mode.Wrong.size() << " wrong, first " << mode.Wrong[0];
    }
}

}  // namespace
