// Utf8ToWide, with the array allocations of this executable counted (and refused on cue).

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "mem/heap_string.h"
#include "mem/utf8_to_wide.h"

namespace {

std::vector<std::size_t> g_arrayBlocks;  // sizes of the array blocks taken
bool g_countArrays = false;
bool g_refuseArrays = false;
int g_arraysReleased = 0;

void* TakeArray(std::size_t cb) {
    if (g_countArrays) {
        g_arrayBlocks.push_back(cb);
        if (g_refuseArrays) {
            return nullptr;
        }
    }
    return std::malloc(cb == 0 ? 1 : cb);
}

void ReleaseArray(void* p) {
    if (p != nullptr && g_countArrays) {
        ++g_arraysReleased;
    }
    std::free(p);
}

}  // namespace

// Every array form is replaced, so that blocks and releases stay paired for the sanitizers.
void* operator new[](std::size_t cb) {
    void* p = TakeArray(cb);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t cb, const std::nothrow_t&) noexcept {
    return TakeArray(cb);
}
void operator delete[](void* p) noexcept {
    ReleaseArray(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    ReleaseArray(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    ReleaseArray(p);
}

namespace CX {
namespace {

class Utf8ToWideTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_arrayBlocks.clear();
        g_arraysReleased = 0;
        g_refuseArrays = false;
        g_countArrays = true;
    }
    void TearDown() override {
        g_countArrays = false;
        g_refuseArrays = false;
    }
};

TEST_F(Utf8ToWideTest, Conversions) {
    struct {
        const char* Name;
        const char* Input;
        std::u16string Expected;
    } const cases[] = {
        {"empty", "", u""},
        {"ASCII path", "C:\\dir\\file.txt", u"C:\\dir\\file.txt"},
        {"2-byte sequence", "caf\xC3\xA9", u"caf\u00E9"},
        {"3-byte sequence", "\xE2\x82\xAC", u"\u20AC"},
        {"4-byte sequence, a surrogate pair", "\xF0\x9F\x98\x80!", u"\xD83D\xDE00!"},
        {"stray continuation byte", "a\x80z", u"a\xFFFDz"},
        {"overlong lead", "\xC0\x41\x42", u"\xFFFD\x41\x42"},
        {"truncated before the end", "\xE2\x82", u"\xFFFD"},
        {"encoded surrogate (Windows' own rule)", "\xED\xA0\x80", u"\xFFFD\xFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        HeapWString out;
        const Status status = Utf8ToWide(c.Input, out);
        EXPECT_EQ(status.Code, StatusCode::Success);
        EXPECT_STREQ(status.Message, "");
        EXPECT_EQ(std::u16string(out.begin(), out.end()), c.Expected);
    }
    EXPECT_TRUE(g_arrayBlocks.empty());
}

TEST_F(Utf8ToWideTest, ReplacesLongerContent) {
    HeapWString out(50, u'x');
    ASSERT_TRUE(Utf8ToWide("ab", out).IsSuccess());
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(out.c_str()[2], 0);
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

TEST_F(Utf8ToWideTest, StackBufferUpTo3999Units) {
    const std::string kPair = "\xF0\x9F\x98\x80";  // U+1F600, two units
    struct {
        const char* Name;
        std::string Input;
        std::size_t Units;
        std::vector<std::size_t> Blocks;
    } const cases[] = {
        {"3,999 ASCII", std::string(3999, 'a'), 3999, {}},
        {"4,000 ASCII", std::string(4000, 'a'), 4000, {8002}},
        {"3,998 units of pairs and one more", Repeat(kPair, 1999) + "y", 3999, {}},
        {"4,000 units of pairs", Repeat(kPair, 2000), 4000, {8002}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        g_arrayBlocks.clear();
        g_arraysReleased = 0;
        HeapWString out;
        ASSERT_TRUE(Utf8ToWide(c.Input.c_str(), out).IsSuccess());
        EXPECT_EQ(out.size(), c.Units);
        EXPECT_EQ(g_arrayBlocks, c.Blocks);
        EXPECT_EQ(g_arraysReleased, static_cast<int>(c.Blocks.size()));
    }
}

TEST_F(Utf8ToWideTest, RefusedBlockLeavesOutputAlone) {
    g_refuseArrays = true;
    const std::u16string previous = u"previous";
    HeapWString out(previous.begin(), previous.end());
    const Status status = Utf8ToWide(std::string(4000, 'a').c_str(), out);
    EXPECT_EQ(status.Code, StatusCode::AllocationFailed);
    EXPECT_STREQ(status.Message, "Failed to allocate 8002 bytes");
    EXPECT_EQ(std::u16string(out.begin(), out.end()), previous);
}

}  // namespace
}  // namespace CX
