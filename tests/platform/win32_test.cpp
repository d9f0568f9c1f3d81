// The real Win32 calls the product makes, checked on Windows (or under Wine, the way CI
// runs this build): the UTF-8 rule of MultiByteToWideChar against recorded Windows
// behaviour, and the CreateFileW outcomes that FileInputStream turns into "not open".

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "io/file_input_stream.h"
#include "mem/utf8_to_wide.h"
#include "platform/win32.h"
#include "support/temp_dir_test.h"
#include "support/utf8_vectors.h"

namespace {

// Wine exports this from its ntdll; Windows does not.
bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---- MultiByteToWideChar(CP_UTF8, 0) against windows.tsv ----------------------------------

using Row = CX::Test::WindowsUtf8Row;
using CX::Test::UnitsFromHex;

// What the conversion of the input and its terminator gives here. Where Wine 8 departs
// (column 4, "(nothing)"), the sequence cut short at the start swallows everything after
// it, the terminator included: its one U+FFFD is all that comes out.
std::vector<WCHAR> ExpectedWithTerminator(const Row& row, bool wine) {
    if (wine && !row.Wine.empty()) {
        if (row.Wine == "(nothing)") {
            return {0xFFFD};
        }
        return UnitsFromHex(row.Wine);
    }
    std::vector<WCHAR> expected = row.Windows;
    expected.push_back(0);
    return expected;
}

// Size query, then conversion into exactly that room, as the path conversion calls it.
std::vector<WCHAR> Convert(const std::string& input, int cb) {
    const int need = MultiByteToWideChar(CP_UTF8, 0, input.data(), cb, nullptr, 0);
    if (need <= 0) {
        return {};
    }
    std::vector<WCHAR> out(static_cast<std::size_t>(need), 0xBEEF);
    const int got = MultiByteToWideChar(CP_UTF8, 0, input.data(), cb, out.data(), need);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

class WindowsUtf8Rule : public ::testing::Test {
protected:
    void SetUp() override {
        m_rows = CX::Test::LoadWindowsUtf8Rows();
        ASSERT_EQ(m_rows.size(), 160u)
            << QUILLMARK_VECTORS_DIR << "/utf8/windows.tsv is missing, unreadable or incomplete";
    }
    std::vector<Row> m_rows;
    const bool m_wine = RunningUnderWine();
};

TEST_F(WindowsUtf8Rule, InputWithTerminator) {
    for (const Row& row : m_rows) {
        SCOPED_TRACE(row.Name);
        const std::string input = row.Input + '\0';
        EXPECT_EQ(Convert(input, static_cast<int>(input.size())),
                  ExpectedWithTerminator(row, m_wine));
    }
}

TEST_F(WindowsUtf8Rule, InputAlone) {
    if (m_wine) {
        GTEST_SKIP() << "Wine 8 also swallows the last byte of an input that ends one byte "
                        "after a sequence cut short; windows.tsv records Wine only for the "
                        "terminated form, checked in InputWithTerminator";
    }
    for (const Row& row : m_rows) {
        SCOPED_TRACE(row.Name);
        if (!row.Input.empty()) {
            EXPECT_EQ(Convert(row.Input, static_cast<int>(row.Input.size())), row.Windows);
        }
    }
}

// The product's path conversion over the real call: what it keeps is the conversion
// without its terminator. Inputs holding a NUL cannot be a path and are left out.
TEST_F(WindowsUtf8Rule, Utf8ToWideKeepsTheConversionWithoutItsTerminator) {
    for (const Row& row : m_rows) {
        if (row.Input.find('\0') != std::string::npos) {
            continue;
        }
        SCOPED_TRACE(row.Name);
        std::vector<WCHAR> expected = ExpectedWithTerminator(row, m_wine);
        if (!expected.empty() && expected.back() == 0) {
            expected.pop_back();
        }
        CX::HeapWString wide;
        const CX::Status status = CX::Utf8ToWide(row.Input.c_str(), wide);
        ASSERT_EQ(status.Code, CX::StatusCode::Success) << status.Message;
        EXPECT_EQ(std::vector<WCHAR>(wide.begin(), wide.end()), expected);
        EXPECT_EQ(wide.c_str()[wide.size()], 0);
    }
}

// ---- CreateFileW and FileInputStream -------------------------------------------------------

// The product's open, argument for argument; the last error is returned through pError.
HANDLE OpenAsTheStreamDoes(const std::wstring& path, DWORD* pError) {
    SetLastError(0);
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *pError = GetLastError();
    return h;
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class Win32Files : public CX::Testing::TempDirTest {
protected:
    // Returns the path itself, for the wide calls made here.
    std::filesystem::path Write(const std::filesystem::path& name, const std::string& content) {
        const std::filesystem::path path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // Every way of not opening leaves the stream in the same inert state.
    static void ExpectNotOpen(CX::IO::FileInputStream& stream) {
        EXPECT_FALSE(stream.IsOpen());
        EXPECT_TRUE(stream.IsEndOfStream());
        EXPECT_STREQ(stream.GetName(), "");
        std::uint32_t count = 7;
        EXPECT_EQ(stream.Read(&count, 4, &count).Code, CX::StatusCode::NotReady);
        EXPECT_EQ(count, 7u);
    }
};

TEST_F(Win32Files, OpenFailuresCarryTheirSystemErrors) {
    struct {
        const char* Name;
        std::wstring Path;
        DWORD Error;
    } const cases[] = {
        // Without FILE_FLAG_BACKUP_SEMANTICS a directory cannot be opened as a file.
        {"directory", m_dir.wstring(), ERROR_ACCESS_DENIED},
        {"missing file", (m_dir / L"missing").wstring(), ERROR_FILE_NOT_FOUND},
        {"missing directory on the way", (m_dir / L"no" / L"file").wstring(), ERROR_PATH_NOT_FOUND},
        {"empty path", L"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        DWORD error = 0;
        EXPECT_EQ(OpenAsTheStreamDoes(c.Path, &error), INVALID_HANDLE_VALUE);
        EXPECT_EQ(error, c.Error);
    }
}

TEST_F(Win32Files, StreamDoesNotOpenDirectoryMissingFileOrEmptyPath) {
    Write(L"present", "abc");
    for (const std::string& path : {Utf8(m_dir), Utf8(m_dir / L"missing"), std::string()}) {
        SCOPED_TRACE(path);
        CX::IO::FileInputStream stream(path.c_str());
        ExpectNotOpen(stream);
    }
    CX::IO::FileInputStream present(Utf8(m_dir / L"present").c_str());
    EXPECT_TRUE(present.IsOpen());
}

TEST_F(Win32Files, FileHeldWithoutReadSharingDoesNotOpen) {
    const std::filesystem::path path = Write(L"held", "abc");
    const HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE) << GetLastError();

    DWORD error = 0;
    EXPECT_EQ(OpenAsTheStreamDoes(path.wstring(), &error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, ERROR_SHARING_VIOLATION);
    {
        CX::IO::FileInputStream stream(Utf8(path).c_str());
        ExpectNotOpen(stream);
    }

    CloseHandle(holder);
    CX::IO::FileInputStream stream(Utf8(path).c_str());
    EXPECT_TRUE(stream.IsOpen());
}

// A writer that shares reading does not keep the stream out, and what it appends is seen.
TEST_F(Win32Files, WriterThatSharesReadingIsNoObstacle) {
    const std::filesystem::path path = Write(L"log", "abc");
    const HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << GetLastError();

    CX::IO::FileInputStream stream(Utf8(path).c_str());
    ASSERT_TRUE(stream.IsOpen());
    std::uint64_t size = 0;
    ASSERT_TRUE(stream.GetSize(&size).IsSuccess());
    EXPECT_EQ(size, 3u);

    LARGE_INTEGER end{};
    ASSERT_TRUE(SetFilePointerEx(writer, end, nullptr, FILE_END));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, "de", 2, &written, nullptr));
    ASSERT_TRUE(stream.GetSize(&size).IsSuccess());
    EXPECT_EQ(size, 5u);
    CloseHandle(writer);
}

// No FILE_SHARE_DELETE: while the stream has the file, it can be neither deleted nor renamed.
TEST_F(Win32Files, OpenFileCannotBeDeletedOrRenamed) {
    const std::filesystem::path path = Write(L"kept", "abc");
    const std::filesystem::path other = m_dir / L"moved";
    {
        CX::IO::FileInputStream stream(Utf8(path).c_str());
        ASSERT_TRUE(stream.IsOpen());
        EXPECT_FALSE(DeleteFileW(path.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_FALSE(MoveFileW(path.c_str(), other.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_TRUE(MoveFileW(path.c_str(), other.c_str())) << GetLastError();
}

TEST_F(Win32Files, NonAsciiUtf8PathOpens) {
    // é, two CJK characters and an emoji (a surrogate pair in UTF-16).
    const std::wstring name = L"caf\u00e9 \u65e5\u672c \U0001F600.txt";
    Write(name, "abc");
    const std::string utf8 = "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.txt";
    ASSERT_EQ(Utf8(std::filesystem::path(name)), utf8);

    const std::string path = Utf8(m_dir) + "\\" + utf8;
    CX::IO::FileInputStream stream(path.c_str());
    ASSERT_TRUE(stream.IsOpen());
    EXPECT_STREQ(stream.GetName(), path.c_str());
    char buffer[8] = {};
    std::uint32_t count = 0;
    ASSERT_EQ(stream.Read(buffer, sizeof buffer, &count).Code, CX::StatusCode::Success);
    EXPECT_EQ(std::string(buffer, count), "abc");
}

// Positions are 64-bit through the real calls: a seek past 4 GiB is kept, not wrapped.
TEST_F(Win32Files, PositionBeyondFourGibibytes) {
    const std::filesystem::path path = Write(L"small", "abc");
    CX::IO::FileInputStream stream(Utf8(path).c_str());
    ASSERT_TRUE(stream.IsOpen());
    const std::uint64_t beyond = (std::uint64_t{1} << 32) + 5;
    ASSERT_TRUE(stream.Seek(beyond).IsSuccess());
    std::uint64_t position = 0;
    ASSERT_TRUE(stream.GetPosition(&position).IsSuccess());
    EXPECT_EQ(position, beyond);
    EXPECT_TRUE(stream.IsEndOfStream());
    std::uint32_t count = 9;
    char byte = 0;
    EXPECT_EQ(stream.Read(&byte, 1, &count).Code, CX::StatusCode::EndOfData);
    EXPECT_EQ(count, 0u);
}

// ---- Listing a folder ----------------------------------------------------------------

// What a tree walk relies on, on Windows and under Wine alike: "." and ".." come back, a
// folder is told from a file, and the end is ERROR_NO_MORE_FILES. (Wine, unlike Windows,
// reports Unix symbolic links differently, so none is listed here.)
TEST_F(Win32Files, ListingTellsFoldersFromFiles) {
    Write(L"file", "abc");
    ASSERT_TRUE(CreateDirectoryW((m_dir / L"sub").c_str(), nullptr));
    const std::wstring pattern = (m_dir / L"*").wstring();
    WIN32_FIND_DATAW data;
    const HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    std::map<std::wstring, bool> isFolder;
    do {
        isFolder[data.cFileName] = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    const std::map<std::wstring, bool> expected = {
        {L".", true}, {L"..", true}, {L"file", false}, {L"sub", true}};
    EXPECT_EQ(isFolder, expected);
}

// ---- Replacing a file ------------------------------------------------------------------

// A file that a handle holds open cannot be replaced by a rename, even when the handle
// shares delete; once it is closed the same rename goes through. Whoever replaces a file
// that others read (a cache) must expect ERROR_ACCESS_DENIED for a while; the stand-in
// replaces it at once.
TEST_F(Win32Files, OpenFileIsNotReplaced) {
    const std::filesystem::path cache = Write(L"cache", "old");
    const std::filesystem::path fresh = Write(L"cache.new", "new");
    const HANDLE reader = CreateFileW(cache.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    EXPECT_FALSE(MoveFileExW(fresh.c_str(), cache.c_str(), flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(MoveFileExW(fresh.c_str(), cache.c_str(), flags)) << GetLastError();
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

// ---- The long-path retry, seen from the opens it makes ------------------------------------

// Wine opens a path of any length. Most Windows machines do not: without the long-path
// policy they refuse a path of MAX_PATH units or more unless it has the \\?\ form. This
// stands in the import slot of CreateFileW, which the product's calls go through too, and
// refuses as such a machine does, keeping every path it was asked for.
extern "C" decltype(&CreateFileW) __imp_CreateFileW;

std::vector<std::wstring>* g_pAskedPaths = nullptr;
decltype(&CreateFileW) g_realCreateFileW = nullptr;

HANDLE WINAPI CreateFileAsAShortPathMachine(LPCWSTR pName, DWORD access, DWORD share,
                                            LPSECURITY_ATTRIBUTES pSecurity, DWORD disposition,
                                            DWORD flags, HANDLE hTemplate) {
    const std::wstring name(pName);
    g_pAskedPaths->push_back(name);
    if (name.size() >= MAX_PATH && name.rfind(L"\\\\?\\", 0) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return g_realCreateFileW(pName, access, share, pSecurity, disposition, flags, hTemplate);
}

// While it lives, every CreateFileW of this process goes through the refusing one above.
class ShortPathMachine {
public:
    explicit ShortPathMachine(std::vector<std::wstring>& asked) {
        g_pAskedPaths = &asked;
        g_realCreateFileW = __imp_CreateFileW;
        SetSlot(&CreateFileAsAShortPathMachine);
    }
    ~ShortPathMachine() { SetSlot(g_realCreateFileW); }

private:
    static void SetSlot(decltype(&CreateFileW) pFunction) {
        DWORD old = 0;
        VirtualProtect(&__imp_CreateFileW, sizeof pFunction, PAGE_READWRITE, &old);
        __imp_CreateFileW = pFunction;
        VirtualProtect(&__imp_CreateFileW, sizeof pFunction, old, &old);
    }
};

TEST_F(Win32Files, PathOfMaxPathUnitsIsRetriedWithTheVerbatimPrefix) {
    const std::size_t room = MAX_PATH - m_dir.wstring().size() - 1;
    const std::filesystem::path path = Write(std::wstring(room, L'n'), "abc");
    ASSERT_EQ(path.wstring().size(), std::size_t{MAX_PATH});
    ASSERT_TRUE(path.is_absolute()) << Utf8(path);
    std::vector<std::wstring> asked;
    {
        ShortPathMachine machine(asked);
        CX::IO::FileInputStream stream(Utf8(path).c_str());
        ASSERT_TRUE(stream.IsOpen());
        char buffer[8] = {};
        std::uint32_t count = 0;
        ASSERT_EQ(stream.Read(buffer, sizeof buffer, &count).Code, CX::StatusCode::Success);
        EXPECT_EQ(std::string(buffer, count), "abc");
    }
    EXPECT_EQ(asked, (std::vector<std::wstring>{path.wstring(), L"\\\\?\\" + path.wstring()}));
}

// ---- The manifest of quillmark.exe -----------------------------------------------------

TEST(Manifest, AsInvokerWithoutUiAccessUtf8CodePageAndLongPaths) {
#ifndef QUILLMARK_EXE
    GTEST_SKIP() << "built without quillmark.exe";
#else
    const HMODULE exe = LoadLibraryExW(std::filesystem::path(QUILLMARK_EXE).c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr) << QUILLMARK_EXE << ": error " << GetLastError();
    // The loader reads the manifest of an executable from resource 1 of type 24.
    const HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no manifest resource";
    const HGLOBAL loaded = LoadResource(exe, found);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(exe, found));
    FreeLibrary(exe);

    EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/"
                            "WindowsSettings\">"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                            "WindowsSettings\">true</longPathAware>"),
              std::string::npos)
        << manifest;
#endif
}

}  // namespace
