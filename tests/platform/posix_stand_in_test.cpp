// The POSIX stand-in's file, heap and last-error services: the Windows answers it owes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/posix/stand_in.h"
#include "platform/win32.h"
#include "support/utf8_vectors.h"

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

// Waits until thread <tid> of this process sleeps in a kernel function whose name holds one
// of <places>, or <done> is set (the call is over), so that what follows comes while the
// call waits. The deadline is for a hang.
void WaitUntilAsleepIn(pid_t tid, const std::atomic<bool>& done,
                       std::initializer_list<const char*> places) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        std::ifstream wchan("/proc/self/task/" + std::to_string(tid) + "/wchan");
        std::string where;
        std::getline(wchan, where);
        for (const char* place : places) {
            if (where.find(place) != std::string::npos) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A read of a pipe.
void WaitUntilReading(pid_t tid, const std::atomic<bool>& done) {
    WaitUntilAsleepIn(tid, done, {"pipe_read", "pipe_wait"});
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
        {"missing, named without a folder", Widen(m_dir.substr(m_dir.rfind('/') + 1) + "-none"),
         ERROR_FILE_NOT_FOUND},
        {"missing folder on the way", Widen(m_dir + "/none/file"), ERROR_PATH_NOT_FOUND},
        {"missing file in a folder", Widen(m_dir + "/dir/none"), ERROR_FILE_NOT_FOUND},
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
    EXPECT_EQ(GetFileType(h), FILE_TYPE_PIPE);

    // A writer that comes later and writes later still is waited for: the descriptor is
    // not left non-blocking, which would fail the read at once.
    const int writer = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const pid_t reader = gettid();
    std::atomic<bool> readOver{false};
    std::thread late([writer, reader, &readOver] {
        WaitUntilReading(reader, readOver);
        EXPECT_EQ(write(writer, "abc", 3), 3);
    });
    got = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
    readOver = true;
    EXPECT_EQ(std::string(buffer, got), "abc");
    late.join();
    close(writer);
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

TEST_F(StandIn, FileTypes) {
    struct {
        const char* Name;
        std::u16string Path;
        DWORD Type;
    } const cases[] = {
        {"regular file", Widen(Write("file", "x")), FILE_TYPE_DISK},
        {"empty file", Widen(Write("empty", "")), FILE_TYPE_DISK},
        {"character device", u"/dev/null", FILE_TYPE_CHAR},
        {"procfs, size 0 with content", u"/proc/version", FILE_TYPE_UNKNOWN},
        // The file system's kind is kept per device: asked again when the device changes.
        {"regular file after procfs", Widen(Write("again", "y")), FILE_TYPE_DISK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        HANDLE h = Open(c.Path);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetLastError(99);
        EXPECT_EQ(GetFileType(h), c.Type);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // an answer, not a failure
        EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_EQ(GetFileType(INVALID_HANDLE_VALUE), FILE_TYPE_UNKNOWN);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A handle's type and identity come from what its open learned. Once CloseHandle has let a
// descriptor go, the number another open gets again is that file's, whoever opened it.
TEST_F(StandIn, TypeAndIdentityFollowTheDescriptorNumber) {
    auto index = [](HANDLE h) {
        FILE_ID_INFO id{};
        EXPECT_TRUE(GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id));
        std::uint64_t inode = 0;
        for (int i = 7; i >= 0; --i) {
            inode = (inode << 8) | id.FileId.Identifier[i];
        }
        return inode;
    };
    const std::string file = Write("file", "x");
    const std::string fifo = m_dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct stat st;
    HANDLE h = Open(Widen(file));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(GetFileType(h), FILE_TYPE_DISK);
    EXPECT_EQ(index(h), static_cast<std::uint64_t>(st.st_ino));
    const int number = CX::Platform::Detail::FdFromHandle(h);
    ASSERT_TRUE(CloseHandle(h));

    const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(fd, number);  // the lowest number free: the one just let go
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    h = CX::Platform::Detail::HandleFromFd(fd);
    EXPECT_EQ(GetFileType(h), FILE_TYPE_PIPE);
    EXPECT_EQ(index(h), static_cast<std::uint64_t>(st.st_ino));
    close(fd);
}

// cgroup2, like procfs, reports 0 bytes for files whose text it makes up as they are read.
TEST_F(StandIn, Cgroup2FilesAreNoDiskFiles) {
    std::ifstream mounts("/proc/self/mounts");
    std::string device, folder, type, rest;
    while (mounts >> device >> folder >> type && type != "cgroup2") {
        std::getline(mounts, rest);
    }
    if (type != "cgroup2") {
        GTEST_SKIP() << "no cgroup2 file system is mounted here";
    }
    HANDLE h = Open(Widen(folder + "/cgroup.procs"));
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << folder;
    EXPECT_EQ(GetFileType(h), FILE_TYPE_UNKNOWN) << folder;
    EXPECT_TRUE(CloseHandle(h));
}

// A process started without standard input gets descriptor 0 for the first file it opens:
// a handle like any other. And no descriptor is handed on to a program started later.
TEST_F(StandIn, DescriptorZeroIsAHandleAndDescriptorsCloseOnExec) {
    const std::string path = Write("zero", "abc");
    struct Input {  // standard input, put back whatever the test does
        int Saved = dup(0);
        ~Input() {
            if (Saved >= 0) {
                dup2(Saved, 0);
                close(Saved);
            }
        }
    } input;
    close(0);
    HANDLE h = Open(Widen(path));
    struct stat opened, file;
    ASSERT_EQ(fstat(0, &opened), 0);
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    ASSERT_EQ(opened.st_ino, file.st_ino);  // descriptor 0 is the file
    EXPECT_EQ(fcntl(0, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);

    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(h), FILE_TYPE_DISK);
    char buffer[8];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr)) << GetLastError();
    EXPECT_EQ(std::string(buffer, got), "abc");
    EXPECT_TRUE(CloseHandle(h));
}

// A signal that arrives while a read waits is not a failure of the read: it goes on.
TEST_F(StandIn, ReadInterruptedBySignalGoesOn) {
    const std::string path = m_dir + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    HANDLE h = Open(Widen(path));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const int writer = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    // Without SA_RESTART the waiting read(2) returns EINTR.
    struct sigaction action = {}, previous = {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t reader = pthread_self();
    const pid_t readerId = gettid();
    std::atomic<bool> readOver{false};
    std::thread late([reader, readerId, writer, &readOver] {
        for (int i = 0; i < 5 && !readOver; ++i) {
            WaitUntilReading(readerId, readOver);  // each signal comes while the read sleeps
            pthread_kill(reader, SIGUSR1);
        }
        EXPECT_EQ(write(writer, "abc", 3), 3);
    });
    char buffer[8];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr)) << GetLastError();
    readOver = true;
    EXPECT_EQ(std::string(buffer, got), "abc");
    late.join();
    sigaction(SIGUSR1, &previous, nullptr);
    close(writer);
    EXPECT_TRUE(CloseHandle(h));
}

// A lock that is taken waits for the handle holding it, and goes on once that one unlocks:
// the waiter is asleep in its lock before the holder lets go. A suite of its own: the
// ThreadSanitizer build runs it.
class StandInLock : public StandIn {};
TEST_F(StandInLock, WaitsForTheHolder) {
    const std::u16string path = Widen(Write("lock", ""));
    auto open = [&path] {
        return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    };
    const HANDLE holder = open();
    const HANDLE waiter = open();
    OVERLAPPED range{};
    range.Offset = 100;
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, 10, 0, &range));
    std::atomic<pid_t> waiterId{0};
    std::atomic<bool> locked{false};
    std::atomic<bool> released{false};
    std::thread second([&] {
        waiterId = gettid();
        OVERLAPPED overlapping{};
        overlapping.Offset = 109;  // one byte in common
        EXPECT_TRUE(LockFileEx(waiter, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapping));
        EXPECT_TRUE(released);
        locked = true;
    });
    while (waiterId == 0) {
        std::this_thread::yield();
    }
    WaitUntilAsleepIn(waiterId, locked, {"fcntl_setlk", "locks_lock"});
    EXPECT_FALSE(locked);
    released = true;
    EXPECT_TRUE(UnlockFileEx(holder, 0, 10, 0, &range));
    second.join();
    EXPECT_TRUE(locked);
    EXPECT_TRUE(CloseHandle(waiter));
    EXPECT_TRUE(CloseHandle(holder));
}

// A write that finds no room fails with Windows' full-disk error and keeps nothing.
TEST(StandInWrites, NoRoomIsDiskFull) {
    const HANDLE h =
        CreateFileW(u"/dev/full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 9;
    EXPECT_FALSE(WriteFile(h, "abc", 3, &put, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(put, 0u);
    EXPECT_TRUE(CloseHandle(h));
}

// A wide path goes back to the UTF-8 it came from: every row of windows.tsv whose bytes
// are valid UTF-8 (one to four bytes, the edges of each length, U+0800 among them).
TEST(StandInPaths, WidePathsGoBackToTheirUtf8) {
    const std::vector<CX::Test::WindowsUtf8Row> rows = CX::Test::LoadWindowsUtf8Rows();
    ASSERT_EQ(rows.size(), 160u) << QUILLMARK_VECTORS_DIR
                                 << "/utf8/windows.tsv is missing, unreadable or incomplete";
    std::size_t checked = 0;
    for (const auto& row : rows) {
        const bool replaced =
            std::find(row.Windows.begin(), row.Windows.end(), 0xFFFD) != row.Windows.end();
        if (replaced || row.Input.empty() || row.Input.find('\0') != std::string::npos) {
            continue;
        }
        SCOPED_TRACE(row.Name);
        const std::u16string wide(row.Windows.begin(), row.Windows.end());
        EXPECT_EQ(CX::Platform::Detail::Utf8FromUtf16Path(wide.c_str()), row.Input);
        ++checked;
    }
    EXPECT_EQ(checked, 27u);
}

TEST_F(StandIn, OnlyOpenExistingIsDoneAndNothingLeaks) {
    const std::string path = Write("file", "keep");
    for (DWORD disposition : {1u, 2u, 4u, 5u, 0u, 6u}) {  // create, truncate, ...
        SCOPED_TRACE(disposition);
        for (const std::string& target : {path, m_dir + "/new"}) {
            SetLastError(0);
            EXPECT_EQ(CreateFileW(Widen(target).c_str(), GENERIC_READ, 3, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr),
                      INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/new"));
    EXPECT_EQ(std::filesystem::file_size(path), 4u);

    // A directory is refused after it was opened: its descriptor must be closed again.
    ASSERT_EQ(mkdir((m_dir + "/dir").c_str(), 0700), 0);
    auto openCount = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openCount();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Open(Widen(m_dir + "/dir")), INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(openCount(), before);
}

TEST_F(StandIn, FullPathNames) {
    WCHAR buffer[4096];
    LPWSTR pFilePart = nullptr;
    const std::u16string absolute = u"/a/b/c.txt";
    EXPECT_EQ(GetFullPathNameW(absolute.c_str(), 4096, buffer, &pFilePart), absolute.size());
    EXPECT_EQ(std::u16string(buffer), absolute);
    EXPECT_EQ(std::u16string(pFilePart), u"c.txt");

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::u16string joined = Widen(std::string(cwd) + "/x/../y/");
    const DWORD need = GetFullPathNameW(u"x/../y/", 0, nullptr, nullptr);
    EXPECT_EQ(need, joined.size() + 1);  // room for the NUL, nothing written
    EXPECT_EQ(GetFullPathNameW(u"x/../y/", need - 1, buffer, nullptr), need);
    EXPECT_EQ(GetFullPathNameW(u"x/../y/", need, buffer, &pFilePart), joined.size());
    EXPECT_EQ(std::u16string(buffer), joined);
    EXPECT_EQ(pFilePart, nullptr);  // ends in a separator: no file part

    EXPECT_EQ(GetFullPathNameW(u"", 4096, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

    // What a full path in its verbatim form names opens as the path itself.
    const std::string file = Write("verbatim", "v");
    HANDLE h = Open(u"\\\\?\\" + Widen(file));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));

    // Only before an absolute path: behind it a relative name is no file of the working
    // directory, where Windows would not look for it either.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    SetLastError(0);
    EXPECT_EQ(Open(u"\\\\?\\verbatim"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::filesystem::current_path(before);
}

// What a listing gives: each name with its attributes and reparse tag.
using Entries = std::map<std::u16string, std::pair<DWORD, DWORD>>;

Entries List(const std::u16string& pattern) {
    Entries entries;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    if (h == INVALID_HANDLE_VALUE) {
        return entries;
    }
    do {
        entries[data.cFileName] = {data.dwFileAttributes, data.dwReserved0};
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return entries;
}

TEST_F(StandIn, ListingGivesEveryEntryWithItsKindUnfollowed) {
    Write("file", "content");
    ASSERT_EQ(mkdir((m_dir + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(symlink("sub", (m_dir + "/to-sub").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (m_dir + "/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((m_dir + "/fifo").c_str(), 0600), 0);
    Write("lat\xE9n", "");                      // Latin-1: not UTF-8
    Write("caf\xC3\xA9 \xF0\x9F\x98\x80", "");  // é and U+1F600, a surrogate pair
    Write("cut\xE6\x97", "");                   // a sequence cut short: each byte kept
    Write("\xED\xA0\x80", "");                  // an encoded surrogate is no UTF-8
    constexpr DWORD kDir = FILE_ATTRIBUTE_DIRECTORY;
    const Entries expected = {
        {u".", {kDir, 0}},
        {u"..", {kDir, 0}},
        {u"file", {FILE_ATTRIBUTE_NORMAL, 0}},
        {u"sub", {kDir, 0}},
        {u"to-sub", {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK}},
        {u"dangling", {FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK}},
        {u"fifo", {FILE_ATTRIBUTE_DEVICE, 0}},
        {u"lat\xDCE9n", {FILE_ATTRIBUTE_NORMAL, 0}},
        {u"caf\x00E9 \xD83D\xDE00", {FILE_ATTRIBUTE_NORMAL, 0}},
        {u"cut\xDCE6\xDC97", {FILE_ATTRIBUTE_NORMAL, 0}},
        {u"\xDCED\xDCA0\xDC80", {FILE_ATTRIBUTE_NORMAL, 0}},
    };
    EXPECT_EQ(List(Widen(m_dir + "/*")), expected);
    EXPECT_EQ(List(u"\\\\?\\" + Widen(m_dir + "\\*")), expected);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(m_dir.c_str()), 0);
    EXPECT_EQ(List(u"*"), expected);
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(StandIn, ListingRefusals) {
    HANDLE file = Open(Widen(Write("file", "x")));
    struct {
        const char* Name;
        std::u16string Pattern;
        DWORD Error;
    } const cases[] = {
        {"missing folder", Widen(m_dir + "/none/*"), ERROR_PATH_NOT_FOUND},
        {"file listed as a folder", Widen(m_dir + "/file/*"), ERROR_DIRECTORY},
        {"file on the way", Widen(m_dir + "/file/x/*"), ERROR_PATH_NOT_FOUND},
        {"no wildcard", Widen(m_dir), ERROR_INVALID_PARAMETER},
        {"no separator before it", Widen(m_dir + "/f*"), ERROR_INVALID_PARAMETER},
    };
    WIN32_FIND_DATAW data;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(FindFirstFileExW(c.Pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.Error);
    }

    // Nothing that is not an open listing is followed.
    HANDLE closed = FindFirstFileExW(Widen(m_dir + "/*").c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, 0);
    ASSERT_TRUE(FindClose(closed));
    int local = 0;
    for (HANDLE h : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, file, closed,
                     static_cast<HANDLE>(&local)}) {
        EXPECT_FALSE(FindNextFileW(h, &data));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(FindClose(h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(StandIn, AttributesAndIdentity) {
    Write("file", "12345");
    ASSERT_EQ(link((m_dir + "/file").c_str(), (m_dir + "/hard").c_str()), 0);
    ASSERT_EQ(mkdir((m_dir + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(symlink("sub", (m_dir + "/to-sub").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (m_dir + "/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((m_dir + "/fifo").c_str(), 0600), 0);
    const std::pair<const char*, DWORD> attributes[] = {
        {"file", FILE_ATTRIBUTE_NORMAL},
        {"to-sub", FILE_ATTRIBUTE_DIRECTORY},  // followed
        {"fifo", FILE_ATTRIBUTE_DEVICE},
        {"dangling", INVALID_FILE_ATTRIBUTES},
    };
    for (const auto& [name, expected] : attributes) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesW(Widen(m_dir + "/" + name).c_str()), expected) << name;
    }
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // A folder opens with backup semantics only, and is the same folder by either path.
    EXPECT_EQ(Open(Widen(m_dir + "/sub")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    auto identify = [](const std::string& path) {
        HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        EXPECT_TRUE(GetFileInformationByHandle(h, &info)) << path;
        char byte;
        DWORD got = 0;
        EXPECT_EQ(ReadFile(h, &byte, 1, &got, nullptr), path.ends_with("sub") ? FALSE : TRUE);
        CloseHandle(h);
        return info;
    };
    auto id = [](const BY_HANDLE_FILE_INFORMATION& info) {
        return std::make_tuple(info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
    };
    const auto sub = identify(m_dir + "/sub");
    const auto file = identify(m_dir + "/file");
    const auto null = identify("/dev/null");
    EXPECT_EQ(id(identify(m_dir + "/to-sub")), id(sub));
    EXPECT_EQ(id(identify(m_dir + "/hard")), id(file));
    EXPECT_NE(id(file), id(sub));
    // The volume is the device number as stat(1) shows it (%d), major and minor both kept.
    struct stat st;
    for (const auto& [path, info] : {std::pair{m_dir, sub}, {std::string("/dev/null"), null}}) {
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(info.dwVolumeSerialNumber, static_cast<DWORD>(st.st_dev)) << path;
    }
    EXPECT_EQ(std::make_tuple(sub.dwFileAttributes, sub.nFileSizeLow),
              std::make_tuple(FILE_ATTRIBUTE_DIRECTORY, 0u));
    EXPECT_EQ(null.dwFileAttributes, FILE_ATTRIBUTE_DEVICE);
    EXPECT_EQ(std::make_tuple(file.dwFileAttributes, file.nNumberOfLinks, file.nFileSizeLow),
              std::make_tuple(FILE_ATTRIBUTE_NORMAL, 2u, 5u));
}

// Standard input from a pipe and standard error into /dev/null, for a moment.
TEST(StandInHandles, StandardHandlesAreDescriptorsZeroToTwo) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "piped", 5), 5);
    close(ends[1]);
    const int savedIn = dup(0);
    const int savedErr = dup(2);
    ASSERT_EQ(dup2(ends[0], 0), 0);
    close(ends[0]);
    ASSERT_EQ(dup2(open("/dev/null", O_WRONLY | O_CLOEXEC), 2), 2);
    char buffer[8];
    DWORD got = 0;
    const BOOL ok = ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr);
    const DWORD errorType = GetFileType(GetStdHandle(STD_ERROR_HANDLE));
    BY_HANDLE_FILE_INFORMATION output{};
    GetFileInformationByHandle(GetStdHandle(STD_OUTPUT_HANDLE), &output);
    close(0);
    const HANDLE none = GetStdHandle(STD_INPUT_HANDLE);  // a process without standard input
    dup2(savedIn, 0);
    dup2(savedErr, 2);
    close(savedIn);
    close(savedErr);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(buffer, got), "piped");
    EXPECT_EQ(errorType, FILE_TYPE_CHAR);
    struct stat st;
    ASSERT_EQ(fstat(1, &st), 0);
    EXPECT_EQ(output.nFileIndexLow, static_cast<DWORD>(st.st_ino));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(GetStdHandle(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(StandInErrors, ErrnoToWin32Table) {
    struct {
        int Errno;
        DWORD Error;
    } const table[] = {
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENXIO, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED},
        {EROFS, ERROR_ACCESS_DENIED},
        {EISDIR, ERROR_ACCESS_DENIED},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
        {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
        {EBADF, ERROR_INVALID_HANDLE},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        {EINVAL, ERROR_INVALID_PARAMETER},
        {EAGAIN, ERROR_SHARING_VIOLATION},
        {EIO, ERROR_NOT_READY},
        {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
        {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
        {ENOSPC, ERROR_DISK_FULL},
        {EDQUOT, ERROR_DISK_FULL},
        {EEXIST, ERROR_ALREADY_EXISTS},
        {EXDEV, ERROR_NOT_SAME_DEVICE},
        {EDOM, ERROR_GEN_FAILURE},  // anything unlisted
        {0, ERROR_GEN_FAILURE},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Errno);
        EXPECT_EQ(CX::Platform::Detail::ErrorFromErrno(row.Errno), row.Error);
    }
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

namespace {

// The facts a handle gives beyond GetFileInformationByHandle: the change time and the whole
// identity, as stat(2) tells them; and a listing's sizes and times at the standard level.
TEST(StandInFacts, ByHandleAndInListingsAsStatTellsThem) {
    const std::string dir = ::testing::TempDir() + "/stand-in-facts-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/f";
    std::ofstream(path) << "twelve bytes";
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    auto units = [](const timespec& t) {
        return (static_cast<std::int64_t>(t.tv_sec) + 11644473600) * 10000000 + t.tv_nsec / 100;
    };

    HANDLE h = Open(Widen(path));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO basic{};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic));
    EXPECT_EQ(basic.LastWriteTime.QuadPart, units(st.st_mtim));
    EXPECT_EQ(basic.ChangeTime.QuadPart, units(st.st_ctim));
    FILE_ID_INFO id{};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id));
    EXPECT_EQ(id.VolumeSerialNumber, static_cast<ULONGLONG>(st.st_dev));
    std::uint64_t index = 0;
    for (int i = 7; i >= 0; --i) {
        index = (index << 8) | id.FileId.Identifier[i];
    }
    EXPECT_EQ(index, static_cast<std::uint64_t>(st.st_ino));
    EXPECT_FALSE(GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id - 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(
        GetFileInformationByHandleEx(h, static_cast<FILE_INFO_BY_HANDLE_CLASS>(1), &id, sizeof id));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(h);

    for (const auto level : {FindExInfoStandard, FindExInfoBasic}) {
        WIN32_FIND_DATAW data{};
        HANDLE find = FindFirstFileExW(Widen(dir + "/*").c_str(), level, &data,
                                       FindExSearchNameMatch, nullptr, 0);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        while (data.cFileName[0] != u'f' && FindNextFileW(find, &data)) {
        }
        FindClose(find);
        const bool standard = level == FindExInfoStandard;
        EXPECT_EQ(data.nFileSizeLow, standard ? 12u : 0u);
        const auto write = (static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
        EXPECT_EQ(write, standard ? units(st.st_mtim) : 0);
    }
    std::filesystem::remove_all(dir);
}

// A folder listed through its handle: records as many as fit, an entry that does not fit
// kept for the next call, each entry's own lstat (a link unfollowed, its tag where Windows
// puts it), the end told once every entry has come, and what is no folder refused.
TEST(StandInFacts, FolderListedByHandleAsLstatTellsIt) {
    const std::string dir = ::testing::TempDir() + "/stand-in-ids-" + std::to_string(getpid());
    std::filesystem::create_directories(dir + "/sub");
    std::ofstream(dir + "/file") << "twelve bytes";
    ASSERT_EQ(symlink("file", (dir + "/link").c_str()), 0);
    const HANDLE h = CreateFileW(Widen(dir).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Room for one record with a short name: one entry a call.
    alignas(8) unsigned char records[sizeof(FILE_ID_BOTH_DIR_INFO) + 8];
    EXPECT_FALSE(GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, records, 16));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    std::map<std::u16string, FILE_ID_BOTH_DIR_INFO> seen;
    while (GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, records, sizeof records)) {
        FILE_ID_BOTH_DIR_INFO info;
        std::memcpy(&info, records, sizeof info);
        EXPECT_EQ(info.NextEntryOffset, 0u);
        const auto* pName =
            reinterpret_cast<const char16_t*>(records + offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
        seen[std::u16string(pName, info.FileNameLength / 2)] = info;
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_EQ(seen.size(), 5u);  // ".", "..", and the three

    struct stat st;
    ASSERT_EQ(lstat((dir + "/file").c_str(), &st), 0);
    const FILE_ID_BOTH_DIR_INFO& file = seen[u"file"];
    EXPECT_EQ(file.FileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(file.EndOfFile.QuadPart, 12);
    EXPECT_EQ(file.FileId.QuadPart, static_cast<LONGLONG>(st.st_ino));
    EXPECT_EQ(file.ChangeTime.QuadPart, CX::Platform::Detail::FileTimeFromTimespec(st.st_ctim));
    EXPECT_EQ(file.LastWriteTime.QuadPart, CX::Platform::Detail::FileTimeFromTimespec(st.st_mtim));
    ASSERT_EQ(lstat((dir + "/link").c_str(), &st), 0);
    EXPECT_EQ(seen[u"link"].FileAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(seen[u"link"].EaSize, IO_REPARSE_TAG_SYMLINK);
    EXPECT_EQ(seen[u"link"].FileId.QuadPart, static_cast<LONGLONG>(st.st_ino));
    EXPECT_EQ(seen[u"sub"].FileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    // "." is the folder itself; ".." a folder whose facts are not asked for.
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(seen[u"."].FileId.QuadPart, static_cast<LONGLONG>(st.st_ino));
    EXPECT_EQ(seen[u".."].FileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(seen[u".."].FileId.QuadPart, 0);
    CloseHandle(h);

    const HANDLE hFile = Open(Widen(dir + "/file"));
    EXPECT_FALSE(
        GetFileInformationByHandleEx(hFile, FileIdBothDirectoryInfo, records, sizeof records));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(hFile);
    EXPECT_FALSE(GetFileInformationByHandleEx(INVALID_HANDLE_VALUE, FileIdBothDirectoryInfo,
                                              records, sizeof records));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    std::filesystem::remove_all(dir);
}

}  // namespace
