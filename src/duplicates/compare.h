#pragma once

#include <cstdint>
#include <vector>

#include "duplicates/file_table.h"
#include "duplicates/groups.h"
#include "io/file_facts.h"
#include "run/run_core.h"
#include "workers/identify.h"

namespace CX::Duplicates {

// What comparing a size's files made of one of them.
enum class Verdict : std::uint8_t {
    Unique,      // no other file of the size holds its bytes: left out
    SameFile,    // a name of a file met earlier among them (a hard link): left out
    Begun,       // its first block is read and the rest is not (only while comparing)
    Failed,      // it could not be opened or read: Failure and Error say why
    Identified,  // read to its end (its Found), and some other file may hold its bytes
};

// What comparing made of a file, beside its Found (which holds its number, identifier and
// identity). Every file of a shared size has both at once, so they hold only what the
// groups and the messages need: 80 bytes a file together, and the Found of the files that
// may have a duplicate are what the groups are made of, without a copy.
struct Member {
    Verdict What = Verdict::Unique;
    CX::Workers::Failure Failure = CX::Workers::Failure::None;  // with Failed: what failed
    bool WasKnown = false;        // the identifier came from the known files: nothing was read
    bool ReadWhole = false;       // the identifier is of the file read whole, from its start
    DWORD Error = ERROR_SUCCESS;  // with Failed: the system's word for it
};

// With known files (a cache), what they learn of a member besides: the facts of the disk
// file whose bytes made its record (or told it), and the moment before that handle was
// opened. Kept apart from the members, so that a run without a cache never holds them.
struct MemberFacts {
    bool Has = false;  // a disk file's facts were taken
    CX::IO::FileFacts Facts;
    std::int64_t ReadFrom = 0;
    CX::Hash::ContentRecord Record;  // told, or read whole
};

// Files of one size are compared on their first FirstBlock bytes, and read on only where
// another file's first block is the same.
inline constexpr std::uint64_t FirstBlock = 0x4000;
// Those still alike and long enough are compared on their last LastBlock bytes next.
inline constexpr std::uint32_t LastBlock = 0x4000;

// Compares files that the walk saw with one size, given in walk order by found's File; it
// sets their identities and identifiers there and leaves a member for each. Each is opened in
// turn and known by the identity of the open handle: a name of a file met before is that
// file, and nothing of it is read again. No byte is read while only one file is known. The
// first block of each is read (a file no longer than that is read whole, and without known
// files its bytes are held and set against the others': only files alike are hashed, once
// for all of them); those whose first blocks another has are read on from
// where that read stopped, so no byte is read twice: first their last bytes (held, and
// hashed in their place), then the rest, a few at once, side by side, their
// bytes compared as they come and hashed once for those still alike, and a file that parts
// from every other before its end is left there, Unique. A file whose open handle tells another
// size than the walk saw has changed: it is read to its end whatever its first block, since
// it may now equal a file of another size. A member is left Identified, with its identifier
// in its Found, when that identifier is another's too or the bytes read are not the size
// the walk saw; every other one is Unique.
// A file is known by its identity alone (one system call) unless its facts are needed: a
// file longer than a first block keeps them, to tell whether it changed before it is read
// on, and with known files every disk file's facts are asked.
// With known files, a member whose facts tell its identifier is not read; the others of its
// size are then read to their ends, since any of them may hold the bytes it is known for.
// facts, needed with known files, gets one entry a member. observer (the identifier's)
// hears of what is read side by side.
void CompareSize(const FileTable& files, std::vector<Found>& found, std::vector<Member>& members,
                 CX::Workers::Identifier& identifier, CX::Workers::IReadObserver* observer,
                 const CX::Workers::IKnownFiles* known = nullptr,
                 std::vector<MemberFacts>* facts = nullptr, std::uint64_t firstBlock = FirstBlock);

// One place in duplicates mode's window: the files of one size.
struct SizeJob : CX::Run::JobBase {
    const FileTable* Table = nullptr;
    const CX::Workers::IKnownFiles* Known = nullptr;  // the cache, with --cache
    CX::Workers::IReadObserver* Observer = nullptr;   // the identifier's too
    std::vector<Found> Files;                         // the size's files, filled by CompareSize
    std::vector<Member> Members;                      // one a file
    std::vector<MemberFacts> Facts;                   // with Known, one a file

    // On a worker thread: touches the job, and reads the table and the known files, which
    // no one changes now.
    void Run(CX::Workers::Identifier& identifier) {
        CompareSize(*Table, Files, Members, identifier, Observer, Known,
                    Known != nullptr ? &Facts : nullptr);
    }
};

}  // namespace CX::Duplicates
