// What comparing costs in system calls, counted through the stand-in's fault seam: a file
// no longer than a first block is known by its identity alone and read in one call, and its
// type is never asked.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "duplicates/compare.h"
#include "platform/fault_seam.h"
#include "support/temp_dir_test.h"

namespace {

namespace Platform = CX::Platform;
using Platform::FaultCall;
using Platform::UseCount;

class CompareCalls : public CX::Testing::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        Platform::ResetFaults();
    }
    void TearDown() override {
        Platform::ResetFaults();
        TempDirTest::TearDown();
    }
};

TEST_F(CompareCalls, AShortFileCostsOneQueryALongOneItsFacts) {
    struct {
        const char* Name;
        std::uint64_t Block;  // a first block of this many bytes
        std::uint64_t FileInformation;
        std::uint64_t FileInformationEx;
        std::uint64_t Reads;
    } const cases[] = {
        // Two files read whole: one identity query and one read each.
        {"short", 64, 0, 2, 2},
        // Begun, and read on: the facts before the first block (three queries, two of them
        // Ex) and again before reading on; the first block, the rest, and the end heard.
        {"long", 16, 4, 8, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        CX::Duplicates::FileTable table;
        std::vector<CX::Duplicates::Found> files;
        for (const char* name : {"a", "b"}) {
            const std::string path = Write(std::string(c.Name) + name, std::string(40, 'x'));
            ASSERT_TRUE(table.Add(path, path, 40));
            files.emplace_back().File = static_cast<std::uint32_t>(files.size());
        }
        std::vector<CX::Duplicates::Member> members;
        CX::Workers::Identifier identifier;
        Platform::ResetFaults();
        CX::Duplicates::CompareSize(table, files, members, identifier, nullptr, nullptr, nullptr,
                                    c.Block);
        ASSERT_EQ(members.size(), 2u);
        EXPECT_EQ(members[0].What, CX::Duplicates::Verdict::Identified);
        EXPECT_EQ(members[1].What, CX::Duplicates::Verdict::Identified);
        EXPECT_EQ(UseCount(FaultCall::CreateFileW), c.Block == 64 ? 2u : 4u);
        EXPECT_EQ(UseCount(FaultCall::GetFileType), 0u);
        EXPECT_EQ(UseCount(FaultCall::GetFileInformationByHandle), c.FileInformation);
        EXPECT_EQ(UseCount(FaultCall::GetFileInformationByHandleEx), c.FileInformationEx);
        EXPECT_EQ(UseCount(FaultCall::ReadFile), c.Reads);
    }
}

}  // namespace
