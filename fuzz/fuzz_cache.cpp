// Fuzzes the reading of cache files, which may be damaged, cut short or not caches at all.
// Any bytes must never crash the reader, and every record it gives back must be one that
// checks where it stands in the file: a record slot whose bytes do not check never comes
// back. The records it gives, started as a run's cache, answer lookups of their own facts
// only under the racy rule, and merge into a file that reads back as the records merged.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cache/cache.h"
#include "cache/cache_format.h"
#include "hash/content_digest.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_cache: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

// A clock at the latest moment any record names, so that records are taken as they are.
class FixedClock final : public CX::Cache::IClock {
public:
    std::int64_t Now() const override { return At; }
    std::int64_t At = 0;
};

CX::IO::FileFacts FactsOf(const CX::Cache::Entry& entry) {
    CX::IO::FileFacts facts;
    facts.Identity = entry.Identity;
    facts.Size = entry.Length;
    facts.LastWrite = entry.LastWrite;
    facts.Change = entry.Change;
    return facts;
}

void CheckLookups(const std::vector<CX::Cache::Entry>& entries) {
    FixedClock clock;
    for (const CX::Cache::Entry& entry : entries) {
        clock.At = entry.ReadFrom > clock.At ? entry.ReadFrom : clock.At;
    }
    CX::Cache::Cache cache(clock);
    cache.Start(entries);
    for (const CX::Cache::Entry& entry : entries) {
        const auto found = cache.Lookup(FactsOf(entry));
        if (!found) {
            continue;
        }
        // Whichever record of that identity answered, it holds under the rule.
        bool trusted = false;
        for (const CX::Cache::Entry& other : entries) {
            trusted =
                trusted || (other.Record == *found && CX::Cache::Trusted(other, FactsOf(entry)));
        }
        Check(trusted, "a lookup answered from a record the rule does not trust");
    }
    const std::vector<CX::Cache::Entry> merged = cache.Merged(entries);
    std::vector<std::uint8_t> bytes(CX::Cache::HeaderSize + merged.size() * CX::Cache::RecordSize);
    CX::Cache::EncodeHeader(bytes.data());
    for (std::size_t i = 0; i < merged.size(); ++i) {
        CX::Cache::EncodeEntry(merged[i],
                               bytes.data() + CX::Cache::HeaderSize + i * CX::Cache::RecordSize);
    }
    Check(CX::Cache::DecodeFile(bytes.data(), bytes.size()).Entries == merged,
          "a merged file does not read back");
}

// The checksum as the format defines it, from the library's own SHA-256: the first 24
// bytes of the digest of the record's first 104.
bool Checks(const std::uint8_t* slot) {
    CX::Hash::ContentDigest digest;
    CX::Hash::ContentRecord record;
    Check(digest.Reset().IsSuccess() && digest.Update(slot, 104).IsSuccess() &&
              digest.Final(record).IsSuccess(),
          "the oracle failed");
    for (std::size_t i = 0; i < 24; ++i) {
        if (record.Bytes[8 + i] != slot[104 + i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const CX::Cache::DecodedFile file = CX::Cache::DecodeFile(data, size);
    if (file.Kind != CX::Cache::FileKind::Ours) {
        Check(file.Entries.empty(), "records from a file that is none of ours");
        return 0;
    }
    // Each slot that checks, in order, and nothing else.
    std::size_t next = 0;
    for (std::size_t at = CX::Cache::HeaderSize; size - at >= CX::Cache::RecordSize;
         at += CX::Cache::RecordSize) {
        CX::Cache::Entry entry;
        const bool decoded = CX::Cache::DecodeEntry(data + at, entry);
        Check(!decoded || Checks(data + at), "a record whose checksum does not hold");
        if (decoded) {
            Check(next < file.Entries.size() && file.Entries[next] == entry, "a record left out");
            ++next;
        }
    }
    Check(next == file.Entries.size(), "a record that does not check came back");
    CheckLookups(file.Entries);
    return 0;
}
