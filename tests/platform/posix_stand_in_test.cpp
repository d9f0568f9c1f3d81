// The POSIX stand-in's file, heap and last-error services: the Windows answers it owes.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/win32.h"

// A refused huge allocation must come back as null, also under AddressSanitizer.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

HANDLE Open(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        char szTemplate[] = "/tmp/quillmark-platform-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
    }
    void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }

    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string m_dir;
};

TEST_F(StandIn, CreateFileWErrors) {
    Write("file", "x");
    ASSERT_EQ(symlink("loop", (m_dir + "/loop").c_str()), 0);
    ASSERT_EQ(mkdir((m_dir + "/dir").c_str(), 0700), 0);
    struct {
        const char* Name;
        std::u16string Path;
        DWORD Error;
    } const cases[] = {
        {"missing", Widen(m_dir + "/missing"), ERROR_FILE_NOT_FOUND},
        {"missing directory", Widen(m_dir + "/none/file"), ERROR_FILE_NOT_FOUND},
        {"directory", Widen(m_dir + "/dir"), ERROR_ACCESS_DENIED},
        {"empty path", u"", ERROR_PATH_NOT_FOUND},
        {"file used as directory", Widen(m_dir + "/file/x"), ERROR_PATH_NOT_FOUND},
        {"name too long", Widen(m_dir + "/" + std::string(300, 'n')), ERROR_FILENAME_EXCED_RANGE},
        {"path too long", Widen(m_dir + std::string(3000, '/') + std::string(2000, 'p')),
         ERROR_FILENAME_EXCED_RANGE},
        {"symbolic link loop", Widen(m_dir + "/loop"), ERROR_CANT_RESOLVE_FILENAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SetLastError(0);
        EXPECT_EQ(Open(c.Path), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.Error);
    }
}

TEST_F(StandIn, CreateFileWPathsAreUtf8OnDisk) {
    Write("\xF0\x9F\x98\x80", "pair");  // U+1F600, a surrogate pair in UTF-16
    Write("a\xEF\xBF\xBD", "lone");     // a lone surrogate turns into U+FFFD
    for (const std::u16string& name :
         {std::u16string(u"\xD83D\xDE00"), std::u16string(u"a\xD800")}) {
        HANDLE h = Open(Widen(m_dir + "/") + name);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        char buffer[8];
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
        EXPECT_EQ(got, 4u);
        EXPECT_TRUE(CloseHandle(h));
    }
}

TEST_F(StandIn, FifoWithoutWriterOpensAndIsNoFile) {
    const std::string path = m_dir + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    HANDLE h = Open(Widen(path));  // would hang here without the non-blocking open
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[4];
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));  // no writer: the end
    EXPECT_EQ(got, 0u);
    LARGE_INTEGER size;
    size.QuadPart = -7;
    EXPECT_FALSE(GetFileSizeEx(h, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(size.QuadPart, -7);
    EXPECT_TRUE(CloseHandle(h));

    h = Open(u"/dev/null");  // a character device is no file either
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(GetFileSizeEx(h, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(StandIn, ReadSeekAndSize) {
    HANDLE h = Open(Widen(Write("ten", "0123456789")));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 10);

    char buffer[16] = {};
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(h, buffer, 0, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(ReadFile(h, buffer, 4, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "0123");

    auto seek = [h](LONGLONG distance, DWORD method, LONGLONG* pNew) {
        LARGE_INTEGER li, moved;
        li.QuadPart = distance;
        moved.QuadPart = -1;
        const BOOL ok = SetFilePointerEx(h, li, &moved, method);
        *pNew = moved.QuadPart;
        return ok;
    };
    LONGLONG pos = 0;
    EXPECT_TRUE(seek(2, FILE_CURRENT, &pos));
    EXPECT_EQ(pos, 6);
    EXPECT_TRUE(seek(-1, FILE_END, &pos));
    EXPECT_EQ(pos, 9);

    struct {
        const char* Name;
        LONGLONG Distance;
        DWORD Method;
        DWORD Error;
    } const refusals[] = {
        {"before the start", -1, FILE_BEGIN, ERROR_NEGATIVE_SEEK},
        {"before the start, relative", -10, FILE_CURRENT, ERROR_NEGATIVE_SEEK},
        {"beyond the signed range", INT64_MAX, FILE_CURRENT, ERROR_NEGATIVE_SEEK},
        {"no such move method", 0, 7, ERROR_INVALID_PARAMETER},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.Name);
        EXPECT_FALSE(seek(r.Distance, r.Method, &pos));
        EXPECT_EQ(GetLastError(), r.Error);
        EXPECT_EQ(pos, -1);  // nothing reported
        EXPECT_TRUE(seek(0, FILE_CURRENT, &pos));
        EXPECT_EQ(pos, 9);  // and the pointer did not move
    }
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "9");

    EXPECT_TRUE(seek(1000, FILE_BEGIN, &pos));  // past the end is allowed
    EXPECT_EQ(pos, 1000);
    got = 99;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);

    EXPECT_TRUE(CloseHandle(h));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(StandInHandles, NullAndInvalidHandlesAreRefused) {
    char buffer[4];
    DWORD got = 99;
    LARGE_INTEGER li;
    li.QuadPart = 0;
    for (HANDLE h : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(ReadFile(h, buffer, 4, &got, nullptr));
        EXPECT_EQ(got, 0u);  // cleared before anything else, as on Windows
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetFilePointerEx(h, li, nullptr, FILE_BEGIN));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(GetFileSizeEx(h, &li));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(StandInLastError, IsPerThread) {
    SetLastError(7);
    DWORD seenByOther = 0;
    std::thread other([&seenByOther] {
        seenByOther = GetLastError();
        SetLastError(9);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 7u);
}

TEST(StandInHeap, AllocAndFree) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(GetProcessHeap(), heap);
    void* p = HeapAlloc(heap, 0, 0);  // even 0 bytes is a block of its own
    EXPECT_NE(p, nullptr);
    EXPECT_TRUE(HeapFree(heap, 0, p));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));

    SetLastError(42);
    EXPECT_EQ(HeapAlloc(heap, 0, SIZE_MAX / 2), nullptr);
    EXPECT_EQ(GetLastError(), 42u);  // a refusal leaves the last error alone
}

}  // namespace
