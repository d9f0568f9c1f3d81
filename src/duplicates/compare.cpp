#include "duplicates/compare.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "io/file_input_stream.h"

namespace CX::Duplicates {
namespace {

using CX::Workers::Failure;

struct IdentityHash {
    std::size_t operator()(const CX::IO::FileIdentity& identity) const {
        return std::hash<std::uint64_t>()(identity.Index ^ (identity.Volume * 0x9E3779B97F4A7C15u) ^
                                          (identity.IndexHigh << 1));
    }
};

bool Before(const CX::Hash::ContentRecord& a, const CX::Hash::ContentRecord& b) {
    return std::memcmp(a.Bytes, b.Bytes, sizeof a.Bytes) < 0;
}

// What is kept of a member between its reads.
struct Part {
    CX::Workers::PartRead Read;
    CX::IO::FileFacts Facts;       // of the handle the first block was read from
    CX::Hash::ContentRecord Head;  // the identifier of the first block
};

class Comparison {
public:
    Comparison(const FileTable& files, std::vector<Member>& members,
               CX::Workers::Identifier& identifier, const CX::Workers::IKnownFiles* known,
               std::uint64_t firstBlock)
        : m_files(files),
          m_members(members),
          m_identifier(identifier),
          m_known(known),
          m_firstBlock(firstBlock),
          // A part is kept for each file only where files are longer than a first block:
          // shorter ones are read whole at once, in one part that each reuses.
          m_parts(!members.empty() && files.Size(members.front().File) > firstBlock ? members.size()
                                                                                    : 0) {}

    void Run() {
        OpenAll();
        std::unordered_set<CX::IO::FileIdentity, IdentityHash>().swap(m_seen);
        ReadOnWhereHeadsMeet();
        KeepShared();
        // Facts a read on took anew (see ReadRest); where no part is kept, Known set them.
        for (std::size_t at = 0; at < m_parts.size(); ++at) {
            m_members[at].Facts = m_parts[at].Facts;
        }
    }

private:
    void OpenAll();
    // Takes the facts of an opened member's handle; false when it is failed or a file met
    // before.
    bool Known(CX::IO::FileInputStream& stream, std::size_t at);
    void ReadFirst(CX::IO::FileInputStream& stream, std::size_t at);
    void ReadOnWhereHeadsMeet();
    void ReadRest(std::size_t at);
    void KeepShared();
    // The members whose verdict is what, ordered by their records (heads for Begun).
    std::vector<std::size_t> Ordered(Verdict what) const;

    std::int64_t Now() const { return m_known != nullptr ? m_known->Now() : 0; }
    void Fail(std::size_t at, Failure what, DWORD error) {
        m_members[at].What = Verdict::Failed;
        m_members[at].Result.What = what;
        m_members[at].Result.Error = error;
    }
    // The open handle's size is not the one the walk saw: the file has changed, and what it
    // holds now may equal a file of another size, so it is read whatever its first block.
    bool Changed(std::size_t at) const {
        return m_parts[at].Facts.Size != m_files.Size(m_members[at].File);
    }
    Part& PartOf(std::size_t at) { return m_parts.empty() ? m_whole : m_parts[at]; }
    const char* Path(std::size_t at) const { return m_files.OpenPath(m_members[at].File); }
    const CX::Hash::ContentRecord& Key(std::size_t at) const {
        return m_members[at].What == Verdict::Begun ? m_parts[at].Head
                                                    : m_members[at].Result.Record;
    }

    const FileTable& m_files;
    std::vector<Member>& m_members;
    CX::Workers::Identifier& m_identifier;
    const CX::Workers::IKnownFiles* m_known;
    bool m_anyKnown = false;  // a member's identifier came from the known files
    const std::uint64_t m_firstBlock;
    std::vector<Part> m_parts;
    Part m_whole;
    std::unordered_set<CX::IO::FileIdentity, IdentityHash> m_seen;
};

void Comparison::OpenAll() {
    // The first file met stays open, unread, until a second one is known: a size held by
    // one file under several names costs no read.
    std::unique_ptr<CX::IO::FileInputStream> held;
    std::size_t heldAt = 0;
    for (std::size_t at = 0; at < m_members.size(); ++at) {
        m_members[at].What = Verdict::Unique;
        m_members[at].ReadFrom = Now();
        auto stream = std::make_unique<CX::IO::FileInputStream>(Path(at));
        if (!Known(*stream, at)) {
            continue;
        }
        if (m_seen.size() == 1) {
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

bool Comparison::Known(CX::IO::FileInputStream& stream, std::size_t at) {
    if (!stream.IsOpen()) {
        Fail(at, Failure::Open, stream.GetOpenError());
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    if (!stream.GetFacts(PartOf(at).Facts, error)) {
        Fail(at, Failure::Read, error);
        return false;
    }
    m_members[at].Identity = PartOf(at).Facts.Identity;
    m_members[at].Facts = PartOf(at).Facts;
    if (!m_seen.insert(m_members[at].Identity).second) {
        m_members[at].What = Verdict::SameFile;
        return false;
    }
    if (m_known != nullptr && m_known->Known(m_members[at].Facts, m_members[at].Result.Record)) {
        m_members[at].What = Verdict::Identified;
        m_members[at].WasKnown = true;
        m_anyKnown = true;
        return false;
    }
    return true;
}

void Comparison::ReadFirst(CX::IO::FileInputStream& stream, std::size_t at) {
    Part& part = PartOf(at);
    Member& member = m_members[at];
    part.Read.Digest.Reset();
    // Where no part is kept, a file that has grown past its first block since the walk
    // is read on at once: it is read whole whatever its first block (see Changed).
    const std::uint64_t limit = m_parts.empty() ? CX::Workers::Identifier::NoLimit : m_firstBlock;
    if (!m_identifier.ReadPart(stream, Path(at), limit, part.Read, member.Result)) {
        member.What = Verdict::Failed;
        return;
    }
    if (part.Read.Ended) {
        member.What = Verdict::Identified;
        member.ReadWhole = true;
        return;
    }
    member.What = Verdict::Begun;
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

void Comparison::ReadOnWhereHeadsMeet() {
    const std::vector<std::size_t> begun = Ordered(Verdict::Begun);
    for (std::size_t i = 0; i < begun.size();) {
        std::size_t end = i + 1;
        while (end < begun.size() && Key(begun[end]) == Key(begun[i])) {
            ++end;
        }
        for (std::size_t k = i; k < end; ++k) {
            if (end - i == 1 && !Changed(begun[k]) && !m_anyKnown) {
                m_members[begun[k]].What = Verdict::Unique;
            } else {
                ReadRest(begun[k]);
            }
        }
        i = end;
    }
}

void Comparison::ReadRest(std::size_t at) {
    Member& member = m_members[at];
    Part& part = m_parts[at];
    const std::int64_t openedAfter = Now();
    CX::IO::FileInputStream stream(Path(at));
    CX::IO::FileFacts facts;
    DWORD error = ERROR_SUCCESS;
    if (!stream.IsOpen()) {
        Fail(at, Failure::Open, stream.GetOpenError());
        return;
    }
    if (!stream.GetFacts(facts, error)) {
        Fail(at, Failure::Read, error);
        return;
    }
    if (!(facts.Identity == part.Facts.Identity) || facts.LastWrite != part.Facts.LastWrite ||
        facts.Change != part.Facts.Change) {
        // Another file under the name now, or this one written since its first block was
        // read: what that block held may be gone, so the file is read anew from its start.
        member.Identity = facts.Identity;
        member.ReadFrom = openedAfter;
        part.Facts = facts;
        part.Read.Digest.Reset();
    } else if (!stream.Seek(part.Read.Digest.Count()).IsSuccess()) {
        Fail(at, Failure::Read, GetLastError());
        return;
    }
    const bool read = m_identifier.ReadPart(stream, Path(at), CX::Workers::Identifier::NoLimit,
                                            part.Read, member.Result);
    member.What = read ? Verdict::Identified : Verdict::Failed;
    member.ReadWhole = read;
}

void Comparison::KeepShared() {
    const std::uint64_t size = m_members.empty() ? 0 : m_files.Size(m_members.front().File);
    const std::vector<std::size_t> identified = Ordered(Verdict::Identified);
    for (std::size_t i = 0; i < identified.size();) {
        std::size_t end = i + 1;
        while (end < identified.size() && Key(identified[end]) == Key(identified[i])) {
            ++end;
        }
        Member& member = m_members[identified[i]];
        if (end - i == 1 && member.Result.Record.Length() == size) {
            member.What = Verdict::Unique;
        }
        i = end;
    }
}

}  // namespace

void CompareSize(const FileTable& files, std::vector<Member>& members,
                 CX::Workers::Identifier& identifier, const CX::Workers::IKnownFiles* known,
                 std::uint64_t firstBlock) {
    Comparison(files, members, identifier, known, firstBlock).Run();
}

}  // namespace CX::Duplicates
