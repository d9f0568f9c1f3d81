// quillsum's digest on every path this processor can run, against the NIST SHA-256 files
// and against the library's ContentDigest; and the processor's path in use where it has
// one.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "../hash/sha_test_support.h"
#include "digest/record_digest.h"
#include "hash/content_digest.h"

namespace CX::Digest {
void PrintTo(Sha256Path path, std::ostream* os) {
    *os << NameOf(path);
}
}  // namespace CX::Digest

namespace {

using CX::Digest::RecordDigest;
using CX::Digest::Sha256Path;
using CX::Hash::Testing::Bytes;

const Sha256Path AllPaths[] = {Sha256Path::Portable, Sha256Path::X86Sha, Sha256Path::ArmSha2};

Bytes Record(const Bytes& message, const std::vector<std::size_t>& cuts = {}) {
    RecordDigest digest;
    std::size_t start = 0;
    for (std::size_t end : cuts) {
        digest.Update(message.data() + start, end - start);
        start = end;
    }
    digest.Update(message.data() + start, message.size() - start);
    Bytes record(RecordDigest::RecordSize);
    digest.Final(record.data());
    return record;
}

Bytes Oracle(const Bytes& message) {
    CX::Hash::ContentDigest digest;
    Bytes record(RecordDigest::RecordSize);
    EXPECT_TRUE(digest.Reset().IsSuccess());
    EXPECT_TRUE(
        digest.Update(message.data(), static_cast<std::uint32_t>(message.size())).IsSuccess());
    EXPECT_TRUE(digest.Final(record.data()).IsSuccess());
    return record;
}

class EveryPath : public ::testing::TestWithParam<Sha256Path> {
protected:
    void SetUp() override {
        m_before = CX::Digest::Sha256PathInUse();
        if (!CX::Digest::UseSha256PathForTesting(GetParam())) {
            GTEST_SKIP() << "this processor cannot run " << CX::Digest::NameOf(GetParam());
        }
        ASSERT_EQ(RecordDigest().Path(), GetParam());
    }
    void TearDown() override { CX::Digest::UseSha256PathForTesting(m_before); }
    Sha256Path m_before = Sha256Path::Portable;
};

// Every record of the SHA-256 response files: the digest as NIST gives it, the count
// before it, and ContentDigest's bytes for the same message. Monte Carlo chains each
// digest from the three before it, so one wrong round anywhere shows at the checkpoint.
TEST_P(EveryPath, NistFilesAndContentDigest) {
    std::size_t records = 0;
    for (const char* kind : {"ShortMsg", "LongMsg", "Monte"}) {
        const std::filesystem::path path = std::filesystem::path(QUILLMARK_VECTORS_DIR) / "cavp" /
                                           (std::string("SHA256") + kind + ".rsp");
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in.is_open()) << "cannot read " << path;
        std::string line;
        std::size_t bits = 0;
        Bytes message, seed;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const auto eq = line.find(" = ");
            if (eq == std::string::npos || line[0] == '#' || line[0] == '[') {
                continue;
            }
            const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
            if (key == "Len") {
                bits = std::stoul(value);
            } else if (key == "Msg") {
                message = CX::Hash::Testing::FromHex(value);
                message.resize(bits / 8);
            } else if (key == "Seed") {
                seed = CX::Hash::Testing::FromHex(value);
            } else if (key == "MD") {
                const Bytes expected = CX::Hash::Testing::FromHex(value);
                Bytes record;
                if (seed.empty()) {
                    record = Record(message);
                    EXPECT_EQ(record, Oracle(message)) << kind << " Len " << bits;
                } else {
                    Bytes md[3] = {seed, seed, seed};
                    for (int i = 0; i < 1000; ++i) {
                        Bytes m = md[0];
                        m.insert(m.end(), md[1].begin(), md[1].end());
                        m.insert(m.end(), md[2].begin(), md[2].end());
                        record = Record(m);
                        md[0] = md[1];
                        md[1] = md[2];
                        md[2].assign(record.begin() + 8, record.end());
                    }
                    seed = expected;
                }
                ASSERT_EQ(Bytes(record.begin() + 8, record.end()), expected)
                    << kind << " " << records;
                ++records;
            }
        }
    }
    EXPECT_EQ(records, 65u + 64u + 100u);
}

// Pieces that start and end anywhere in a block, across the lengths where the padding
// needs one block or two.
TEST_P(EveryPath, AnyPiecesGiveContentDigestsRecord) {
    for (std::size_t size : {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000, 4097}) {
        const Bytes message =
            CX::Hash::Testing::PatternBytes(size, static_cast<std::uint32_t>(size));
        const Bytes expected = Oracle(message);
        EXPECT_EQ(Record(message), expected) << size;
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0, step = 1; at + step < size; step = step * 3 % 67 + 1) {
            cuts.push_back(at += step);
        }
        EXPECT_EQ(Record(message, cuts), expected)
            << size << " in " << cuts.size() + 1 << " pieces";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryPath, ::testing::ValuesIn(AllPaths), [](const auto& info) {
    return std::string(info.param == Sha256Path::Portable ? "Portable"
                       : info.param == Sha256Path::X86Sha ? "X86Sha"
                                                          : "ArmSha2");
});

// Whether the processor has SHA instructions, from outside the program: the harness that
// chose an emulated processor says so in QUILLMARK_PROCESSOR_HAS_SHA (0 or 1); otherwise the
// kernel's list of the processor's features. Empty when neither tells.
std::string ProcessorHasShaFromOutside(Sha256Path& fast) {
#if defined(__x86_64__)
    fast = Sha256Path::X86Sha;
    const std::string flag = " sha_ni";
#elif defined(__aarch64__)
    fast = Sha256Path::ArmSha2;
    const std::string flag = " sha2";
#else
    fast = Sha256Path::Portable;  // no processor instructions are written for this one
    const std::string flag;
#endif
    if (flag.empty()) {
        return "";
    }
    if (const char* told = std::getenv("QUILLMARK_PROCESSOR_HAS_SHA")) {
        return told;
    }
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) == 0 || line.rfind("Features", 0) == 0) {
            return (line + " ").find(flag + " ") != std::string::npos ? "1" : "0";
        }
    }
    return "";
}

TEST(DigestPath, TheProcessorsInstructionsAreInUseWhereItHasThem) {
    Sha256Path fast = Sha256Path::Portable;
    const std::string has = ProcessorHasShaFromOutside(fast);
    if (has.empty()) {
        GTEST_SKIP() << "nothing outside the program says whether this processor has SHA "
                        "instructions";
    }
    if (has == "0") {
        GTEST_SKIP() << "this processor has no SHA instructions: the portable rounds are the "
                        "only path";
    }
    EXPECT_EQ(CX::Digest::Sha256PathInUse(), fast)
        << CX::Digest::NameOf(CX::Digest::Sha256PathInUse());
    EXPECT_EQ(RecordDigest().Path(), fast);
}

}  // namespace
