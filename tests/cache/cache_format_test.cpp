// The cache file's bytes: whatever they hold, only records that check come back, and the
// header tells a cache of ours from anything else.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cache/cache_format.h"

namespace {

using CX::Cache::DecodeFile;
using CX::Cache::Entry;
using CX::Cache::FileKind;
using CX::Cache::HeaderSize;
using CX::Cache::RecordSize;

Entry Sample(std::uint64_t n) {
    Entry entry;
    entry.Identity = {0x1122334455667788u + n, 0x99AABBCCDDEEFF00u + n, n};
    entry.Length = 1000 + n;
    for (int i = 0; i < 8; ++i) {
        entry.Record.Bytes[i] = static_cast<std::uint8_t>(entry.Length >> (8 * i));
    }
    for (std::size_t i = 8; i < sizeof entry.Record.Bytes; ++i) {
        entry.Record.Bytes[i] = static_cast<std::uint8_t>(i * 13 + n);
    }
    entry.LastWrite = 133000000000000000 + static_cast<std::int64_t>(n);
    entry.Change = entry.LastWrite + 5;
    entry.ReadFrom = entry.LastWrite + 90'000'000;
    entry.LastSeen = entry.ReadFrom + 7;
    return entry;
}

std::vector<std::uint8_t> FileOf(const std::vector<Entry>& entries) {
    std::vector<std::uint8_t> bytes(HeaderSize + entries.size() * RecordSize);
    CX::Cache::EncodeHeader(bytes.data());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        CX::Cache::EncodeEntry(entries[i], bytes.data() + HeaderSize + i * RecordSize);
    }
    return bytes;
}

const std::vector<Entry> Three = {Sample(1), Sample(2), Sample(3)};

TEST(CacheFormat, RecordsComeBackAsWritten) {
    const std::vector<std::uint8_t> bytes = FileOf(Three);
    const CX::Cache::DecodedFile file = DecodeFile(bytes.data(), bytes.size());
    EXPECT_EQ(file.Kind, FileKind::Ours);
    EXPECT_EQ(file.Entries, Three);
    EXPECT_EQ(DecodeFile(bytes.data(), 0).Kind, FileKind::Empty);
}

TEST(CacheFormat, AnyFlippedBitLosesThatRecordAlone) {
    const std::vector<std::uint8_t> good = FileOf(Three);
    for (std::size_t bit = 0; bit < RecordSize * 8; ++bit) {
        std::vector<std::uint8_t> bytes = good;
        bytes[HeaderSize + RecordSize + bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        const CX::Cache::DecodedFile file = DecodeFile(bytes.data(), bytes.size());
        ASSERT_EQ(file.Entries, (std::vector<Entry>{Three[0], Three[2]})) << "bit " << bit;
    }
}

TEST(CacheFormat, ATruncatedFileKeepsItsWholeRecords) {
    const std::vector<std::uint8_t> good = FileOf(Three);
    for (std::size_t size = 1; size < good.size(); ++size) {
        const CX::Cache::DecodedFile file = DecodeFile(good.data(), size);
        if (size < HeaderSize) {
            ASSERT_EQ(file.Kind, FileKind::Foreign) << size;
            continue;
        }
        const std::size_t whole = (size - HeaderSize) / RecordSize;
        ASSERT_EQ(file.Entries, std::vector<Entry>(Three.begin(), Three.begin() + whole)) << size;
    }
}

TEST(CacheFormat, ATornRecordIsPassedOver) {
    std::vector<std::uint8_t> bytes = FileOf(Three);
    // The second record's last half is the first record's: a write that stopped midway.
    std::copy(bytes.begin() + HeaderSize + RecordSize / 2, bytes.begin() + HeaderSize + RecordSize,
              bytes.begin() + HeaderSize + RecordSize + RecordSize / 2);
    EXPECT_EQ(DecodeFile(bytes.data(), bytes.size()).Entries,
              (std::vector<Entry>{Three[0], Three[2]}));
}

TEST(CacheFormat, ARecordWhoseIdentifierNamesAnotherLengthIsPassedOver) {
    Entry entry = Sample(4);
    entry.Length += 1;
    const std::vector<std::uint8_t> bytes = FileOf({entry});
    EXPECT_TRUE(DecodeFile(bytes.data(), bytes.size()).Entries.empty());
}

TEST(CacheFormat, ForeignFilesAndOtherVersionsAreToldApart) {
    const std::uint8_t text[] = "QUILLSUM is a tool; this is a note about it, not a cache.";
    EXPECT_EQ(DecodeFile(text, sizeof text).Kind, FileKind::Foreign);
    std::vector<std::uint8_t> bytes = FileOf(Three);
    bytes[12] = 2;
    const CX::Cache::DecodedFile file = DecodeFile(bytes.data(), bytes.size());
    EXPECT_EQ(file.Kind, FileKind::OtherVersion);
    EXPECT_EQ(file.Version, 2u);
    EXPECT_TRUE(file.Entries.empty());
}

}  // namespace
