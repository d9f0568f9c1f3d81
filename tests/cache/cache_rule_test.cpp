// When a record may stand for a file's bytes (the racy rule, on a clock the test sets), what
// a run adds to the file, and lookups from many threads beside the delivering one.

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <optional>
#include <thread>
#include <vector>

#include "cache/cache.h"

namespace {

using CX::Cache::Entry;
using CX::Cache::Granularity;
using CX::Cache::Second;

constexpr std::int64_t Day = 24 * 3600 * Second;
constexpr std::int64_t Written = 133500000000000000;  // a moment of the file's times

class TestClock final : public CX::Cache::IClock {
public:
    std::int64_t Now() const override { return At; }
    std::int64_t At = Written;
};

CX::IO::FileFacts Facts(std::uint64_t index) {
    CX::IO::FileFacts facts;
    facts.Identity = {7, index, 0};
    facts.Size = 3;
    facts.LastWrite = Written;
    facts.Change = Written + 1;
    return facts;
}

CX::Hash::ContentRecord RecordOf(const CX::IO::FileFacts& facts, std::uint8_t mark) {
    CX::Hash::ContentRecord record;
    record.Bytes[0] = static_cast<std::uint8_t>(facts.Size);
    record.Bytes[39] = mark;
    return record;
}

// A run that read the file from readFrom on, and the next run over what it wrote.
std::vector<Entry> Offered(TestClock& clock, const CX::IO::FileFacts& facts,
                           std::int64_t readFrom) {
    CX::Cache::Cache cache(clock);
    cache.Offer(facts, RecordOf(facts, 1), readFrom);
    return cache.Merged({});
}

TEST(CacheRule, ARecordIsKeptOnlyWhenBothTimesAreOlderThanTheReadByMoreThanTheStep) {
    TestClock clock;
    const CX::IO::FileFacts facts = Facts(1);
    // The change time is the later one: it decides.
    EXPECT_TRUE(Offered(clock, facts, facts.Change + Granularity).empty());
    CX::IO::FileFacts older = facts;
    older.Change = facts.LastWrite;
    older.LastWrite = facts.Change;
    EXPECT_TRUE(Offered(clock, older, facts.Change + Granularity).empty());
    EXPECT_EQ(Offered(clock, facts, facts.Change + Granularity + 1).size(), 1u);
}

TEST(CacheRule, ARecordStandsOnlyForAFileWhoseEveryFactIsEqual) {
    TestClock clock;
    const CX::IO::FileFacts facts = Facts(1);
    clock.At = Written + 10 * Second;
    CX::Cache::Cache next(clock);
    next.Start(Offered(clock, facts, clock.At));
    ASSERT_EQ(next.Lookup(facts), RecordOf(facts, 1));
    const auto differs = [&](auto change) {
        CX::IO::FileFacts now = facts;
        change(now);
        return !next.Lookup(now);
    };
    EXPECT_TRUE(differs([](CX::IO::FileFacts& f) { f.Identity.Volume += 1; }));
    EXPECT_TRUE(differs([](CX::IO::FileFacts& f) { f.Identity.Index += 1; }));
    EXPECT_TRUE(differs([](CX::IO::FileFacts& f) { f.Identity.IndexHigh += 1; }));
    EXPECT_TRUE(differs([](CX::IO::FileFacts& f) { f.Size += 1; }));
    EXPECT_TRUE(differs([](CX::IO::FileFacts& f) { f.LastWrite += 1; }));
    EXPECT_TRUE(differs([](CX::IO::FileFacts& f) { f.Change += 1; }));
}

TEST(CacheRule, ARacyRecordInTheFileIsNotTrusted) {
    // Written by hand (another build, a damaged clock): the rule holds at the lookup too.
    TestClock clock;
    const CX::IO::FileFacts facts = Facts(1);
    Entry entry;
    entry.Identity = facts.Identity;
    entry.Length = facts.Size;
    entry.LastWrite = facts.LastWrite;
    entry.Change = facts.Change;
    entry.Record = RecordOf(facts, 1);
    entry.ReadFrom = facts.Change + Granularity;
    clock.At = Written + 10 * Second;
    CX::Cache::Cache cache(clock);
    cache.Start({entry});
    EXPECT_FALSE(cache.Lookup(facts));
    // And a moment the clock has not reached yet is no moment at all.
    entry.ReadFrom = clock.At + 1;
    cache.Start({entry});
    EXPECT_FALSE(cache.Lookup(facts));
    entry.ReadFrom = clock.At;
    cache.Start({entry});
    EXPECT_TRUE(cache.Lookup(facts));
}

TEST(CacheRule, RecordsUnseenForLongAreDroppedAndAnUnchangedRunWritesNothing) {
    TestClock clock;
    clock.At = Written + 10 * Second;
    std::vector<Entry> entries = Offered(clock, Facts(1), clock.At);
    const std::vector<Entry> second = Offered(clock, Facts(2), clock.At);
    entries.push_back(second[0]);
    // A day later both are found: nothing to write.
    clock.At += Day;
    CX::Cache::Cache cache(clock);
    cache.Start(entries);
    cache.Seen(Facts(1));
    cache.Seen(Facts(2));
    EXPECT_FALSE(cache.Changed());
    // Past a day the one found is renewed; a month on, the other goes.
    clock.At += 29 * Day;
    cache.Start(entries);
    cache.Seen(Facts(1));
    ASSERT_TRUE(cache.Changed());
    clock.At += 2;
    const std::vector<Entry> merged = cache.Merged(entries);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].Identity, Facts(1).Identity);
    EXPECT_EQ(merged[0].LastSeen, clock.At - 2);
}

TEST(CacheRule, AMergeKeepsAnotherRunsRecordsAndTheLaterReadingOfAFile) {
    TestClock clock;
    clock.At = Written + 10 * Second;
    // Another run wrote files 1 and 2 since this one started; this one read 2 later, and 3.
    std::vector<Entry> onDisk = Offered(clock, Facts(1), clock.At);
    onDisk.push_back(Offered(clock, Facts(2), clock.At)[0]);
    CX::Cache::Cache cache(clock);
    cache.Offer(Facts(2), RecordOf(Facts(2), 9), clock.At + 1);
    cache.Offer(Facts(3), RecordOf(Facts(3), 9), clock.At);
    const std::vector<Entry> merged = cache.Merged(onDisk);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].Record, RecordOf(Facts(1), 1));
    EXPECT_EQ(merged[1].Record, RecordOf(Facts(2), 9));
    EXPECT_EQ(merged[2].Record, RecordOf(Facts(3), 9));
    // The other order of the same two readings gives the same file.
    CX::Cache::Cache earlier(clock);
    earlier.Offer(Facts(2), RecordOf(Facts(2), 9), clock.At - 1);
    EXPECT_EQ(earlier.Merged(onDisk)[1].Record, RecordOf(Facts(2), 1));
}

// Many files on two volumes, in a file that holds some twice: each is found as its latest
// reading, and no other file is, however their identities crowd the table.
TEST(CacheRule, EachOfManyFilesIsFoundAsItsLatestReadingAndNoOtherIs) {
    TestClock clock;
    clock.At = Written + 10 * Second;
    const auto facts = [](std::uint64_t volume, std::uint64_t index) {
        CX::IO::FileFacts f = Facts(index);
        f.Identity.Volume = volume;
        return f;
    };
    std::vector<Entry> entries;
    for (std::uint64_t volume : {7u, 8u}) {
        for (std::uint64_t i = 0; i < 3000; ++i) {
            entries.push_back(Offered(clock, facts(volume, i * 4), clock.At)[0]);
            if (i % 7 == 0) {
                // A later reading of the file, before or after the earlier one.
                CX::Cache::Cache again(clock);
                again.Offer(facts(volume, i * 4), RecordOf(facts(volume, i * 4), 2), clock.At + 1);
                const auto at =
                    i % 2 == 0 ? entries.end()
                               : entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2);
                entries.insert(at, again.Merged({})[0]);
            }
        }
    }
    clock.At += Second;
    CX::Cache::Cache cache(clock);
    cache.Start(entries);
    for (std::uint64_t volume : {7u, 8u}) {
        for (std::uint64_t i = 0; i < 12000; ++i) {
            const std::optional<CX::Hash::ContentRecord> found = cache.Lookup(facts(volume, i));
            if (i % 4 != 0) {
                ASSERT_FALSE(found.has_value()) << volume << " " << i;
            } else {
                ASSERT_EQ(found, RecordOf(facts(volume, i), i / 4 % 7 == 0 ? 2 : 1))
                    << volume << " " << i;
            }
        }
    }
    EXPECT_FALSE(cache.Lookup(facts(9, 0)).has_value());
    EXPECT_TRUE(CX::Cache::Cache(clock).Empty());
    EXPECT_FALSE(cache.Empty());
}

TEST(CacheRule, LookupsAndRecordsMadeOnManyThreadsMeetTheDeliveringThreadsOffers) {
    TestClock clock;
    clock.At = Written + 10 * Second;
    std::vector<Entry> entries;
    for (std::uint64_t i = 0; i < 64; ++i) {
        entries.push_back(Offered(clock, Facts(i), clock.At)[0]);
    }
    CX::Cache::Cache cache(clock);
    cache.Start(entries);
    // Every looker holds until all have started and keeps looking up until the offers are
    // done, so that each offer lands while lookups run.
    std::atomic<int> started{0};
    std::atomic<bool> offered{false};
    std::atomic<int> misses{0};
    std::vector<std::thread> lookers;
    for (int t = 0; t < 4; ++t) {
        lookers.emplace_back([&] {
            ++started;
            do {
                for (std::uint64_t i = 0; i < 64; ++i) {
                    // A worker makes the record of a file it read, as the offers land.
                    std::uint8_t encoded[CX::Cache::RecordSize];
                    Entry made;
                    if (cache.Lookup(Facts(i)) != RecordOf(Facts(i), 1) ||
                        !cache.Encode(Facts(i), RecordOf(Facts(i), 3), clock.At, encoded) ||
                        !CX::Cache::DecodeEntry(encoded, made) ||
                        made.Record != RecordOf(Facts(i), 3)) {
                        ++misses;
                    }
                }
            } while (!offered);
        });
    }
    while (started < 4) {
        std::this_thread::yield();
    }
    for (std::uint64_t i = 0; i < 64; ++i) {
        cache.Offer(Facts(i + 64), RecordOf(Facts(i + 64), 2), clock.At);
        cache.Seen(Facts(i));
    }
    offered = true;
    for (std::thread& looker : lookers) {
        looker.join();
    }
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(cache.Merged(entries).size(), 128u);
}

}  // namespace
