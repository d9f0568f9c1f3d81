#include "cache/cache_format.h"

#include <cstring>

#include "digest/record_digest.h"

namespace CX::Cache {
namespace {

constexpr char Magic[12] = {'Q', 'U', 'I', 'L', 'L', 'S', 'U', 'M', 'C', 'A', 'C', 'H'};
constexpr std::size_t BodySize = 104;
constexpr std::size_t ChecksumSize = RecordSize - BodySize;

void Put(std::uint8_t* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint64_t Get(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

void Checksum(const std::uint8_t* body, std::uint8_t* out) {
    CX::Digest::RecordDigest digest;
    digest.Update(body, BodySize);
    std::uint8_t record[CX::Hash::ContentRecord::Size];
    digest.Final(record);
    std::memcpy(out, record + 8, ChecksumSize);  // past the count: the digest itself
}

}  // namespace

void EncodeHeader(std::uint8_t* out) {
    std::memcpy(out, Magic, sizeof Magic);
    for (int i = 0; i < 4; ++i) {
        out[sizeof Magic + i] = static_cast<std::uint8_t>(FormatVersion >> (8 * i));
    }
}

void EncodeEntry(const Entry& entry, std::uint8_t* out) {
    Put(out, entry.Identity.Volume);
    Put(out + 8, entry.Identity.Index);
    Put(out + 16, entry.Identity.IndexHigh);
    Put(out + 24, entry.Length);
    Put(out + 32, static_cast<std::uint64_t>(entry.LastWrite));
    Put(out + 40, static_cast<std::uint64_t>(entry.Change));
    Put(out + 48, static_cast<std::uint64_t>(entry.ReadFrom));
    Put(out + 56, static_cast<std::uint64_t>(entry.LastSeen));
    std::memcpy(out + 64, entry.Record.Bytes, CX::Hash::ContentRecord::Size);
    Checksum(out, out + BodySize);
}

CX::IO::FileIdentity IdentityOf(const std::uint8_t* in) {
    return CX::IO::FileIdentity{Get(in), Get(in + 8), Get(in + 16)};
}

Entry DecodeOwn(const std::uint8_t* in) {
    Entry decoded;
    decoded.Identity = IdentityOf(in);
    decoded.Length = Get(in + 24);
    decoded.LastWrite = static_cast<std::int64_t>(Get(in + 32));
    decoded.Change = static_cast<std::int64_t>(Get(in + 40));
    decoded.ReadFrom = static_cast<std::int64_t>(Get(in + 48));
    decoded.LastSeen = static_cast<std::int64_t>(Get(in + 56));
    std::memcpy(decoded.Record.Bytes, in + 64, CX::Hash::ContentRecord::Size);
    return decoded;
}

bool DecodeEntry(const std::uint8_t* in, Entry& entry) {
    std::uint8_t checksum[ChecksumSize];
    Checksum(in, checksum);
    if (std::memcmp(checksum, in + BodySize, ChecksumSize) != 0) {
        return false;
    }
    const Entry decoded = DecodeOwn(in);
    if (decoded.Record.Length() != decoded.Length) {
        return false;
    }
    entry = decoded;
    return true;
}

DecodedFile DecodeFile(const std::uint8_t* data, std::size_t size) {
    DecodedFile file;
    if (size == 0) {
        return file;
    }
    if (size < HeaderSize || std::memcmp(data, Magic, sizeof Magic) != 0) {
        file.Kind = FileKind::Foreign;
        return file;
    }
    for (int i = 3; i >= 0; --i) {
        file.Version = (file.Version << 8) | data[sizeof Magic + static_cast<std::size_t>(i)];
    }
    if (file.Version != FormatVersion) {
        file.Kind = FileKind::OtherVersion;
        return file;
    }
    file.Kind = FileKind::Ours;
    file.Entries.reserve((size - HeaderSize) / RecordSize);
    for (std::size_t at = HeaderSize; size - at >= RecordSize; at += RecordSize) {
        Entry entry;
        if (DecodeEntry(data + at, entry)) {
            file.Entries.push_back(entry);
        }
    }
    return file;
}

}  // namespace CX::Cache
