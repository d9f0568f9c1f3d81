#include "duplicates/compare.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "io/file_input_stream.h"

namespace CX::Duplicates {
namespace {

using CX::Workers::Failure;

bool Before(const CX::Hash::ContentRecord& a, const CX::Hash::ContentRecord& b) {
    return std::memcmp(a.Bytes, b.Bytes, sizeof a.Bytes) < 0;
}

// The members met so far, by identity: open addressing over their numbers, so that a file
// costs a few bytes here rather than a node of its own.
class IdentitySet {
public:
    explicit IdentitySet(const std::vector<Found>& files) : m_files(files) {}

    // False when a member met before has at's identity.
    bool Insert(std::size_t at) {
        if ((m_count + 1) * 2 > m_slots.size()) {
            Grow();
        }
        std::uint32_t* slot = Find(m_files[at].Identity);
        if (*slot != 0) {
            return false;
        }
        *slot = static_cast<std::uint32_t>(at + 1);
        ++m_count;
        return true;
    }
    std::size_t Count() const { return m_count; }

private:
    static std::size_t Hash(const CX::IO::FileIdentity& identity) {
        std::uint64_t h = identity.Index * 0x9E3779B97F4A7C15u;
        h ^= (identity.Volume + (identity.IndexHigh << 1)) * 0xC2B2AE3D27D4EB4Fu;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
    // The slot that holds identity, or the empty one where it would go.
    std::uint32_t* Find(const CX::IO::FileIdentity& identity) {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = Hash(identity) & mask;; i = (i + 1) & mask) {
            if (m_slots[i] == 0 || m_files[m_slots[i] - 1].Identity == identity) {
                return &m_slots[i];
            }
        }
    }
    void Grow() {
        std::vector<std::uint32_t> old(std::max<std::size_t>(16, 2 * m_slots.size()), 0);
        old.swap(m_slots);
        for (const std::uint32_t number : old) {
            if (number != 0) {
                *Find(m_files[number - 1].Identity) = number;
            }
        }
    }

    const std::vector<Found>& m_files;
    std::vector<std::uint32_t> m_slots;  // a member's number + 1; 0 is empty
    std::size_t m_count = 0;
};

// At most this many files whose first blocks are one are read on side by side (a block of
// each at once); a larger run of them is read on one file after another.
constexpr std::size_t Together = 8;

// Files no longer than a first block, read whole, are held rather than hashed while their
// size is compared: a file whose bytes no other holds is never hashed, and files alike are
// hashed once for all of them: over /usr/share, hashing every one of them took a twentieth
// of the run's processor time, for files most of which no other matches. A size's files
// are held in as many bytes as this many first blocks (a MiB), each file's bytes and its
// number together; past that, each is hashed as it is read.
constexpr std::uint64_t HeldBlocks = 64;

// The open paths made at once.
constexpr std::size_t PathBatch = 128;

// A compared file is only read, unless a cache asks its facts: its type costs no call.
constexpr auto WhenNeeded = CX::IO::FileInputStream::TypeAsked::WhenNeeded;

// What is kept of a file longer than a first block while it is compared: only while its
// first block is read and the rest is not.
struct Part {
    CX::Workers::PartRead Read;
    CX::IO::FileFacts Facts;       // of the handle the first block was read from
    CX::Hash::ContentRecord Head;  // the identifier of the first block
};

class Comparison {
public:
    Comparison(const FileTable& table, std::vector<Found>& files, std::vector<Member>& members,
               CX::Workers::Identifier& identifier, CX::Workers::IReadObserver* observer,
               const CX::Workers::IKnownFiles* known, std::vector<MemberFacts>* facts,
               std::uint64_t firstBlock)
        : m_table(table),
          m_files(files),
          m_members(members),
          m_identifier(identifier),
          m_known(known),
          m_facts(facts),
          m_firstBlock(firstBlock),
          // Files no longer than a first block are read whole at once, and keep no part.
          m_long(!files.empty() && table.Size(files.front().File) > firstBlock),
          m_parts(m_long ? files.size() : 0),
          m_observer(observer) {
        // With known files every record read whole is wanted (the cache is offered it), and
        // members are matched against known records: nothing is held then.
        if (!m_long && m_known == nullptr && !files.empty()) {
            m_heldSize = static_cast<std::size_t>(table.Size(files.front().File));
            const std::uint64_t place = m_heldSize + sizeof(std::size_t);  // bytes and number
            m_slots = static_cast<std::size_t>(std::min<std::uint64_t>(
                files.size(), std::max<std::uint64_t>(2, HeldBlocks * firstBlock / place)));
        }
        m_members.assign(files.size(), Member{});
        if (m_facts != nullptr) {
            m_facts->assign(files.size(), MemberFacts{});
        }
    }

    void Run() {
        OpenAll();
        SortHeld();
        ReadOnWhereHeadsMeet();
        KeepShared();
    }

private:
    void OpenAll();
    // Takes what is needed of an opened member's handle; false when it is failed, a file
    // met before, or known.
    bool Known(CX::IO::FileInputStream& stream, std::size_t at, IdentitySet& seen);
    void ReadFirst(CX::IO::FileInputStream& stream, std::size_t at);
    // A file no longer than a first block, read whole.
    void ReadShort(CX::IO::FileInputStream& stream, std::size_t at);
    // Where the next short file is read to: a held place while there is one, or the buffer
    // whose bytes are hashed at once.
    std::uint8_t* ShortBuffer();
    // The bytes held in place k, and the record of such bytes.
    const std::uint8_t* Held(std::size_t k) const { return m_heldBytes.get() + k * m_heldSize; }
    void HeldRecord(const std::uint8_t* bytes, CX::Hash::ContentRecord& record);
    // Hashes the held files' bytes, each into its record: no more are held.
    void HashHeld();
    // The held files whose bytes another one holds too are Identified, by one hash of their
    // bytes; each of the others is Unique, never hashed.
    void SortHeld();
    void ReadOnWhereHeadsMeet();
    // Opens at again to read on: where its first read stopped, or from its start (anew)
    // when it is not the file it was then. Null when it failed.
    std::unique_ptr<CX::IO::FileInputStream> Reopen(std::size_t at, bool& anew);
    void ReadRest(std::size_t at);
    void ReadToEnd(CX::IO::FileInputStream& stream, std::size_t at);
    struct Reader;
    void ReadOnTogether(const std::size_t* first, std::size_t count);
    // Reads each reader's last bytes and holds them; a reader whose last bytes no other has
    // is left Unique. The others' groups, by their last bytes, go in groups.
    void CompareTails(std::vector<Reader>& readers, std::vector<std::vector<Reader*>>& groups);
    // Reads exactly length bytes at offset into pTo; false (and at failed) when a read failed,
    // and short when the file ended first.
    bool ReadAt(Reader& reader, std::uint64_t offset, std::uint8_t* pTo, std::uint32_t length,
                bool& isShort);
    // A block of reader's file, as much as it holds; false when a read failed.
    bool Fill(Reader& reader);
    // Fails reader's file with the last error (its read or seek just failed) and closes it;
    // always false.
    bool Drop(Reader& reader);
    void KeepShared();
    // The members whose verdict is what, ordered by their records (heads for Begun).
    std::vector<std::size_t> Ordered(Verdict what) const;

    std::int64_t Now() const { return m_known != nullptr ? m_known->Now() : 0; }
    void Fail(std::size_t at, Failure what, DWORD error) {
        m_members[at].What = Verdict::Failed;
        m_members[at].Failure = what;
        m_members[at].Error = error;
        if (m_long) {
            m_parts[at].reset();
        }
    }
    // Where the reading of at ended, in the member.
    void Ended(std::size_t at, bool read) {
        Member& member = m_members[at];
        member.ReadWhole = read;
        if (!read) {
            member.What = Verdict::Failed;
            member.Failure = m_outcome.What;
            member.Error = m_outcome.Error;
            return;
        }
        Identified(at, m_outcome.Record);
    }
    void Identified(std::size_t at, const CX::Hash::ContentRecord& record) {
        m_members[at].What = Verdict::Identified;
        m_files[at].Record = record;
        if (m_facts != nullptr) {
            (*m_facts)[at].Record = record;
        }
    }
    // The open handle's size is not the one the walk saw: the file has changed, and what it
    // holds now may equal a file of another size, so it is read whatever its first block.
    bool Changed(std::size_t at) const {
        return m_parts[at]->Facts.Size != m_table.Size(m_files[at].File);
    }
    // at's open path.
    const char* Path(std::size_t at) {
        if (at < m_pathsFrom || at >= m_pathsFrom + m_pathAt.size()) {
            // The paths of the members from at on, a batch of them: members are opened in
            // turn, and a batch's paths are made at once (OpenPaths), in little memory
            // however many files a size has.
            m_pathsFrom = at;
            m_numbers.clear();
            for (std::size_t k = at; k < m_files.size() && k - at < PathBatch; ++k) {
                m_numbers.push_back(m_files[k].File);
            }
            m_table.OpenPaths(m_numbers.data(), m_numbers.size(), m_paths, m_pathAt);
        }
        return m_paths.c_str() + m_pathAt[at - m_pathsFrom];
    }
    const CX::Hash::ContentRecord& Key(std::size_t at) const {
        return m_members[at].What == Verdict::Begun ? m_parts[at]->Head : m_files[at].Record;
    }

    const FileTable& m_table;
    std::vector<Found>& m_files;
    std::vector<Member>& m_members;
    CX::Workers::Identifier& m_identifier;
    const CX::Workers::IKnownFiles* m_known;
    std::vector<MemberFacts>* m_facts;
    bool m_anyKnown = false;  // a member's identifier came from the known files
    const std::uint64_t m_firstBlock;
    const bool m_long;
    std::vector<std::unique_ptr<Part>> m_parts;  // with m_long, one a member while Begun
    CX::Workers::PartRead m_whole;               // a short file's read, reused
    CX::Workers::Outcome m_outcome;              // a read's outcome, reused
    CX::Workers::IReadObserver* m_observer;
    std::unique_ptr<std::uint8_t[]> m_blocks;  // a block for each file read on together
    std::unique_ptr<std::uint8_t[]> m_tails;   // and its last bytes, held until they are due
    std::unique_ptr<std::uint8_t[]> m_short;   // a short file whole, and a byte more
    // Short files held: m_slots places of the size's bytes each, and a byte more after the
    // last, filled in turn; m_held[k] is the member whose bytes are in place k.
    std::size_t m_slots = 0;
    std::size_t m_heldSize = 0;  // the size's length
    std::unique_ptr<std::uint8_t[]> m_heldBytes;
    std::vector<std::size_t> m_held;
    // The open paths of the members from m_pathsFrom on, as many as m_pathAt holds: each
    // begins at its m_pathAt.
    std::size_t m_pathsFrom = 0;
    std::vector<FileTable::Number> m_numbers;
    std::string m_paths;
    std::vector<std::size_t> m_pathAt;
};

void Comparison::OpenAll() {
    IdentitySet seen(m_files);
    // The first file met stays open, unread, until a second one is known: a size held by
    // one file under several names costs no read.
    std::unique_ptr<CX::IO::FileInputStream> held;
    std::size_t heldAt = 0;
    for (std::size_t at = 0; at < m_members.size(); ++at) {
        m_members[at].What = Verdict::Unique;
        if (m_facts != nullptr) {
            (*m_facts)[at].ReadFrom = Now();
        }
        auto stream = std::make_unique<CX::IO::FileInputStream>(Path(at), WhenNeeded);
        if (!Known(*stream, at, seen)) {
            continue;
        }
        if (seen.Count() == 1) {
            held = std::move(stream);
            heldAt = at;
            continue;
        }
        if (held) {
            ReadFirst(*held, heldAt);
            held.reset();
        }
        ReadFirst(*stream, at);
    }
    if (held && m_anyKnown) {
        ReadFirst(*held, heldAt);  // the one file left to read may hold a known file's bytes
    }
}

bool Comparison::Known(CX::IO::FileInputStream& stream, std::size_t at, IdentitySet& seen) {
    if (!stream.IsOpen()) {
        Fail(at, Failure::Open, stream.GetOpenError());
        return false;
    }
    Member& member = m_members[at];
    MemberFacts* facts = nullptr;
    if (m_facts != nullptr && stream.IsDiskFile()) {
        facts = &(*m_facts)[at];
    }
    if (m_long) {
        m_parts[at] = std::make_unique<Part>();
    }
    DWORD error = ERROR_SUCCESS;
    bool told;
    if (m_long || facts != nullptr) {
        CX::IO::FileFacts& taken = m_long ? m_parts[at]->Facts : facts->Facts;
        told = stream.GetFacts(taken, error);
        m_files[at].Identity = taken.Identity;
        if (facts != nullptr) {
            facts->Facts = taken;
            facts->Has = told;
        }
    } else {
        told = stream.GetIdentity(m_files[at].Identity, error);
    }
    if (!told) {
        Fail(at, Failure::Read, error);
        return false;
    }
    if (!seen.Insert(at)) {
        member.What = Verdict::SameFile;
        if (m_long) {
            m_parts[at].reset();
        }
        return false;
    }
    CX::Hash::ContentRecord record;
    if (facts != nullptr && m_known->Known(facts->Facts, record)) {
        Identified(at, record);
        member.WasKnown = true;
        m_anyKnown = true;
        if (m_long) {
            m_parts[at].reset();
        }
        return false;
    }
    return true;
}

void Comparison::ReadFirst(CX::IO::FileInputStream& stream, std::size_t at) {
    if (!m_long) {
        ReadShort(stream, at);
        return;
    }
    Part& part = *m_parts[at];
    if (!m_identifier.ReadPart(stream, stream.GetName(), m_firstBlock, part.Read, m_outcome)) {
        Ended(at, false);
        m_parts[at].reset();
        return;
    }
    if (part.Read.Ended) {
        Ended(at, true);
        m_parts[at].reset();
        return;
    }
    m_members[at].What = Verdict::Begun;
    part.Read.Digest.Final(part.Head);
}

std::vector<std::size_t> Comparison::Ordered(Verdict what) const {
    std::vector<std::size_t> found;
    for (std::size_t at = 0; at < m_members.size(); ++at) {
        if (m_members[at].What == what) {
            found.push_back(at);
        }
    }
    std::sort(found.begin(), found.end(),
              [this](std::size_t a, std::size_t b) { return Before(Key(a), Key(b)); });
    return found;
}

void Comparison::ReadShort(CX::IO::FileInputStream& stream, std::size_t at) {
    // Asked for one byte more than the walk saw, a read that delivers exactly the walk's
    // size has met the file's end: a disk file's read stops short only there. So a short
    // file costs one read, not a second one to hear that nothing follows. Anything else
    // (a file shrunk, or grown since the walk) is read on until a read delivers nothing.
    const std::uint64_t size = m_table.Size(m_files[at].File);
    std::uint8_t* const into = ShortBuffer();
    std::uint32_t got = 0;
    const Status status = stream.Read(into, static_cast<std::uint32_t>(size + 1), &got);
    m_whole.Digest.Reset();
    const bool read = status.IsSuccess() || status.Code == StatusCode::EndOfData;
    if (m_observer != nullptr) {
        m_observer->Started(stream.GetName());
        m_observer->Read(got);
    }
    if (read && got == size) {
        if (m_observer != nullptr) {
            m_observer->Finished();
        }
        if (into != m_short.get()) {
            m_held.push_back(at);
            m_members[at].What = Verdict::Identified;
            m_members[at].ReadWhole = true;
            return;
        }
        m_whole.Digest.Update(into, got);
        m_whole.Digest.Final(m_outcome.Record);
        Ended(at, true);
        return;
    }
    if (!read) {
        m_outcome.What = Failure::Read;
        m_outcome.Error = GetLastError();
        Ended(at, false);
        return;
    }
    // The rest from where that read stopped.
    m_whole.Digest.Update(into, got);
    Ended(at, m_identifier.ReadPart(stream, stream.GetName(), CX::Workers::Identifier::NoLimit,
                                    m_whole, m_outcome));
}

std::uint8_t* Comparison::ShortBuffer() {
    if (m_slots != 0 && m_held.size() == m_slots) {
        HashHeld();
    }
    if (m_slots != 0) {
        if (!m_heldBytes) {
            m_heldBytes.reset(new std::uint8_t[m_slots * m_heldSize + 1]);
        }
        return m_heldBytes.get() + m_held.size() * m_heldSize;
    }
    if (!m_short) {
        m_short.reset(new std::uint8_t[m_firstBlock + 1]);
    }
    return m_short.get();
}

void Comparison::HeldRecord(const std::uint8_t* bytes, CX::Hash::ContentRecord& record) {
    m_whole.Digest.Reset();
    m_whole.Digest.Update(bytes, m_heldSize);
    m_whole.Digest.Final(record);
}

void Comparison::HashHeld() {
    for (std::size_t k = 0; k < m_held.size(); ++k) {
        HeldRecord(Held(k), m_files[m_held[k]].Record);
    }
    m_held.clear();
    m_slots = 0;
    m_heldBytes.reset();
}

void Comparison::SortHeld() {
    if (m_held.empty()) {
        return;
    }
    std::vector<std::size_t> places(m_held.size());
    for (std::size_t k = 0; k < places.size(); ++k) {
        places[k] = k;
    }
    std::sort(places.begin(), places.end(), [this](std::size_t a, std::size_t b) {
        return std::memcmp(Held(a), Held(b), m_heldSize) < 0;
    });
    for (std::size_t i = 0; i < places.size();) {
        const std::uint8_t* const first = Held(places[i]);
        std::size_t end = i + 1;
        while (end < places.size() && std::memcmp(Held(places[end]), first, m_heldSize) == 0) {
            ++end;
        }
        if (end - i == 1) {
            m_members[m_held[places[i]]].What = Verdict::Unique;
        } else {
            CX::Hash::ContentRecord record;
            HeldRecord(first, record);
            for (std::size_t k = i; k < end; ++k) {
                Identified(m_held[places[k]], record);
            }
        }
        i = end;
    }
    m_held.clear();
}

void Comparison::ReadOnWhereHeadsMeet() {
    const std::vector<std::size_t> begun = Ordered(Verdict::Begun);
    for (std::size_t i = 0; i < begun.size();) {
        std::size_t end = i + 1;
        while (end < begun.size() && Key(begun[end]) == Key(begun[i])) {
            ++end;
        }
        if (end - i > 1 && end - i <= Together && !m_anyKnown) {
            ReadOnTogether(&begun[i], end - i);
        } else {
            for (std::size_t k = i; k < end; ++k) {
                if (end - i == 1 && !Changed(begun[k]) && !m_anyKnown) {
                    m_members[begun[k]].What = Verdict::Unique;
                } else {
                    ReadRest(begun[k]);
                }
            }
        }
        for (std::size_t k = i; k < end; ++k) {
            m_parts[begun[k]].reset();
        }
        i = end;
    }
}

std::unique_ptr<CX::IO::FileInputStream> Comparison::Reopen(std::size_t at, bool& anew) {
    Part& part = *m_parts[at];
    const std::int64_t openedAfter = Now();
    auto stream = std::make_unique<CX::IO::FileInputStream>(Path(at), WhenNeeded);
    CX::IO::FileFacts facts;
    DWORD error = ERROR_SUCCESS;
    if (!stream->IsOpen()) {
        Fail(at, Failure::Open, stream->GetOpenError());
        return nullptr;
    }
    if (!stream->GetFacts(facts, error)) {
        Fail(at, Failure::Read, error);
        return nullptr;
    }
    anew = !(facts.Identity == part.Facts.Identity) || facts.LastWrite != part.Facts.LastWrite ||
           facts.Change != part.Facts.Change;
    if (anew) {
        // Another file under the name now, or this one written since its first block was
        // read: what that block held may be gone, so the file is read anew from its start.
        m_files[at].Identity = facts.Identity;
        part.Facts = facts;
        part.Read.Digest.Reset();
        if (m_facts != nullptr) {
            MemberFacts& kept = (*m_facts)[at];
            kept.Has = stream->IsDiskFile();
            kept.Facts = facts;
            kept.ReadFrom = openedAfter;
        }
    } else if (!stream->Seek(part.Read.Digest.Count()).IsSuccess()) {
        Fail(at, Failure::Read, GetLastError());
        return nullptr;
    }
    return stream;
}

void Comparison::ReadRest(std::size_t at) {
    bool anew = false;
    if (std::unique_ptr<CX::IO::FileInputStream> stream = Reopen(at, anew)) {
        ReadToEnd(*stream, at);
    }
}

void Comparison::ReadToEnd(CX::IO::FileInputStream& stream, std::size_t at) {
    Ended(at, m_identifier.ReadPart(stream, stream.GetName(), CX::Workers::Identifier::NoLimit,
                                    m_parts[at]->Read, m_outcome));
}

// One of the files read on together.
struct Comparison::Reader {
    std::size_t At = 0;
    std::unique_ptr<CX::IO::FileInputStream> Stream;
    std::uint8_t* Block = nullptr;
    std::uint32_t Got = 0;    // in Block this round
    bool Ended = false;       // a read delivered nothing
    std::uint64_t Where = 0;  // the offset the next block is read from
    // With its last bytes read first: those bytes, held until the reading reaches TailAt.
    std::uint8_t* Tail = nullptr;
    std::uint64_t TailAt = 0;
    bool TailHeld = false;
};

// Files whose first blocks meet and that are longer than this past their first block are
// compared on their last bytes (LastBlock of them) before their middles: files that part
// only near their ends (a log appended to, a trailer rewritten) are then told apart having
// read a block of each, where reading on in order would read them whole. The last bytes
// are held and hashed in their place, so no byte is read twice.
constexpr std::uint64_t TailAfter = 2 * CX::Workers::Identifier::BlockSize;

void Comparison::ReadOnTogether(const std::size_t* first, std::size_t count) {
    if (!m_blocks) {
        m_blocks.reset(new std::uint8_t[Together * CX::Workers::Identifier::BlockSize]);
    }
    std::vector<Reader> readers;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = first[k];
        if (Changed(at)) {
            ReadRest(at);
            continue;
        }
        bool anew = false;
        std::unique_ptr<CX::IO::FileInputStream> stream = Reopen(at, anew);
        if (stream && anew) {
            ReadToEnd(*stream, at);
        } else if (stream) {
            Reader& reader = readers.emplace_back();
            reader.At = at;
            reader.Stream = std::move(stream);
            reader.Block =
                m_blocks.get() + (readers.size() - 1) * CX::Workers::Identifier::BlockSize;
            reader.Where = m_parts[at]->Read.Digest.Count();
            if (m_observer != nullptr) {
                m_observer->Started(reader.Stream->GetName());
            }
        }
    }
    std::vector<std::vector<Reader*>> groups;
    CompareTails(readers, groups);
    // Runs of readers still alike, each with the digest of what they hold alike so far:
    // their first blocks were one, so any one's digest is theirs.
    struct Run {
        std::vector<Reader*> Readers;
        CX::Digest::RecordDigest Digest;
    };
    std::vector<Run> runs;
    for (std::vector<Reader*>& group : groups) {
        Run& run = runs.emplace_back();
        run.Digest = m_parts[group.front()->At]->Read.Digest;
        run.Readers.swap(group);
    }
    while (!runs.empty()) {
        std::vector<Run> next;
        for (Run& run : runs) {
            std::vector<Reader*> alive;
            for (Reader* reader : run.Readers) {
                if (Fill(*reader)) {
                    alive.push_back(reader);
                }
            }
            // Readers with the same bytes this round, and the same end, go on as one run.
            while (!alive.empty()) {
                Reader* const head = alive.front();
                std::vector<Reader*> same;
                std::vector<Reader*> rest;
                for (Reader* reader : alive) {
                    const bool alike = reader->Got == head->Got && reader->Ended == head->Ended &&
                                       std::memcmp(reader->Block, head->Block, head->Got) == 0;
                    (alike ? same : rest).push_back(reader);
                }
                alive.swap(rest);
                if (same.size() == 1 && !head->Ended) {
                    // Its bytes part from every other's, before its end: no file of the size
                    // holds them, and the rest of it is never read.
                    m_members[head->At].What = Verdict::Unique;
                    head->Stream.reset();
                    continue;
                }
                Run& going = next.emplace_back();
                going.Digest = run.Digest;
                going.Digest.Update(head->Block, head->Got);
                going.Readers.swap(same);
            }
        }
        runs.clear();
        for (Run& run : next) {
            if (!run.Readers.front()->Ended) {
                runs.push_back(std::move(run));
                continue;
            }
            CX::Hash::ContentRecord record;
            run.Digest.Final(record);
            for (Reader* reader : run.Readers) {
                Identified(reader->At, record);
                m_members[reader->At].ReadWhole = true;
                if (m_observer != nullptr) {
                    m_observer->Finished();
                }
            }
        }
    }
}

void Comparison::CompareTails(std::vector<Reader>& readers,
                              std::vector<std::vector<Reader*>>& groups) {
    std::vector<Reader*> alive;
    for (Reader& reader : readers) {
        alive.push_back(&reader);
    }
    const std::uint64_t size = readers.empty() ? 0 : m_table.Size(m_files[readers[0].At].File);
    if (readers.size() < 2 || size < readers[0].Where + TailAfter) {
        if (!alive.empty()) {
            groups.push_back(std::move(alive));
        }
        return;
    }
    if (!m_tails) {
        m_tails.reset(new std::uint8_t[Together * LastBlock]);
    }
    std::vector<Reader*> held;
    for (Reader* reader : alive) {
        reader->Tail = m_tails.get() + (reader - readers.data()) * LastBlock;
        reader->TailAt = size - LastBlock;
        bool isShort = false;
        if (!ReadAt(*reader, reader->TailAt, reader->Tail, LastBlock, isShort)) {
            continue;
        }
        if (isShort) {
            // Shorter now than its open said: changed, so read whole on its own, whatever
            // its last bytes were.
            if (reader->Stream->Seek(reader->Where).IsSuccess()) {
                ReadToEnd(*reader->Stream, reader->At);
            } else {
                Fail(reader->At, Failure::Read, GetLastError());
            }
            reader->Stream.reset();
            continue;
        }
        if (!reader->Stream->Seek(reader->Where).IsSuccess()) {
            Drop(*reader);
            continue;
        }
        reader->TailHeld = true;
        held.push_back(reader);
        if (m_observer != nullptr) {
            m_observer->Read(LastBlock);
        }
    }
    while (!held.empty()) {
        Reader* const head = held.front();
        std::vector<Reader*> same;
        std::vector<Reader*> rest;
        for (Reader* reader : held) {
            (std::memcmp(reader->Tail, head->Tail, LastBlock) == 0 ? same : rest).push_back(reader);
        }
        held.swap(rest);
        if (same.size() == 1) {
            m_members[head->At].What = Verdict::Unique;  // no file of the size ends as it does
            head->Stream.reset();
            continue;
        }
        groups.push_back(std::move(same));
    }
}

bool Comparison::ReadAt(Reader& reader, std::uint64_t offset, std::uint8_t* pTo,
                        std::uint32_t length, bool& isShort) {
    isShort = false;
    if (!reader.Stream->Seek(offset).IsSuccess()) {
        return Drop(reader);
    }
    for (std::uint32_t got = 0; got < length;) {
        std::uint32_t read = 0;
        const Status status = reader.Stream->Read(pTo + got, length - got, &read);
        if (status.Code == StatusCode::EndOfData) {
            isShort = true;
            return true;
        }
        if (!status.IsSuccess()) {
            return Drop(reader);
        }
        got += read;
    }
    return true;
}

bool Comparison::Drop(Reader& reader) {
    Fail(reader.At, Failure::Read, GetLastError());
    reader.Stream.reset();
    return false;
}

bool Comparison::Fill(Reader& reader) {
    reader.Got = 0;
    const bool tail = reader.TailHeld && reader.Where == reader.TailAt;
    if (tail) {
        // The middle is read: the held last bytes are this block, and reading goes on from
        // the old end, in case the file has grown since.
        std::memcpy(reader.Block, reader.Tail, LastBlock);
        reader.Got = LastBlock;
        reader.Where += LastBlock;
        reader.TailHeld = false;
        if (!reader.Stream->Seek(reader.Where).IsSuccess()) {
            return Drop(reader);
        }
    } else {
        const std::uint32_t want =
            reader.TailHeld ? static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                  CX::Workers::Identifier::BlockSize, reader.TailAt - reader.Where))
                            : CX::Workers::Identifier::BlockSize;
        while (reader.Got < want) {
            std::uint32_t got = 0;
            const Status status =
                reader.Stream->Read(reader.Block + reader.Got, want - reader.Got, &got);
            if (status.Code == StatusCode::EndOfData) {
                // Before its held last bytes, had it any: it has shrunk, and what it held
                // there is gone.
                reader.Ended = true;
                break;
            }
            if (!status.IsSuccess()) {
                return Drop(reader);
            }
            reader.Got += got;
        }
        reader.Where += reader.Got;
    }
    if (m_observer != nullptr && !tail) {
        m_observer->Read(reader.Got);  // the held last bytes were told when they were read
    }
    return true;
}

void Comparison::KeepShared() {
    const std::uint64_t size = m_files.empty() ? 0 : m_table.Size(m_files.front().File);
    const std::vector<std::size_t> identified = Ordered(Verdict::Identified);
    for (std::size_t i = 0; i < identified.size();) {
        std::size_t end = i + 1;
        while (end < identified.size() && Key(identified[end]) == Key(identified[i])) {
            ++end;
        }
        if (end - i == 1 && m_files[identified[i]].Record.Length() == size) {
            m_members[identified[i]].What = Verdict::Unique;
        }
        i = end;
    }
}

}  // namespace

void CompareSize(const FileTable& table, std::vector<Found>& files, std::vector<Member>& members,
                 CX::Workers::Identifier& identifier, CX::Workers::IReadObserver* observer,
                 const CX::Workers::IKnownFiles* known, std::vector<MemberFacts>* facts,
                 std::uint64_t firstBlock) {
    Comparison(table, files, members, identifier, observer, known,
               known != nullptr ? facts : nullptr, firstBlock)
        .Run();
}

}  // namespace CX::Duplicates
