#pragma once

#include <cstdint>

#include "hash/content_record.h"
#include "hash/sha256_hash.h"
#include "text/status.h"

namespace CX::Hash {

// The tool's content record (content_record.h) of the bytes fed.
//
// Every operation passes a failure of the hash on unchanged, so that a caller never takes
// a record whose digest was not computed for a good one.
class ContentDigest {
public:
    static constexpr std::uint32_t RecordSize = ContentRecord::Size;

    ContentDigest() = default;

    ContentDigest(const ContentDigest&) = delete;
    ContentDigest& operator=(const ContentDigest&) = delete;

    // Count 0 and an empty message.
    Status Reset();

    // Hashes the bytes and counts them; bytes the hash refused are not counted.
    Status Update(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize);

    // Writes the 40-byte record. Changes nothing, so a second call writes the same bytes.
    // On failure the output is left as it was.
    Status Final(std::uint8_t* pBinOutput);
    Status Final(ContentRecord& record) { return Final(record.Bytes); }

private:
    std::uint64_t ByteCount = 0;
    SHA256Hash Hash;
};

}  // namespace CX::Hash
