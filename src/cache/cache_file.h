#pragma once

#include <string>
#include <vector>

#include "cache/cache.h"
#include "cache/cache_format.h"

namespace CX::Cache {

// The cache file at a path, and two files beside it: PATH.lock, which a run holds locked
// while it reads the cache (shared) or replaces it (alone), and PATH.tmp, the new cache
// before it is renamed over the old. Every call goes through the platform's Win32 names.
class CacheFile {
public:
    explicit CacheFile(std::string path) : m_path(std::move(path)) {}

    // The records the file holds; a missing file holds none. False with the words when it
    // could not be read or is none of ours: the run goes on without it, and it is never
    // replaced.
    bool Load(std::vector<Entry>& entries, std::string& problem);

    // Replaces the file by what it holds now merged with what cache learned, while no other
    // run reads or replaces it: the new file is written beside it, flushed to the disk, and
    // renamed over it, so that the file is always the old cache or the new one, whole.
    // True at once when the cache has nothing to add; false with the words when the old
    // file stays.
    bool Save(const Cache& cache, std::string& problem);

private:
    bool m_usable = false;  // loaded, and ours to replace
    std::string m_path;
};

}  // namespace CX::Cache
