// FileInputStream when the platform fails: every failure path, with its exact message.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "io/file_input_stream.h"
#include "platform/fault_seam.h"
#include "support/temp_dir_test.h"

namespace CX::IO {
namespace {

using Platform::FaultCall;
using Platform::UseCount;

class FileInputStreamFaults : public CX::Testing::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        Platform::ResetFaults();
    }
    void TearDown() override {
        Platform::ResetFaults();
        TempDirTest::TearDown();
    }
    char m_buffer[256];
};

TEST_F(FileInputStreamFaults, OpensWithTheArgumentsAsked) {
    FileInputStream stream(Write("file", "x").c_str());
    ASSERT_TRUE(stream.IsOpen());
    const Platform::CreateFileArgs args = Platform::LastCreateFileArgs();
    EXPECT_EQ(args.DesiredAccess, 0x80000000u);
    EXPECT_EQ(args.ShareMode, 3u);  // read and write, not delete
    EXPECT_TRUE(args.SecurityAttributesNull);
    EXPECT_EQ(args.CreationDisposition, 3u);
    EXPECT_EQ(args.FlagsAndAttributes, 0x80u);
    EXPECT_TRUE(args.TemplateFileNull);
}

TEST_F(FileInputStreamFaults, FailedOpenOrConversionLeavesItNotOpen) {
    const std::string path = Write("file", "x");
    struct {
        const char* Name;
        FaultCall Call;
        std::uint64_t OpensTried;
    } const cases[] = {
        {"open refused", FaultCall::CreateFileW, 1},
        {"conversion failed", FaultCall::MultiByteToWideChar, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Platform::ResetFaults();
        Platform::FailOn(c.Call, 1, ERROR_SHARING_VIOLATION);
        {
            FileInputStream stream(path.c_str());
            EXPECT_FALSE(stream.IsOpen());
            EXPECT_STREQ(stream.GetName(), "");
            EXPECT_TRUE(stream.IsEndOfStream());
        }
        EXPECT_EQ(UseCount(FaultCall::CreateFileW), c.OpensTried);
        EXPECT_EQ(UseCount(FaultCall::CloseHandle), 0u);
    }
}

TEST_F(FileInputStreamFaults, EveryFailingCallWithItsMessage) {
    const std::string path = Write("file", Bytes(100));
    std::uint32_t cRead = 77;
    std::uint64_t value = 88;
    struct {
        const char* Name;
        FaultCall Call;
        DWORD Error;
        std::function<Status(FileInputStream&)> Operation;
        StatusCode Code;
        const char* Message;
    } const cases[] = {
        {"Read", FaultCall::ReadFile, 5,
         [&](FileInputStream& s) { return s.Read(m_buffer, 256, &cRead); }, StatusCode::IoError,
         "ReadFile failed with error 5"},
        {"Seek", FaultCall::SetFilePointerEx, 87, [](FileInputStream& s) { return s.Seek(3); },
         StatusCode::SeekFailed, "SetFilePointerEx failed with error 87"},
        {"GetPosition", FaultCall::SetFilePointerEx, 6,
         [&](FileInputStream& s) { return s.GetPosition(&value); }, StatusCode::SeekFailed,
         "SetFilePointerEx failed with error 6"},
        {"GetSize", FaultCall::GetFileSizeEx, 4294967295u,
         [&](FileInputStream& s) { return s.GetSize(&value); }, StatusCode::SeekFailed,
         "GetFileSizeEx failed with error 4294967295"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        FileInputStream stream(path.c_str());
        ASSERT_TRUE(stream.IsOpen());
        Platform::FailOn(c.Call, 1, c.Error);
        const Status status = c.Operation(stream);
        EXPECT_EQ(status.Code, c.Code);
        EXPECT_STREQ(status.Message, c.Message);
        EXPECT_EQ(cRead, 77u);
        EXPECT_EQ(value, 88u);
        // The stream is unharmed and answers the same call again.
        EXPECT_TRUE(c.Operation(stream).Code == StatusCode::Success);
        cRead = 77;
        value = 88;
    }
}

TEST_F(FileInputStreamFaults, EndTestIsTrueWhenAQueryFails) {
    FileInputStream stream(Write("file", Bytes(100)).c_str());
    Platform::FailOn(FaultCall::SetFilePointerEx, 1, 5);
    EXPECT_TRUE(stream.IsEndOfStream());
    EXPECT_EQ(UseCount(FaultCall::GetFileSizeEx), 0u);  // stopped at the failed position
    Platform::FailOn(FaultCall::GetFileSizeEx, 1, 5);
    EXPECT_TRUE(stream.IsEndOfStream());
    EXPECT_FALSE(stream.IsEndOfStream());
}

TEST_F(FileInputStreamFaults, ShrunkAndGrownFiles) {
    FileInputStream stream(Write("file", Bytes(100)).c_str());
    // A read that finds nothing although the size says otherwise: the file shrank.
    Platform::ReadNothingOn(1);
    std::uint32_t cRead = 77;
    EXPECT_EQ(stream.Read(m_buffer, 256, &cRead).Code, StatusCode::EndOfData);
    EXPECT_EQ(cRead, 0u);

    // A size that is reported smaller first, then as it is: the file grew meanwhile.
    Platform::AdjustSizeOn(1, -100);
    EXPECT_TRUE(stream.IsEndOfStream());
    EXPECT_FALSE(stream.IsEndOfStream());
}

TEST_F(FileInputStreamFaults, OnlyTheNameOutlivesConstruction) {
    const std::string path = Write("a-name-longer-than-fifteen", "x");
    {
        FileInputStream stream(path.c_str());
        ASSERT_TRUE(stream.IsOpen());
        EXPECT_EQ(UseCount(FaultCall::HeapAlloc), 2u);  // the name and the wide path
        EXPECT_EQ(UseCount(FaultCall::HeapFree), 1u);   // the wide path is gone
    }
    EXPECT_EQ(UseCount(FaultCall::HeapFree), 2u);
    EXPECT_EQ(UseCount(FaultCall::CloseHandle), 1u);
}

}  // namespace
}  // namespace CX::IO
