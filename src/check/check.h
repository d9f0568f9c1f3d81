#pragma once

#include <string>
#include <vector>

namespace CX::Check {

struct CheckOptions {
    bool Zero = false;  // records of the lists, and the lines printed, end in NUL
    bool Quiet = false;
    bool Status = false;
    bool Strict = false;
    bool Warn = false;
    bool IgnoreMissing = false;
    bool FollowLinks = false;  // in the --tree walk
    unsigned Jobs = 1;
    bool HasTree = false;
    std::string Tree;
};

// Checks the files named by each list ("-": standard input) against their identifiers,
// with sha256sum -c's lines, messages and options, then, with a tree, names every file
// under it that no list names. Returns the exit status: 0 when every listed file matched,
// 1 when the files differ from the lists (a mismatch, a missing file, a file no list
// names), 2 for any trouble, which wins.
int RunCheck(const CheckOptions& options, const std::vector<std::string>& lists);

}  // namespace CX::Check
