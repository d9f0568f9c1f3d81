// FileInputStream when the platform fails: every failure path, with its exact message.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
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

TEST_F(FileInputStreamFaults, WhatIsNoDiskFileHasNoSize) {
    // Asked once, at the open: the type of what was opened.
    struct {
        const char* Name;
        std::string Path;
        bool FailType;
    } const cases[] = {
        {"character device", "/dev/null", false},
        {"made-up sizes", "/proc/version", false},
        {"type unknown", Write("file", "abc"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Platform::ResetFaults();
        if (c.FailType) {
            Platform::FailOn(FaultCall::GetFileType, 1, ERROR_INVALID_HANDLE);
        }
        FileInputStream stream(c.Path.c_str());
        ASSERT_TRUE(stream.IsOpen());
        std::uint64_t size = 88;
        const Status status = stream.GetSize(&size);
        EXPECT_EQ(status.Code, StatusCode::SeekFailed);
        EXPECT_STREQ(status.Message, "GetFileSizeEx failed with error 1");
        EXPECT_EQ(size, 88u);
        EXPECT_TRUE(stream.IsEndOfStream());
        EXPECT_EQ(UseCount(FaultCall::GetFileSizeEx), 0u);  // the system is not asked
        EXPECT_EQ(UseCount(FaultCall::GetFileType), 1u);
        EXPECT_EQ(UseCount(FaultCall::ReadFile), 0u);
    }
}

TEST_F(FileInputStreamFaults, LongPathIsTriedAgainInItsVerbatimForm) {
    // 300 units, in a folder, so that no name passes the 255 bytes POSIX allows.
    std::filesystem::create_directory(m_dir / std::string(200, 'd'));
    const std::string longPath = Write(std::string(200, 'd') + "/" + std::string(100, 'f'), "abc");
    const std::string shortPath = Write("short", "abc");
    ASSERT_GE(longPath.size(), 260u);
    // Windows refuses a path of exactly MAX_PATH units too (there is no room for its NUL).
    const std::size_t room = 260 - (m_dir.string().size() + 1);
    const std::string atLimit = Write(std::string(room, 'm'), "abc");
    const std::string belowLimit = Write(std::string(room - 1, 'b'), "abc");
    ASSERT_EQ(atLimit.size(), 260u);
    struct {
        const char* Name;
        std::string Path;
        DWORD Error;
        std::uint64_t OpensTried;
    } const cases[] = {
        {"too long", longPath, ERROR_FILENAME_EXCED_RANGE, 2},
        {"path not found", longPath, ERROR_PATH_NOT_FOUND, 2},
        {"another failure", longPath, ERROR_FILE_NOT_FOUND, 1},
        {"short path", shortPath, ERROR_PATH_NOT_FOUND, 1},
        {"exactly MAX_PATH units", atLimit, ERROR_PATH_NOT_FOUND, 2},
        {"one unit fewer", belowLimit, ERROR_FILENAME_EXCED_RANGE, 1},
        {"already verbatim", "\\\\?\\" + longPath, ERROR_FILENAME_EXCED_RANGE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Platform::ResetFaults();
        Platform::FailOn(FaultCall::CreateFileW, 1, c.Error);
        FileInputStream stream(c.Path.c_str());
        EXPECT_EQ(stream.IsOpen(), c.OpensTried == 2);
        EXPECT_EQ(UseCount(FaultCall::CreateFileW), c.OpensTried);
        EXPECT_STREQ(stream.GetName(), c.OpensTried == 2 ? c.Path.c_str() : "");
    }
}

}  // namespace
}  // namespace CX::IO
