#pragma once

// quillsum's content record: the byte count and the SHA-256 of the bytes, laid out as the
// library's ContentDigest lays it out, on the processor's SHA instructions where it has
// them (x86-64 SHA extensions, ARMv8 SHA2) and on the engine's portable rounds elsewhere.
// ContentDigest is the definition; every path gives its bytes for any input.

#include <cstddef>
#include <cstdint>

#include "digest/sha256_path.h"
#include "hash/content_record.h"

namespace CX::Digest {

class RecordDigest {
public:
    static constexpr std::size_t RecordSize = CX::Hash::ContentRecord::Size;

    RecordDigest() { Reset(); }

    // A copy goes on from the same state: a digest stopped part way through a file can be
    // kept while other files are read, and taken up again where it stopped.
    RecordDigest(const RecordDigest&) = default;
    RecordDigest& operator=(const RecordDigest&) = default;

    // Count 0 and an empty message, on the path in use at this moment.
    void Reset();

    // Any number of bytes, in pieces of any size; whole blocks are compressed straight
    // from the caller's buffer.
    void Update(const std::uint8_t* data, std::size_t size);

    // Writes the 40 bytes: the count (64-bit, least significant byte first), then the
    // digest. Changes nothing, so more bytes may follow and a second call writes the same.
    // A count past 2^61 - 1 bytes (2^64 bits, more than any file can hold) is not handled.
    void Final(std::uint8_t* record) const;
    void Final(CX::Hash::ContentRecord& record) const { Final(record.Bytes); }

    // The bytes taken in since Reset.
    std::uint64_t Count() const { return m_count; }

    // The path this digest runs on.
    Sha256Path Path() const { return m_path; }

private:
    Sha256Path m_path = Sha256Path::Portable;
    Sha256Compress m_compress = nullptr;
    std::uint64_t m_count = 0;
    std::uint32_t m_hash[8] = {};
    std::uint8_t m_block[64] = {};
    std::size_t m_waiting = 0;  // bytes of m_block not yet compressed
};

}  // namespace CX::Digest
