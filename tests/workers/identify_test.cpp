// One file identified as quillsum identifies it: read until a read gives nothing, whatever
// a size says; and, against a listed length, not read at all when the size differs.

#include <gtest/gtest.h>

#include <string>

#include "hash/content_digest.h"
#include "io/file_input_stream.h"
#include "platform/fault_seam.h"
#include "str/hex_bin_str.h"
#include "support/temp_dir_test.h"
#include "workers/identify.h"
#include "workers/read_ahead.h"

namespace {

using CX::Platform::FaultCall;

constexpr char AbcLine[] =
    "0300000000000000BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::string Hex(const std::uint8_t* record) {
    char text[81] = {};
    EXPECT_TRUE(
        CX::Str::HexBinStr(CX::Str::HexCase::Upper).BinToStr(record, 40, text, 80).IsSuccess());
    return text;
}

class Identify : public CX::Testing::TempDirTest {
protected:
    void TearDown() override {
        CX::Platform::ResetFaults();
        TempDirTest::TearDown();
    }
};

TEST_F(Identify, ReadsUntilAReadGivesNothingWhateverTheSizeSays) {
    const std::string path = Write("abc", "abc");
    // Were the size asked, it would say 0, as procfs does for text it makes up.
    CX::Platform::AdjustSizeOn(1, -3);
    CX::Workers::Identifier identifier;
    CX::Workers::Outcome outcome;
    identifier.IdentifyPath(path.c_str(), outcome);
    EXPECT_EQ(outcome.What, CX::Workers::Failure::None);
    EXPECT_FALSE(outcome.SizeDiffers);
    EXPECT_EQ(Hex(outcome.Record.Bytes), AbcLine);
}

TEST_F(Identify, AFileWhoseSizeDiffersFromItsListedLengthIsNotRead) {
    const std::string path = Write("abc", "abc");
    CX::Workers::Identifier identifier;
    CX::Workers::Outcome outcome;
    const std::uint64_t reads = CX::Platform::UseCount(FaultCall::ReadFile);
    const std::uint64_t listed = 4;
    identifier.IdentifyPath(path.c_str(), outcome, &listed);
    EXPECT_TRUE(outcome.SizeDiffers);
    EXPECT_EQ(CX::Platform::UseCount(FaultCall::ReadFile), reads);
    const std::uint64_t right = 3;
    identifier.IdentifyPath(path.c_str(), outcome, &right);
    EXPECT_FALSE(outcome.SizeDiffers);
    EXPECT_EQ(Hex(outcome.Record.Bytes), AbcLine);
}

// Known files that know nothing, at a fixed moment.
class NothingKnown final : public CX::Workers::IKnownFiles {
public:
    std::int64_t Now() const override { return 5; }
    bool Known(const CX::IO::FileFacts&, CX::Hash::ContentRecord&) const override { return false; }
};

// A file its folder's listing told of is read with the listed facts when its handle is the
// listed file, asking the handle its identity and no more; another file under the name
// (the listed one renamed away meanwhile) gets its own facts from its handle.
TEST_F(Identify, AListedFileKeepsTheListedFactsOnlyWhenItsHandleIsTheListedFile) {
    const std::string path = Write("abc", "abc");
    CX::IO::FileFacts listed;
    {
        CX::IO::FileInputStream stream(path.c_str());
        DWORD error = ERROR_SUCCESS;
        ASSERT_TRUE(stream.GetFacts(listed, error)) << error;
    }
    listed.LastWrite = 11;  // times the file does not have: only the listing can tell them
    listed.Change = 12;
    const NothingKnown known;
    CX::Workers::Identifier identifier;
    CX::Workers::Outcome outcome;
    const std::uint64_t plain = CX::Platform::UseCount(FaultCall::GetFileInformationByHandle);
    const std::uint64_t ex = CX::Platform::UseCount(FaultCall::GetFileInformationByHandleEx);
    identifier.IdentifyPath(path.c_str(), outcome, nullptr, &known, &listed);
    EXPECT_EQ(Hex(outcome.Record.Bytes), AbcLine);
    EXPECT_TRUE(outcome.HasFacts);
    EXPECT_FALSE(outcome.WasKnown);
    EXPECT_EQ(outcome.OpenedAfter, 5);
    EXPECT_EQ(outcome.Facts.Change, 12);
    EXPECT_EQ(outcome.Facts.Identity, listed.Identity);
    EXPECT_EQ(CX::Platform::UseCount(FaultCall::GetFileInformationByHandle), plain);
    EXPECT_LE(CX::Platform::UseCount(FaultCall::GetFileInformationByHandleEx), ex + 1);

    CX::IO::FileFacts other = listed;
    other.Identity.Index += 1;
    identifier.IdentifyPath(path.c_str(), outcome, nullptr, &known, &other);
    EXPECT_EQ(Hex(outcome.Record.Bytes), AbcLine);
    EXPECT_TRUE(outcome.HasFacts);
    EXPECT_EQ(outcome.Facts.Identity, listed.Identity);
    EXPECT_NE(outcome.Facts.Change, 12);
}

// Past ReadAheadAfter the rest is read on a second thread: the record is still the
// library's for every byte, and a read that fails there fails the file with its error.
TEST_F(Identify, ALongFileReadAheadGivesTheSameRecordAndItsReadsFailures) {
    using CX::Workers::Identifier;
    std::string content(Identifier::ReadAheadAfter + 3 * CX::Workers::ReadAhead::PieceSize + 17,
                        '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 131 + i / 4099);
    }
    const std::string path = Write("long", content);
    std::uint8_t expected[CX::Hash::ContentDigest::RecordSize];
    CX::Hash::ContentDigest oracle;
    ASSERT_TRUE(oracle.Reset().IsSuccess());
    ASSERT_TRUE(oracle
                    .Update(reinterpret_cast<const std::uint8_t*>(content.data()),
                            static_cast<std::uint32_t>(content.size()))
                    .IsSuccess());
    ASSERT_TRUE(oracle.Final(expected).IsSuccess());

    Identifier identifier;
    CX::Workers::Outcome outcome;
    identifier.IdentifyPath(path.c_str(), outcome);
    EXPECT_EQ(outcome.What, CX::Workers::Failure::None);
    EXPECT_EQ(Hex(outcome.Record.Bytes), Hex(expected));

    // The second read after the switch: the first ahead has been made, the next fails.
    CX::Platform::FailOn(FaultCall::ReadFile,
                         Identifier::ReadAheadAfter / Identifier::BlockSize + 2, 5);
    identifier.IdentifyPath(path.c_str(), outcome);
    EXPECT_EQ(outcome.What, CX::Workers::Failure::Read);
    EXPECT_EQ(outcome.Error, 5u);
}

}  // namespace
