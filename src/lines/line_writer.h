#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "hash/content_record.h"
#include "str/hex_bin_str.h"

namespace CX::Lines {

// Standard output for many lines: they are gathered and handed to the stream in large
// batches, never one write per line. Remembers whether anything failed to arrive, so that
// a lost line never ends in success.
class LineWriter {
public:
    static constexpr std::size_t RecordSize = CX::Hash::ContentRecord::Size;

    // With zero, a line ends in NUL and names are written as they are.
    LineWriter(std::FILE* pOut, bool zero);

    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // "ID  NAME": the record as 80 upper-case digits, two spaces, the name, escaped unless
    // the lines end in NUL.
    void Identifier(const CX::Hash::ContentRecord& record, std::string_view name);

    // "NAME: VERDICT", as sha256sum -c prints it: a name holding a line feed is marked with
    // a leading backslash and its line feeds and backslashes escaped; any other name is
    // written as it is. With NUL-ended lines nothing is escaped.
    void Verdict(std::string_view name, std::string_view verdict);

    // A line of the caller's text, as it is (an empty one parts groups of lines).
    void Line(std::string_view text) {
        m_batch += text;
        EndLine();
        MaybeWrite();
    }

    // Hands the batch to the stream once it is large enough to be worth a write.
    void MaybeWrite() {
        if (m_batch.size() >= BatchSize) {
            Write();
        }
    }

    // Writes the batch and flushes the stream: before a message on standard error, so the
    // two stay in order on a terminal, and at the end. False once anything was lost.
    bool Flush();

    bool Failed() const { return m_failed; }

private:
    static constexpr std::size_t BatchSize = 64 * 1024;

    void Write();
    void EndLine() { m_batch += m_zero ? '\0' : '\n'; }

    std::FILE* m_pOut;
    bool m_zero;
    bool m_failed = false;
    std::string m_batch;
    CX::Str::HexBinStr m_encoder{CX::Str::HexCase::Upper};
};

// One line on standard error: "quillsum: NAME: reason", the name quoted as sha256sum quotes
// it (see QuoteName), so that the message stays one line.
void WriteProblem(std::FILE* pErr, std::string_view name, std::string_view reason);

// One line on standard error: "quillsum: text".
void WriteMessage(std::FILE* pErr, std::string_view text);

}  // namespace CX::Lines
