// The fault seam: actions fire on the use they were armed for, once.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/fault_seam.h"
#include "platform/win32.h"

namespace CX::Platform {
namespace {

class FaultSeam : public ::testing::Test {
protected:
    void SetUp() override { ResetFaults(); }
    void TearDown() override { ResetFaults(); }
};

int Count(const char* sz) {
    return MultiByteToWideChar(CP_UTF8, 0, sz, -1, nullptr, 0);
}

TEST_F(FaultSeam, FailsOnTheNthUseFromNowOnly) {
    EXPECT_EQ(Count("abc"), 4);
    EXPECT_EQ(UseCount(FaultCall::MultiByteToWideChar), 1u);
    FailOn(FaultCall::MultiByteToWideChar, 2, 1113);
    EXPECT_EQ(Count("abc"), 4);
    SetLastError(0);
    EXPECT_EQ(Count("abc"), 0);
    EXPECT_EQ(GetLastError(), 1113u);
    EXPECT_EQ(Count("abc"), 4);  // spent
    EXPECT_EQ(UseCount(FaultCall::MultiByteToWideChar), 4u);

    FailOn(FaultCall::MultiByteToWideChar, 1, 5);
    ResetFaults();
    EXPECT_EQ(UseCount(FaultCall::MultiByteToWideChar), 0u);
    EXPECT_EQ(Count("abc"), 4);  // disarmed
}

TEST_F(FaultSeam, HeapAllocRefusalKeepsLastError) {
    FailOn(FaultCall::HeapAlloc, 1, 8);
    SetLastError(3);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, 16), nullptr);
    EXPECT_EQ(GetLastError(), 3u);
    void* p = HeapAlloc(GetProcessHeap(), 0, 16);
    EXPECT_NE(p, nullptr);
    HeapFree(GetProcessHeap(), 0, p);
}

// A listing armed by name, as QUILLMARK_FAULTS arms it: it cannot start, then it breaks off
// part way and can go on; a folder's identity cannot be had.
TEST_F(FaultSeam, ListingFailsOnCue) {
    char szDir[] = "/tmp/quillmark-seam-XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    const std::u16string dir(szDir, szDir + sizeof szDir - 1);
    close(creat((std::string(szDir) + "/f").c_str(), 0600));
    ASSERT_TRUE(
        ArmFaultsFromText("FindFirstFileExW:1:5,FindNextFileW:2:21,GetFileInformationByHandle:1:6,"
                          "FileIdBothDirectoryInfo:1:5"));
    WIN32_FIND_DATAW data;
    for (DWORD error : {5u, 0u}) {
        const HANDLE h = FindFirstFileExW((dir + u"/*").c_str(), FindExInfoBasic, &data,
                                          FindExSearchNameMatch, nullptr, 0);
        EXPECT_EQ(h == INVALID_HANDLE_VALUE ? GetLastError() : 0u, error);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(FindNextFileW(h, &data));
            EXPECT_FALSE(FindNextFileW(h, &data));
            EXPECT_EQ(GetLastError(), 21u);
            int rest = 0;
            while (FindNextFileW(h, &data)) {
                ++rest;
            }
            EXPECT_EQ(rest, 1);  // of ".", ".." and "f": the fault took none
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
            EXPECT_TRUE(FindClose(h));
        }
    }
    const HANDLE h = CreateFileW(dir.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    EXPECT_FALSE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(GetLastError(), 6u);
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    alignas(8) unsigned char records[4096];
    EXPECT_FALSE(GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, records, sizeof records));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_TRUE(GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, records, sizeof records));
    CloseHandle(h);
    unlink((std::string(szDir) + "/f").c_str());
    rmdir(szDir);
}

// Each step of a replace can fail on cue, and a failed step has done nothing: no byte
// written, no name moved or removed, no lock taken.
TEST_F(FaultSeam, WritesFailOnCueAndDoNothing) {
    char szDir[] = "/tmp/quillmark-seam-XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    const std::string dir = szDir;
    const std::u16string from(dir.begin(), dir.end());
    const std::u16string a = from + u"/a";
    const std::u16string b = from + u"/b";
    ASSERT_TRUE(
        ArmFaultsFromText("WriteFile:2:112,FlushFileBuffers:1:5,MoveFileExW:1:5,"
                          "DeleteFileW:1:32,LockFileEx:1:33,UnlockFileEx:1:6"));
    const HANDLE h =
        CreateFileW(a.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &put, nullptr));
    EXPECT_FALSE(WriteFile(h, "def", 3, &put, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_FALSE(FlushFileBuffers(h));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_TRUE(FlushFileBuffers(h));
    OVERLAPPED range{};
    EXPECT_FALSE(LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    const HANDLE other =
        CreateFileW(a.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &range));  // the failed lock took nothing
    EXPECT_FALSE(UnlockFileEx(other, 0, 1, 0, &range));
    EXPECT_EQ(GetLastError(), 6u);
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(std::filesystem::file_size(dir + "/a"), 3u);

    EXPECT_FALSE(MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_TRUE(std::filesystem::exists(dir + "/a"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/b"));
    EXPECT_FALSE(DeleteFileW(a.c_str()));
    EXPECT_EQ(GetLastError(), 32u);
    EXPECT_TRUE(std::filesystem::exists(dir + "/a"));
    EXPECT_TRUE(DeleteFileW(a.c_str()));
    EXPECT_EQ(UseCount(FaultCall::WriteFile), 2u);  // the failed ones count too
    EXPECT_EQ(UseCount(FaultCall::MoveFileExW), 1u);
    EXPECT_EQ(UseCount(FaultCall::LockFileEx), 2u);
    rmdir(szDir);
}

TEST_F(FaultSeam, TextArmsEntriesOrNothing) {
    EXPECT_TRUE(ArmFaultsFromText(""));
    EXPECT_TRUE(ArmFaultsFromText("MultiByteToWideChar:2:87,MultiByteToWideChar:3:1004"));
    EXPECT_EQ(Count("a"), 2);
    EXPECT_EQ(Count("a"), 0);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(Count("a"), 0);
    EXPECT_EQ(GetLastError(), 1004u);

    const char* const malformed[] = {
        "MultiByteToWideChar",
        "MultiByteToWideChar:1",
        "MultiByteToWideChar:1:",
        "MultiByteToWideChar:0:5",
        "MultiByteToWideChar:1:5,",
        "MultiByteToWideChar:1:5;",
        "MultiByteToWideChar:1:4294967296",
        "MultiByteToWideChar:1:empty",  // only ReadFile reads nothing
        "ReadFile:1:size+1",            // only GetFileSizeEx reports sizes
        "GetFileSizeEx:1:size*2",
        "SetEndOfFile:1:5",                   // not a hooked call
        "MultiByteToWideChar:1:5,Bogus:1:5",  // nothing armed from a text with any fault
    };
    for (const char* sz : malformed) {
        SCOPED_TRACE(sz);
        EXPECT_FALSE(ArmFaultsFromText(sz));
        EXPECT_EQ(Count("a"), 2);
    }
}

// The environment is read once per process, before the first use is counted, so each
// case runs in a fresh process (and outside the fixture, whose reset would disarm it).
TEST(FaultSeamEnvironment, ArmsTheProcess) {
    // The threadsafe style starts the test executable anew, which qemu-user cannot do for
    // a foreign processor: the kernel itself would have to run the executable.
    if (std::getenv("QUILLMARK_NO_SELF_EXEC") != nullptr) {
        GTEST_SKIP() << "the test executable cannot be started again from inside the emulator";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UseCount(FaultCall::MultiByteToWideChar);  // this process has read its environment
    setenv("QUILLMARK_FAULTS", "MultiByteToWideChar:2:77", 1);
    EXPECT_EXIT(
        {
            const bool first = Count("a") == 2;
            const bool second = Count("a") == 0 && GetLastError() == 77;
            std::exit(first && second ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    setenv("QUILLMARK_FAULTS", "MultiByteToWideChar:x", 1);
    EXPECT_DEATH(Count("a"), "QUILLMARK_FAULTS is malformed");
    unsetenv("QUILLMARK_FAULTS");
}

}  // namespace
}  // namespace CX::Platform
