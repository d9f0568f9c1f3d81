// What an atomic replace of a file relies on, through the Win32 names alone: built over the
// stand-in natively and over the real calls for Windows (run under Wine), so that both give
// the same answers.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "support/temp_dir_test.h"

namespace {

using WideString = std::basic_string<WCHAR>;

// The temporary folder's path is ASCII on the machines that run this, so it widens unit by
// unit whatever a wide character is.
WideString Wide(const std::filesystem::path& path) {
    const std::string narrow = path.string();
    return WideString(narrow.begin(), narrow.end());
}

class Win32Writes : public CX::Testing::TempDirTest {
protected:
    HANDLE Create(const std::string& name, DWORD access, DWORD disposition, DWORD* pError) {
        SetLastError(12345);
        const HANDLE h = CreateFileW(Wide(m_dir / name).c_str(), access,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        *pError = GetLastError();
        return h;
    }

    // The file's bytes through a handle of its own, or "(error N)".
    std::string Read(const std::string& name) {
        DWORD error = 0;
        const HANDLE h = Create(name, GENERIC_READ, OPEN_EXISTING, &error);
        if (h == INVALID_HANDLE_VALUE) {
            return "(error " + std::to_string(error) + ")";
        }
        std::string bytes = ReadAll(h);
        CloseHandle(h);
        return bytes;
    }

    static std::string ReadAll(HANDLE h) {
        std::string bytes;
        char buffer[64];
        DWORD got = 0;
        while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            bytes.append(buffer, got);
        }
        return bytes;
    }

    static bool Put(HANDLE h, const std::string& bytes) {
        DWORD put = 0;
        return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
               put == bytes.size();
    }

    BOOL Move(const std::string& from, const std::string& to, DWORD flags) {
        return MoveFileExW(Wide(m_dir / from).c_str(), Wide(m_dir / to).c_str(), flags);
    }
};

// Each creating disposition on a missing and on an existing name: whether it opens, the last
// error it leaves, and what the file then holds.
TEST_F(Win32Writes, DispositionsOpenCreateOrRefuseWithWindowsLastErrors) {
    struct {
        DWORD Disposition;
        bool Exists;
        bool Opens;
        DWORD Error;
        const char* Holds;
    } const cases[] = {
        {CREATE_NEW, false, true, 12345, ""},  // the last error is not promised: untouched
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "(error 2)"},
        {OPEN_EXISTING, true, true, 12345, "old"},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(i);
        const std::string name = "f" + std::to_string(i++);
        if (c.Exists) {
            Write(name, "old");
        }
        DWORD error = 0;
        const HANDLE h = Create(name, GENERIC_WRITE, c.Disposition, &error);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.Opens);
        if (c.Opens && c.Error != 12345) {
            EXPECT_EQ(error, c.Error);
        } else if (!c.Opens) {
            EXPECT_EQ(error, c.Error);
        }
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        EXPECT_EQ(Read(name), c.Holds);
    }
    DWORD error = 0;
    EXPECT_EQ(Create("", GENERIC_WRITE, CREATE_ALWAYS, &error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);  // the folder itself
    EXPECT_EQ(Create("none/f", GENERIC_WRITE, CREATE_ALWAYS, &error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

// The replace a cache makes: a new file written and flushed beside the old one, then renamed
// over it; whoever opens the name afterwards reads the new bytes. (Windows and Wine refuse to
// replace a file that a handle holds open, whatever its sharing: see win32_test.cpp.)
TEST_F(Win32Writes, ReplaceIsOneRename) {
    Write("cache", "old bytes");
    DWORD error = 0;
    const HANDLE writer = Create("cache.new", GENERIC_WRITE, CREATE_ALWAYS, &error);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << error;
    EXPECT_TRUE(Put(writer, "new"));
    EXPECT_TRUE(Put(writer, " bytes!"));
    EXPECT_TRUE(FlushFileBuffers(writer)) << GetLastError();
    EXPECT_TRUE(CloseHandle(writer));

    EXPECT_FALSE(Move("cache.new", "cache", MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Read("cache"), "old bytes");

    EXPECT_TRUE(Move("cache.new", "cache", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        << GetLastError();
    EXPECT_EQ(Read("cache"), "new bytes!");
    EXPECT_EQ(Read("cache.new"), "(error 2)");

    EXPECT_FALSE(Move("cache.new", "cache", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Move("cache", "none/cache", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Read("cache"), "new bytes!");
}

// Writing and flushing need a handle that may write; a temporary file left behind is
// deleted by name; a folder is not a file to delete.
TEST_F(Win32Writes, AccessIsCheckedAndLeftoversAreDeleted) {
    Write("f", "abc");
    DWORD error = 0;
    const HANDLE h = Create("f", GENERIC_READ, OPEN_EXISTING, &error);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << error;
    DWORD put = 7;
    EXPECT_FALSE(WriteFile(h, "x", 1, &put, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(put, 0u);
    EXPECT_FALSE(FlushFileBuffers(h));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(h));

    EXPECT_TRUE(DeleteFileW(Wide(m_dir / "f").c_str())) << GetLastError();
    EXPECT_EQ(Read("f"), "(error 2)");
    EXPECT_FALSE(DeleteFileW(Wide(m_dir / "f").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(Wide(m_dir / "none" / "f").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(Wide(m_dir).c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// Locks belong to a handle: a second handle of the same process is kept out until the
// first unlocks or closes. The range is the whole of any file (offset 0, every length).
TEST_F(Win32Writes, LocksBelongToTheHandle) {
    DWORD error = 0;
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    const HANDLE first = Create("lock", access, OPEN_ALWAYS, &error);
    const HANDLE second = Create("lock", access, OPEN_ALWAYS, &error);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    OVERLAPPED whole{};
    const DWORD now = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
    ASSERT_TRUE(LockFileEx(first, now, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole)) << GetLastError();
    EXPECT_FALSE(LockFileEx(second, now, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    EXPECT_FALSE(LockFileEx(second, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole));  // shared
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);

    EXPECT_TRUE(UnlockFileEx(first, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole)) << GetLastError();
    EXPECT_TRUE(LockFileEx(second, now, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole)) << GetLastError();
    EXPECT_FALSE(LockFileEx(first, now, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole));
    EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(LockFileEx(first, now, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole)) << GetLastError();
    EXPECT_TRUE(CloseHandle(first));
}

}  // namespace
