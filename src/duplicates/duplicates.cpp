#include "duplicates/duplicates.h"

#include <string>
#include <vector>

#include "cache/cache.h"
#include "duplicates/compare.h"
#include "duplicates/file_table.h"
#include "duplicates/groups.h"
#include "io/path_query.h"
#include "lines/names.h"
#include "lines/reasons.h"
#include "run/run_core.h"
#include "walk/walk.h"

namespace CX::Duplicates {
namespace {

constexpr const char* NotRegular = "not a regular file; skipped";

// A job's members are kept for the next size that lands in its place, unless there were
// many: the window then does not hold on to the largest sizes' memory.
constexpr std::size_t KeptMembers = 256;

// Comparing waits on opens and reads far more than on the processors: unless -j says how
// many, twice as many threads compare as there are processors, so that a disk has more
// requests to serve at once. From a cold disk a tree is compared in a fifth less time; from
// the page cache in the same time.
unsigned Comparers(const CX::Options::Options& options, unsigned jobs) {
    return options.Jobs != 0 ? jobs : 2 * jobs;
}

// A job is a whole size, messages aside: a window far smaller than compute mode's keeps
// the workers busy, and a small tree does not pay to make the rest of it.
constexpr std::size_t WindowPerComparer = 32;

// Folders listed ahead of the walk. A folder of many files (/usr/share/man/man1: 18,000) is
// listed by one thread, and while it is, the others list the folders after it only as far
// as this window: with compute mode's 64 they soon wait, and here a quarter of the walk
// ran on one processor (/usr/share walked in 0.19 s instead of 0.21). The table keeps
// every file's name anyway, so listings held ahead cost no more than what it will hold.
constexpr std::size_t ListedAhead = 1024;

class DuplicatesRun final : public CX::Run::RunCore<SizeJob> {
public:
    DuplicatesRun(const CX::Options::Options& options, unsigned jobs,
                  CX::Workers::IReadObserver* observer, CX::Cache::Cache* cache)
        : RunCore(options.Zero, Comparers(options, jobs), observer, WindowPerComparer),
          m_options(options),
          m_cache(cache),
          m_observer(observer),
          m_walker(options.Dereference, true) {
        // The workers have nothing to compare until the walk ends: its folders are listed
        // on as many threads meanwhile, far ahead (see ListedAhead).
        m_walker.ListAhead(jobs, ListedAhead);
    }

    // A folder is walked; any other operand is taken when it is a regular file.
    void Operand(const std::string& operand) override {
        const std::string name = CX::Lines::Printed(operand);
        if (!CX::Lines::IsValidUtf8(operand)) {
            Problem(name, CX::Lines::NotUtf8);
            return;
        }
        CX::IO::FileFacts facts;
        DWORD error = ERROR_SUCCESS;
        if (operand == "-") {
            Skipped(name, NotRegular);
        } else if (!CX::IO::QueryObject(operand.c_str(), facts, error)) {
            Problem(name, CX::Lines::ReasonFor(error));
        } else if ((facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            m_walker.Walk(name, operand, *this);
        } else if ((facts.Attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
            Skipped(name, NotRegular);
        } else {
            File(name, operand, facts.Size);
        }
    }

    void File(const std::string& name, const std::string& openPath, std::uint64_t size) override {
        if (size < m_options.Duplicating.MinSize) {
            return;
        }
        ++m_compared;
        if (!m_files.Add(name, openPath, size)) {
            Problem(name, CX::Lines::ReasonFor(ERROR_NOT_ENOUGH_MEMORY));
        }
    }

    // Every size that more than one file has goes to the workers, the largest first.
    void Compare() {
        const std::vector<FileTable::Number> shared = m_files.SharedSizes();
        for (std::size_t i = 0; i < shared.size();) {
            SizeJob& job = Next();
            job.What = CX::Run::JobBase::Kind::Work;
            job.Table = &m_files;
            job.Known = m_cache;
            job.Observer = m_observer;
            job.Files.clear();
            const std::uint64_t size = m_files.Size(shared[i]);
            std::size_t end = i;
            while (end < shared.size() && m_files.Size(shared[end]) == size) {
                ++end;
            }
            job.Files.reserve(end - i);
            for (; i < end; ++i) {
                job.Files.emplace_back().File = shared[i];
            }
            Submit();
        }
    }

private:
    void Delivered(SizeJob& job) override {
        // The files that may have a duplicate stay, in place, in walk order.
        std::size_t kept = 0;
        for (std::size_t at = 0; at < job.Members.size(); ++at) {
            const Member& member = job.Members[at];
            if (at < job.Facts.size()) {
                Learn(member, job.Facts[at]);
            }
            if (member.What == Verdict::Failed) {
                CX::Workers::Outcome outcome;
                outcome.What = member.Failure;
                outcome.Error = member.Error;
                Report(m_files.Name(job.Files[at].File), CX::Run::OutcomeWords(outcome));
                m_trouble = true;
            } else if (member.What == Verdict::SameFile) {
                --m_compared;  // a second name of a file counted already
            } else if (member.What == Verdict::Identified) {
                job.Files[kept++] = job.Files[at];
            }
        }
        job.Files.resize(kept);
        // Many are kept as the worker left them, not copied.
        if (kept > KeptMembers) {
            m_pieces.push_back(std::move(job.Files));
            job.Files = std::vector<Found>();
        } else {
            m_found.insert(m_found.end(), job.Files.begin(), job.Files.end());
        }
        if (job.Members.capacity() > KeptMembers) {
            std::vector<Found>().swap(job.Files);
            std::vector<Member>().swap(job.Members);
            std::vector<MemberFacts>().swap(job.Facts);
        }
    }
    // The pieces join the found, each let go once it is in.
    void Gather() {
        if (m_found.empty() && m_pieces.size() == 1) {
            m_found.swap(m_pieces.front());
            m_pieces.clear();
            return;
        }
        std::size_t total = m_found.size();
        for (const std::vector<Found>& piece : m_pieces) {
            total += piece.size();
        }
        m_found.reserve(total);
        for (std::vector<Found>& piece : m_pieces) {
            m_found.insert(m_found.end(), piece.begin(), piece.end());
            std::vector<Found>().swap(piece);
        }
        m_pieces.clear();
    }
    // What the cache learns of a member, here on the one delivering thread.
    void Learn(const Member& member, const MemberFacts& facts) {
        if (m_cache == nullptr || !facts.Has) {
            return;
        }
        if (member.WasKnown) {
            m_cache->Seen(facts.Facts);
        } else if (member.ReadWhole) {
            m_cache->Offer(facts.Facts, facts.Record, facts.ReadFrom);
        }
    }
    void DeliveredText(SizeJob& job) override {
        Say(job.Name);
        m_trouble = true;
    }

    void AllDelivered() override {
        Gather();
        const std::vector<Group> groups = FormGroups(m_found);
        PrintGroups(m_found, groups, m_files,
                    m_options.Duplicating.Json ? Format::Json : Format::Lines, m_options.Zero,
                    m_out);
        if (m_options.Duplicating.Summary) {
            Say(SummaryLine(m_compared, m_found, groups));
        }
    }

    const CX::Options::Options& m_options;
    CX::Cache::Cache* m_cache;
    CX::Workers::IReadObserver* m_observer;
    CX::Walk::TreeWalker m_walker;
    FileTable m_files;
    std::uint64_t m_compared = 0;  // files, each counted once whatever its names
    std::vector<Found> m_found;    // the files read to their end that may have a duplicate
    std::vector<std::vector<Found>> m_pieces;  // more of them, as large sizes' jobs found them
};

}  // namespace

int RunDuplicates(const CX::Options::Options& options, unsigned jobs,
                  CX::Workers::IReadObserver* observer, CX::Cache::Cache* cache) {
    DuplicatesRun run(options, jobs, observer, cache);
    if (options.HasFiles0From) {
        run.OperandsFrom(options.Files0From);
    }
    for (const std::string& operand : options.Operands) {
        run.Operand(operand);
    }
    run.Compare();
    return run.Finish();
}

}  // namespace CX::Duplicates
