#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "io/input_stream.h"
#include "lines/line_writer.h"
#include "lines/quote.h"
#include "lines/reasons.h"
#include "lines/record_reader.h"
#include "walk/walk.h"
#include "workers/identify.h"
#include "workers/ordered_pool.h"

namespace CX::Run {

// What every mode's job holds besides its own: whether it is work or a message for the
// deliverer, and what the work came to. A mode's job derives from it and adds a
// Run(Identifier&) that touches the job alone: it runs on a worker thread.
struct JobBase {
    enum class Kind : std::uint8_t {
        Work,     // for a worker; then delivered with Result
        Problem,  // an error found before any reading: Name and Reason
        Note,     // a remark that is no error: Name and Reason
        Text,     // the mode's own message: Tag says what, Name holds its words
    };
    Kind What = Kind::Work;
    int Tag = 0;
    std::string Name;
    const char* Reason = "";
    CX::Workers::Outcome Result;
};

// An input named on the command line or in a list ("-": standard input), opened for
// reading; Stream is null and Reason tells why when it could not be.
struct Input {
    std::unique_ptr<CX::IO::IInputStream> Stream;
    const char* Reason = "";
};
Input OpenInput(const std::string& path);

// The words for a failed read of an input OpenInput gave.
const char* ReadFailure(const std::string& path, DWORD error);

// The words for an outcome that is no identifier; null for one that is.
const char* OutcomeWords(const CX::Workers::Outcome& outcome);

enum ExitCode : int {
    ExitSuccess = 0,
    ExitDiffers = 1,  // check mode: the files differ from the lists
    ExitTrouble = 2,
};

// What every mode's run does alike: it owns the pool, the line writer and the status; it
// queues messages in their place among the results and reports them when they come, and
// it ends with "write error" when the lines could not be written. A mode says what it
// submits, and what a delivered job and a delivered text mean.
template <class Job>
class RunCore : public CX::Workers::IPoolJobs<Job, CX::Workers::Identifier>,
                public CX::Walk::IWalkSink {
public:
    // observer, when given, hears of the reading on the worker threads.
    // windowPerJob: how many jobs may wait in the window for each thread.
    RunCore(bool zero, unsigned jobs, CX::Workers::IReadObserver* observer,
            std::size_t windowPerJob =
                CX::Workers::OrderedPool<Job, CX::Workers::Identifier>::DefaultWindowPerJob)
        : m_out(stdout, zero), m_pool(jobs, *this, windowPerJob, observer) {}

    // The walk's problems and skipped entries, in their place.
    void Problem(const std::string& name, const char* reason) override {
        Message(JobBase::Kind::Problem, name, reason);
    }
    void Skipped(const std::string& name, const char* reason) override {
        Message(JobBase::Kind::Note, name, reason);
    }

    // Operands from a list of NUL-ended names, each given to Operand.
    void OperandsFrom(const std::string& list) {
        const Input input = OpenInput(list);
        if (!input.Stream) {
            Queue(0, "cannot open '" + list + "' for reading: " + input.Reason);
            return;
        }
        CX::Lines::RecordReader reader(*input.Stream, '\0');
        std::string name;
        bool tooLong = false;
        std::uint64_t number = 0;
        while (reader.Next(name, tooLong)) {
            ++number;
            const std::string where =
                CX::Lines::QuoteName(list) + ":" + std::to_string(number) + ": ";
            if (tooLong) {
                Queue(0, where + CX::Lines::ReasonFor(ERROR_FILENAME_EXCED_RANGE));
            } else if (name.empty()) {
                Queue(0, where + "invalid zero-length file name");
            } else if (list == "-" && name == "-") {
                Queue(0, where +
                             "when reading file names from standard input, no file name of "
                             "'-' allowed");
            } else {
                Operand(name);
            }
        }
        if (reader.Error() != ERROR_SUCCESS) {
            Problem(list, ReadFailure(list, reader.Error()));
        }
    }

    // One operand, as a mode that takes lists of operands takes it.
    virtual void Operand(const std::string&) {}

    // Waits for every job, delivers it, and gives the exit status.
    int Finish() {
        m_pool.Finish();
        AllDelivered();
        if (!m_out.Flush()) {
            CX::Lines::WriteMessage(stderr, "write error");
            m_trouble = true;
        }
        return m_trouble ? ExitTrouble : m_differs ? ExitDiffers : ExitSuccess;
    }

protected:
    ~RunCore() = default;

    // The mode's message, in its place among the results.
    void Queue(int tag, const std::string& text) {
        Job& job = m_pool.Next();
        job.What = JobBase::Kind::Text;
        job.Tag = tag;
        job.Name = text;
        m_pool.Submit(false);
    }
    // A job to fill for a worker; then Submit.
    Job& Next() { return m_pool.Next(); }
    void Submit() { m_pool.Submit(true); }
    // A Work job whose Result is filled already (what a cache told): no worker ever sees
    // it, and it is delivered in its place as any other. It is the submitting thread's to
    // fill until this call, as every job is.
    void SubmitAnswered() { m_pool.Submit(false); }

    // Now, on standard error, after the lines printed before it (on a terminal too).
    void Report(const std::string& name, const char* reason) {
        static_cast<void>(m_out.Flush());
        CX::Lines::WriteProblem(stderr, name, reason);
    }
    void Say(const std::string& text) {
        static_cast<void>(m_out.Flush());
        CX::Lines::WriteMessage(stderr, text);
    }

    virtual void Delivered(Job& job) = 0;
    // With tag 0: an error whose words are made already. The mode says what others mean.
    virtual void DeliveredText(Job& job) = 0;
    // Once every job is delivered, before the lines are flushed for the last time.
    virtual void AllDelivered() {}

    CX::Lines::LineWriter m_out;
    bool m_trouble = false;
    bool m_differs = false;

private:
    void Run(Job& job, CX::Workers::Identifier& identifier) final { job.Run(identifier); }
    void Deliver(Job& job) final {
        switch (job.What) {
            case JobBase::Kind::Work:
                Delivered(job);
                return;
            case JobBase::Kind::Problem:
                Report(job.Name, job.Reason);
                m_trouble = true;
                return;
            case JobBase::Kind::Note:
                Report(job.Name, job.Reason);
                return;
            case JobBase::Kind::Text:
                DeliveredText(job);
                return;
        }
    }
    void Message(JobBase::Kind kind, const std::string& name, const char* reason) {
        Job& job = m_pool.Next();
        job.What = kind;
        job.Name = name;
        job.Reason = reason;
        m_pool.Submit(false);
    }

    // Its workers touch only the jobs and their own identifiers, never the run's members:
    // the pool may end after the mode's own members have gone.
    CX::Workers::OrderedPool<Job, CX::Workers::Identifier> m_pool;
};

}  // namespace CX::Run
