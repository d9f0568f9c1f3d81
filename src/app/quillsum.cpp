// quillsum [OPTION]... [FILE]...: the content identifiers of many files, and of whole
// trees, in one process, in sha256sum's line format. Each identifier is the line quillmark
// prints for the same bytes.

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "check/check.h"
#include "io/file_input_stream.h"
#include "io/path_query.h"
#include "io/std_input_stream.h"
#include "lines/line_writer.h"
#include "lines/name_list.h"
#include "lines/names.h"
#include "lines/progress.h"
#include "lines/quote.h"
#include "lines/reasons.h"
#include "options/options.h"
#include "walk/walk.h"
#include "workers/identify.h"
#include "workers/ordered_pool.h"

namespace {

enum ExitCode : int {
    ExitSuccess = 0,
    ExitTrouble = 2,
};

using CX::Workers::Failure;

// One place in compute mode's window: what to do, and once done, what came of it.
struct ComputeJob {
    enum class Kind : std::uint8_t {
        File,           // identify the file at OpenPath (or at Name when OpenPath is empty)
        StandardInput,  // identify standard input
        Problem,        // an error found before any reading: Name and Reason
        Note,           // a remark that is no error: Name and Reason
        Text,           // an error whose words are made already: Name holds them
    };
    Kind What = Kind::File;
    std::string Name;      // as printed
    std::string OpenPath;  // as opened, when it differs from Name
    const char* Reason = "";
    CX::Workers::Outcome Result;
};
using JobKind = ComputeJob::Kind;
using Pool = CX::Workers::OrderedPool<ComputeJob, CX::Workers::Identifier>;

unsigned JobCount(const CX::Options::Options& options) {
    if (options.Jobs != 0) {
        return options.Jobs;
    }
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

// The run in compute mode: finds the files, hands them to the pool, and prints what comes
// back, in order, on the one thread that submits.
class ComputeRun : public CX::Workers::IPoolJobs<ComputeJob, CX::Workers::Identifier>,
                   public CX::Walk::IWalkSink {
public:
    explicit ComputeRun(const CX::Options::Options& options)
        : m_options(options),
          m_out(stdout, options.Zero),
          m_walker(options.Dereference),
          m_pool(JobCount(options), *this) {}

    // One operand: a file, "-" for standard input, or with -r a folder to walk.
    void Operand(const std::string& operand) {
        if (operand == "-") {
            ComputeJob& job = m_pool.Next();
            job.What = JobKind::StandardInput;
            job.Name = operand;
            job.OpenPath.clear();
            m_pool.Submit();
            return;
        }
        const std::string name = CX::Lines::Printed(operand);
        if (!CX::Lines::IsValidUtf8(operand)) {
            // The path conversion would put U+FFFD in its place and open whatever file
            // that names.
            Problem(name, CX::Lines::NotUtf8);
            return;
        }
        if (m_options.Recursive) {
            const DWORD attributes = CX::IO::QueryAttributes(operand.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                m_walker.Walk(name, operand, *this);
                return;
            }
        }
        File(name, operand);
    }

    // Operands from a list of NUL-ended names.
    void OperandsFrom(const std::string& list) {
        std::unique_ptr<CX::IO::IInputStream> stream;
        const bool fromStdin = list == "-";
        if (fromStdin) {
            stream = std::make_unique<CX::IO::StdInputStream>();
        } else {
            auto file = std::make_unique<CX::IO::FileInputStream>(list.c_str());
            if (!file->IsOpen()) {
                const DWORD error = file->GetOpenError();
                Fatal("cannot open '" + list + "' for reading: " + CX::Lines::ReasonFor(error));
                return;
            }
            stream = std::move(file);
        }
        CX::Lines::RecordReader reader(*stream, '\0');
        std::string name;
        bool tooLong = false;
        std::uint64_t number = 0;
        while (reader.Next(name, tooLong)) {
            ++number;
            const std::string where =
                CX::Lines::QuoteName(list) + ":" + std::to_string(number) + ": ";
            if (tooLong) {
                Raw(where + CX::Lines::ReasonFor(ERROR_FILENAME_EXCED_RANGE));
            } else if (name.empty()) {
                Raw(where + "invalid zero-length file name");
            } else if (fromStdin && name == "-") {
                Raw(where +
                    "when reading file names from standard input, no file name of "
                    "'-' allowed");
            } else {
                Operand(name);
            }
        }
        if (reader.Error() != ERROR_SUCCESS) {
            Problem(list, CX::Lines::ReasonFor(reader.Error()));
        }
    }

    int Finish() {
        m_pool.Finish();
        if (!m_out.Flush()) {
            CX::Lines::WriteMessage(stderr, "write error");
            m_status = ExitTrouble;
        }
        return m_status;
    }

    // The walk's findings, and files named directly.
    void File(const std::string& name, const std::string& openPath) override {
        ComputeJob& job = m_pool.Next();
        job.What = JobKind::File;
        job.Name = name;
        if (openPath == name) {
            job.OpenPath.clear();
        } else {
            job.OpenPath = openPath;
        }
        m_pool.Submit();
    }
    void Problem(const std::string& name, const char* reason) override {
        Message(JobKind::Problem, name, reason);
    }
    void Skipped(const std::string& name, const char* reason) override {
        Message(JobKind::Note, name, reason);
    }

    // On a worker thread: touches the job and the worker only.
    void Run(ComputeJob& job, CX::Workers::Identifier& identifier) override {
        if (job.What == JobKind::StandardInput) {
            identifier.IdentifyStandardInput(job.Result);
        } else {
            identifier.IdentifyPath(job.OpenPath.empty() ? job.Name.c_str() : job.OpenPath.c_str(),
                                    job.Result);
        }
    }

    // The pool's results, in order.
    void Deliver(ComputeJob& job) override {
        switch (job.What) {
            case JobKind::Problem:
                Report(job.Name, job.Reason, true);
                return;
            case JobKind::Note:
                Report(job.Name, job.Reason, false);
                return;
            case JobKind::Text:
                Fatal(job.Name);
                return;
            case JobKind::File:
            case JobKind::StandardInput:
                break;
        }
        switch (job.Result.What) {
            case Failure::None:
                m_out.Identifier(job.Result.Record, job.Name);
                return;
            case Failure::IsDirectory:
                Report(job.Name, CX::Lines::IsADirectory, true);
                return;
            case Failure::Open:
            case Failure::Read:
                Report(job.Name, CX::Lines::ReasonFor(job.Result.Error), true);
                return;
            case Failure::Digest:
                Report(job.Name, "the digest could not be computed", true);
                return;
        }
    }

private:
    void Message(JobKind kind, const std::string& name, const char* reason) {
        ComputeJob& job = m_pool.Next();
        job.What = kind;
        job.Name = name;
        job.OpenPath.clear();
        job.Reason = reason;
        m_pool.Submit(false);
    }

    // An error whose text is made already, in its place among the results.
    void Raw(const std::string& text) {
        ComputeJob& job = m_pool.Next();
        job.What = JobKind::Text;
        job.Name = text;
        job.OpenPath.clear();
        m_pool.Submit(false);
    }

    void Report(const std::string& name, const char* reason, bool error) {
        // What was printed before goes out first, so that a terminal shows both in order.
        static_cast<void>(m_out.Flush());
        CX::Lines::WriteProblem(stderr, name, reason);
        if (error) {
            m_status = ExitTrouble;
        }
    }

    void Fatal(const std::string& text) {
        static_cast<void>(m_out.Flush());
        CX::Lines::WriteMessage(stderr, text);
        m_status = ExitTrouble;
    }

    const CX::Options::Options& m_options;
    CX::Lines::LineWriter m_out;
    CX::Walk::TreeWalker m_walker;
    Pool m_pool;  // last: it delivers into the members above
    int m_status = ExitSuccess;
};

}  // namespace

int main(int argc, char** argv) {
    const CX::Options::Options options = CX::Options::Parse(argc, argv);
    switch (options.What) {
        case CX::Options::Options::Action::Help:
            std::fputs(CX::Options::HelpText(), stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitSuccess : ExitTrouble;
        case CX::Options::Options::Action::Version:
            std::fputs(CX::Options::VersionText().c_str(), stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitSuccess : ExitTrouble;
        case CX::Options::Options::Action::Refused:
            CX::Lines::WriteMessage(stderr, options.Refusal);
            std::fputs("Try 'quillsum --help' for more information.\n", stderr);
            return ExitTrouble;
        case CX::Options::Options::Action::Run:
            break;
    }
    // Before the workers start, and ended after they have.
    CX::Lines::Progress progress(options.Progress);
    if (options.Check) {
        CX::Check::CheckOptions check;
        check.Zero = options.Zero;
        check.Quiet = options.Quiet;
        check.Status = options.Status;
        check.Strict = options.Strict;
        check.Warn = options.Warn;
        check.IgnoreMissing = options.IgnoreMissing;
        check.FollowLinks = options.Dereference;
        check.Jobs = JobCount(options);
        check.HasTree = options.HasTree;
        check.Tree = options.Tree;
        return CX::Check::RunCheck(check, options.Operands);
    }

    ComputeRun run(options);
    if (options.HasFiles0From) {
        run.OperandsFrom(options.Files0From);
    } else if (options.Operands.empty()) {
        run.Operand("-");
    } else {
        for (const std::string& operand : options.Operands) {
            run.Operand(operand);
        }
    }
    return run.Finish();
}
