// SHA256Hash and the content digest record, including a failed context allocation.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "hash/content_digest.h"
#include "hash/sha256_hash.h"
#include "sha_test_support.h"

namespace {

// While set, every no-throw allocation in this program fails. Replacing the global
// no-throw operator new is the seam: the product code takes its context exactly as it
// always does.
bool FailNoThrowNew = false;

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (FailNoThrowNew) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace CX::Hash::Testing {
namespace {

using Record = std::array<std::uint8_t, ContentDigest::RecordSize>;

// An output buffer that shows whether anything was written to it.
Record Untouched() {
    Record record;
    record.fill(0xEE);
    return record;
}

// Records whose digests come from sha256sum: of no bytes, of "abc", and of 65,537 bytes
// of 'a' (head -c 65537 /dev/zero | tr '\0' a | sha256sum).
const Bytes EmptyRecord =
    FromHex("0000000000000000e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
const Bytes AbcRecord =
    FromHex("0300000000000000ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
const Bytes LetterARecord =
    FromHex("0100010000000000008ffc88d3c96a9f307524eb361e47c5222a887fc45fa0c1fb8d429c5c23b430");

Bytes FinalRecord(ContentDigest& digest) {
    Record record = Untouched();
    EXPECT_TRUE(digest.Final(record.data()).IsSuccess());
    return Bytes(record.begin(), record.end());
}

struct ScopedAllocationFailure {
    ScopedAllocationFailure() { FailNoThrowNew = true; }
    ~ScopedAllocationFailure() { FailNoThrowNew = false; }
};

// Piece sizes cycle through the list until 65,537 bytes have gone in.
TEST(ContentDigestTest, SplitsOf65537BytesGiveOneRecord) {
    const Bytes message(65537, 'a');
    const std::vector<std::vector<std::uint32_t>> splits = {
        {65537}, {65536, 1}, {1, 65536}, {1}, {63, 0, 64, 65}, {4096, 0}, {40000, 25537}, {7}};
    for (const auto& pieces : splits) {
        ContentDigest digest;
        ASSERT_TRUE(digest.Reset().IsSuccess());
        std::size_t at = 0;
        for (std::size_t i = 0; at < message.size(); ++i) {
            const std::uint32_t size = std::min<std::uint32_t>(
                pieces[i % pieces.size()], static_cast<std::uint32_t>(message.size() - at));
            ASSERT_TRUE(digest.Update(message.data() + at, size).IsSuccess());
            at += size;
        }
        EXPECT_EQ(FinalRecord(digest), LetterARecord) << "first piece " << pieces[0];
    }
}

TEST(ContentDigestTest, FinalRepeatsAndResetStartsOver) {
    ContentDigest digest;
    ASSERT_TRUE(digest.Reset().IsSuccess());
    EXPECT_EQ(FinalRecord(digest), EmptyRecord);
    ASSERT_TRUE(digest.Reset().IsSuccess());
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    ASSERT_TRUE(digest.Update(abc, 3).IsSuccess());
    ASSERT_TRUE(digest.Update(nullptr, 0).IsSuccess());  // changes neither count nor hash
    EXPECT_EQ(FinalRecord(digest), AbcRecord);
    EXPECT_EQ(FinalRecord(digest), AbcRecord);
    ASSERT_TRUE(digest.Reset().IsSuccess());
    EXPECT_EQ(FinalRecord(digest), EmptyRecord);
    // Reset in the middle of a message drops its bytes and its count.
    ASSERT_TRUE(digest.Reset().IsSuccess());
    ASSERT_TRUE(digest.Update(abc, 3).IsSuccess());
    ASSERT_TRUE(digest.Reset().IsSuccess());
    ASSERT_TRUE(digest.Update(abc, 3).IsSuccess());
    EXPECT_EQ(FinalRecord(digest), AbcRecord);
}

// Failures of the hash reach the caller, and the output stays untouched.
TEST(ContentDigestTest, FailuresArePassedOnAndWriteNothing) {
    ContentDigest digest;
    ASSERT_TRUE(digest.Reset().IsSuccess());
    const std::uint8_t byte = 1;
    EXPECT_EQ(digest.Update(nullptr, 5).Code, StatusCode::BadInput);
    EXPECT_EQ(digest.Final(nullptr).Code, StatusCode::BadInput);
    EXPECT_EQ(FinalRecord(digest), EmptyRecord);  // neither call counted or hashed anything

    const Status misuse = digest.Update(&byte, 1);  // input after Final
    EXPECT_EQ(misuse.Code, StatusCode::BadInput);
    EXPECT_STREQ(misuse.Message, "ShaInput failed with code 3");
    Record record = Untouched();
    const Status final = digest.Final(record.data());
    EXPECT_EQ(final.Code, StatusCode::BadInput);
    EXPECT_STREQ(final.Message, "ShaResult failed with code 3");
    EXPECT_EQ(record, Untouched());
    // Reset brings a misused digest back to a sound, empty message.
    ASSERT_TRUE(digest.Reset().IsSuccess());
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    ASSERT_TRUE(digest.Update(abc, 3).IsSuccess());
    EXPECT_EQ(FinalRecord(digest), AbcRecord);
}

// Straight after construction, without Init or Reset, both hash with SHA-256.
TEST(SHA256HashTest, ComputesSha256WithoutInit) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    SHA256Hash hash;
    ASSERT_TRUE(hash.Update(abc, 3).IsSuccess());
    Bytes digest(SHA256Hash::DigestSize);
    ASSERT_TRUE(hash.Final(digest.data()).IsSuccess());
    EXPECT_EQ(digest, Bytes(AbcRecord.begin() + 8, AbcRecord.end()));

    ContentDigest record;
    ASSERT_TRUE(record.Update(abc, 3).IsSuccess());
    EXPECT_EQ(FinalRecord(record), AbcRecord);
}

// The hash and the record built while no-throw allocation fails.
TEST(SHA256HashTest, MissingContextGivesNotReadyEverywhere) {
    ScopedAllocationFailure failing;
    SHA256Hash hash;
    ContentDigest digest;
    const IHash& asInterface = hash;
    EXPECT_STREQ(asInterface.GetName(), "SHA256");
    EXPECT_EQ(asInterface.GetDigestSize(), 32u);

    const std::uint8_t byte = 0;
    Record output = Untouched();
    const Status results[] = {hash.Init(0),   hash.Update(&byte, 1),   hash.Final(output.data()),
                              digest.Reset(), digest.Update(&byte, 1), digest.Final(output.data())};
    for (const Status& status : results) {
        EXPECT_EQ(status.Code, StatusCode::NotReady);
        EXPECT_STREQ(status.Message, "Context not initialized");
    }
    EXPECT_EQ(output, Untouched());
}

}  // namespace
}  // namespace CX::Hash::Testing
