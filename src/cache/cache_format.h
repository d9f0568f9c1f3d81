#pragma once

// The cache file, byte for byte (little-endian throughout):
//
//   header, 16 bytes:  "QUILLSUM" "CACH", then the format version (32-bit)
//   records, 128 bytes each, in any order:
//     0..7     the volume of the file's identity
//     8..23    its 128-bit file index (low half first)
//     24..31   the file's length
//     32..39   its last-write time     (100 ns since 1601, as the system gave it)
//     40..47   its change time         (likewise)
//     48..55   the moment taken before the file was opened and read (same units)
//     56..63   the moment of the last run that found the file as recorded
//     64..103  the content record: the identifier's 40 bytes
//     104..127 the first 24 bytes of the SHA-256 of bytes 0..103
//
// A record counts only when its checksum holds and its content record gives the length it
// names; anything else (a torn tail, a flipped bit) is passed over as if it were absent.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hash/content_record.h"
#include "io/file_facts.h"

namespace CX::Cache {

inline constexpr std::size_t HeaderSize = 16;
inline constexpr std::size_t RecordSize = 128;
inline constexpr std::uint32_t FormatVersion = 1;

// What one record says of one file.
struct Entry {
    CX::IO::FileIdentity Identity;
    std::uint64_t Length = 0;
    std::int64_t LastWrite = 0;
    std::int64_t Change = 0;
    std::int64_t ReadFrom = 0;  // the moment before the bytes were read
    std::int64_t LastSeen = 0;
    CX::Hash::ContentRecord Record;

    bool operator==(const Entry&) const = default;
};

void EncodeHeader(std::uint8_t* out);
// RecordSize bytes, the checksum included.
void EncodeEntry(const Entry& entry, std::uint8_t* out);
// False, and entry untouched, unless the RecordSize bytes at in check.
bool DecodeEntry(const std::uint8_t* in, Entry& entry);
// What the bytes at in say, taken as they stand: for records this process encoded itself.
Entry DecodeOwn(const std::uint8_t* in);
// The identity alone, likewise.
CX::IO::FileIdentity IdentityOf(const std::uint8_t* in);

// What a file turned out to be.
enum class FileKind : std::uint8_t {
    Empty,         // no bytes at all: a cache with no records yet
    Ours,          // our header and version
    OtherVersion,  // our header, another version: neither used nor replaced
    Foreign,       // not a cache of ours: neither used nor replaced
};

struct DecodedFile {
    FileKind Kind = FileKind::Empty;
    std::uint32_t Version = 0;  // with OtherVersion
    std::vector<Entry> Entries;
};

// Every record of data that checks, in the order they stand.
DecodedFile DecodeFile(const std::uint8_t* data, std::size_t size);

}  // namespace CX::Cache
