// Fuzzes the reading of lists of identifiers, which may be truncated, binary or written by
// someone else. Any bytes, cut into records by the reader (in reads of any size, with a
// line feed or a NUL as the end) and parsed as sha256sum -c parses them, must never crash
// the reader, make it keep a record past its limit, or read past a line. And every name,
// written as an identifier line by the line writer, must read back as the same bytes.
//
// Input layout:
//   byte 0      bit 0: records end in NUL; bits 1-7: bytes per read, minus one
//   the rest    the list; also, taken as one name, the name to write and read back

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/input_stream.h"
#include "lines/line_writer.h"
#include "lines/list_parser.h"
#include "lines/record_reader.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_list: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

// The list as a stream that hands out at most step bytes per read, as a pipe may.
class Chunks : public CX::IO::IInputStream {
public:
    Chunks(const std::uint8_t* data, std::size_t size, std::uint32_t step)
        : m_data(data), m_size(size), m_step(step) {}
    CX::Status Read(void* pBuffer, std::uint32_t cBytes, std::uint32_t* pcRead) override {
        CX::Status status;
        std::size_t n = m_size - m_at;
        n = n < cBytes ? n : cBytes;
        n = n < m_step ? n : m_step;
        std::memcpy(pBuffer, m_data + m_at, n);
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
    bool IsEndOfStream() override { return m_at == m_size; }
    bool IsOpen() override { return true; }
    const char* GetName() override { return "list"; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::uint32_t m_step;
    std::size_t m_at = 0;
};

constexpr std::size_t Limit = 4096;

void ReadList(const std::uint8_t* data, std::size_t size, bool nul, std::uint32_t step) {
    Chunks stream(data, size, step);
    CX::Lines::RecordReader reader(stream, nul ? '\0' : '\n', Limit);
    CX::Lines::ListFormat format = CX::Lines::ListFormat::Unknown;
    std::string record;
    std::string name;
    bool tooLong = false;
    std::size_t consumed = 0;
    std::size_t records = 0;
    while (reader.Next(record, tooLong)) {
        ++records;
        Check(records <= size + 1, "more records than bytes");
        Check(record.size() <= Limit, "a record past the limit was kept");
        Check(!tooLong || record.empty(), "a record past the limit was handed out");
        if (!tooLong) {
            // Records are the input's own bytes, in order, never past their end.
            Check(consumed + record.size() <= size, "a record past the input");
            Check(std::memcmp(data + consumed, record.data(), record.size()) == 0,
                  "a record that is not the input's bytes");
            Check(std::memchr(record.data(), nul ? '\0' : '\n', record.size()) == nullptr,
                  "a record that holds its end");
            CX::Hash::ContentRecord digest;
            const CX::Lines::ListLine kind =
                CX::Lines::ParseListLine(record, nul, format, digest, name);
            Check(kind != CX::Lines::ListLine::Entry || !name.empty(), "an entry without name");
            consumed += record.size() + 1;
        } else {
            // Past the limit: skip to the end the reader found.
            const void* end = std::memchr(data + consumed, nul ? '\0' : '\n', size - consumed);
            consumed =
                end == nullptr
                    ? size
                    : static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - data) + 1;
        }
    }
    Check(reader.Error() == ERROR_SUCCESS, "a failed read that never was");
}

// The name written by the line writer, then read back by the list parser.
void RoundTrip(const std::string& name, bool nul) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        return;  // no name can be empty or hold a NUL
    }
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    Check(out != nullptr, "no memory stream");
    CX::Hash::ContentRecord record;
    for (int i = 0; i < 40; ++i) {
        record.Bytes[i] = static_cast<std::uint8_t>(name.size() * 7 + i);
    }
    {
        CX::Lines::LineWriter writer(out, nul);
        writer.Identifier(record, name);
        Check(writer.Flush(), "the line was not written");
    }
    std::fclose(out);
    std::string line(text, length);
    std::free(text);
    Check(!line.empty() && line.back() == (nul ? '\0' : '\n'), "the line has no end");
    line.pop_back();
    CX::Lines::ListFormat format = CX::Lines::ListFormat::Unknown;
    CX::Hash::ContentRecord back;
    std::string nameBack;
    const CX::Lines::ListLine kind = CX::Lines::ParseListLine(line, nul, format, back, nameBack);
    Check(kind == CX::Lines::ListLine::Entry, "a written line does not read back");
    Check(record == back, "the identifier does not read back");
    Check(nameBack == name, "the name does not read back as the same bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool nul = (data[0] & 1) != 0;
    const std::uint32_t step = static_cast<std::uint32_t>(data[0] >> 1) + 1;
    ReadList(data + 1, size - 1, nul, step);
    RoundTrip(std::string(reinterpret_cast<const char*>(data + 1), size - 1), nul);
    return 0;
}
