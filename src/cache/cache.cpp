#include "cache/cache.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <tuple>

namespace CX::Cache {
namespace {

class StandardClock final : public IClock {
public:
    std::int64_t Now() const override {
        // From the system clock's epoch (1970) to the file times' (1601).
        constexpr std::int64_t From1601 = 116444736000000000;
        const auto since = std::chrono::system_clock::now().time_since_epoch();
        return From1601 + std::chrono::duration_cast<
                              std::chrono::duration<std::int64_t, std::ratio<1, Second>>>(since)
                              .count();
    }
};

bool SameFacts(const Entry& entry, const CX::IO::FileFacts& facts) {
    return entry.Identity == facts.Identity && entry.Length == facts.Size &&
           entry.LastWrite == facts.LastWrite && entry.Change == facts.Change;
}

bool Before(const CX::IO::FileIdentity& a, const CX::IO::FileIdentity& b) {
    return std::tie(a.Volume, a.IndexHigh, a.Index) < std::tie(b.Volume, b.IndexHigh, b.Index);
}

}  // namespace

const IClock& SystemClock() {
    static const StandardClock clock;
    return clock;
}

bool SafeToKeep(const CX::IO::FileFacts& facts, std::int64_t readFrom) {
    // A moment from a damaged record that checked by chance must not wrap around.
    if (readFrom < std::numeric_limits<std::int64_t>::min() + Granularity) {
        return false;
    }
    return facts.LastWrite < readFrom - Granularity && facts.Change < readFrom - Granularity;
}

bool Trusted(const Entry& entry, const CX::IO::FileFacts& facts) {
    return SameFacts(entry, facts) && entry.Record.Length() == facts.Size &&
           SafeToKeep(facts, entry.ReadFrom);
}

std::uint64_t IdentityHash::operator()(const CX::IO::FileIdentity& identity) const {
    // A multiply and xor-shift finish (as in MurmurHash3's) over the three words.
    std::uint64_t h = identity.Index ^ (identity.Volume * 0x9E3779B97F4A7C15u) ^
                      (identity.IndexHigh * 0xC2B2AE3D27D4EB4Fu);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    h ^= h >> 33;
    return h;
}

// In a table over a power of two of slots, at most half of them taken, probed in turn from
// the identity's hash: the slot holding the record identityOf tells is the file's, or the
// free slot where it would go, and in tag the tag a record placed there takes. A slot's tag
// (the hash's high half) settles almost every probe without the record itself, which lies
// elsewhere in memory: a first run inserts every file, and a look at a record for each
// probe cost it more than the rest of the table's work.
template <class IdentityOf>
std::size_t SlotOf(const std::vector<Slot>& slots, const CX::IO::FileIdentity& identity,
                   IdentityOf identityOf, std::uint32_t& tag) {
    const std::uint64_t hash = IdentityHash()(identity);
    tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots[at];
        if (slot.Number == 0 || (slot.Tag == tag && identityOf(slot.Number) == identity)) {
            return at;
        }
    }
}

// Slots for a table of this many records: a power of two, at least twice as many.
std::size_t TableSize(std::size_t records) {
    std::size_t slots = 16;
    while (slots < 2 * records) {
        slots *= 2;
    }
    return slots;
}

void Cache::Start(std::vector<Entry> entries) {
    m_loaded = std::move(entries);
    m_indexed = 0;
    m_slots.assign(TableSize(m_loaded.size()), Slot{});
    const auto loaded = [this](std::uint32_t number) { return m_loaded[number - 1].Identity; };
    m_runMoment = m_clock.Now();
    // A slot holds a record's number plus one in 32 bits: past that many records, the rest
    // are not looked up (their files are read) and kept as they are.
    const std::size_t indexable = std::min<std::size_t>(m_loaded.size(), 0xFFFFFFFEu);
    for (std::size_t i = 0; i < indexable; ++i) {
        const Entry& entry = m_loaded[i];
        // A moment beyond the clock (a record from a clock set ahead) is never trusted: the
        // record stays out of the lookup and is replaced when the file is read.
        if (entry.ReadFrom > m_runMoment) {
            continue;
        }
        m_dropsDue = m_dropsDue || entry.LastSeen < m_runMoment - KeepUnseen;
        std::uint32_t tag = 0;
        Slot& slot = m_slots[SlotOf(m_slots, entry.Identity, loaded, tag)];
        if (slot.Number == 0) {
            ++m_indexed;
            slot = Slot{static_cast<std::uint32_t>(i + 1), tag};
        } else if (m_loaded[slot.Number - 1].ReadFrom < entry.ReadFrom) {
            slot.Number = static_cast<std::uint32_t>(i + 1);
        }
    }
}

std::size_t Cache::Find(const CX::IO::FileIdentity& identity) const {
    if (m_indexed == 0) {
        return NotFound;
    }
    std::uint32_t tag = 0;
    const auto loaded = [this](std::uint32_t number) { return m_loaded[number - 1].Identity; };
    const Slot slot = m_slots[SlotOf(m_slots, identity, loaded, tag)];
    return slot.Number == 0 ? NotFound : slot.Number - 1;
}

std::optional<CX::Hash::ContentRecord> Cache::Lookup(const CX::IO::FileFacts& facts) const {
    const std::size_t at = Find(facts.Identity);
    if (at == NotFound || !Trusted(m_loaded[at], facts)) {
        return std::nullopt;
    }
    return m_loaded[at].Record;
}

bool Cache::Known(const CX::IO::FileFacts& facts, CX::Hash::ContentRecord& record) const {
    const std::optional<CX::Hash::ContentRecord> found = Lookup(facts);
    if (found) {
        record = *found;
    }
    return found.has_value();
}

bool Cache::Encode(const CX::IO::FileFacts& facts, const CX::Hash::ContentRecord& record,
                   std::int64_t readFrom, std::uint8_t* out) const {
    // A file that grew or shrank while it was read has no one length to record.
    if (record.Length() != facts.Size || !SafeToKeep(facts, readFrom)) {
        return false;
    }
    Entry entry;
    entry.Identity = facts.Identity;
    entry.Length = facts.Size;
    entry.LastWrite = facts.LastWrite;
    entry.Change = facts.Change;
    entry.ReadFrom = readFrom;
    entry.LastSeen = m_runMoment;
    entry.Record = record;
    EncodeEntry(entry, out);
    return true;
}

void Cache::Offer(const CX::IO::FileFacts& facts, const CX::Hash::ContentRecord& record,
                  std::int64_t readFrom) {
    std::uint8_t encoded[RecordSize];
    if (Encode(facts, record, readFrom, encoded)) {
        OfferEncoded(encoded);
    }
}

void Cache::OfferEncoded(const std::uint8_t* encoded) {
    const std::size_t at = m_freshCount % BlockRecords;
    if (at == 0) {
        // Left as new does (no zeroes written first): every byte is copied before it counts.
        m_blocks.emplace_back(new std::uint8_t[BlockRecords * RecordSize]);
    }
    std::memcpy(m_blocks.back().get() + at * RecordSize, encoded, RecordSize);
    ++m_freshCount;
}

std::vector<Cache::Piece> Cache::Kept() const {
    // Of two readings of one file (two names of it), the one Merged keeps: the later; of
    // two begun at one moment with one identifier, the later seen; else the first. Told
    // here, at the save, from a table the records pass through in the order they came,
    // rather than as each came: then the table, evicted from the processor's caches by
    // the reading between two deliveries, cost the delivering thread a miss per file.
    std::vector<char> superseded(m_freshCount, 0);
    std::vector<Slot> slots(TableSize(m_freshCount), Slot{});
    const auto fresh = [this](std::uint32_t number) { return IdentityOf(FreshAt(number - 1)); };
    for (std::size_t i = 0; i < m_freshCount; ++i) {
        const CX::IO::FileIdentity identity = IdentityOf(FreshAt(i));
        std::uint32_t tag = 0;
        Slot& slot = slots[SlotOf(slots, identity, fresh, tag)];
        if (slot.Number == 0) {
            slot = Slot{static_cast<std::uint32_t>(i + 1), tag};
            continue;
        }
        const Entry held = DecodeOwn(FreshAt(slot.Number - 1));
        const Entry next = DecodeOwn(FreshAt(i));
        if (held.ReadFrom < next.ReadFrom ||
            (held.ReadFrom == next.ReadFrom && held.Record == next.Record &&
             held.LastSeen < next.LastSeen)) {
            superseded[slot.Number - 1] = 1;
            slot.Number = static_cast<std::uint32_t>(i + 1);
        } else {
            superseded[i] = 1;
        }
    }
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < m_freshCount;) {
        if (superseded[i] != 0) {
            ++i;
            continue;
        }
        // A run of kept records within one block.
        std::size_t end = i + 1;
        while (end < m_freshCount && superseded[end] == 0 && end % BlockRecords != 0) {
            ++end;
        }
        pieces.push_back(Piece{FreshAt(i), (end - i) * RecordSize});
        i = end;
    }
    return pieces;
}

void Cache::Seen(const CX::IO::FileFacts& facts) {
    const std::size_t at = Find(facts.Identity);
    if (at == NotFound) {
        return;
    }
    if (m_loaded[at].LastSeen < m_runMoment - SeenRenewal) {
        Entry renewed = m_loaded[at];
        renewed.LastSeen = m_runMoment;
        std::uint8_t encoded[RecordSize];
        EncodeEntry(renewed, encoded);
        OfferEncoded(encoded);
    }
}

std::vector<Entry> Cache::Merged(const std::vector<Entry>& onDisk) const {
    std::vector<Entry> all;
    all.reserve(onDisk.size() + m_freshCount);
    all.insert(all.end(), onDisk.begin(), onDisk.end());
    for (std::size_t i = 0; i < m_freshCount; ++i) {
        all.push_back(DecodeOwn(FreshAt(i)));
    }
    // In the order of identities, so that the same records always give the same file; of
    // one file's records, in the order they came (the file's, then this run's).
    std::stable_sort(all.begin(), all.end(),
                     [](const Entry& a, const Entry& b) { return Before(a.Identity, b.Identity); });
    const std::int64_t oldest = m_clock.Now() - KeepUnseen;
    std::vector<Entry> entries;
    entries.reserve(all.size());
    for (std::size_t first = 0; first < all.size();) {
        // Of two records of one file, the one whose reading began later describes it as it
        // is now; when both say the same, the later sighting counts.
        Entry held = all[first];
        std::size_t next = first + 1;
        for (; next < all.size() && all[next].Identity == held.Identity; ++next) {
            const Entry& entry = all[next];
            if (held.ReadFrom < entry.ReadFrom) {
                held = entry;
            } else if (held.ReadFrom == entry.ReadFrom && held.Record == entry.Record) {
                held.LastSeen = std::max(held.LastSeen, entry.LastSeen);
            }
        }
        if (held.LastSeen >= oldest) {
            entries.push_back(held);
        }
        first = next;
    }
    return entries;
}

}  // namespace CX::Cache
