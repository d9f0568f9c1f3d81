#include "options/options.h"

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
    Help,
    Version,
};

struct LongOption {
    const char* Name;
    Id Which;
    bool TakesValue;
};

constexpr LongOption LongOptions[] = {
    {"recursive", Id::Recursive, false},
    {"dereference", Id::Dereference, false},
    {"jobs", Id::Jobs, true},
    {"zero", Id::Zero, false},
    {"files0-from", Id::Files0From, true},
    {"progress", Id::Progress, false},
    {"check", Id::Check, false},
    {"quiet", Id::Quiet, false},
    {"status", Id::Status, false},
    {"strict", Id::Strict, false},
    {"warn", Id::Warn, false},
    {"ignore-missing", Id::IgnoreMissing, false},
    {"tree", Id::Tree, true},
    {"help", Id::Help, false},
    {"version", Id::Version, false},
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
        // As in sha256sum, the last of --quiet, --status and --warn is the one that holds.
        case Id::Quiet:
            options.Quiet = true;
            options.Status = options.Warn = false;
            break;
        case Id::Status:
            options.Status = true;
            options.Quiet = options.Warn = false;
            break;
        case Id::Strict:
            options.Strict = true;
            break;
        case Id::Warn:
            options.Warn = true;
            options.Quiet = options.Status = false;
            break;
        case Id::IgnoreMissing:
            options.IgnoreMissing = true;
            break;
        case Id::Tree:
            options.HasTree = true;
            options.Tree = value;
            break;
        case Id::Help:
            options.What = Options::Action::Help;
            break;
        case Id::Version:
            if (options.What != Options::Action::Help) {
                options.What = Options::Action::Version;
            }
            break;
    }
    return true;
}

Options Refuse(Options& options, std::string message) {
    options.What = Options::Action::Refused;
    options.Refusal = std::move(message);
    return options;
}

// Options that only mean something when checking.
const char* CheckOnly(const Options& options) {
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

}  // namespace

Options Parse(int argc, char** argv) {
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.Operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::string_view body = arg.substr(2);
            const std::size_t equals = body.find('=');
            const std::string_view name = body.substr(0, equals);
            const LongOption* match = nullptr;
            std::string candidates;
            int matches = 0;
            for (const LongOption& option : LongOptions) {
                if (std::string_view(option.Name).substr(0, name.size()) != name) {
                    continue;
                }
                if (name.size() == std::strlen(option.Name)) {
                    match = &option;  // an exact name wins over longer ones it begins
                    matches = 1;
                    break;
                }
                match = &option;
                ++matches;
                candidates += std::string(" '--") + option.Name + "'";
            }
            if (matches == 0) {
                return Refuse(options, "unrecognized option '" + std::string(arg) + "'");
            }
            if (matches > 1) {
                return Refuse(options, "option '" + std::string(arg) +
                                           "' is ambiguous; possibilities:" + candidates);
            }
            std::string value;
            if (match->TakesValue) {
                if (equals != std::string_view::npos) {
                    value = body.substr(equals + 1);
                } else if (i + 1 < argc) {
                    value = argv[++i];
                } else {
                    return Refuse(options, std::string("option '--") + match->Name +
                                               "' requires an argument");
                }
            } else if (equals != std::string_view::npos) {
                return Refuse(options, std::string("option '--") + match->Name +
                                           "' doesn't allow an argument");
            }
            if (!Apply(options, match->Which, value)) {
                return Refuse(options, options.Refusal);
            }
            continue;
        }
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const char c = arg[k];
            Id which;
            switch (c) {
                case 'r':
                    which = Id::Recursive;
                    break;
                case 'L':
                    which = Id::Dereference;
                    break;
                case 'z':
                    which = Id::Zero;
                    break;
                case 'c':
                    which = Id::Check;
                    break;
                case 'w':
                    which = Id::Warn;
                    break;
                case 'j': {
                    std::string value;
                    if (k + 1 < arg.size()) {
                        value = arg.substr(k + 1);
                    } else if (i + 1 < argc) {
                        value = argv[++i];
                    } else {
                        return Refuse(options, "option requires an argument -- 'j'");
                    }
                    if (!Apply(options, Id::Jobs, value)) {
                        return Refuse(options, options.Refusal);
                    }
                    k = arg.size();
                    continue;
                }
                default:
                    return Refuse(options, std::string("invalid option -- '") + c + "'");
            }
            static_cast<void>(Apply(options, which, std::string()));
        }
    }
    if (options.What != Options::Action::Run) {
        return options;
    }
    if (!options.Check) {
        if (const char* option = CheckOnly(options)) {
            return Refuse(options, std::string("the ") + option +
                                       " option is meaningful only when verifying identifiers");
        }
    }
    if (options.Check && options.HasFiles0From) {
        return Refuse(options, "the --files0-from option cannot be combined with --check");
    }
    if (options.Check && options.Recursive) {
        return Refuse(options,
                      "the --recursive option cannot be combined with --check; "
                      "--tree=DIR walks a tree");
    }
    if (options.HasFiles0From && !options.Operands.empty()) {
        return Refuse(options, "extra operand '" + options.Operands.front() +
                                   "'\nfile operands cannot be combined with --files0-from");
    }
    return options;
}

const char* HelpText() {
    return R"(Usage: quillsum [OPTION]... [FILE]...
  or:  quillsum -c [OPTION]... [LIST]...
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
  -c, --check             read identifiers from the LISTs and check them

The following options are useful only when verifying identifiers:
      --ignore-missing    don't fail or report status for missing files
      --quiet             don't print OK for each successfully verified file
      --status            don't output anything, status code shows success
      --strict            exit non-zero for improperly formatted identifier lines
  -w, --warn              warn about improperly formatted identifier lines
      --tree=DIR          also walk DIR and report every file no list names

      --help              display this help and exit
      --version           output version information and exit

A name holding a backslash, newline or carriage return is printed with a leading
backslash on its line, and those characters as \\, \n and \r.

Exit status: 0 when every file was identified (or matched its list), 1 when
checked files differ from their lists, 2 on any trouble (a file that could not
be read, a directory without -r, a bad option, output that could not be written).
)";
}

std::string VersionText() {
    return std::string("quillsum (quillmark) ") + QuillmarkVersion + "\n";
}

}  // namespace CX::Options
