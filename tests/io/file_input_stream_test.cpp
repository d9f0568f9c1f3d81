// FileInputStream over real files.

#include "io/file_input_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir_test.h"

namespace CX::IO {
namespace {

constexpr std::uint32_t kBlock = 65536;

class FileInputStreamTest : public CX::Testing::TempDirTest {
protected:
    char m_buffer[kBlock];
};

TEST_F(FileInputStreamTest, NotOpenAnswersNotReadyAndWritesNothing) {
    const std::string path = (m_dir / "missing").string();
    FileInputStream stream(path.c_str());
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_TRUE(stream.IsEndOfStream());
    EXPECT_STREQ(stream.GetName(), "");

    std::uint32_t cRead = 77;
    std::uint64_t value = 88;
    for (const Status& status : {stream.Read(m_buffer, kBlock, &cRead), stream.Seek(0),
                                 stream.GetPosition(&value), stream.GetSize(&value)}) {
        EXPECT_EQ(status.Code, StatusCode::NotReady);
        EXPECT_STREQ(status.Message, "File not opened");
    }
    EXPECT_EQ(cRead, 77u);
    EXPECT_EQ(value, 88u);
}

TEST_F(FileInputStreamTest, EmptyFile) {
    FileInputStream stream(Write("empty", "").c_str());
    ASSERT_TRUE(stream.IsOpen());
    EXPECT_TRUE(stream.IsEndOfStream());
    std::uint32_t cRead = 77;
    const Status status = stream.Read(m_buffer, kBlock, &cRead);
    EXPECT_EQ(status.Code, StatusCode::EndOfData);
    EXPECT_STREQ(status.Message, "");
    EXPECT_EQ(cRead, 0u);
}

TEST_F(FileInputStreamTest, HundredBytesReadSeekAndReadAgain) {
    const std::string content = Bytes(100);
    FileInputStream stream(Write("hundred", content).c_str());
    ASSERT_TRUE(stream.IsOpen());
    EXPECT_FALSE(stream.IsEndOfStream());

    std::uint32_t cRead = 0;
    ASSERT_TRUE(stream.Read(m_buffer, 0, &cRead).Code == StatusCode::EndOfData);
    EXPECT_EQ(cRead, 0u);

    Status status = stream.Read(m_buffer, kBlock, &cRead);
    EXPECT_EQ(status.Code, StatusCode::Success);
    EXPECT_STREQ(status.Message, "");
    ASSERT_EQ(cRead, 100u);
    EXPECT_EQ(std::string(m_buffer, cRead), content);
    EXPECT_TRUE(stream.IsEndOfStream());
    EXPECT_EQ(stream.Read(m_buffer, kBlock, &cRead).Code, StatusCode::EndOfData);
    EXPECT_EQ(cRead, 0u);

    std::uint64_t size = 0;
    ASSERT_TRUE(stream.GetSize(&size).IsSuccess());
    EXPECT_EQ(size, 100u);

    ASSERT_TRUE(stream.Seek(0).IsSuccess());
    EXPECT_FALSE(stream.IsEndOfStream());
    ASSERT_TRUE(stream.Read(m_buffer, 10, &cRead).IsSuccess());
    EXPECT_EQ(std::string(m_buffer, cRead), content.substr(0, 10));
    std::uint64_t position = 0;
    ASSERT_TRUE(stream.GetPosition(&position).IsSuccess());
    EXPECT_EQ(position, 10u);
}

TEST_F(FileInputStreamTest, SeekPastTheEnd) {
    FileInputStream stream(Write("short", "abc").c_str());
    ASSERT_TRUE(stream.Seek(1000000).IsSuccess());
    std::uint64_t position = 0;
    ASSERT_TRUE(stream.GetPosition(&position).IsSuccess());
    EXPECT_EQ(position, 1000000u);
    EXPECT_TRUE(stream.IsEndOfStream());
    std::uint32_t cRead = 77;
    EXPECT_EQ(stream.Read(m_buffer, kBlock, &cRead).Code, StatusCode::EndOfData);
    EXPECT_EQ(cRead, 0u);
}

// Sizes and positions past 4 GiB come back whole, not as their low 32 bits (1 GiB here).
TEST_F(FileInputStreamTest, SizeAndPositionPastFourGibibytes) {
    constexpr std::uint64_t FiveGiB = std::uint64_t{5} << 30;
    const std::string path = Write("sparse", "");
    std::filesystem::resize_file(m_dir / "sparse", FiveGiB);  // sparse: nothing is written
    FileInputStream stream(path.c_str());
    ASSERT_TRUE(stream.IsOpen());
    std::uint64_t size = 0;
    ASSERT_TRUE(stream.GetSize(&size).IsSuccess());
    EXPECT_EQ(size, FiveGiB);
    ASSERT_TRUE(stream.Seek(FiveGiB).IsSuccess());
    std::uint64_t position = 0;
    ASSERT_TRUE(stream.GetPosition(&position).IsSuccess());
    EXPECT_EQ(position, FiveGiB);
    EXPECT_TRUE(stream.IsEndOfStream());
    ASSERT_TRUE(stream.Seek(FiveGiB - 1).IsSuccess());
    EXPECT_FALSE(stream.IsEndOfStream());
    std::uint32_t cRead = 0;
    ASSERT_TRUE(stream.Read(m_buffer, kBlock, &cRead).IsSuccess());
    EXPECT_EQ(cRead, 1u);  // the last byte, and the end
}

TEST_F(FileInputStreamTest, SeekBeyondTheSignedRangeIsRefused) {
    FileInputStream stream(Write("short", "abc").c_str());
    ASSERT_TRUE(stream.Seek(1).IsSuccess());
    for (std::uint64_t offset : {std::uint64_t{1} << 63, UINT64_MAX}) {
        const Status status = stream.Seek(offset);
        EXPECT_EQ(status.Code, StatusCode::SeekFailed);
        EXPECT_STREQ(status.Message, "SetFilePointerEx failed with error 131");
    }
    std::uint64_t position = 0;
    ASSERT_TRUE(stream.GetPosition(&position).IsSuccess());
    EXPECT_EQ(position, 1u);  // nothing moved, and the stream is still usable
}

TEST_F(FileInputStreamTest, NameIsThePathAsPassed) {
    // Longer than the 15 characters a string holds without a block, and not ASCII.
    const std::string path = Write("n\xC3\xA4me with spaces {1}", "x");
    ASSERT_GT(path.size(), 15u);
    FileInputStream stream(path.c_str());
    ASSERT_TRUE(stream.IsOpen());
    EXPECT_EQ(std::string(stream.GetName()), path);
}

TEST_F(FileInputStreamTest, FollowsAFileThatGrows) {
    const std::string path = Write("growing", Bytes(100));
    FileInputStream stream(path.c_str());
    std::uint32_t cRead = 0;
    ASSERT_TRUE(stream.Read(m_buffer, kBlock, &cRead).IsSuccess());
    ASSERT_TRUE(stream.IsEndOfStream());
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    EXPECT_FALSE(stream.IsEndOfStream());
    ASSERT_TRUE(stream.Read(m_buffer, kBlock, &cRead).IsSuccess());
    EXPECT_EQ(std::string(m_buffer, cRead), "more");
}

// IsEndOfStream asks through the interface, so a stream built on this one is heard.
class ReportedSize : public FileInputStream {
public:
    using FileInputStream::FileInputStream;
    Status GetSize(std::uint64_t* pSize) override {
        if (FailSize) {
            Status status;
            status.Set(StatusCode::SeekFailed, "refused");
            return status;
        }
        *pSize = Size;
        return Status();
    }
    std::uint64_t Size = 0;
    bool FailSize = false;
};

TEST_F(FileInputStreamTest, EndTestUsesTheOverridingQueries) {
    ReportedSize stream(Write("three", "abc").c_str());
    ASSERT_TRUE(stream.IsOpen());
    stream.Size = 0;
    EXPECT_TRUE(stream.IsEndOfStream());
    stream.Size = 1;
    EXPECT_FALSE(stream.IsEndOfStream());
    ASSERT_TRUE(stream.Seek(1).IsSuccess());
    EXPECT_TRUE(stream.IsEndOfStream());  // position equal to size
    stream.Size = UINT64_MAX;             // compared unsigned
    EXPECT_FALSE(stream.IsEndOfStream());
    stream.FailSize = true;
    EXPECT_TRUE(stream.IsEndOfStream());
}

// The position is asked through the interface as well as the size.
class ReportedPosition : public FileInputStream {
public:
    using FileInputStream::FileInputStream;
    Status GetPosition(std::uint64_t* pPosition) override {
        *pPosition = Position;
        return Status();
    }
    std::uint64_t Position = 0;
};

TEST_F(FileInputStreamTest, EndTestUsesTheOverridingPosition) {
    ReportedPosition stream(Write("three", "abc").c_str());
    ASSERT_TRUE(stream.IsOpen());
    EXPECT_FALSE(stream.IsEndOfStream());
    stream.Position = 3;  // the file's own pointer is still at 0
    EXPECT_TRUE(stream.IsEndOfStream());
    stream.Position = 2;
    EXPECT_FALSE(stream.IsEndOfStream());
}

// What the handle tells of the file it reads: the names of one file share its identity and
// count as its links, another file has another identity, and a time moved by one second
// moves by ten million of Windows' 100 ns units.
TEST_F(FileInputStreamTest, FactsFromTheHandleThatIsRead) {
    const std::string a = Write("a", Bytes(1000));
    const std::string other = Write("other", Bytes(1000));
    const std::filesystem::path link = m_dir / "a-link";
    std::filesystem::create_hard_link(m_dir / "a", link);
    const auto t1 = std::filesystem::last_write_time(m_dir / "a") - std::chrono::hours(1);
    std::filesystem::last_write_time(m_dir / "a", t1);

    auto facts = [](const std::string& path) {
        CX::IO::FileInputStream stream(path.c_str());
        CX::IO::FileFacts facts;
        DWORD error = ERROR_SUCCESS;
        EXPECT_TRUE(stream.GetFacts(facts, error)) << path << " " << error;
        return facts;
    };
    const CX::IO::FileFacts first = facts(a);
    EXPECT_EQ(first.Size, 1000u);
    EXPECT_EQ(first.Links, 2u);
    EXPECT_TRUE(first.Identity ==
                facts(reinterpret_cast<const char*>(link.u8string().c_str())).Identity);
    EXPECT_FALSE(first.Identity == facts(other).Identity);
    EXPECT_NE(first.Change, 0);

    std::filesystem::last_write_time(m_dir / "a", t1 + std::chrono::seconds(1));
    EXPECT_EQ(facts(a).LastWrite - first.LastWrite, 10000000);

    CX::IO::FileInputStream missing((m_dir / "missing").string().c_str());
    CX::IO::FileFacts none;
    DWORD error = ERROR_SUCCESS;
    EXPECT_FALSE(missing.GetFacts(none, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace CX::IO
