// The cache on disk, over the stand-in's fault seam: a file found in the cache is not read,
// a replace that fails at any step leaves the old file as it was, and a file that is no
// cache of ours is neither used nor replaced.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cache/cache.h"
#include "cache/cache_file.h"
#include "platform/fault_seam.h"
#include "support/temp_dir_test.h"
#include "workers/identify.h"

namespace {

using CX::Platform::FaultCall;

// The system's clock, a minute ahead: files written by the test are old enough to keep.
class AheadClock final : public CX::Cache::IClock {
public:
    std::int64_t Now() const override {
        return CX::Cache::SystemClock().Now() + 60 * CX::Cache::Second;
    }
};

class CacheFileTest : public CX::Testing::TempDirTest {
protected:
    void TearDown() override {
        CX::Platform::ResetFaults();
        TempDirTest::TearDown();
    }

    std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Identifies path through cache, and tells it what was learned.
    CX::Workers::Outcome Identify(const std::string& path, CX::Cache::Cache& cache) {
        CX::Workers::Identifier identifier;
        CX::Workers::Outcome outcome;
        identifier.IdentifyPath(path.c_str(), outcome, nullptr, &cache);
        EXPECT_TRUE(outcome.HasFacts);
        if (!outcome.WasKnown) {
            cache.Offer(outcome.Facts, outcome.Record, outcome.OpenedAfter);
        }
        return outcome;
    }

    // A cache file at PATH holding a record of each file.
    std::string Filled(const std::vector<std::string>& files) {
        const std::string path = (m_dir / "ids.cache").string();
        CX::Cache::CacheFile file(path);
        std::vector<CX::Cache::Entry> entries;
        std::string problem;
        EXPECT_TRUE(file.Load(entries, problem)) << problem;
        CX::Cache::Cache cache(m_clock);
        for (const std::string& name : files) {
            Identify(name, cache);
        }
        EXPECT_TRUE(file.Save(cache, problem)) << problem;
        return path;
    }

    AheadClock m_clock;
};

TEST_F(CacheFileTest, AFileTheCacheKnowsIsNotRead) {
    const std::string abc = Write("abc", "abc");
    const std::string path = Filled({abc});
    CX::Cache::CacheFile file(path);
    std::vector<CX::Cache::Entry> entries;
    std::string problem;
    ASSERT_TRUE(file.Load(entries, problem)) << problem;
    ASSERT_EQ(entries.size(), 1u);
    CX::Cache::Cache cache(m_clock);
    cache.Start(entries);
    const std::uint64_t reads = CX::Platform::UseCount(FaultCall::ReadFile);
    const CX::Workers::Outcome outcome = Identify(abc, cache);
    EXPECT_TRUE(outcome.WasKnown);
    EXPECT_EQ(outcome.Record, entries[0].Record);
    EXPECT_EQ(CX::Platform::UseCount(FaultCall::ReadFile), reads);
}

TEST_F(CacheFileTest, AJustWrittenFileIsReadAgainAndNotKept) {
    const std::string abc = Write("abc", "abc");
    CX::Cache::Cache cache;  // the system's clock: the file's times are this moment's
    Identify(abc, cache);
    EXPECT_FALSE(cache.Changed());
}

TEST_F(CacheFileTest, AReplaceThatFailsAtAnyStepLeavesTheOldFileWhole) {
    const std::string one = Write("one", "1");
    const std::string two = Write("two", "22");
    const std::string path = Filled({one});
    const std::string before = Slurp(path);
    for (const FaultCall call : {FaultCall::LockFileEx, FaultCall::WriteFile,
                                 FaultCall::FlushFileBuffers, FaultCall::MoveFileExW}) {
        CX::Cache::CacheFile file(path);
        std::vector<CX::Cache::Entry> entries;
        std::string problem;
        ASSERT_TRUE(file.Load(entries, problem));
        CX::Cache::Cache cache(m_clock);
        cache.Start(entries);
        Identify(two, cache);
        CX::Platform::FailOn(call, 1, ERROR_DISK_FULL);
        EXPECT_FALSE(file.Save(cache, problem)) << static_cast<int>(call);
        EXPECT_NE(problem.find("No space left on device"), std::string::npos) << problem;
        EXPECT_EQ(Slurp(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
        CX::Platform::ResetFaults();
    }
}

TEST_F(CacheFileTest, TwoRunsThatOverlapLoseNoRecord) {
    const std::string one = Write("one", "1");
    const std::string two = Write("two", "22");
    const std::string path = Filled({});
    CX::Cache::CacheFile first(path);
    CX::Cache::CacheFile second(path);
    std::vector<CX::Cache::Entry> entries;
    std::string problem;
    ASSERT_TRUE(first.Load(entries, problem));
    ASSERT_TRUE(second.Load(entries, problem));
    CX::Cache::Cache a(m_clock);
    CX::Cache::Cache b(m_clock);
    Identify(one, a);
    Identify(two, b);
    ASSERT_TRUE(second.Save(b, problem)) << problem;
    ASSERT_TRUE(first.Save(a, problem)) << problem;
    ASSERT_TRUE(CX::Cache::CacheFile(path).Load(entries, problem));
    EXPECT_EQ(entries.size(), 2u);
}

// A first run's file is written from the records as the run encoded them, over more than
// one block of them: every record whole, and a file read twice (a second name) kept once,
// as its later reading, as a merge keeps it.
TEST_F(CacheFileTest, AFirstRunWritesEveryRecordWholeAndEachFileOnce) {
    const std::int64_t now = m_clock.Now();
    const auto facts = [&](std::uint64_t index) {
        CX::IO::FileFacts f;
        f.Identity = {3, index, 0};
        f.Size = index;
        f.LastWrite = now - 100 * CX::Cache::Second;
        f.Change = f.LastWrite;
        return f;
    };
    const auto record = [](std::uint64_t index, std::uint8_t mark) {
        CX::Hash::ContentRecord r;
        for (int i = 0; i < 8; ++i) {
            r.Bytes[i] = static_cast<std::uint8_t>(index >> (8 * i));
        }
        r.Bytes[39] = mark;
        return r;
    };
    const auto byIdentity = [](std::vector<CX::Cache::Entry> entries) {
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.Identity.Index < b.Identity.Index; });
        return entries;
    };
    constexpr std::uint64_t Files = 9000;
    for (const bool twice : {false, true}) {
        SCOPED_TRACE(twice);
        const std::string path = (m_dir / (twice ? "twice.cache" : "once.cache")).string();
        CX::Cache::CacheFile file(path);
        std::vector<CX::Cache::Entry> entries;
        std::string problem;
        ASSERT_TRUE(file.Load(entries, problem)) << problem;
        CX::Cache::Cache cache(m_clock);
        for (std::uint64_t i = 0; i < Files; ++i) {
            cache.Offer(facts(i), record(i, 1), now - (i == 8191 ? 9 : 10));
            if (twice && i == 200) {
                // Before the run's table of records grows six times.
                cache.Offer(facts(100), record(100, 2), now - 8);   // later
                cache.Offer(facts(101), record(101, 3), now - 11);  // earlier
            }
        }
        if (twice) {
            cache.Offer(facts(8191), record(8191, 2), now - 8);
            cache.Offer(facts(8192), record(8192, 3), now - 11);
            cache.Offer(facts(100), record(100, 4), now - 7);
        }
        ASSERT_TRUE(file.Save(cache, problem)) << problem;
        EXPECT_EQ(std::filesystem::file_size(path),
                  CX::Cache::HeaderSize + Files * CX::Cache::RecordSize);
        ASSERT_TRUE(CX::Cache::CacheFile(path).Load(entries, problem)) << problem;
        ASSERT_EQ(entries.size(), Files);
        EXPECT_EQ(byIdentity(entries), byIdentity(cache.Merged({})));
        EXPECT_EQ(byIdentity(entries)[8191].Record, record(8191, twice ? 2 : 1));
        EXPECT_EQ(byIdentity(entries)[8192].Record, record(8192, 1));
        EXPECT_EQ(byIdentity(entries)[100].Record, record(100, twice ? 4 : 1));
        EXPECT_EQ(byIdentity(entries)[101].Record, record(101, 1));
    }
}

TEST_F(CacheFileTest, AFileThatIsNoCacheOfOursIsNeitherUsedNorReplaced) {
    const std::string notes = Write("notes.txt", "a note that happens to be named as a cache");
    CX::Cache::CacheFile file(notes);
    std::vector<CX::Cache::Entry> entries;
    std::string problem;
    EXPECT_FALSE(file.Load(entries, problem));
    EXPECT_EQ(problem, "not a quillsum cache; not used, left as it is");
    CX::Cache::Cache cache(m_clock);
    Identify(Write("abc", "abc"), cache);
    EXPECT_TRUE(file.Save(cache, problem));
    EXPECT_EQ(Slurp(notes), "a note that happens to be named as a cache");
}

}  // namespace
