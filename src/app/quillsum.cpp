// quillsum [OPTION]... [FILE]...: the content identifiers of many files, and of whole
// trees, in one process, in sha256sum's line format. Each identifier is the line quillmark
// prints for the same bytes.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/cache.h"
#include "cache/cache_file.h"
#include "check/check.h"
#include "duplicates/duplicates.h"
#include "io/path_query.h"
#include "lines/names.h"
#include "lines/reasons.h"
#include "options/options.h"
#include "progress/progress_line.h"
#include "run/run_core.h"
#include "walk/walk.h"

namespace {

using CX::Run::ExitSuccess;
using CX::Run::ExitTrouble;

// One place in compute mode's window: a file or standard input to identify.
struct ComputeJob : CX::Run::JobBase {
    bool StandardInput = false;
    std::string OpenPath;                     // as opened, when it differs from Name
    const CX::Cache::Cache* Cache = nullptr;  // with --cache
    bool HasListed = false;                   // Listed holds its folder's word
    CX::IO::FileFacts Listed;
    // The cache's record of the file as read, made here on the worker: the delivering
    // thread, which every file passes through, then only keeps it.
    bool HasEncoded = false;
    std::uint8_t Encoded[CX::Cache::RecordSize];

    // On a worker thread.
    void Run(CX::Workers::Identifier& identifier) {
        HasEncoded = false;
        if (StandardInput) {
            identifier.IdentifyStandardInput(Result);
            return;
        }
        identifier.IdentifyPath(OpenPath.empty() ? Name.c_str() : OpenPath.c_str(), Result, nullptr,
                                Cache, HasListed ? &Listed : nullptr);
        if (Cache != nullptr && Result.What == CX::Workers::Failure::None && Result.HasFacts &&
            !Result.WasKnown) {
            HasEncoded = Cache->Encode(Result.Facts, Result.Record, Result.OpenedAfter, Encoded);
        }
    }
};

unsigned JobCount(const CX::Options::Options& options) {
    if (options.Jobs != 0) {
        return options.Jobs;
    }
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

// The run in compute mode: finds the files, hands them to the pool, and prints what comes
// back, in order, on the one thread that submits.
class ComputeRun final : public CX::Run::RunCore<ComputeJob> {
public:
    // cache, when given, outlives the run: the workers look files up in it.
    ComputeRun(const CX::Options::Options& options, CX::Workers::IReadObserver* observer,
               CX::Cache::Cache* cache)
        : RunCore(options.Zero, JobCount(options), observer),
          m_options(options),
          m_walker(options.Dereference, false, cache != nullptr),
          m_cache(cache),
          m_observer(observer) {}

    // One operand: a file, "-" for standard input, or with -r a folder to walk.
    void Operand(const std::string& operand) override {
        if (operand == "-") {
            Identify(operand, operand, true);
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
        Identify(name, operand, false);
    }

    // The walk's findings.
    void File(const std::string& name, const std::string& openPath, std::uint64_t) override {
        Identify(name, openPath, false);
    }
    // With a cache, the walk's files come with what their folder's listing told: a file the
    // cache knows by those facts is answered here, neither opened nor handed to a worker.
    // Any other is opened and read, and the listed facts go with it: its record then costs
    // its handle the identity alone (a first run's files cost no more than that).
    void ListedFile(const std::string& name, const std::string& openPath,
                    const CX::IO::FileFacts* pFacts) override {
        if (m_cache == nullptr || pFacts == nullptr) {
            Identify(name, openPath, false);
            return;
        }
        const std::optional<CX::Hash::ContentRecord> record = m_cache->Lookup(*pFacts);
        if (!record) {
            Identify(name, openPath, false, pFacts);
            return;
        }
        ComputeJob& job = Next();
        job.What = CX::Run::JobBase::Kind::Work;
        job.Name = name;
        job.Result.What = CX::Workers::Failure::None;
        job.Result.Error = ERROR_SUCCESS;
        job.Result.SizeDiffers = false;
        job.Result.Record = *record;
        job.Result.HasFacts = true;
        job.Result.WasKnown = true;
        job.Result.Facts = *pFacts;
        job.HasEncoded = false;
        SubmitAnswered();
        // The progress line counts it as done, as a worker counts a file its handle answered
        // for (the observer takes calls from any thread).
        if (m_observer != nullptr) {
            m_observer->Finished();
        }
    }

private:
    void Identify(const std::string& name, const std::string& openPath, bool standardInput,
                  const CX::IO::FileFacts* pListed = nullptr) {
        ComputeJob& job = Next();
        job.What = CX::Run::JobBase::Kind::Work;
        job.StandardInput = standardInput;
        job.Cache = m_cache;
        job.HasListed = pListed != nullptr;
        if (pListed != nullptr) {
            job.Listed = *pListed;
        }
        job.Name = name;
        if (openPath == name) {
            job.OpenPath.clear();
        } else {
            job.OpenPath = openPath;
        }
        Submit();
    }

    // The pool's results, in order.
    void Delivered(ComputeJob& job) override {
        if (const char* words = CX::Run::OutcomeWords(job.Result)) {
            Report(job.Name, words);
            m_trouble = true;
        } else {
            m_out.Identifier(job.Result.Record, job.Name);
            Remember(job);
        }
    }
    // What the cache learns from an identified file, here on the one delivering thread.
    void Remember(const ComputeJob& job) {
        const CX::Workers::Outcome& result = job.Result;
        if (m_cache == nullptr || !result.HasFacts) {
            return;
        }
        if (result.WasKnown) {
            m_cache->Seen(result.Facts);
        } else if (job.HasEncoded) {
            m_cache->OfferEncoded(job.Encoded);
        }
    }
    // An error whose words are made already.
    void DeliveredText(ComputeJob& job) override {
        Say(job.Name);
        m_trouble = true;
    }

    const CX::Options::Options& m_options;
    CX::Walk::TreeWalker m_walker;
    CX::Cache::Cache* m_cache;
    CX::Workers::IReadObserver* m_observer;
};

// The cache's troubles never change what a run prints or its status: the run goes on
// without it, and says so once.
void CacheProblem(const CX::Options::Options& options, const std::string& problem) {
    CX::Lines::WriteProblem(stderr, CX::Lines::Printed(options.Cache), problem);
}

// Runs a mode with the cache when one is named: loaded before the run, saved after it.
template <class Mode>
int WithCache(const CX::Options::Options& options, Mode mode) {
    if (!options.HasCache) {
        return mode(nullptr);
    }
    CX::Cache::Cache cache;
    CX::Cache::CacheFile cacheFile(options.Cache);
    std::vector<CX::Cache::Entry> entries;
    std::string problem;
    if (!cacheFile.Load(entries, problem)) {
        CacheProblem(options, problem);
        return mode(nullptr);
    }
    cache.Start(std::move(entries));
    const int status = mode(&cache);
    if (!cacheFile.Save(cache, problem)) {
        CacheProblem(options, problem);
    }
    return status;
}

int Compute(const CX::Options::Options& options, CX::Workers::IReadObserver* observer,
            CX::Cache::Cache* cache) {
    ComputeRun run(options, observer, cache);
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

}  // namespace

int main(int argc, char** argv) {
    const CX::Options::Options options = CX::Options::Parse(argc, argv);
    switch (options.What) {
        case CX::Options::Options::Action::Help:
        case CX::Options::Options::Action::Version:
            std::fputs(options.What == CX::Options::Options::Action::Help
                           ? CX::Options::HelpText()
                           : CX::Options::VersionText().c_str(),
                       stdout);
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                CX::Lines::WriteMessage(stderr, "write error");
                return ExitTrouble;
            }
            return ExitSuccess;
        case CX::Options::Options::Action::Refused:
            CX::Lines::WriteMessage(stderr, options.Refusal);
            std::fputs("Try 'quillsum --help' for more information.\n", stderr);
            return ExitTrouble;
        case CX::Options::Options::Action::Run:
            break;
    }
    // Before the workers start, and ended after they have.
    CX::Progress::ProgressLine progress(options.Progress);
    if (options.Check) {
        return CX::Check::RunCheck(options, JobCount(options), progress.Observer());
    }
    const unsigned jobs = JobCount(options);
    if (options.Duplicates) {
        return WithCache(options, [&](CX::Cache::Cache* cache) {
            return CX::Duplicates::RunDuplicates(options, jobs, progress.Observer(), cache);
        });
    }
    return WithCache(options, [&](CX::Cache::Cache* cache) {
        return Compute(options, progress.Observer(), cache);
    });
}
