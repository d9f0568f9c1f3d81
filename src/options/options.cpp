#include "options/options.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "options/version.h"

namespace CX::Options {
namespace {

enum class Id {
    Recursive,
    Dereference,
    Jobs,
    Zero,
    Files0From,
    Progress,
    Check,
    Quiet,
    Status,
    Strict,
    Warn,
    IgnoreMissing,
    Tree,
    Duplicates,
    MinSize,
    Json,
    Summary,
    Cache,
    Help,
    Version,
};

// One option: its letter (0 for none), its long name, and whether it takes a value.
struct OptionSpec {
    char Short;
    const char* Long;
    Id Which;
    bool TakesValue;
};

constexpr OptionSpec Table[] = {
    {'r', "recursive", Id::Recursive, false},
    {'L', "dereference", Id::Dereference, false},
    {'j', "jobs", Id::Jobs, true},
    {'z', "zero", Id::Zero, false},
    {0, "files0-from", Id::Files0From, true},
    {0, "progress", Id::Progress, false},
    {'c', "check", Id::Check, false},
    {0, "quiet", Id::Quiet, false},
    {0, "status", Id::Status, false},
    {0, "strict", Id::Strict, false},
    {'w', "warn", Id::Warn, false},
    {0, "ignore-missing", Id::IgnoreMissing, false},
    {0, "tree", Id::Tree, true},
    {'D', "duplicates", Id::Duplicates, false},
    {0, "min-size", Id::MinSize, true},
    {0, "json", Id::Json, false},
    {0, "summary", Id::Summary, false},
    {0, "cache", Id::Cache, true},
    {0, "help", Id::Help, false},
    {0, "version", Id::Version, false},
};

constexpr unsigned MaxJobs = 1024;

bool ParseJobs(std::string_view text, unsigned& jobs) {
    if (text.empty() || text.size() > 4) {
        return false;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > MaxJobs) {
        return false;
    }
    jobs = value;
    return true;
}

bool ParseSize(std::string_view text, std::uint64_t& size) {
    if (text.empty() || text.size() > 19) {  // every 19-digit number fits in 64 bits
        return false;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    size = value;
    return true;
}

// Applies one of check mode's options.
void ApplyChecking(CheckOptions& options, Id which, const std::string& value) {
    switch (which) {
        // As in sha256sum, the last of --quiet, --status and --warn is the one that holds.
        case Id::Quiet:
        case Id::Status:
        case Id::Warn:
            options.Quiet = which == Id::Quiet;
            options.Status = which == Id::Status;
            options.Warn = which == Id::Warn;
            break;
        case Id::Strict:
            options.Strict = true;
            break;
        case Id::IgnoreMissing:
            options.IgnoreMissing = true;
            break;
        case Id::Tree:
            options.HasTree = true;
            options.Tree = value;
            break;
        default:
            break;
    }
}

// Applies one of duplicates mode's options; false (with the refusal set) for a bad value.
bool ApplyDuplicating(Options& options, Id which, const std::string& value) {
    DuplicateOptions& duplicating = options.Duplicating;
    switch (which) {
        case Id::MinSize:
            duplicating.HasMinSize = true;
            if (!ParseSize(value, duplicating.MinSize)) {
                options.Refusal = "invalid minimum size: '" + value + "'";
                return false;
            }
            break;
        case Id::Json:
            duplicating.Json = true;
            break;
        case Id::Summary:
            duplicating.Summary = true;
            break;
        default:
            break;
    }
    return true;
}

// Applies one option; false (with the refusal set) when its value is not acceptable.
bool Apply(Options& options, Id which, const std::string& value) {
    switch (which) {
        case Id::Recursive:
            options.Recursive = true;
            break;
        case Id::Dereference:
            options.Dereference = true;
            break;
        case Id::Jobs:
            if (!ParseJobs(value, options.Jobs)) {
                options.Refusal = "invalid number of jobs: '" + value + "' (1 to 1024)";
                return false;
            }
            break;
        case Id::Zero:
            options.Zero = true;
            break;
        case Id::Files0From:
            options.HasFiles0From = true;
            options.Files0From = value;
            break;
        case Id::Progress:
            options.Progress = true;
            break;
        case Id::Check:
            options.Check = true;
            break;
        case Id::Duplicates:
            options.Duplicates = true;
            break;
        case Id::Cache:
            if (value.empty()) {
                options.Refusal = "invalid cache file name: ''";
                return false;
            }
            options.HasCache = true;
            options.Cache = value;
            break;
        case Id::Help:
            options.What = Options::Action::Help;
            break;
        case Id::Version:
            if (options.What != Options::Action::Help) {
                options.What = Options::Action::Version;
            }
            break;
        default:
            ApplyChecking(options.Checking, which, value);
            return ApplyDuplicating(options, which, value);
    }
    return true;
}

// Options that only mean something when checking.
const char* CheckOnly(const CheckOptions& options) {
    if (options.Quiet) {
        return "--quiet";
    }
    if (options.Status) {
        return "--status";
    }
    if (options.Strict) {
        return "--strict";
    }
    if (options.Warn) {
        return "--warn";
    }
    if (options.IgnoreMissing) {
        return "--ignore-missing";
    }
    if (options.HasTree) {
        return "--tree";
    }
    return nullptr;
}

// The arguments, read one at a time; each reader below takes one and applies what it
// says, or sets the refusal and answers false.
class Reader {
public:
    Reader(int argc, char** argv, Options& options)
        : m_argc(argc), m_argv(argv), m_options(options) {}

    bool Read() {
        bool optionsEnded = false;
        for (m_next = 1; m_next < m_argc;) {
            const std::string_view arg(m_argv[m_next++]);
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                m_options.Operands.emplace_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (!(arg[1] == '-' ? Long(arg) : ShortBundle(arg))) {
                return false;
            }
        }
        return true;
    }

private:
    // --name, --name=value or --name value, the name shortened to any unambiguous prefix.
    bool Long(std::string_view arg) {
        const std::string_view body = arg.substr(2);
        const std::size_t equals = body.find('=');
        const std::string_view name = body.substr(0, equals);
        const OptionSpec* match = nullptr;
        std::string candidates;
        int matches = 0;
        for (const OptionSpec& option : Table) {
            if (std::string_view(option.Long).substr(0, name.size()) != name) {
                continue;
            }
            match = &option;
            if (name.size() == std::strlen(option.Long)) {
                matches = 1;  // an exact name wins over longer ones it begins
                break;
            }
            ++matches;
            candidates += std::string(" '--") + option.Long + "'";
        }
        if (matches != 1) {
            return Refuse(matches == 0 ? "unrecognized option '" + std::string(arg) + "'"
                                       : "option '" + std::string(arg) +
                                             "' is ambiguous; possibilities:" + candidates);
        }
        const std::string named = std::string("option '--") + match->Long + "'";
        std::string value;
        if (match->TakesValue && equals != std::string_view::npos) {
            value = body.substr(equals + 1);
        } else if (match->TakesValue && m_next < m_argc) {
            value = m_argv[m_next++];
        } else if (match->TakesValue) {
            return Refuse(named + " requires an argument");
        } else if (equals != std::string_view::npos) {
            return Refuse(named + " doesn't allow an argument");
        }
        return Apply(m_options, match->Which, value) || Refuse(m_options.Refusal);
    }

    // -abc: letters bundled; one that takes a value takes the rest of the argument, or the
    // next argument.
    bool ShortBundle(std::string_view arg) {
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionSpec* match = nullptr;
            for (const OptionSpec& option : Table) {
                if (option.Short != 0 && option.Short == arg[k]) {
                    match = &option;
                }
            }
            if (match == nullptr) {
                return Refuse(std::string("invalid option -- '") + arg[k] + "'");
            }
            std::string value;
            if (match->TakesValue) {
                if (k + 1 < arg.size()) {
                    value = arg.substr(k + 1);
                } else if (m_next < m_argc) {
                    value = m_argv[m_next++];
                } else {
                    return Refuse(std::string("option requires an argument -- '") + arg[k] + "'");
                }
                k = arg.size();
            }
            if (!Apply(m_options, match->Which, value)) {
                return Refuse(m_options.Refusal);
            }
        }
        return true;
    }

    bool Refuse(std::string message) {
        m_options.What = Options::Action::Refused;
        m_options.Refusal = std::move(message);
        return false;
    }

    int m_argc;
    char** m_argv;
    int m_next = 1;
    Options& m_options;
};

// Options that only mean something when finding duplicates.
const char* DuplicatesOnly(const DuplicateOptions& options) {
    if (options.HasMinSize) {
        return "--min-size";
    }
    if (options.Json) {
        return "--json";
    }
    if (options.Summary) {
        return "--summary";
    }
    return nullptr;
}

// The rules of one mode's options: a refusal message, or "" when they hold.
std::string ModeConflict(const Options& options) {
    if (!options.Check) {
        if (const char* option = CheckOnly(options.Checking)) {
            return std::string("the ") + option +
                   " option is meaningful only when verifying identifiers";
        }
    }
    if (!options.Duplicates) {
        if (const char* option = DuplicatesOnly(options.Duplicating)) {
            return std::string("the ") + option +
                   " option is meaningful only when finding duplicates";
        }
    }
    if (options.Check && options.Duplicates) {
        return "the --duplicates option cannot be combined with --check";
    }
    if (options.Duplicates && options.Operands.empty() && !options.HasFiles0From) {
        return "missing operand: --duplicates compares the files and folders it is given";
    }
    return std::string();
}

// The rules across options, once all are read: a refusal message, or "" when they hold.
std::string Conflict(const Options& options) {
    if (std::string mode = ModeConflict(options); !mode.empty()) {
        return mode;
    }
    if (options.Check && options.HasFiles0From) {
        return "the --files0-from option cannot be combined with --check";
    }
    if (options.Check && options.HasCache) {
        return "the --cache option cannot be combined with --check; a check reads every byte";
    }
    if (options.Check && options.Recursive) {
        return "the --recursive option cannot be combined with --check; --tree=DIR walks a tree";
    }
    if (options.HasFiles0From && !options.Operands.empty()) {
        return "extra operand '" + options.Operands.front() +
               "'\nfile operands cannot be combined with --files0-from";
    }
    return std::string();
}

}  // namespace

Options Parse(int argc, char** argv) {
    Options options;
    if (!Reader(argc, argv, options).Read() || options.What != Options::Action::Run) {
        return options;
    }
    std::string conflict = Conflict(options);
    if (!conflict.empty()) {
        options.What = Options::Action::Refused;
        options.Refusal = std::move(conflict);
    }
    return options;
}

const char* HelpText() {
    return R"(Usage: quillsum [OPTION]... [FILE]...
  or:  quillsum -c [OPTION]... [LIST]...
  or:  quillsum --duplicates [OPTION]... FILE|DIR...
Print or check content identifiers: for each FILE, its length as a 64-bit
little-endian number and its SHA-256 digest, as 80 upper-case hexadecimal digits,
then two spaces and the name. The identifier is the line quillmark prints.

With no FILE, or when FILE is -, read standard input.

  -r, --recursive         walk each directory operand, entries in byte order
  -L, --dereference       during a walk, follow symbolic links and junctions
  -j, --jobs=N            identify with N threads (default: one per processor);
                            the output is the same for every N
  -z, --zero              end each output line with NUL, not newline,
                            and do not escape file names
      --files0-from=F     read the operands from file F, each ended by NUL
                            (as find -print0 writes them); F - is standard input
      --progress          show a progress line on standard error, when it is
                            a terminal
      --cache=FILE        keep identifiers in FILE between runs, and use one only
                            for a file that cannot have changed since it was read
  -c, --check             read identifiers from the LISTs and check them
  -D, --duplicates        print the groups of files that hold the same bytes,
                            walking each directory operand

The following options are useful only when verifying identifiers:
      --ignore-missing    don't fail or report status for missing files
      --quiet             don't print OK for each successfully verified file
      --status            don't output anything, status code shows success
      --strict            exit non-zero for improperly formatted identifier lines
  -w, --warn              warn about improperly formatted identifier lines
      --tree=DIR          also walk DIR and report every file no list names

The following options are useful only when finding duplicates:
      --min-size=N        compare only files of at least N bytes (default 1;
                            0 compares empty files too)
      --json              print each group as one JSON object on a line
      --summary           end with a line of counts on standard error

      --help              display this help and exit
      --version           output version information and exit

A name holding a backslash, newline or carriage return is printed with a leading
backslash on its line, and those characters as \\, \n and \r.

With --duplicates, a group is the identifier lines of its files (names of one
file, hard links, count once), groups are parted by an empty line, and the
output is a list that quillsum -c checks. Files of one length are compared on a
first block, and only those still equal are read to the end.

Exit status: 0 when every file was identified (or matched its list), 1 when
checked files differ from their lists, 2 on any trouble (a file that could not
be read, a directory without -r, a bad option, output that could not be written).
)";
}

std::string VersionText() {
    return std::string("quillsum (quillmark) ") + QuillmarkVersion + "\n";
}

}  // namespace CX::Options
