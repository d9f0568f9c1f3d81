#pragma once

// A temporary directory per test, with files written into it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace CX::Testing {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        m_dir = std::filesystem::temp_directory_path() /
                ("quillmark-test-" + std::to_string(random()) + std::to_string(random()));
        ASSERT_TRUE(std::filesystem::create_directory(m_dir));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // Writes content to name in the directory and returns its path as narrow (UTF-8) text.
    std::string Write(const std::string& name, const std::string& content) {
        const std::filesystem::path path = m_dir / std::filesystem::u8path(name);
        std::ofstream(path, std::ios::binary) << content;
        return reinterpret_cast<const char*>(path.u8string().c_str());
    }

    static std::string Bytes(int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += static_cast<char>(i * 7 + 1);
        }
        return s;
    }

    std::filesystem::path m_dir;
};

}  // namespace CX::Testing
