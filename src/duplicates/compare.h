#pragma once

#include <cstdint>
#include <vector>

#include "duplicates/file_table.h"
#include "io/file_facts.h"
#include "run/run_core.h"
#include "workers/identify.h"

namespace CX::Duplicates {

// What comparing a size's files made of one of them.
enum class Verdict : std::uint8_t {
    Unique,      // no other file of the size holds its bytes: left out
    SameFile,    // a name of a file met earlier among them (a hard link): left out
    Begun,       // its first block is read and the rest is not (only while comparing)
    Failed,      // it could not be opened or read: Result says why
    Identified,  // read to its end (Result.Record), and some other file may hold its bytes
};

struct Member {
    FileTable::Number File = 0;
    Verdict What = Verdict::Unique;
    CX::Workers::Outcome Result;
    CX::IO::FileIdentity Identity;
    // With known files (a cache): the facts of the handle whose bytes made Result.Record, the
    // moment before that handle was opened, and where the record came from: the known files
    // (nothing read), or the file read whole. A member read in part has neither.
    CX::IO::FileFacts Facts;
    std::int64_t ReadFrom = 0;
    bool WasKnown = false;
    bool ReadWhole = false;
};

// Files of one size are compared on their first FirstBlock bytes, and read on only where
// another file's first block is the same.
inline constexpr std::uint64_t FirstBlock = 0x4000;

// Compares files that the walk saw with one size, given in walk order. Each is opened in
// turn and known by the identity of the open handle: a name of a file met before is that
// file, and nothing of it is read again. No byte is read while only one file is known. The
// first block of each is read; those whose first blocks another has are read on from
// where that read stopped, so no byte is read twice. A file whose open handle tells another
// size than the walk saw has changed: it is read to its end whatever its first block, since
// it may now equal a file of another size. A member is left Identified when its identifier
// is another's too, or when the bytes read are not the size the walk saw; every other one
// is Unique.
// With known files, a member whose facts tell its identifier is not read; the others of its
// size are then read to their ends, since any of them may hold the bytes it is known for.
void CompareSize(const FileTable& files, std::vector<Member>& members,
                 CX::Workers::Identifier& identifier,
                 const CX::Workers::IKnownFiles* known = nullptr,
                 std::uint64_t firstBlock = FirstBlock);

// One place in duplicates mode's window: the files of one size.
struct SizeJob : CX::Run::JobBase {
    const FileTable* Files = nullptr;
    const CX::Workers::IKnownFiles* Known = nullptr;  // the cache, with --cache
    std::vector<Member> Members;

    // On a worker thread: touches the job, and reads the table and the known files, which
    // no one changes now.
    void Run(CX::Workers::Identifier& identifier) {
        CompareSize(*Files, Members, identifier, Known);
    }
};

}  // namespace CX::Duplicates
