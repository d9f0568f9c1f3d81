// One file identified as quillsum identifies it: read until a read gives nothing, whatever
// a size says; and, against a listed length, not read at all when the size differs.

#include <gtest/gtest.h>

#include <string>

#include "platform/fault_seam.h"
#include "str/hex_bin_str.h"
#include "support/temp_dir_test.h"
#include "workers/identify.h"

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
    EXPECT_EQ(Hex(outcome.Record), AbcLine);
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
    EXPECT_EQ(Hex(outcome.Record), AbcLine);
}

}  // namespace
