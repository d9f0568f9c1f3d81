#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace CX::Options {

// What only check mode reads, as the command line gave it.
struct CheckOptions {
    bool Quiet = false;
    bool Status = false;
    bool Strict = false;
    bool Warn = false;
    bool IgnoreMissing = false;
    bool HasTree = false;
    std::string Tree;
};

// What only duplicates mode reads.
struct DuplicateOptions {
    std::uint64_t MinSize = 1;  // files shorter than this are not compared
    bool HasMinSize = false;
    bool Json = false;
    bool Summary = false;
};

// What the command line asked for.
struct Options {
    enum class Action { Run, Help, Version, Refused };
    Action What = Action::Run;
    std::string Refusal;  // with Refused: the message, without the program's name

    bool Recursive = false;
    bool Dereference = false;
    bool Zero = false;
    bool Progress = false;
    bool Check = false;
    CheckOptions Checking;
    bool Duplicates = false;
    DuplicateOptions Duplicating;
    unsigned Jobs = 0;  // 0: one per processor
    bool HasFiles0From = false;
    std::string Files0From;
    bool HasCache = false;
    std::string Cache;  // the cache file of --cache
    std::vector<std::string> Operands;
};

// Reads the arguments as GNU tools do: short options may be bundled (-rz) and take their
// value joined or as the next argument (-j4, -j 4); long options may be shortened to any
// unambiguous prefix and take their value after '=' or as the next argument; options and
// operands may be mixed; "--" ends the options and "-" alone is an operand.
Options Parse(int argc, char** argv);

// The --help and --version texts.
const char* HelpText();
std::string VersionText();

}  // namespace CX::Options
