// The engine against the NIST CAVP byte-oriented response files: every ShortMsg and
// LongMsg record and every Monte Carlo checkpoint, for all five algorithms.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <istream>
#include <string>
#include <utility>
#include <vector>

#include "sha_test_support.h"

namespace CX::Hash::Testing {
namespace {

namespace fs = std::filesystem;

using Field = std::pair<std::string, std::string>;

const fs::path VectorDir = fs::path(QUILLMARK_VECTORS_DIR) / "cavp";

// The "Key = Value" lines of a response file, in order; comments, section headers and
// the CR of the CRLF line ends are dropped.
std::vector<Field> ReadFields(std::istream& in) {
    std::vector<Field> fields;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto eq = line.find(" = ");
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos) {
            continue;
        }
        fields.emplace_back(line.substr(0, eq), line.substr(eq + 3));
    }
    return fields;
}

// SHAVS Monte Carlo: one checkpoint hashes the last three digests 1000 times over,
// starting from three copies of the seed.
Bytes MonteCheckpoint(const AlgorithmInfo& info, const Bytes& seed) {
    Bytes md[3] = {seed, seed, seed};
    for (int i = 3; i < 1003; ++i) {
        Bytes m = md[0];
        m.insert(m.end(), md[1].begin(), md[1].end());
        m.insert(m.end(), md[2].begin(), md[2].end());
        md[0] = std::move(md[1]);
        md[1] = std::move(md[2]);
        md[2] = Digest(info, m);
    }
    return md[2];
}

class ShaVectors : public ::testing::TestWithParam<AlgorithmInfo> {
protected:
    // Each MD is checked against the message before it, or in a Monte file against the
    // checkpoint that follows the previous one (the first from the seed).
    void Check(const char* kind, std::size_t expectedRecords) {
        const fs::path path = VectorDir / (std::string(GetParam().Name) + kind + ".rsp");
        // The vectors come with the sources: a file that cannot be read fails, never skips.
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in.is_open()) << "cannot read " << path;
        std::size_t bits = 0, records = 0;
        Bytes message, seed;
        for (const auto& [key, value] : ReadFields(in)) {
            if (key == "Len") {
                bits = std::stoul(value);
            } else if (key == "Msg") {
                message = FromHex(value);
                message.resize(bits / 8);  // "Msg = 00" stands for the empty message
            } else if (key == "Seed") {
                seed = FromHex(value);
            } else if (key == "MD") {
                const Bytes expected = FromHex(value);
                if (seed.empty()) {
                    EXPECT_EQ(Digest(GetParam(), message), expected) << kind << " Len " << bits;
                } else {
                    ASSERT_EQ(MonteCheckpoint(GetParam(), seed), expected) << "COUNT " << records;
                    seed = expected;
                }
                ++records;
            }
        }
        EXPECT_EQ(records, expectedRecords);
    }
};

TEST_P(ShaVectors, ShortMessages) {
    Check("ShortMsg", GetParam().BlockSize + 1);
}
TEST_P(ShaVectors, LongMessages) {
    Check("LongMsg", GetParam().BlockSize);
}
TEST_P(ShaVectors, MonteCarlo) {
    Check("Monte", 100);
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, ShaVectors, ::testing::ValuesIn(Algorithms),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace CX::Hash::Testing
