// Names on identifier lines: sha256sum's escaping, read back; UTF-8 as Unicode defines it;
// NUL-ended name lists read in blocks.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "io/directory_listing.h"
#include "io/input_stream.h"
#include "lines/list_parser.h"
#include "lines/names.h"
#include "lines/quote.h"
#include "lines/record_reader.h"
#include "support/utf8_vectors.h"

namespace {

TEST(Names, EscapedAsSha256sumAndReadBack) {
    struct Row {
        std::string Name;
        bool Escaped;
        std::string Written;
    } rows[] = {
        {"plain name", false, "plain name"},
        {"back\\slash", true, "back\\\\slash"},
        {"new\nline", true, "new\\nline"},
        {"carriage\rreturn", true, "carriage\\rreturn"},
        {"\\n literal", true, "\\\\n literal"},
        {"tab\there", false, "tab\there"},
        {std::string("nul\0inside", 10), false, std::string("nul\0inside", 10)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CX::Lines::NeedsEscape(row.Name), row.Escaped) << row.Written;
        std::string written;
        CX::Lines::AppendEscaped(written, row.Name);
        EXPECT_EQ(written, row.Written);
        std::string back;
        ASSERT_TRUE(CX::Lines::Unescape(written, back)) << row.Written;
        EXPECT_EQ(back, row.Name);
    }
    std::string out;
    for (const char* bad : {"ends\\", "\\t", "\\x41"}) {
        EXPECT_FALSE(CX::Lines::Unescape(bad, out)) << bad;
    }
}

// The Unicode replacement rule decodes a sequence to U+FFFD exactly where it is not
// well-formed; a row is valid when every U+FFFD it gives was spelt out in its input.
TEST(Names, Utf8ValidityAgreesWithTheReplacementVectors) {
    std::ifstream in(std::string(QUILLMARK_VECTORS_DIR) + "/utf8/replacement.tsv");
    ASSERT_TRUE(in) << "missing vector file utf8/replacement.tsv";
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string name, inputHex, units;
        std::getline(fields, name, '\t');
        std::getline(fields, inputHex, '\t');
        std::getline(fields, units);
        const std::string input = CX::Test::BytesFromHex(inputHex);
        std::size_t spelt = 0;
        for (std::size_t at = 0; (at = input.find("\xEF\xBF\xBD", at)) != std::string::npos;
             at += 3) {
            ++spelt;
        }
        const std::vector<WCHAR> decoded = CX::Test::UnitsFromHex(units);
        std::size_t replaced = 0;
        for (const WCHAR unit : decoded) {
            replaced += unit == 0xFFFD ? 1 : 0;
        }
        const bool valid = replaced == spelt;
        EXPECT_EQ(CX::Lines::IsValidUtf8(input), valid) << name;
        if (valid && input.find('\0') == std::string::npos) {
            // And a name read from the system converts back to the same bytes.
            std::vector<WCHAR> wide = decoded;
            wide.push_back(0);
            std::string narrow;
            EXPECT_TRUE(CX::IO::WideToUtf8(wide.data(), narrow)) << name;
            EXPECT_EQ(narrow, input) << name;
        }
        ++rows;
    }
    EXPECT_GT(rows, 50);
    std::string narrow;
    const WCHAR lone[] = {'a', 0xDC80, 'b', 0};
    EXPECT_FALSE(CX::IO::WideToUtf8(lone, narrow));
    EXPECT_EQ(narrow,
              "a\xEF\xBF\xBD"
              "b");
    // A high surrogate pairs with a low one only, never with U+E000..U+FFFF after it.
    for (const WCHAR after : {WCHAR(0xE000), WCHAR(0xFFFF)}) {
        const WCHAR high[] = {0xDBFF, after, 0};
        EXPECT_FALSE(CX::IO::WideToUtf8(high, narrow));
        EXPECT_EQ(narrow,
                  after == 0xE000 ? "\xEF\xBF\xBD\xEE\x80\x80" : "\xEF\xBF\xBD\xEF\xBF\xBF");
    }
}

// A stream that hands out its text a few bytes per read, as a pipe may; with failAt, a
// read from that offset on fails instead.
class Trickle : public CX::IO::IInputStream {
public:
    Trickle(std::string text, std::uint32_t step, std::size_t failAt = std::string::npos)
        : m_text(std::move(text)), m_step(step), m_failAt(failAt) {}
    CX::Status Read(void* pBuffer, std::uint32_t cBytes, std::uint32_t* pcRead) override {
        CX::Status status;
        if (m_at >= m_failAt) {
            SetLastError(ERROR_CRC);
            status.Set(CX::StatusCode::IoError, "failed");
            return status;
        }
        const std::size_t n = std::min<std::size_t>({cBytes, m_step, m_text.size() - m_at});
        std::memcpy(pBuffer, m_text.data() + m_at, n);
        m_at += n;
        *pcRead = static_cast<std::uint32_t>(n);
        if (n == 0) {
            status.Set(CX::StatusCode::EndOfData, "");
        }
        return status;
    }
    CX::Status Seek(std::uint64_t) override { return {}; }
    CX::Status GetPosition(std::uint64_t*) override { return {}; }
    CX::Status GetSize(std::uint64_t*) override { return {}; }
    bool IsEndOfStream() override { return false; }
    bool IsOpen() override { return true; }
    const char* GetName() override { return "trickle"; }

private:
    std::string m_text;
    std::uint32_t m_step;
    std::size_t m_failAt;
    std::size_t m_at = 0;
};

TEST(RecordReader, RecordsAcrossReadsAndBlocksAndTheLimit) {
    const std::string longName(70000, 'x');  // longer than one block
    const std::string tooLong(300000, 'y');  // past the limit: read past, not kept
    const std::string list =
        std::string("a\0\0b c\0", 7) + longName + '\0' + tooLong + '\0' + "last";
    for (const std::uint32_t step : {1u, 3u, 65536u, 200000u}) {
        Trickle stream(list, step);
        CX::Lines::RecordReader reader(stream, '\0');
        std::vector<std::string> names;
        std::string name;
        bool over = false;
        while (reader.Next(name, over)) {
            names.push_back(over ? "<too long>" : name);
        }
        EXPECT_EQ(reader.Error(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(names, (std::vector<std::string>{"a", "", "b c", longName, "<too long>", "last"}))
            << "step " << step;
    }
    Trickle empty("", 1);
    CX::Lines::RecordReader reader(empty, '\n');
    std::string name;
    bool over = false;
    EXPECT_FALSE(reader.Next(name, over));
}

// A record of exactly the limit is kept, one byte more is not; a read that fails leaves
// the record it cut short unused.
TEST(RecordReader, TheLimitAndAFailedRead) {
    const auto records = [](Trickle& stream, std::size_t limit) {
        CX::Lines::RecordReader reader(stream, '\n', limit);
        std::vector<std::string> got;
        std::string record;
        bool over = false;
        while (reader.Next(record, over)) {
            got.push_back(over ? "<too long>" : record);
        }
        return std::make_pair(got, reader.Error());
    };
    Trickle limit("12345\n123456\n1234", 4);
    EXPECT_EQ(records(limit, 5),
              std::make_pair(std::vector<std::string>{"12345", "<too long>", "1234"},
                             static_cast<DWORD>(ERROR_SUCCESS)));
    // Failing at 8 cuts "defgh" short; at 12, "ij", which the end of the text would keep.
    for (const std::size_t failAt : {std::size_t(8), std::size_t(12)}) {
        Trickle failing("abc\ndefgh\nij", 4, failAt);
        std::vector<std::string> kept{"abc"};
        if (failAt == 12) {
            kept.push_back("defgh");
        }
        EXPECT_EQ(records(failing, 100), std::make_pair(kept, static_cast<DWORD>(ERROR_CRC)))
            << failAt;
    }
}

// sha256sum 9.1's quoting of names in its messages, as it printed them (LC_ALL=C.UTF-8).
TEST(Names, QuotedAsSha256sumQuotesThem) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain-name_1.txt", "plain-name_1.txt"},
        {"a b", "'a b'"},
        {"it's", "\"it's\""},
        {"x\ny", "'x'$'\\n''y'"},
        {"a\rb", "'a'$'\\r''b'"},
        {"\xC3\xA9", "\xC3\xA9"},
        {"~home", "'~home'"},
        {"a~b", "a~b"},
        {"#x", "'#x'"},
        {"a#b", "a#b"},
        {"a:b", "'a:b'"},
        {"a=b", "'a=b'"},
        {"{x}", "{x}"},
        {"a\\b", "'a\\b'"},
        {"\x01", "''$'\\001'"},
        {"\xE9", "''$'\\351'"},
        {"", "''"},
        {"standard input", "'standard input'"},
        {"a'b c", "\"a'b c\""},
        {"a'b=c", "'a'\\''b=c'"},
        {"q'\n", "'''q'\\'''$'\\n'"},
        {"\t'\t", "'\\t'\\'''$'\\t'"},
        {"a\t\tb", "'a'$'\\t\\t''b'"},
        {"\xC2\x85", "''$'\\302\\205'"},
    };
    for (const auto& [name, quoted] : rows) {
        EXPECT_EQ(CX::Lines::QuoteName(name), quoted) << name;
    }
}

// Lines as sha256sum -c 9.1 reads them; the end-to-end differential holds the rest.
TEST(ListParser, LineForms) {
    const std::string id(80, 'a');
    const std::string upper(80, 'F');
    struct Row {
        std::string Line;
        CX::Lines::ListLine Kind;
        std::string Name;
    } rows[] = {
        {id + "  a", CX::Lines::ListLine::Entry, "a"},
        {id + " *a", CX::Lines::ListLine::Entry, "a"},
        {id + " a", CX::Lines::ListLine::Entry, "a"},
        {id + "\ta", CX::Lines::ListLine::Entry, "a"},
        {id + "   a", CX::Lines::ListLine::Entry, " a"},
        {id + "  ", CX::Lines::ListLine::Entry, " "},
        {" \t" + upper + "  a\r", CX::Lines::ListLine::Entry, "a"},
        {"\\" + id + "  x\\\\y\\nz\\r", CX::Lines::ListLine::Entry, "x\\y\nz\r"},
        {"\\" + id + "  x\\q", CX::Lines::ListLine::Malformed, ""},
        {id + " ", CX::Lines::ListLine::Malformed, ""},
        {id.substr(0, 64) + "  a", CX::Lines::ListLine::Malformed, ""},
        {id + "a  a", CX::Lines::ListLine::Malformed, ""},
        {std::string(79, 'a') + "g  a", CX::Lines::ListLine::Malformed, ""},
        {"  ", CX::Lines::ListLine::Malformed, ""},
        {"", CX::Lines::ListLine::Skipped, ""},
        {"# comment", CX::Lines::ListLine::Skipped, ""},
    };
    for (const Row& row : rows) {
        CX::Hash::ContentRecord record;
        std::string name;
        CX::Lines::ListFormat format = CX::Lines::ListFormat::Unknown;
        EXPECT_EQ(CX::Lines::ParseListLine(row.Line, false, format, record, name), row.Kind)
            << row.Line;
        if (row.Kind == CX::Lines::ListLine::Entry) {
            EXPECT_EQ(name, row.Name) << row.Line;
            EXPECT_EQ(record.Bytes[0], row.Line.find('F') != std::string::npos ? 0xFF : 0xAA);
        }
    }
    // The first line fixes the form for the rest: after "ID  a", "ID a" is malformed; after
    // "ID a", "ID  a" names " a".
    CX::Hash::ContentRecord record;
    std::string name;
    CX::Lines::ListFormat format = CX::Lines::ListFormat::Unknown;
    ASSERT_EQ(CX::Lines::ParseListLine(id + "  a", false, format, record, name),
              CX::Lines::ListLine::Entry);
    EXPECT_EQ(CX::Lines::ParseListLine(id + " a", false, format, record, name),
              CX::Lines::ListLine::Malformed);
    format = CX::Lines::ListFormat::Unknown;
    ASSERT_EQ(CX::Lines::ParseListLine(id + " a", false, format, record, name),
              CX::Lines::ListLine::Entry);
    ASSERT_EQ(CX::Lines::ParseListLine(id + "  a", false, format, record, name),
              CX::Lines::ListLine::Entry);
    EXPECT_EQ(name, " a");
}

}  // namespace
