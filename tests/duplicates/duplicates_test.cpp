// Files of one size compared as duplicates mode compares them, on files the test makes:
// which are read, how far, and what is left for the groups; then the groups themselves.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "duplicates/compare.h"
#include "duplicates/groups.h"
#include "support/temp_dir_test.h"
#include "workers/ordered_pool.h"

namespace {

using CX::Duplicates::Found;
using CX::Duplicates::Member;
using CX::Duplicates::Verdict;

// Counts the bytes the workers read.
class ReadCount final : public CX::Workers::IReadObserver {
public:
    void Started(const char*) override {}
    void Read(std::uint64_t bytes) override { Bytes += bytes; }
    void Finished() override {}
    std::uint64_t Bytes = 0;
};

class CompareSize : public CX::Testing::TempDirTest {
protected:
    static constexpr std::uint64_t Block = 16;

    // Each name as the walk would give it, with the size the walk saw.
    void Walked(const std::vector<std::string>& names, std::uint64_t size) {
        for (const std::string& name : names) {
            const std::string path = (m_dir / name).string();
            ASSERT_TRUE(m_files.Add(path, path, size));
            m_found.emplace_back().File = static_cast<std::uint32_t>(m_found.size());
        }
    }
    void Compare() {
        CX::Workers::Identifier identifier(&m_read);
        CX::Duplicates::CompareSize(m_files, m_found, m_members, identifier, &m_read, nullptr,
                                    nullptr, Block);
    }
    std::vector<Verdict> Verdicts() const {
        std::vector<Verdict> verdicts;
        for (const Member& member : m_members) {
            verdicts.push_back(member.What);
        }
        return verdicts;
    }

    CX::Duplicates::FileTable m_files;
    std::vector<Member> m_members;
    std::vector<Found> m_found;
    ReadCount m_read;
};

TEST_F(CompareSize, ReadsOnOnlyWhereFirstBlocksMeetAndNoByteTwice) {
    const std::string head(Block, 'h');
    const std::string tail(24, 't');
    Write("a", head + tail);
    std::filesystem::create_hard_link(m_dir / "a", m_dir / "a-link");
    Write("b", head + tail);
    Write("c", head + std::string(24, 'x'));     // the same first block, another tail
    Write("d", std::string(Block, 'd') + tail);  // another first block
    Walked({"a", "a-link", "b", "c", "d", "gone"}, 40);
    Compare();
    EXPECT_EQ(Verdicts(),
              (std::vector<Verdict>{Verdict::Identified, Verdict::SameFile, Verdict::Identified,
                                    Verdict::Unique, Verdict::Unique, Verdict::Failed}));
    EXPECT_EQ(m_found[0].Record, m_found[2].Record);
    EXPECT_EQ(m_found[0].Record.Length(), 40u);
    EXPECT_EQ(m_members[5].Failure, CX::Workers::Failure::Open);
    // a, b and c whole; of d its first block; nothing of the link.
    EXPECT_EQ(m_read.Bytes, 3 * 40 + Block);
}

TEST_F(CompareSize, OneFileUnderManyNamesIsNeverRead) {
    Write("a", std::string(40, 'a'));
    std::filesystem::create_hard_link(m_dir / "a", m_dir / "b");
    Walked({"a", "b"}, 40);
    Compare();
    EXPECT_EQ(Verdicts(), (std::vector<Verdict>{Verdict::Unique, Verdict::SameFile}));
    EXPECT_EQ(m_read.Bytes, 0u);
}

TEST_F(CompareSize, AFileChangedSinceTheWalkIsKeptForWhatWasRead) {
    // The walk saw both at 10 bytes; one has grown, and may equal a file of its new size.
    Write("grown", std::string(50, 'g'));
    Write("other", std::string(10, 'o'));
    Walked({"grown", "other"}, 10);
    Compare();
    EXPECT_EQ(Verdicts(), (std::vector<Verdict>{Verdict::Identified, Verdict::Unique}));
    EXPECT_EQ(m_found[0].Record.Length(), 50u);
}

TEST_F(CompareSize, FilesReadOnSideBySideStopWhereTheyPart) {
    // Past the first block, the last bytes of each: d parts from the rest in its last byte,
    // and is read no further. Then side by side a block of each at a time: c parts in its
    // second block there and is read no further.
    const std::uint32_t block = CX::Workers::Identifier::BlockSize;
    const std::uint32_t last = CX::Duplicates::LastBlock;
    const std::string bytes(3 * block + 100, 's');
    std::string c = bytes;
    c[Block + block + 5] = 'c';
    std::string d = bytes;
    d.back() = 'd';
    Write("a", bytes);
    Write("b", bytes);
    Write("c", c);
    Write("d", d);
    Walked({"a", "b", "c", "d"}, bytes.size());
    Compare();
    EXPECT_EQ(Verdicts(), (std::vector<Verdict>{Verdict::Identified, Verdict::Identified,
                                                Verdict::Unique, Verdict::Unique}));
    EXPECT_EQ(m_read.Bytes, 2 * bytes.size() + (Block + last + 2 * block) + (Block + last));
    CX::Workers::Identifier alone;
    CX::Workers::Outcome outcome;
    alone.IdentifyPath((m_dir / "a").string().c_str(), outcome);
    EXPECT_EQ(m_found[0].Record, outcome.Record);
    EXPECT_EQ(m_found[1].Record, outcome.Record);
}

TEST_F(CompareSize, MoreFilesAlikeThanAreReadTogetherAreReadInTurn) {
    std::vector<std::string> names;
    for (int i = 0; i < 9; ++i) {
        names.push_back("f" + std::to_string(i));
        Write(names.back(), std::string(100, 'n'));
    }
    Walked(names, 100);
    Compare();
    EXPECT_EQ(Verdicts(), std::vector<Verdict>(9, Verdict::Identified));
    EXPECT_EQ(m_read.Bytes, 9 * 100u);
}

TEST_F(CompareSize, ShortFilesAreToldApartByTheirBytes) {
    // Files no longer than a first block, of contents[i] each: those whose bytes another
    // has are Identified, with the identifier of their bytes read alone; the rest are
    // Unique. A size holds the bytes of 64 first blocks' worth of its files at once: 70
    // files of a first block are more, and pairs straddle that.
    struct Case {
        const char* Name;
        std::uint64_t Size;
        std::vector<int> Contents;
    };
    std::vector<int> straddling;
    for (int i = 0; i < 70; ++i) {
        straddling.push_back(i % 40);  // 30 to 39 alone; 0 and 40, ..., 29 and 69 alike
    }
    const std::vector<Case> cases{
        {"few", 10, {1, 1, 2, 1, 3}},
        {"all alike", 16, {4, 4, 4}},
        {"none alike", 5, {5, 6, 7, 8}},
        {"past what is held", Block, straddling},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CX::Duplicates::FileTable table;
        std::vector<Found> found;
        std::vector<Verdict> want;
        for (std::size_t i = 0; i < c.Contents.size(); ++i) {
            std::string bytes(c.Size, 'a');
            bytes.back() = static_cast<char>('A' + c.Contents[i]);
            const std::string path = Write(std::string(c.Name) + std::to_string(i), bytes);
            ASSERT_TRUE(table.Add(path, path, c.Size));
            found.emplace_back().File = static_cast<std::uint32_t>(i);
            const auto count = std::count(c.Contents.begin(), c.Contents.end(), c.Contents[i]);
            want.push_back(count > 1 ? Verdict::Identified : Verdict::Unique);
        }
        std::vector<Member> members;
        CX::Workers::Identifier identifier;
        CX::Duplicates::CompareSize(table, found, members, identifier, nullptr, nullptr, nullptr,
                                    Block);
        std::vector<Verdict> verdicts;
        for (const Member& member : members) {
            verdicts.push_back(member.What);
        }
        EXPECT_EQ(verdicts, want);
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (want[i] != Verdict::Identified) {
                continue;
            }
            std::string path;
            CX::Workers::Outcome outcome;
            identifier.IdentifyPath(table.OpenPath(static_cast<std::uint32_t>(i), path), outcome);
            EXPECT_EQ(found[i].Record, outcome.Record) << i;
        }
    }
}

// Two sizes compared on two workers at once, over one table: each job waits, once it has
// started, until the other has started too. Then each is delivered in its order with
// its own verdicts (and ThreadSanitizer sees whatever they share).
class BothAtOnce final
    : public CX::Workers::IPoolJobs<CX::Duplicates::SizeJob, CX::Workers::Identifier> {
public:
    void Run(CX::Duplicates::SizeJob& job, CX::Workers::Identifier& identifier) override {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_started;
            m_changed.notify_all();
            if (!m_changed.wait_for(lock, std::chrono::seconds(60),
                                    [this] { return m_started == 2; })) {
                m_timedOut = true;
            }
        }
        job.Run(identifier);
    }
    void Deliver(CX::Duplicates::SizeJob& job) override {
        std::vector<Verdict> verdicts;
        for (const Member& member : job.Members) {
            verdicts.push_back(member.What);
        }
        Delivered.push_back(verdicts);
    }
    std::vector<std::vector<Verdict>> Delivered;
    bool m_timedOut = false;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_started = 0;
};

// Counts the bytes any number of workers read.
class SharedReadCount final : public CX::Workers::IReadObserver {
public:
    void Started(const char*) override {}
    void Read(std::uint64_t bytes) override { Bytes += bytes; }
    void Finished() override {}
    std::atomic<std::uint64_t> Bytes{0};
};

TEST_F(CompareSize, TwoSizesOnTwoWorkersAtOnce) {
    // Longer than a first block, with first blocks alike: both sizes are read on side by
    // side, on both workers at once, and both tell one observer.
    const std::size_t ab = 20000;
    const std::size_t cd = 30000;
    Write("a", std::string(ab, 'a'));
    Write("b", std::string(ab, 'a'));
    Write("c", std::string(cd, 'c'));
    Write("d", std::string(cd - 1, 'c') + "d");
    Walked({"a", "b"}, ab);
    Walked({"c", "d"}, cd);
    BothAtOnce mode;
    SharedReadCount read;
    {
        CX::Workers::OrderedPool<CX::Duplicates::SizeJob, CX::Workers::Identifier> pool(
            2, mode, 1, static_cast<CX::Workers::IReadObserver*>(&read));
        for (std::size_t first : {0, 2}) {
            CX::Duplicates::SizeJob& job = pool.Next();
            job.Table = &m_files;
            job.Observer = &read;
            job.Files.assign(m_found.begin() + static_cast<std::ptrdiff_t>(first),
                             m_found.begin() + static_cast<std::ptrdiff_t>(first + 2));
            pool.Submit();
        }
        pool.Finish();
    }
    EXPECT_FALSE(mode.m_timedOut);
    EXPECT_EQ(mode.Delivered,
              (std::vector<std::vector<Verdict>>{{Verdict::Identified, Verdict::Identified},
                                                 {Verdict::Unique, Verdict::Unique}}));
    EXPECT_EQ(read.Bytes.load(), 2 * ab + 2 * cd);
}

Found At(std::uint32_t file, std::uint8_t content, std::uint64_t inode) {
    Found found{file, {}, {}};
    found.Record.Bytes[39] = content;
    found.Identity.Index = inode;
    return found;
}

TEST(FormGroups, WalkOrderWithinAndAcrossGroupsAndOneFileOnce) {
    // Records 1 and 2 make groups, record 2's first in the walk; 3 is alone; file 6 is
    // file 2 again (the same identity).
    std::vector<Found> found{At(7, 1, 70), At(4, 2, 40), At(5, 3, 50), At(2, 1, 20),
                             At(6, 1, 20), At(1, 2, 10), At(9, 1, 90)};
    const std::vector<CX::Duplicates::Group> groups = CX::Duplicates::FormGroups(found);
    std::vector<std::vector<std::uint32_t>> files;
    for (const CX::Duplicates::Group& group : groups) {
        files.emplace_back();
        for (std::size_t k = 0; k < group.Count; ++k) {
            files.back().push_back(found[group.First + k].File);
        }
    }
    EXPECT_EQ(files, (std::vector<std::vector<std::uint32_t>>{{1, 4}, {2, 7, 9}}));
}

TEST(FormGroups, NamesOfOneFileAloneAreNoGroup) {
    std::vector<Found> found{At(3, 1, 10), At(8, 1, 10)};
    EXPECT_TRUE(CX::Duplicates::FormGroups(found).empty());
}

TEST(FileTable, NamesComeBackWholeWhateverWayTheyAreKept) {
    struct Added {
        std::string Name;
        std::string Open;  // empty: opened by its name
        std::uint64_t Size;
    };
    // A folder left for a subfolder and come back to, a name without a folder, the root,
    // a name printed otherwise than it is opened, and an empty last component.
    const std::vector<Added> added{
        {"d/a", "", 1},   {"d/b", "", 2},      {"d/e/c", "", 1}, {"d/x", "", 3}, {"top", "", 2},
        {"/root", "", 5}, {"d/'q'", "d/q", 3}, {"d/", "", 7},    {"d/y", "", 1},
    };
    CX::Duplicates::FileTable table;
    for (const Added& file : added) {
        ASSERT_TRUE(table.Add(file.Name, file.Open.empty() ? file.Name : file.Open, file.Size));
    }
    ASSERT_EQ(table.Count(), added.size());
    std::string path = "left over";
    for (std::uint32_t n = 0; n < added.size(); ++n) {
        SCOPED_TRACE(added[n].Name);
        EXPECT_EQ(table.Name(n), added[n].Name);
        EXPECT_STREQ(table.OpenPath(n, path),
                     (added[n].Open.empty() ? added[n].Name : added[n].Open).c_str());
        EXPECT_EQ(table.Size(n), added[n].Size);
    }
    // All at once, in any order and with repeats, each as it comes alone.
    const std::vector<std::uint32_t> some{8, 0, 6, 5, 0, 2, 7, 4};
    std::string text = "left over";
    std::vector<std::size_t> at{99};
    table.OpenPaths(some.data(), some.size(), text, at);
    ASSERT_EQ(at.size(), some.size());
    for (std::size_t k = 0; k < some.size(); ++k) {
        SCOPED_TRACE(added[some[k]].Name);
        EXPECT_STREQ(text.c_str() + at[k], table.OpenPath(some[k], path));
    }
    EXPECT_EQ(text.size(), at.back() + std::strlen(text.c_str() + at.back()) + 1);
    // Sizes 1, 2 and 3 are shared: the largest first, each in walk order.
    EXPECT_EQ(table.SharedSizes(), (std::vector<std::uint32_t>{3, 6, 1, 4, 0, 2, 8}));
}

TEST(JsonString, EscapesQuotesBackslashesAndControlsOnly) {
    std::string out;
    CX::Duplicates::AppendJsonString(out, std::string("a\"b\\c\nd\re\tf\x01g\x7f\xc3\xa9", 16));
    EXPECT_EQ(out, std::string("\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\x7f\xc3\xa9\""));
}

}  // namespace
