// MultiByteToWideChar(CP_UTF8, 0) against the recorded Windows behaviour.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/utf8_vectors.h"

namespace {

using Case = CX::Test::WindowsUtf8Row;

int Convert(const std::string& input, int cb, std::vector<WCHAR>* pOutput) {
    const int need = MultiByteToWideChar(CP_UTF8, 0, input.data(), cb, nullptr, 0);
    if (need <= 0) {
        return need;
    }
    pOutput->assign(static_cast<std::size_t>(need), 0xBEEF);
    return MultiByteToWideChar(CP_UTF8, 0, input.data(), cb, pOutput->data(), need);
}

class WindowsRule : public ::testing::Test {
protected:
    void SetUp() override {
        m_cases = CX::Test::LoadWindowsUtf8Rows();
        ASSERT_EQ(m_cases.size(), 160u)
            << QUILLMARK_VECTORS_DIR << "/utf8/windows.tsv is missing, unreadable or incomplete";
    }
    std::vector<Case> m_cases;
};

TEST_F(WindowsRule, InputAlone) {
    for (const Case& c : m_cases) {
        SCOPED_TRACE(c.Name);
        std::vector<WCHAR> out;
        SetLastError(0);
        const int got = Convert(c.Input, static_cast<int>(c.Input.size()), &out);
        if (c.Input.empty()) {
            // A byte count of 0 is refused rather than converted to nothing.
            EXPECT_EQ(got, 0);
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        } else {
            EXPECT_EQ(got, static_cast<int>(c.Windows.size()));
            EXPECT_EQ(out, c.Windows);
        }
    }
}

// As a path conversion calls it: the input and its terminator. (Wine 8 differs from
// Windows on five of these rows, see the vectors' README.)
TEST_F(WindowsRule, InputWithTerminator) {
    for (const Case& c : m_cases) {
        SCOPED_TRACE(c.Name);
        std::vector<WCHAR> expected = c.Windows;
        expected.push_back(0);
        std::vector<WCHAR> out;
        const int got = Convert(c.Input + '\0', static_cast<int>(c.Input.size() + 1), &out);
        EXPECT_EQ(got, static_cast<int>(expected.size()));
        EXPECT_EQ(out, expected);
    }
}

TEST(MultiByteToWideChar, NulTerminatedCountIncludesTerminator) {
    WCHAR out[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, nullptr, 0), 3);
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3\xA9", -1, out, 8), 3);
    EXPECT_EQ(out[0], 0x61);
    EXPECT_EQ(out[1], 0xE9);
    EXPECT_EQ(out[2], 0);
}

TEST(MultiByteToWideChar, Refusals) {
    const char* const szText = "h\xC3\xA9llo";  // 6 bytes, 5 units
    WCHAR out[8];
    struct {
        const char* Name;
        UINT CodePage;
        DWORD Flags;
        int Cb;
        WCHAR* Dest;
        int Capacity;
        DWORD Error;
    } const cases[] = {
        {"destination one unit short", CP_UTF8, 0, 6, out, 4, ERROR_INSUFFICIENT_BUFFER},
        {"byte count 0", CP_UTF8, 0, 0, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"byte count below -1", CP_UTF8, 0, -2, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"no destination but a capacity", CP_UTF8, 0, 6, nullptr, 5, ERROR_INVALID_PARAMETER},
        {"negative capacity", CP_UTF8, 0, 6, out, -1, ERROR_INVALID_PARAMETER},
        {"MB_PRECOMPOSED", CP_UTF8, 0x1, 6, nullptr, 0, ERROR_INVALID_FLAGS},
        {"MB_USEGLYPHCHARS", CP_UTF8, 0x4, 6, nullptr, 0, ERROR_INVALID_FLAGS},
        {"no such code page", 12345, 0, 6, nullptr, 0, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.CodePage, c.Flags, szText, c.Cb, c.Dest, c.Capacity), 0);
        EXPECT_EQ(GetLastError(), c.Error);
    }
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, szText, 6, out, 5), 5);  // exactly enough
    // ASCII alone, past a word of eight bytes: refused one unit short with nothing written,
    // then converted whole.
    const std::string ascii = "plain/ascii/path";
    const int cb = static_cast<int>(ascii.size());
    std::vector<WCHAR> wide(ascii.size(), 0xBEEF);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, ascii.data(), cb, wide.data(), cb - 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(wide, std::vector<WCHAR>(ascii.size(), 0xBEEF));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, ascii.data(), cb, nullptr, 0), cb);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, ascii.data(), cb, wide.data(), cb), cb);
    EXPECT_EQ(wide, std::vector<WCHAR>(ascii.begin(), ascii.end()));
}

// One byte above ASCII (alone, so U+FFFD) at each place of the first three words of eight.
TEST(MultiByteToWideChar, NonAsciiAnywhereInAWord) {
    for (std::size_t at = 0; at < 24; ++at) {
        SCOPED_TRACE(at);
        const std::string input = std::string(at, 'a') + "\xE9" + std::string(9, 'b');
        std::vector<WCHAR> expected(at, u'a');
        expected.push_back(0xFFFD);
        expected.insert(expected.end(), 9, u'b');
        std::vector<WCHAR> out;
        EXPECT_EQ(Convert(input, static_cast<int>(input.size()), &out),
                  static_cast<int>(expected.size()));
        EXPECT_EQ(out, expected);
    }
}

}  // namespace
