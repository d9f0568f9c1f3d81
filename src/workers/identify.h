#pragma once

#include <cstdint>
#include <memory>

#include "digest/record_digest.h"
#include "hash/content_record.h"
#include "io/file_facts.h"
#include "io/file_input_stream.h"
#include "io/input_stream.h"
#include "platform/win32.h"

namespace CX::Workers {

// How identifying one file ended.
enum class Failure : std::uint8_t {
    None,         // Record holds the identifier
    Open,         // Error tells why it could not be opened
    IsDirectory,  // a folder was named as a file
    Read,         // Error tells why a read failed
};

struct Outcome {
    Failure What = Failure::None;
    DWORD Error = ERROR_SUCCESS;
    // With an expected length: the file's size already differs, and nothing was read.
    bool SizeDiffers = false;
    CX::Hash::ContentRecord Record;
    // With known files (IKnownFiles): the facts of the disk file that was opened, the
    // moment taken before it was, and whether Record came from what was known.
    bool HasFacts = false;
    bool WasKnown = false;
    std::int64_t OpenedAfter = 0;
    CX::IO::FileFacts Facts;
};

// What a run knows of files from before it (a cache), asked on the worker threads, any
// number at once: the moment before a file is opened, and, once it is open, whether its
// facts tell its identifier for certain, so that not a byte of it is read.
class IKnownFiles {
public:
    // In the file times' units: 100 ns since 1601.
    virtual std::int64_t Now() const = 0;
    virtual bool Known(const CX::IO::FileFacts& facts, CX::Hash::ContentRecord& record) const = 0;

protected:
    ~IKnownFiles() = default;
};

// What a run hears of the reading, on the worker threads (a progress display): each file
// as it is opened, the bytes as they are read, and each file's end.
class IReadObserver {
public:
    virtual void Started(const char* pName) = 0;
    virtual void Read(std::uint64_t bytes) = 0;
    virtual void Finished() = 0;

protected:
    ~IReadObserver() = default;
};

// A file read in parts, as duplicates are compared: the digest of the bytes read so far,
// and whether a read has delivered nothing yet. It can be kept while the worker reads other
// files, and gone on with where it stopped.
struct PartRead {
    CX::Digest::RecordDigest Digest;
    bool Ended = false;
};

// One thread's means of identifying files: a 64 KiB buffer and a digest, made once and
// reused for every file, so that nothing is allocated per block or per file (a file longer
// than ReadAheadAfter takes a ReadAhead, its thread and its buffers, for the rest).
//
// A file is read from its first byte until a read delivers nothing, and the identifier is
// for exactly the bytes read: no size decides the end, so pipes, devices and files whose
// size says nothing of their content (/proc) are identified by what they hold.
class Identifier {
public:
    static constexpr std::uint32_t BlockSize = 0x10000;
    // Past this many bytes, the rest of a file is read on a second thread while this one
    // hashes (ReadAhead): a long file's copy out of the page cache then costs no time of
    // its own. Smaller files never start a thread.
    static constexpr std::uint64_t ReadAheadAfter = 0x1000000;

    // observer, when given, hears of every file this identifier reads.
    explicit Identifier(IReadObserver* observer = nullptr);

    Identifier(const Identifier&) = delete;
    Identifier& operator=(const Identifier&) = delete;

    // The file at the NUL-terminated UTF-8 path, links followed. With pExpectedLength, a
    // file whose size already differs is not read at all (SizeDiffers): a long file listed
    // with the wrong length fails at once. With known, a disk file's facts are taken from
    // its handle and what known tells stands for its bytes. With known and pListed (what
    // its folder's listing told of the file, which known did not answer for), the handle is
    // asked for the identity alone: when it is the listed one, the listed facts are the
    // outcome's and the file is read. The listing came before the moment taken before the
    // open, so a change after that moment still leaves the file times later than the
    // listed ones: a record of them never stands for bytes the file no longer holds.
    void IdentifyPath(const char* pPath, Outcome& outcome,
                      const std::uint64_t* pExpectedLength = nullptr,
                      const IKnownFiles* known = nullptr,
                      const CX::IO::FileFacts* pListed = nullptr);
    // The process's standard input.
    void IdentifyStandardInput(Outcome& outcome);

    static constexpr std::uint64_t NoLimit = ~std::uint64_t{0};
    // Reads on from where the stream stands into part, until part holds limit bytes (those
    // read before count) or a read delivers nothing: then part is Ended and outcome's
    // Record is the identifier of every byte part took in. pName is for the observer.
    // False when a read failed (outcome says why).
    bool ReadPart(CX::IO::IInputStream& stream, const char* pName, std::uint64_t limit,
                  PartRead& part, Outcome& outcome);

private:
    // True when known told the identifier of the open stream (outcome holds it).
    bool FromKnown(const CX::IO::FileInputStream& stream, const IKnownFiles& known,
                   Outcome& outcome);
    // True when the open stream is the listed file (outcome holds the listed facts).
    static bool AsListed(const CX::IO::FileInputStream& stream, const CX::IO::FileFacts& listed,
                         Outcome& outcome);
    void IdentifyStream(CX::IO::IInputStream& stream, Outcome& outcome);
    // Reads into digest until it holds limit bytes or the stream ends (ended); false when a
    // read failed (outcome says).
    bool ReadOn(CX::IO::IInputStream& stream, CX::Digest::RecordDigest& digest, std::uint64_t limit,
                bool& ended, Outcome& outcome);
    // The rest of the stream through a ReadAhead; false when a read failed (outcome says).
    bool HashReadAhead(CX::IO::IInputStream& stream, CX::Digest::RecordDigest& digest,
                       Outcome& outcome);

    IReadObserver* m_observer;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    CX::Digest::RecordDigest m_digest;
};

}  // namespace CX::Workers
