#include "check/check.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "io/file_input_stream.h"
#include "io/path_query.h"
#include "io/std_input_stream.h"
#include "lines/line_writer.h"
#include "lines/list_parser.h"
#include "lines/name_list.h"
#include "lines/names.h"
#include "lines/quote.h"
#include "lines/reasons.h"
#include "walk/walk.h"
#include "workers/identify.h"
#include "workers/ordered_pool.h"

namespace CX::Check {
namespace {

using CX::Workers::Failure;

// One place in check mode's window.
struct CheckJob {
    enum class Kind : std::uint8_t {
        Check,    // identify Name against Expected: its length is checked first
        Problem,  // an error found before any reading: Name and Reason
        Note,     // a remark that is no error: Name and Reason
        Text,     // anything else for the deliverer, in order: Tag says what, Name holds it
    };
    Kind What = Kind::Check;
    int Tag = 0;
    std::string Name;
    const char* Reason = "";
    std::uint8_t Expected[CX::Hash::ContentDigest::RecordSize];
    CX::Workers::Outcome Result;
};
using JobKind = CheckJob::Kind;
using Pool = CX::Workers::OrderedPool<CheckJob, CX::Workers::Identifier>;

// What a Text job stands for.
enum Tag : int {
    Malformed = 1,  // Name: the --warn message for the line
    ListEnd,        // Name: the list as messages name it
    New,            // Name: a file under the tree that no list names
    TreeEnd,
};

constexpr int ExitDiffers = 1;
constexpr int ExitTrouble = 2;

std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
}

class CheckRun : public CX::Workers::IPoolJobs<CheckJob, CX::Workers::Identifier>,
                 public CX::Walk::IWalkSink {
public:
    explicit CheckRun(const CheckOptions& options)
        : m_options(options), m_out(stdout, options.Zero), m_pool(options.Jobs, *this) {}

    void List(const std::string& list) {
        const bool fromStdin = list == "-";
        const std::string shown = fromStdin ? std::string("standard input") : list;
        std::unique_ptr<CX::IO::IInputStream> stream;
        if (fromStdin) {
            stream = std::make_unique<CX::IO::StdInputStream>();
        } else {
            auto file = std::make_unique<CX::IO::FileInputStream>(list.c_str());
            if (!file->IsOpen()) {
                const DWORD error = file->GetOpenError();
                const DWORD attributes = error == ERROR_ACCESS_DENIED
                                             ? CX::IO::QueryAttributes(list.c_str())
                                             : INVALID_FILE_ATTRIBUTES;
                Problem(list, attributes != INVALID_FILE_ATTRIBUTES &&
                                      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                  ? CX::Lines::IsADirectory
                                  : CX::Lines::ReasonFor(error));
                return;
            }
            stream = std::move(file);
        }
        CX::Lines::RecordReader reader(*stream, m_options.Zero ? '\0' : '\n');
        std::string record;
        std::string name;
        bool tooLong = false;
        std::uint64_t number = 0;
        std::uint8_t expected[CX::Hash::ContentDigest::RecordSize];
        while (reader.Next(record, tooLong)) {
            ++number;
            const CX::Lines::ListLine kind =
                tooLong
                    ? CX::Lines::ListLine::Malformed
                    : CX::Lines::ParseListLine(record, m_options.Zero, m_format, expected, name);
            if (kind == CX::Lines::ListLine::Skipped) {
                continue;
            }
            if (kind == CX::Lines::ListLine::Malformed) {
                Queue(Malformed, CX::Lines::QuoteName(shown) + ": " + std::to_string(number) +
                                     ": improperly formatted identifier line");
                continue;
            }
            if (m_options.HasTree) {
                m_listed.insert(CX::Lines::Printed(name));
            }
            CheckJob& job = m_pool.Next();
            job.What = JobKind::Check;
            job.Name = name;
            std::memcpy(job.Expected, expected, sizeof expected);
            m_pool.Submit();
        }
        if (reader.Error() != ERROR_SUCCESS) {
            Problem(shown, CX::Lines::ReasonFor(reader.Error()));
        }
        Queue(ListEnd, CX::Lines::QuoteName(shown));
    }

    // Every file under the tree that no list names, as -r would name it.
    void Tree() {
        const std::string name = CX::Lines::Printed(m_options.Tree);
        const DWORD attributes = CX::IO::QueryAttributes(m_options.Tree.c_str());
        if (!CX::Lines::IsValidUtf8(m_options.Tree)) {
            Problem(name, CX::Lines::NotUtf8);
        } else if (attributes == INVALID_FILE_ATTRIBUTES) {
            Problem(name, CX::Lines::ReasonFor(ERROR_FILE_NOT_FOUND));
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            Problem(name, CX::Lines::ReasonFor(ERROR_DIRECTORY));
        } else {
            CX::Walk::TreeWalker walker(m_options.FollowLinks);
            walker.Walk(name, m_options.Tree, *this);
        }
        Queue(TreeEnd, "");
    }

    int Finish() {
        m_pool.Finish();
        if (!m_out.Flush()) {
            CX::Lines::WriteMessage(stderr, "write error");
            m_trouble = true;
        }
        return m_trouble ? ExitTrouble : m_differs ? ExitDiffers : 0;
    }

    // The tree walk's findings.
    void File(const std::string& name, const std::string&) override {
        if (m_listed.count(name) == 0) {
            Queue(New, name);
        }
    }
    void Problem(const std::string& name, const char* reason) override {
        Message(JobKind::Problem, name, reason);
    }
    void Skipped(const std::string& name, const char* reason) override {
        Message(JobKind::Note, name, reason);
    }

    // On a worker thread: touches the job and the worker only.
    void Run(CheckJob& job, CX::Workers::Identifier& identifier) override {
        // "-" in a list is standard input, as sha256sum reads it.
        if (job.Name == "-") {
            identifier.IdentifyStandardInput(job.Result);
            return;
        }
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i) {
            length = (length << 8) | job.Expected[i];  // little-endian, as recorded
        }
        identifier.IdentifyPath(job.Name.c_str(), job.Result, &length);
    }

    void Deliver(CheckJob& job) override {
        switch (job.What) {
            case JobKind::Check:
                Checked(job);
                return;
            case JobKind::Problem:
                Report(job.Name, job.Reason);
                m_trouble = true;
                return;
            case JobKind::Note:
                Report(job.Name, job.Reason);
                return;
            case JobKind::Text:
                Text(job);
                return;
        }
    }

private:
    void Checked(const CheckJob& job) {
        ++m_entries;
        const CX::Workers::Outcome& result = job.Result;
        if (result.What == Failure::Open &&
            (result.Error == ERROR_FILE_NOT_FOUND || result.Error == ERROR_PATH_NOT_FOUND)) {
            if (m_options.IgnoreMissing) {
                return;
            }
            Report(job.Name, CX::Lines::ReasonFor(result.Error));
            Verdict(job.Name, "FAILED open or read");
            ++m_unreadable;
            m_differs = true;
            return;
        }
        if (result.What != Failure::None) {
            Report(job.Name, result.What == Failure::IsDirectory ? CX::Lines::IsADirectory
                             : result.What == Failure::Digest ? "the digest could not be computed"
                                                              : CX::Lines::ReasonFor(result.Error));
            Verdict(job.Name, "FAILED open or read");
            ++m_unreadable;
            m_trouble = true;
            return;
        }
        if (result.SizeDiffers ||
            std::memcmp(result.Record, job.Expected, sizeof job.Expected) != 0) {
            Verdict(job.Name, "FAILED");
            ++m_mismatched;
            m_differs = true;
            return;
        }
        ++m_matched;
        if (!m_options.Quiet) {
            Verdict(job.Name, "OK");
        }
    }

    void Text(const CheckJob& job) {
        switch (job.Tag) {
            case Malformed:
                ++m_malformed;
                if (m_options.Strict) {
                    m_trouble = true;
                }
                if (m_options.Warn) {
                    Say(job.Name);
                }
                return;
            case ListEnd:
                ListSummary(job.Name);
                return;
            case New:
                ++m_new;
                m_differs = true;
                Verdict(job.Name, "NEW");
                return;
            case TreeEnd:
                if (m_new > 0 && !m_options.Status) {
                    Say("WARNING: " + Counted(m_new, " file in the tree is not listed",
                                              " files in the tree are not listed"));
                }
                return;
        }
    }

    // What sha256sum says after each list, and only about that list.
    void ListSummary(const std::string& shown) {
        if (m_entries == 0) {
            Say(shown + ": no properly formatted identifier lines found");
            m_trouble = true;
        } else {
            if (!m_options.Status) {
                if (m_malformed > 0) {
                    Say("WARNING: " + Counted(m_malformed, " line is improperly formatted",
                                              " lines are improperly formatted"));
                }
                if (m_unreadable > 0) {
                    Say("WARNING: " + Counted(m_unreadable, " listed file could not be read",
                                              " listed files could not be read"));
                }
                if (m_mismatched > 0) {
                    Say("WARNING: " + Counted(m_mismatched, " computed identifier did NOT match",
                                              " computed identifiers did NOT match"));
                }
            }
            if (m_options.IgnoreMissing && m_matched == 0) {
                if (!m_options.Status) {
                    Say(shown + ": no file was verified");
                }
                m_trouble = true;
            }
        }
        m_entries = m_malformed = m_unreadable = m_mismatched = m_matched = 0;
    }

    void Verdict(const std::string& name, const char* verdict) {
        if (!m_options.Status) {
            m_out.Verdict(name, verdict);
        }
    }

    void Report(const std::string& name, const char* reason) {
        static_cast<void>(m_out.Flush());  // what came before first, on a terminal too
        CX::Lines::WriteProblem(stderr, name, reason);
    }

    void Say(const std::string& text) {
        static_cast<void>(m_out.Flush());
        CX::Lines::WriteMessage(stderr, text);
    }

    void Message(JobKind kind, const std::string& name, const char* reason) {
        CheckJob& job = m_pool.Next();
        job.What = kind;
        job.Name = name;
        job.Reason = reason;
        m_pool.Submit(false);
    }

    void Queue(Tag tag, const std::string& text) {
        CheckJob& job = m_pool.Next();
        job.What = JobKind::Text;
        job.Tag = tag;
        job.Name = text;
        m_pool.Submit(false);
    }

    const CheckOptions& m_options;
    CX::Lines::LineWriter m_out;
    CX::Lines::ListFormat m_format = CX::Lines::ListFormat::Unknown;  // for all the lists
    std::unordered_set<std::string> m_listed;  // with a tree only: memory grows with the lists
    // Counted as the results are delivered, so they are each list's own.
    std::size_t m_entries = 0;
    std::size_t m_malformed = 0;
    std::size_t m_unreadable = 0;
    std::size_t m_mismatched = 0;
    std::size_t m_matched = 0;
    std::size_t m_new = 0;
    bool m_differs = false;
    bool m_trouble = false;
    Pool m_pool;  // last: it delivers into the members above
};

}  // namespace

int RunCheck(const CheckOptions& options, const std::vector<std::string>& lists) {
    CheckRun run(options);
    if (lists.empty()) {
        run.List("-");
    }
    for (const std::string& list : lists) {
        run.List(list);
    }
    if (options.HasTree) {
        run.Tree();
    }
    return run.Finish();
}

}  // namespace CX::Check
