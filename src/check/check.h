#pragma once

#include "options/options.h"
#include "workers/identify.h"

namespace CX::Check {

// Checks the files named by each list of the operands ("-", or none: standard input) against their
// identifiers, with sha256sum -c's lines, messages and options, then, with a tree, names every file
// under it that no list names. Returns the exit status: 0 when every listed file matched,
// 1 when the files differ from the lists (a mismatch, a missing file, a file no list
// names), 2 for any trouble, which wins.
int RunCheck(const CX::Options::Options& options, unsigned jobs,
             CX::Workers::IReadObserver* observer);

}  // namespace CX::Check
