#include "check/check.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_set>

#include "io/path_query.h"
#include "lines/line_writer.h"
#include "lines/list_parser.h"
#include "lines/names.h"
#include "lines/quote.h"
#include "lines/reasons.h"
#include "lines/record_reader.h"
#include "run/run_core.h"
#include "walk/walk.h"

namespace CX::Check {
namespace {

using CX::Workers::Failure;

// One place in check mode's window: a listed file to check against its identifier.
struct CheckJob : CX::Run::JobBase {
    CX::Hash::ContentRecord Expected;

    // On a worker thread. "-" in a list is standard input, as sha256sum reads it; a file's
    // length is checked first, so that one of another size is not read at all.
    void Run(CX::Workers::Identifier& identifier) {
        if (Name == "-") {
            identifier.IdentifyStandardInput(Result);
            return;
        }
        const std::uint64_t length = Expected.Length();
        identifier.IdentifyPath(Name.c_str(), Result, &length);
    }
};

// What a Text job stands for.
enum Tag : int {
    Malformed = 1,  // Name: the --warn message for the line
    ListEnd,        // Name: the list as messages name it
    ListFailed,     // Name: the message for a list whose reading failed
    New,            // Name: a file under the tree that no list names
    TreeEnd,
};

std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
}

class CheckRun final : public CX::Run::RunCore<CheckJob> {
public:
    CheckRun(const CX::Options::Options& options, unsigned jobs,
             CX::Workers::IReadObserver* observer)
        : RunCore(options.Zero, jobs, observer), m_all(options), m_options(options.Checking) {}

    void List(const std::string& list) {
        const bool fromStdin = list == "-";
        const std::string shown = fromStdin ? std::string("standard input") : list;
        const CX::Run::Input input = CX::Run::OpenInput(list);
        if (!input.Stream) {
            Problem(list, input.Reason);
            return;
        }
        CX::Lines::RecordReader reader(*input.Stream, m_all.Zero ? '\0' : '\n');
        std::string record;
        std::string name;
        bool tooLong = false;
        std::uint64_t number = 0;
        CX::Hash::ContentRecord expected;
        while (reader.Next(record, tooLong)) {
            ++number;
            const CX::Lines::ListLine kind =
                tooLong ? CX::Lines::ListLine::Malformed
                        : CX::Lines::ParseListLine(record, m_all.Zero, m_format, expected, name);
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
            CheckJob& job = Next();
            job.What = CX::Run::JobBase::Kind::Work;
            job.Name = name;
            job.Expected = expected;
            Submit();
        }
        if (reader.Error() != ERROR_SUCCESS) {
            // As sha256sum -c: the list named with the reason, and no summary of it.
            Queue(ListFailed,
                  CX::Lines::QuoteName(shown) + ": " + CX::Run::ReadFailure(list, reader.Error()));
            return;
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
            CX::Walk::TreeWalker walker(m_all.Dereference);
            walker.Walk(name, m_options.Tree, *this);
        }
        Queue(TreeEnd, "");
    }

    // The tree walk's findings.
    void File(const std::string& name, const std::string&, std::uint64_t) override {
        if (m_listed.count(name) == 0) {
            Queue(New, name);
        }
    }

private:
    void Delivered(CheckJob& job) override { Checked(job); }
    void DeliveredText(CheckJob& job) override { Text(job); }

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
        if (const char* words = CX::Run::OutcomeWords(result)) {
            Report(job.Name, words);
            Verdict(job.Name, "FAILED open or read");
            ++m_unreadable;
            m_trouble = true;
            return;
        }
        if (result.SizeDiffers || !(result.Record == job.Expected)) {
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
            case ListFailed:
                Say(job.Name);
                m_trouble = true;
                ResetCounts();
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
        ResetCounts();
    }

    void ResetCounts() { m_entries = m_malformed = m_unreadable = m_mismatched = m_matched = 0; }

    void Verdict(const std::string& name, const char* verdict) {
        if (!m_options.Status) {
            m_out.Verdict(name, verdict);
        }
    }

    const CX::Options::Options& m_all;
    const CX::Options::CheckOptions& m_options;
    CX::Lines::ListFormat m_format = CX::Lines::ListFormat::Unknown;  // for all the lists
    std::unordered_set<std::string> m_listed;  // with a tree only: memory grows with the lists
    // Counted as the results are delivered, so they are each list's own.
    std::size_t m_entries = 0;
    std::size_t m_malformed = 0;
    std::size_t m_unreadable = 0;
    std::size_t m_mismatched = 0;
    std::size_t m_matched = 0;
    std::size_t m_new = 0;
};

}  // namespace

int RunCheck(const CX::Options::Options& options, unsigned jobs,
             CX::Workers::IReadObserver* observer) {
    CheckRun run(options, jobs, observer);
    if (options.Operands.empty()) {
        run.List("-");
    }
    for (const std::string& list : options.Operands) {
        run.List(list);
    }
    if (options.Checking.HasTree) {
        run.Tree();
    }
    return run.Finish();
}

}  // namespace CX::Check
