#include "lines/line_writer.h"

#include "lines/names.h"
#include "lines/quote.h"
#include "lines/standard_error.h"

namespace CX::Lines {

LineWriter::LineWriter(std::FILE* pOut, bool zero) : m_pOut(pOut), m_zero(zero) {
    m_batch.reserve(BatchSize + 8192);
}

void LineWriter::Identifier(const CX::Hash::ContentRecord& record, std::string_view name) {
    const bool escape = !m_zero && NeedsEscape(name);
    if (escape) {
        m_batch += '\\';
    }
    const std::size_t at = m_batch.size();
    m_batch.resize(at + 2 * RecordSize);
    if (!m_encoder.BinToStr(record.Bytes, RecordSize, m_batch.data() + at, 2 * RecordSize)
             .IsSuccess()) {
        // Cannot happen with the room given; a line that cannot be written is lost, not
        // made up.
        m_batch.resize(at - (escape ? 1 : 0));
        m_failed = true;
        return;
    }
    m_batch += "  ";
    if (escape) {
        AppendEscaped(m_batch, name);
    } else {
        m_batch += name;
    }
    EndLine();
    MaybeWrite();
}

void LineWriter::Verdict(std::string_view name, std::string_view verdict) {
    if (!m_zero && name.find('\n') != std::string_view::npos) {
        m_batch += '\\';
        for (const char c : name) {
            if (c == '\\') {
                m_batch += "\\\\";
            } else if (c == '\n') {
                m_batch += "\\n";
            } else {
                m_batch += c;
            }
        }
    } else {
        m_batch += name;
    }
    m_batch += ": ";
    m_batch += verdict;
    EndLine();
    MaybeWrite();
}

void LineWriter::Write() {
    if (m_batch.empty()) {
        return;
    }
    // Standard output may be the terminal the progress line is on.
    const auto claim = ClaimStandardError();
    if (std::fwrite(m_batch.data(), 1, m_batch.size(), m_pOut) != m_batch.size()) {
        m_failed = true;
    }
    m_batch.clear();
}

bool LineWriter::Flush() {
    Write();
    if (std::fflush(m_pOut) != 0 || std::ferror(m_pOut) != 0) {
        m_failed = true;
    }
    return !m_failed;
}

void WriteProblem(std::FILE* pErr, std::string_view name, std::string_view reason) {
    std::string line = "quillsum: ";
    line += QuoteName(name);
    line += ": ";
    line += reason;
    line += '\n';
    // One write, so that the line is never split by another writer of standard error.
    const auto claim = ClaimStandardError();
    std::fwrite(line.data(), 1, line.size(), pErr);
    // Windows' C runtime buffers standard error when it is no console: pushed out now, so
    // that it keeps its place among the lines on standard output.
    std::fflush(pErr);
}

void WriteMessage(std::FILE* pErr, std::string_view text) {
    std::string line = "quillsum: ";
    line += text;
    line += '\n';
    const auto claim = ClaimStandardError();
    std::fwrite(line.data(), 1, line.size(), pErr);
    std::fflush(pErr);
}

}  // namespace CX::Lines
