// The engine against the NIST CAVP byte-oriented response files: every ShortMsg and
// LongMsg record and every Monte Carlo checkpoint, for all five algorithms.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
std::vector<Field> ReadFields(const fs::path& path) {
    std::vector<Field> fields;
    std::ifstream in(path);
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

class ShaVectors : public ::testing::TestWithParam<AlgorithmInfo> {
protected:
    std::vector<Field> Load(const char* kind) {
        const fs::path path = VectorDir / (std::string(GetParam().Name) + kind + ".rsp");
        if (!fs::is_directory(VectorDir)) {
            return {};
        }
        EXPECT_TRUE(fs::exists(path)) << path;
        return ReadFields(path);
    }

    void CheckMessages(const char* kind, std::size_t expectedRecords) {
        if (!fs::is_directory(VectorDir)) {
            GTEST_SKIP() << "NIST CAVP vectors not found in " << VectorDir;
        }
        std::size_t bits = 0, records = 0;
        Bytes message;
        for (const auto& [key, value] : Load(kind)) {
            if (key == "Len") {
                bits = std::stoul(value);
            } else if (key == "Msg") {
                message = FromHex(value);
                message.resize(bits / 8);  // "Msg = 00" stands for the empty message
            } else if (key == "MD") {
                EXPECT_EQ(Digest(GetParam(), message), FromHex(value)) << kind << " Len = " << bits;
                ++records;
            }
        }
        EXPECT_EQ(records, expectedRecords);
    }
};

TEST_P(ShaVectors, ShortMessages) {
    CheckMessages("ShortMsg", GetParam().BlockSize + 1);
}

TEST_P(ShaVectors, LongMessages) {
    CheckMessages("LongMsg", GetParam().BlockSize);
}

// SHAVS: each checkpoint hashes the last three digests 1000 times over, seeded with the
// previous checkpoint.
TEST_P(ShaVectors, MonteCarlo) {
    if (!fs::is_directory(VectorDir)) {
        GTEST_SKIP() << "NIST CAVP vectors not found in " << VectorDir;
    }
    Bytes seed;
    std::size_t checkpoints = 0;
    for (const auto& [key, value] : Load("Monte")) {
        if (key == "Seed") {
            seed = FromHex(value);
        } else if (key == "MD") {
            Bytes md[3] = {seed, seed, seed};
            for (int i = 3; i < 1003; ++i) {
                Bytes m = md[0];
                m.insert(m.end(), md[1].begin(), md[1].end());
                m.insert(m.end(), md[2].begin(), md[2].end());
                md[0] = std::move(md[1]);
                md[1] = std::move(md[2]);
                md[2] = Digest(GetParam(), m);
            }
            seed = md[2];
            ASSERT_EQ(seed, FromHex(value)) << "COUNT = " << checkpoints;
            ++checkpoints;
        }
    }
    EXPECT_EQ(checkpoints, 100u);
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, ShaVectors, ::testing::ValuesIn(Algorithms),
                         [](const auto& info) { return ParamName(info.param); });

}  // namespace
}  // namespace CX::Hash::Testing
