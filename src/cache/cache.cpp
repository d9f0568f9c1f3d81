#include "cache/cache.h"

#include <algorithm>
#include <chrono>
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

std::size_t IdentityHash::operator()(const CX::IO::FileIdentity& identity) const {
    std::uint64_t h = identity.Volume * 0x9E3779B97F4A7C15u;
    h ^= identity.Index + 0x632BE59BD9B4E019u + (h << 6) + (h >> 2);
    h ^= identity.IndexHigh + 0x94D049BB133111EBu + (h << 6) + (h >> 2);
    return static_cast<std::size_t>(h);
}

void Cache::Start(std::vector<Entry> entries) {
    m_loaded = std::move(entries);
    m_index.clear();
    m_index.reserve(m_loaded.size());
    const std::int64_t now = m_clock.Now();
    for (std::size_t i = 0; i < m_loaded.size(); ++i) {
        const Entry& entry = m_loaded[i];
        // A moment beyond the clock (a record from a clock set ahead) is never trusted: the
        // record stays out of the lookup and is replaced when the file is read.
        if (entry.ReadFrom > now) {
            continue;
        }
        auto [at, added] = m_index.try_emplace(entry.Identity, i);
        if (!added && m_loaded[at->second].ReadFrom < entry.ReadFrom) {
            at->second = i;
        }
        m_dropsDue = m_dropsDue || entry.LastSeen < now - KeepUnseen;
    }
}

std::optional<CX::Hash::ContentRecord> Cache::Lookup(const CX::IO::FileFacts& facts) const {
    const auto at = m_index.find(facts.Identity);
    if (at == m_index.end() || !Trusted(m_loaded[at->second], facts)) {
        return std::nullopt;
    }
    return m_loaded[at->second].Record;
}

bool Cache::Known(const CX::IO::FileFacts& facts, CX::Hash::ContentRecord& record) const {
    const std::optional<CX::Hash::ContentRecord> found = Lookup(facts);
    if (found) {
        record = *found;
    }
    return found.has_value();
}

void Cache::Offer(const CX::IO::FileFacts& facts, const CX::Hash::ContentRecord& record,
                  std::int64_t readFrom) {
    // A file that grew or shrank while it was read has no one length to record.
    if (record.Length() != facts.Size || !SafeToKeep(facts, readFrom)) {
        return;
    }
    Entry entry;
    entry.Identity = facts.Identity;
    entry.Length = facts.Size;
    entry.LastWrite = facts.LastWrite;
    entry.Change = facts.Change;
    entry.ReadFrom = readFrom;
    entry.LastSeen = m_clock.Now();
    entry.Record = record;
    m_fresh.push_back(entry);
}

void Cache::Seen(const CX::IO::FileFacts& facts) {
    const auto at = m_index.find(facts.Identity);
    if (at == m_index.end()) {
        return;
    }
    const std::int64_t now = m_clock.Now();
    if (m_loaded[at->second].LastSeen < now - SeenRenewal) {
        Entry renewed = m_loaded[at->second];
        renewed.LastSeen = now;
        m_fresh.push_back(renewed);
    }
}

std::vector<Entry> Cache::Merged(const std::vector<Entry>& onDisk) const {
    std::unordered_map<CX::IO::FileIdentity, Entry, IdentityHash> merged;
    merged.reserve(onDisk.size() + m_fresh.size());
    // Of two records of one file, the one whose reading began later describes it as it is
    // now; when both say the same, the later sighting counts.
    const auto keep = [&merged](const Entry& entry) {
        auto [at, added] = merged.try_emplace(entry.Identity, entry);
        Entry& held = at->second;
        if (added || held.ReadFrom < entry.ReadFrom) {
            held = entry;
        } else if (held.ReadFrom == entry.ReadFrom && held.Record == entry.Record) {
            held.LastSeen = std::max(held.LastSeen, entry.LastSeen);
        }
    };
    for (const Entry& entry : onDisk) {
        keep(entry);
    }
    for (const Entry& entry : m_fresh) {
        keep(entry);
    }
    const std::int64_t oldest = m_clock.Now() - KeepUnseen;
    std::vector<Entry> entries;
    entries.reserve(merged.size());
    for (const auto& [identity, entry] : merged) {
        if (entry.LastSeen >= oldest) {
            entries.push_back(entry);
        }
    }
    // In the order of identities, so that the same records always give the same file.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return Before(a.Identity, b.Identity); });
    return entries;
}

}  // namespace CX::Cache
