#include "text/placeholder_formatter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace CX {
namespace {

constexpr char Untouched = '#';

// Formats into a 1023-character destination that starts filled with a marker, so a
// test can see both the text and whether anything beyond it was touched.
struct BufferResult {
    StatusCode Code;
    std::string Text;  // up to the NUL, or the marker run when untouched
    std::vector<char> Raw;
};

template <class... Args>
BufferResult FormatToBuffer(std::uint32_t capacity, const char* tmpl, const Args&... args) {
    BufferResult r;
    r.Raw.assign(capacity + 8, Untouched);
    r.Code =
        PlaceholderFormatter::Format(BufferSink(TextBuffer{r.Raw.data(), capacity}), tmpl, args...);
    auto nul = std::find(r.Raw.begin(), r.Raw.end(), '\0');
    r.Text.assign(r.Raw.begin(), nul);
    return r;
}

bool AllUntouched(const std::vector<char>& raw) {
    return std::all_of(raw.begin(), raw.end(), [](char c) { return c == Untouched; });
}

template <class... Args>
std::string Fmt(const char* tmpl, const Args&... args) {
    BufferResult r = FormatToBuffer(1023, tmpl, args...);
    EXPECT_EQ(r.Code, StatusCode::Success) << tmpl;
    // Empty output delivers nothing at all, so the destination keeps its marker.
    return AllUntouched(r.Raw) ? std::string() : r.Text;
}

TEST(PlaceholderFormatter, BracesAndIndices) {
    EXPECT_EQ(Fmt(""), "");
    EXPECT_EQ(Fmt("{{"), "{");
    EXPECT_EQ(Fmt("}}"), "}}");
    EXPECT_EQ(Fmt("a}b"), "a}b");
    EXPECT_EQ(Fmt("{{1}"), "{1}");
    EXPECT_EQ(Fmt("{}"), "{?1?}");
    EXPECT_EQ(Fmt("{3:x}"), "{?3?}");
    EXPECT_EQ(Fmt("{0}", "a"), "{?0?}");
    EXPECT_EQ(Fmt("{2}", "a"), "{?2?}");
    EXPECT_EQ(Fmt("{}{}", "a"), "a{?2?}");
    EXPECT_EQ(Fmt("{1}{}", "a"), "aa");
    EXPECT_EQ(Fmt("{} {1} {}", "a", "b"), "a a b");
    EXPECT_EQ(Fmt("{5:x}", 1u), "{?5?}");
    // An index past 2^32 wraps: 4294967297 is 1.
    EXPECT_EQ(Fmt("{4294967297}", "w"), "w");
    EXPECT_EQ(Fmt("{4294967296}", "w"), "{?0?}");
    EXPECT_EQ(Fmt("{4294967295}"), "{?4294967295?}");  // the largest index, in full
    EXPECT_EQ(Fmt("{16}", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14",
                  "15", "sixteen"),
              "sixteen");
}

TEST(PlaceholderFormatter, TextIsInsertedVerbatim) {
    EXPECT_EQ(Fmt("Failed to open file '{1}'\n", "a{1}b{{c}"), "Failed to open file 'a{1}b{{c}'\n");
    EXPECT_EQ(Fmt("{1}", ""), "");
    EXPECT_EQ(Fmt("{1}", "%s%n"), "%s%n");
}

TEST(PlaceholderFormatter, Integers) {
    EXPECT_EQ(Fmt("{1}", 255u), "255");
    EXPECT_EQ(Fmt("{1:x}", 255u), "000000ff");
    EXPECT_EQ(Fmt("{1:X}", 255u), "000000FF");
    EXPECT_EQ(Fmt("{1:X:>'0'10}", 255u), "00000000FF");
    EXPECT_EQ(Fmt("{1:x:}", 255u), "000000ff");
    EXPECT_EQ(Fmt("{1}", 0u), "0");
    EXPECT_EQ(Fmt("{1}", 4294967295u), "4294967295");
    EXPECT_EQ(Fmt("{1:X}", 4294967295u), "FFFFFFFF");
    const std::pair<std::uint32_t, const char*> decimals[] = {{9u, "9"},
                                                              {10u, "10"},
                                                              {99u, "99"},
                                                              {100u, "100"},
                                                              {101u, "101"},
                                                              {9999u, "9999"},
                                                              {10000u, "10000"},
                                                              {100000u, "100000"},
                                                              {1000000u, "1000000"},
                                                              {123456789u, "123456789"},
                                                              {1000000000u, "1000000000"}};
    for (const auto& [value, text] : decimals) {
        EXPECT_EQ(Fmt("{1}", value), text);
    }
}

TEST(PlaceholderFormatter, FillAlignWidth) {
    EXPECT_EQ(Fmt("{1:6}", "ab"), "    ab");
    EXPECT_EQ(Fmt("{1:<6}", "ab"), "ab    ");
    EXPECT_EQ(Fmt("{1:>6}", "ab"), "    ab");
    EXPECT_EQ(Fmt("{1:|'*'7}", "ab"), "***ab**");
    EXPECT_EQ(Fmt("{1:|'*'6}", "ab"), "**ab**");
    // The largest width: the odd fill character still goes left, and the stage refuses
    // the first 4096 characters without the split wrapping to nothing on the left.
    EXPECT_EQ(FormatToBuffer(1023, "{1:|4294967295}", "").Code, StatusCode::OutputTooLong);
    EXPECT_EQ(Fmt("{1:3.1}", "abcdef"), "abcdef");
    EXPECT_EQ(Fmt("{1:05}", 7u), "    7");
    EXPECT_EQ(Fmt("{1:'''4}", "a"), "'''a");
    EXPECT_EQ(Fmt("{1:'{'3}", "a"), "{{a");
    EXPECT_EQ(Fmt("{1:.}", "a"), "a");
    EXPECT_EQ(Fmt("{1:<'-'5}|{1:>'-'5}", 42u), "42---|---42");
    // A placeholder's format never carries over to the next one.
    EXPECT_EQ(Fmt("{1:'*'4}{1}", "a"), "***aa");
    // The format of a missing argument is checked but not applied.
    EXPECT_EQ(Fmt("{2:<'*'9}", "a"), "{?2?}");
    // A width far beyond the stage still lands whole in a large enough destination.
    EXPECT_EQ(Fmt("{1:1000}", "x"), std::string(999, ' ') + "x");
}

TEST(PlaceholderFormatter, MalformedPlaceholdersDeliverNothing) {
    const char* malformed[] = {"{1:'*'<5}", "{1:x5}", "{1:xx}",  "{1:<>}", "{1:'a}", "{1:''}",
                               "{a}",       "{1",     "{",       "{1:",    "{1:5x}", "{1:.5.}",
                               "{1:'",      "{:<<}",  "{1:x:x}", "{ 1}"};
    for (const char* tmpl : malformed) {
        std::string withText = std::string("some text before ") + tmpl;
        BufferResult r = FormatToBuffer(1023, withText.c_str(), "arg");
        EXPECT_EQ(r.Code, StatusCode::BadInput) << tmpl;
        EXPECT_TRUE(AllUntouched(r.Raw)) << tmpl;
    }
}

// A fill quote that the template's end follows is malformed, and the scan stops at the
// terminator: the bytes behind it here would complete a fill and the placeholder.
TEST(PlaceholderFormatter, FillQuoteAtTheEndIsMalformedAndNothingPastItIsRead) {
    const char tmpl[] = "{1:'\0'}";
    BufferResult r = FormatToBuffer(1023, tmpl, "arg");
    EXPECT_EQ(r.Code, StatusCode::BadInput);
    EXPECT_TRUE(AllUntouched(r.Raw));
}

TEST(PlaceholderFormatter, BufferCapacityBoundary) {
    std::string exact(1023, 'a');
    BufferResult fits = FormatToBuffer(1023, "{1}", exact.c_str());
    EXPECT_EQ(fits.Code, StatusCode::Success);
    EXPECT_EQ(fits.Text, exact);
    EXPECT_EQ(fits.Raw[1023], '\0');
    EXPECT_EQ(fits.Raw[1024], Untouched);

    std::string over(1024, 'a');
    BufferResult tooLong = FormatToBuffer(1023, "{1}", over.c_str());
    EXPECT_EQ(tooLong.Code, StatusCode::OutputTooLong);
    EXPECT_TRUE(AllUntouched(tooLong.Raw));

    // A full stage is refused at once, long before the end of the template; also when
    // what follows it (10 characters here) would fit on its own.
    for (std::size_t length : {10000u, 4106u}) {
        std::string huge(length, 'b');
        BufferResult stage = FormatToBuffer(1023, "{1}", huge.c_str());
        EXPECT_EQ(stage.Code, StatusCode::OutputTooLong) << length;
        EXPECT_TRUE(AllUntouched(stage.Raw)) << length;
    }

    // An empty template leaves the destination as it was.
    BufferResult empty = FormatToBuffer(1023, "");
    EXPECT_EQ(empty.Code, StatusCode::Success);
    EXPECT_TRUE(AllUntouched(empty.Raw));
}

TEST(PlaceholderFormatter, LargeDestinationTakesSeveralStages) {
    std::string text(9000, 'q');
    BufferResult r = FormatToBuffer(10000, "<{1}>", text.c_str());
    EXPECT_EQ(r.Code, StatusCode::Success);
    EXPECT_EQ(r.Text, "<" + text + ">");
    BufferResult over = FormatToBuffer(9001, "<{1}>", text.c_str());
    EXPECT_EQ(over.Code, StatusCode::OutputTooLong);
    EXPECT_EQ(over.Raw[9001 + 1], Untouched);
}

TEST(NumberRenderers, CountDecimalDigits) {
    const std::pair<std::uint64_t, std::uint32_t> cases[] = {
        {0, 1},          {9, 1},    {10, 2},    {99, 2},       {100, 3},       {999, 3},
        {1000, 4},       {9999, 4}, {10000, 5}, {99999999, 8}, {100000000, 9}, {4294967295u, 10},
        {UINT64_MAX, 20}};
    for (const auto& [value, digits] : cases) {
        EXPECT_EQ(PlaceholderFormatter::CountDecimalDigits(value), digits) << value;
    }
}

TEST(NumberRenderers, RoomChecks) {
    char buf[16];
    std::memset(buf, Untouched, sizeof(buf));
    std::uint32_t len = 0;
    EXPECT_EQ(PlaceholderFormatter::RenderHex32(255, buf, 7, &len, false),
              StatusCode::BufferTooSmall);
    EXPECT_EQ(buf[0], Untouched);
    EXPECT_EQ(PlaceholderFormatter::RenderHex32(255, buf, 8, &len, true), StatusCode::Success);
    EXPECT_EQ(std::string(buf, 8), "000000FF");
    EXPECT_EQ(buf[8], Untouched);  // no terminator
    EXPECT_EQ(len, 8u);

    std::memset(buf, Untouched, sizeof(buf));
    len = 0;
    // Decimal needs the digits and a NUL; the length is set even when it does not fit.
    EXPECT_EQ(PlaceholderFormatter::RenderInteger(12345, NumberStyle::Decimal, buf, 5, &len),
              StatusCode::BufferTooSmall);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(buf[0], Untouched);
    EXPECT_EQ(PlaceholderFormatter::RenderInteger(12345, NumberStyle::Decimal, buf, 6, &len),
              StatusCode::Success);
    EXPECT_STREQ(buf, "12345");
    EXPECT_EQ(PlaceholderFormatter::RenderInteger(48879, NumberStyle::HexLower, buf, 8, &len),
              StatusCode::Success);
    EXPECT_EQ(std::string(buf, len), "0000beef");
}

#ifdef __GLIBC__
// A stream whose writes can be counted and made to fall short.
struct CountingStream {
    std::vector<std::size_t> Writes;
    std::string Data;
    std::size_t Accept = SIZE_MAX;  // bytes the stream takes before it refuses

    static ssize_t Write(void* cookie, const char* buf, size_t size) {
        auto* self = static_cast<CountingStream*>(cookie);
        self->Writes.push_back(size);
        std::size_t take = std::min(size, self->Accept - std::min(self->Accept, self->Data.size()));
        self->Data.append(buf, take);
        return static_cast<ssize_t>(take);  // 0 tells stdio the write failed
    }

    std::FILE* Open() {
        cookie_io_functions_t io{nullptr, &CountingStream::Write, nullptr, nullptr};
        std::FILE* f = fopencookie(this, "w", io);
        std::setvbuf(f, nullptr, _IONBF, 0);  // each fwrite reaches us as it is
        return f;
    }
};

TEST(StreamSink, FiveThousandCharactersAreTwoWrites) {
    CountingStream s;
    std::FILE* f = s.Open();
    std::string text(5000 - 2, 'z');
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), "<{1}>", text.c_str()),
              StatusCode::Success);
    std::fclose(f);
    EXPECT_EQ(s.Writes, (std::vector<std::size_t>{4096, 904}));
    EXPECT_EQ(s.Data, "<" + text + ">");
}

TEST(StreamSink, ShortMessageIsOneWrite) {
    CountingStream s;
    std::FILE* f = s.Open();
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), "Failed to read file '{1}'\n", "x"),
              StatusCode::Success);
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), ""), StatusCode::Success);
    std::fclose(f);
    EXPECT_EQ(s.Writes, (std::vector<std::size_t>{24}));
}

TEST(StreamSink, MalformedTemplateWritesNothing) {
    CountingStream s;
    std::FILE* f = s.Open();
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), "text before {1:xx}", "x"),
              StatusCode::BadInput);
    std::fclose(f);
    EXPECT_TRUE(s.Writes.empty());
}

TEST(StreamSink, ShortfallIsWriteFailed) {
    CountingStream s;
    s.Accept = 0;
    std::FILE* f = s.Open();
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), "{1}\n", "abc"), StatusCode::WriteFailed);
    std::fclose(f);

    // A refusal at the first full stage ends the call: nothing more is offered.
    CountingStream partial;
    partial.Accept = 100;
    f = partial.Open();
    std::string text(9000, 'y');
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), "{1}", text.c_str()),
              StatusCode::WriteFailed);
    std::fclose(f);
    EXPECT_EQ(partial.Data, std::string(100, 'y'));

    // Part of the only stage taken is not the message delivered.
    CountingStream part;
    part.Accept = 2;
    f = part.Open();
    EXPECT_EQ(PlaceholderFormatter::Format(StreamSink(f), "{1}\n", "abc"), StatusCode::WriteFailed);
    std::fclose(f);
    EXPECT_EQ(part.Data, "ab");
}
#else
TEST(StreamSink, WritesCountedAndRefused) {
    GTEST_SKIP() << "counting and refusing a stream's writes needs glibc's fopencookie";
}
#endif

}  // namespace
}  // namespace CX
