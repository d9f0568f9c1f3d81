#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cache/cache_format.h"
#include "hash/content_record.h"
#include "io/file_facts.h"
#include "workers/identify.h"

namespace CX::Cache {

// The time now, in the file times' units (100 ns since 1601). Tests bring their own.
class IClock {
public:
    virtual std::int64_t Now() const = 0;

protected:
    ~IClock() = default;
};
const IClock& SystemClock();

inline constexpr std::int64_t Second = 10'000'000;
// How much older than the moment its bytes began to be read a file's times must be before
// its record is trusted. A change made after that moment gives the file times no earlier
// than the moment less the file system's step: FAT keeps 2 s, a kernel's coarse clock a few
// milliseconds, and a file server's clock may stand a little behind ours. Three seconds
// covers them all; too large costs only a file changed in the last seconds before a run
// read once more in the next.
inline constexpr std::int64_t Granularity = 3 * Second;
// A record whose file no run has found for this long is dropped.
inline constexpr std::int64_t KeepUnseen = 30 * 24 * 3600 * Second;
// A record found again has its last-seen moment renewed only when it is this old: a run
// over an unchanged tree then has nothing to write.
inline constexpr std::int64_t SeenRenewal = 24 * 3600 * Second;

// The racy rule: entry stands for the bytes of the file these facts describe only when
// every fact is equal and neither time is within Granularity of the moment the bytes began
// to be read. A change within that step of the read may have kept every fact.
// The change time is what keeps a record from answering for a file that may no longer be
// read as it was: changing its permissions (chmod 000 after it was recorded) moves it, so
// such a file is opened again, whether its facts came from a handle or its folder's
// listing, and is refused as it would be without the cache.
bool Trusted(const Entry& entry, const CX::IO::FileFacts& facts);
// Whether a record of these facts, read from that moment on, may ever be trusted.
bool SafeToKeep(const CX::IO::FileFacts& facts, std::int64_t readFrom);

// Every bit of an identity moves every bit of its hash: inodes and file indexes come
// nearly in sequence, and a table indexed by the low bits must not see them bunched.
struct IdentityHash {
    std::uint64_t operator()(const CX::IO::FileIdentity& identity) const;
};

// A place in a table of records by identity: the record's number plus one (0: free), and
// the high half of its identity's hash.
struct Slot {
    std::uint32_t Number = 0;
    std::uint32_t Tag = 0;
};

// The records of one run: those the file held when it started, looked up by any number of
// threads at once, and what the run learned since, kept apart by the one thread that
// delivers results (Offer, Seen), so that a lookup never meets a write.
class Cache final : public CX::Workers::IKnownFiles {
public:
    explicit Cache(const IClock& clock = SystemClock())
        : m_clock(clock), m_runMoment(clock.Now()) {}

    // The records the file held as the run starts; the run's records count its files as
    // found at this moment.
    void Start(std::vector<Entry> entries);

    // Whether the file held no record the run may use: then no file is known.
    bool Empty() const { return m_indexed == 0; }

    // The identifier of the file these facts describe, when a record may stand for it.
    std::optional<CX::Hash::ContentRecord> Lookup(const CX::IO::FileFacts& facts) const;

    // On any thread: the record of a file read whole from the moment readFrom on, as the
    // file holds it (RecordSize bytes at out, its checksum made), so that the workers make
    // it and the delivering thread only keeps it. False, and nothing made, when no record of
    // that reading is to be kept: it grew or shrank while read, or changed too lately.
    bool Encode(const CX::IO::FileFacts& facts, const CX::Hash::ContentRecord& record,
                std::int64_t readFrom, std::uint8_t* out) const;
    // On the delivering thread: a record Encode made; a file read whole, made here; and a
    // file whose identifier Lookup gave.
    void OfferEncoded(const std::uint8_t* encoded);
    void Offer(const CX::IO::FileFacts& facts, const CX::Hash::ContentRecord& record,
               std::int64_t readFrom);
    void Seen(const CX::IO::FileFacts& facts);

    // Whether the file would change: a new record, a renewed one, or one to drop.
    bool Changed() const { return m_freshCount != 0 || m_dropsDue; }
    // The records to write: those the file holds now (another run may have written it
    // since this one started), with what this run learned, less those unseen too long.
    std::vector<Entry> Merged(const std::vector<Entry>& onDisk) const;

    // What this run learned, as a file holds it: each record encoded, its checksum made,
    // as it came, in blocks. The pieces of them a merge with no other record keeps, in the
    // order they came: of two readings of one file (two names of it), the later, as Merged
    // keeps it. A file that holds nothing else is written from them as they stand: a first
    // run's save then sorts, copies and checksums nothing.
    struct Piece {
        const std::uint8_t* Data;
        std::size_t Size;
    };
    std::vector<Piece> Kept() const;

    std::int64_t Now() const override { return m_clock.Now(); }
    bool Known(const CX::IO::FileFacts& facts, CX::Hash::ContentRecord& record) const override;

private:
    static constexpr std::size_t NotFound = ~std::size_t{0};
    // Which loaded record is the file's; NotFound when none is.
    std::size_t Find(const CX::IO::FileIdentity& identity) const;

    const IClock& m_clock;
    std::vector<Entry> m_loaded;
    // The loaded records by identity: open addressing over a power of two of slots, at most
    // half of them taken, probed in turn. One look in a flat table where a node map takes a
    // bucket and a node: a warm run over a large tree looks up every file.
    std::vector<Slot> m_slots;
    std::size_t m_indexed = 0;
    // The encoded bytes of the run's i-th record.
    const std::uint8_t* FreshAt(std::size_t i) const {
        return m_blocks[i / BlockRecords].get() + (i % BlockRecords) * RecordSize;
    }
    static constexpr std::size_t BlockRecords = 4096;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_blocks;
    std::size_t m_freshCount = 0;
    // The moment a record of this run says the file was last found: the run's start.
    std::int64_t m_runMoment;
    bool m_dropsDue = false;
};

}  // namespace CX::Cache
