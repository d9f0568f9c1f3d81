// The walk's order and reach: byte order of UTF-8 names at every level, depth first,
// through a wide folder and a deep one.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/file_facts.h"
#include "mem/utf8_to_wide.h"
#include "support/temp_dir_test.h"
#include "walk/walk.h"

namespace {

class Recorder : public CX::Walk::IWalkSink {
public:
    void File(const std::string& name, const std::string& openPath, std::uint64_t) override {
        Files.push_back(name);
        Opened.push_back(openPath);
    }
    void Problem(const std::string& name, const char* reason) override {
        Problems.push_back(name + ": " + reason);
    }
    void Skipped(const std::string& name, const char* reason) override {
        Problems.push_back(name + ": " + reason);
    }
    std::vector<std::string> Files;
    std::vector<std::string> Opened;
    std::vector<std::string> Problems;
};

class Walk : public CX::Testing::TempDirTest {};

TEST_F(Walk, WideFolderInByteOrderOfUtf8Names) {
    // Upper and lower case, digits, punctuation below '/', and names past ASCII, whose
    // UTF-8 bytes sort above every ASCII byte (on Windows the system's UTF-16 order would
    // put U+E000 above U+10000; byte order does not).
    const std::vector<std::string> alphabet = {
        "a", "B", "b", "0", "-", "+", "\xC3\xA9", "\xEE\x80\x80", "\xF0\x9F\x98\x80", "Z", "_"};
    std::mt19937 random(12345);
    std::vector<std::string> names;
    std::vector<std::string> folded;  // Windows tells no case apart
    while (names.size() < 1500) {
        std::string name;
        const int length = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < length; ++i) {
            name += alphabet[random() % alphabet.size()];
        }
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        if (std::find(folded.begin(), folded.end(), lower) != folded.end()) {
            continue;
        }
        folded.push_back(lower);
        names.push_back(name);
        Write(name, name);
    }
    std::sort(names.begin(), names.end());  // std::string compares bytes as unsigned
    const std::string root = reinterpret_cast<const char*>(m_dir.u8string().c_str());
    std::vector<std::string> expected;
    for (const std::string& name : names) {
        expected.push_back(root + "/" + name);
    }

    Recorder recorder;
    CX::Walk::TreeWalker walker(false);
    walker.Walk(root, root, recorder);
    EXPECT_EQ(recorder.Files, expected);
    EXPECT_EQ(recorder.Opened, expected);
    EXPECT_TRUE(recorder.Problems.empty());
}

TEST_F(Walk, DeepTreeDepthFirstWithoutRecursion) {
    // Each level holds a file before and after its subfolder: "a" < "d" < "z".
    std::filesystem::path path = m_dir;
    std::string relative;
    std::vector<std::string> expected;
    std::vector<std::string> after;
    for (int level = 0; level < 150; ++level) {
        std::filesystem::create_directory(path / "d");
        std::ofstream(path / "a") << level;
        std::ofstream(path / "z") << level;
        expected.push_back("T" + relative + "/a");
        after.push_back("T" + relative + "/z");
        path /= "d";
        relative += "/d";
    }
    expected.insert(expected.end(), after.rbegin(), after.rend());

    std::filesystem::current_path(m_dir);
    Recorder recorder;
    CX::Walk::TreeWalker walker(false);
    walker.Walk("T", ".", recorder);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    EXPECT_EQ(recorder.Files, expected);
}

}  // namespace

namespace {

class SizeRecorder : public Recorder {
public:
    void File(const std::string& name, const std::string& openPath, std::uint64_t size) override {
        Recorder::File(name, openPath, size);
        Sizes.push_back(size);
    }
    std::vector<std::uint64_t> Sizes;
};

// Asked for sizes, the walk hands on each file's size from its folder's listing; not asked,
// it hands on 0 (where the listing would cost a call per entry to tell).
TEST_F(Walk, SizesOnlyWhenAskedFor) {
    Write("a", Bytes(3));
    std::filesystem::create_directory(m_dir / "d");
    Write("d/b", Bytes(70000));
    Write("e", "");
    const std::string root = reinterpret_cast<const char*>(m_dir.u8string().c_str());
    for (const bool withSizes : {true, false}) {
        SizeRecorder recorder;
        CX::Walk::TreeWalker walker(false, withSizes);
        walker.Walk(root, root, recorder);
        const std::vector<std::uint64_t> expected =
            withSizes ? std::vector<std::uint64_t>{3, 70000, 0} : std::vector<std::uint64_t>(3);
        EXPECT_EQ(recorder.Sizes, expected);
    }
}

class FactsRecorder : public Recorder {
public:
    void ListedFile(const std::string& name, const std::string& openPath,
                    const CX::IO::FileFacts* pFacts) override {
        Recorder::File(name, openPath, 0);
        Listed.push_back(pFacts != nullptr ? *pFacts : CX::IO::FileFacts{});
        Told.push_back(pFacts != nullptr);
    }
    std::vector<CX::IO::FileFacts> Listed;
    std::vector<bool> Told;
};

// Asked for identities, the walk hands on what each folder's listing told of a file: the
// same size, times and identity that the file's own handle tells, so that a cache keyed by
// either finds the other's records. Through more entries than one call of the listing holds.
TEST_F(Walk, ListedFactsAreTheHandlesFacts) {
    Write("a", Bytes(3));
    std::filesystem::create_directory(m_dir / "d");
    Write("d/b", Bytes(70000));
    for (int i = 0; i < 400; ++i) {
        Write("d/" + std::string(120, 'n') + std::to_string(i), std::to_string(i));
    }
    Write("e", "");
    const std::string root = reinterpret_cast<const char*>(m_dir.u8string().c_str());
    FactsRecorder recorder;
    CX::Walk::TreeWalker walker(false, false, true);
    walker.Walk(root, root, recorder);
    ASSERT_EQ(recorder.Files.size(), 403u);
    EXPECT_TRUE(recorder.Problems.empty());
    for (std::size_t i = 0; i < recorder.Files.size(); ++i) {
        SCOPED_TRACE(recorder.Files[i]);
        ASSERT_TRUE(recorder.Told[i]);
        CX::HeapWString wstrPath;
        ASSERT_TRUE(CX::Utf8ToWide(recorder.Opened[i].c_str(), wstrPath).IsSuccess());
        HANDLE h = CreateFileW(wstrPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CX::IO::FileFacts facts;
        DWORD error = ERROR_SUCCESS;
        ASSERT_TRUE(CX::IO::FactsOfHandle(h, facts, error));
        CloseHandle(h);
        const CX::IO::FileFacts& listed = recorder.Listed[i];
        EXPECT_EQ(listed.Size, facts.Size);
        EXPECT_EQ(listed.LastWrite, facts.LastWrite);
        EXPECT_EQ(listed.Change, facts.Change);
        EXPECT_EQ(listed.Identity, facts.Identity);
    }
    EXPECT_EQ(recorder.Listed.front().Size, 3u);
    EXPECT_EQ(recorder.Listed[1].Size, 70000u);

    FactsRecorder unasked;
    CX::Walk::TreeWalker plain(false);
    plain.Walk(root, root, unasked);
    EXPECT_EQ(unasked.Files, recorder.Files);
    EXPECT_TRUE(unasked.Listed.empty());
}

}  // namespace
