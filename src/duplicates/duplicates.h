#pragma once

#include "cache/cache.h"
#include "options/options.h"
#include "workers/identify.h"

namespace CX::Duplicates {

// Walks the operands (and those of --files0-from) and prints the groups of files that hold
// the same bytes, in the walk order of their first files: each a group of identifier lines
// that quillsum -c checks. Returns the exit status: 0 when the run completed, whether or
// not it found duplicates; 2 when anything could not be walked or read. With a cache, a
// file whose facts it knows is not read, and what is read whole is offered to it.
int RunDuplicates(const CX::Options::Options& options, unsigned jobs,
                  CX::Workers::IReadObserver* observer, CX::Cache::Cache* cache);

}  // namespace CX::Duplicates
