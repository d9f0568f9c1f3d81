#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cache/cache.h"
#include "cache/cache_format.h"
#include "platform/win32.h"

namespace CX::Cache {

// The cache file at a path, and three files beside it: PATH.lock, whose first byte a run
// holds locked while it reads the cache (shared) or replaces it (alone), and whose second
// byte the one run that writes PATH.run holds while it does; PATH.tmp, a new cache before it
// is renamed over the old; and PATH.run, a first run's records as it learns them, renamed
// over the cache when the run ends with no other records to merge. Every call goes through
// the platform's Win32 names.
class CacheFile final : public IBlockSink {
public:
    explicit CacheFile(std::string path);
    ~CacheFile();
    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;

    // The records the file holds; a missing file holds none. False with the words when it
    // could not be read or is none of ours: the run goes on without it, and it is never
    // replaced.
    bool Load(std::vector<Entry>& entries, std::string& problem);

    // When the file held no record, and no other run writes PATH.run: cache's records go to
    // PATH.run as blocks of them fill, before the save. Silent: whatever fails here leaves
    // the save to write every record.
    void Stream(Cache& cache);

    // Replaces the file by what it holds now merged with what cache learned, while no other
    // run reads or replaces it: the new file is written beside it, flushed to the disk, and
    // renamed over it, so that the file is always the old cache or the new one, whole.
    // True at once when the cache has nothing to add; false with the words when the old
    // file stays.
    bool Save(const Cache& cache, std::string& problem);

    void Filled(const std::uint8_t* data, std::size_t size) override;

private:
    class Lock;
    // Closes PATH.run, removes it unless it became the cache, and lets another run write it.
    void EndStream(bool removed);
    bool FinishStream(const Cache& cache, std::string& problem);

    bool m_usable = false;      // loaded, and ours to replace
    bool m_loadedNone = false;  // and it held no record
    std::string m_path;
    std::unique_ptr<Lock> m_streamLock;      // PATH.lock's second byte, while PATH.run is ours
    HANDLE m_stream = INVALID_HANDLE_VALUE;  // PATH.run, while every write to it went well
};

}  // namespace CX::Cache
