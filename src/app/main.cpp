// quillmark <input_file>: prints the file's content identifier, the 40-byte record of its
// byte count (little-endian) and SHA-256 digest, as 80 upper-case hexadecimal digits.

#include <cstdint>
#include <cstdio>

#include "hash/content_digest.h"
#include "io/file_input_stream.h"
#include "str/hex_bin_str.h"
#include "text/placeholder_formatter.h"
#include "text/status.h"

namespace {

enum ExitCode : int {
    ExitSuccess = 0,
    ExitUsage = 1,
    ExitOpenFailed = 2,
    ExitReadFailed = 3,
    // The identifier could not be produced or written: a digest that was never computed,
    // or standard output refusing the line.
    ExitNotProduced = 4,
};

constexpr std::uint32_t ReadBlockSize = 0x10000;
constexpr std::uint32_t RecordSize = 40;
constexpr std::uint32_t LineLength = 2 * RecordSize;

// The one place file content is read into: static, so no block costs an allocation.
std::uint8_t g_readBuffer[ReadBlockSize];

constexpr const char* BannerTemplate = "Corvantis Sentrel Content Quillmark Tool\n";
constexpr const char* UsageTemplate = "USAGE: quillmark <input_file>\n";
constexpr const char* OpenFailedTemplate = "Failed to open file '{1}'\n";
constexpr const char* ReadFailedTemplate = "Failed to read file '{1}'\n";
constexpr const char* LineTemplate = "{1}\n";

// Standard output as the run's one channel: remembers whether any message failed to
// reach it, so that a lost line is never reported as success.
class Output {
public:
    template <class... Args>
    void Print(const char* szTemplate, const Args&... args) {
        CX::StatusCode rc =
            CX::PlaceholderFormatter::Format(CX::StreamSink(stdout), szTemplate, args...);
        if (rc != CX::StatusCode::Success) {
            m_failed = true;
        }
    }

    // Pushes everything out; false when any of it did not arrive.
    bool Flush() {
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            m_failed = true;
        }
        return !m_failed;
    }

private:
    bool m_failed = false;
};

// A failure code keeps its meaning; only a success whose line was lost becomes a failure.
int Finish(Output& out, int exitCode) {
    if (!out.Flush() && exitCode == ExitSuccess) {
        return ExitNotProduced;
    }
    return exitCode;
}

enum class EndKind { RealEnd, StillData, QueryFailed };

// The end test also answers "end" when the position or size cannot be had; a pipe or a
// device must not pass for a file that ended. Ask once more and tell the two apart.
EndKind ConfirmEnd(CX::IO::IInputStream& stream) {
    std::uint64_t position = 0;
    std::uint64_t size = 0;
    if (!stream.GetPosition(&position).IsSuccess() || !stream.GetSize(&size).IsSuccess()) {
        return EndKind::QueryFailed;
    }
    // Data that arrived after the end test is read as the loop promises.
    return position >= size ? EndKind::RealEnd : EndKind::StillData;
}

}  // namespace

int main(int argc, char** argv) {
    Output out;
    if (argc < 2) {
        out.Print(BannerTemplate);
        out.Print(UsageTemplate);
        return Finish(out, ExitUsage);
    }
    const char* path = argv[1];

    CX::IO::FileInputStream stream(path);
    CX::Hash::ContentDigest digest;
    CX::Str::HexBinStr encoder(CX::Str::HexCase::Upper);

    if (!stream.IsOpen()) {
        out.Print(OpenFailedTemplate, path);
        return Finish(out, ExitOpenFailed);
    }

    // A digest that cannot work (no hash context) must not end in a made-up identifier.
    if (!digest.Reset().IsSuccess()) {
        return Finish(out, ExitNotProduced);
    }
    for (;;) {
        if (stream.IsEndOfStream()) {
            EndKind end = ConfirmEnd(stream);
            if (end == EndKind::RealEnd) {
                break;
            }
            if (end == EndKind::QueryFailed) {
                out.Print(ReadFailedTemplate, path);
                return Finish(out, ExitReadFailed);
            }
        }
        std::uint32_t cRead = 0;
        CX::Status st = stream.Read(g_readBuffer, ReadBlockSize, &cRead);
        if (st.Code == CX::StatusCode::EndOfData) {
            break;  // the file shrank: what was fed so far is the content
        }
        if (!st.IsSuccess()) {
            out.Print(ReadFailedTemplate, path);
            return Finish(out, ExitReadFailed);
        }
        if (!digest.Update(g_readBuffer, cRead).IsSuccess()) {
            return Finish(out, ExitNotProduced);
        }
    }

    std::uint8_t record[RecordSize];
    char line[LineLength + 1];
    if (!digest.Final(record).IsSuccess() ||
        !encoder.BinToStr(record, RecordSize, line, LineLength).IsSuccess()) {
        return Finish(out, ExitNotProduced);
    }
    line[LineLength] = '\0';
    out.Print(LineTemplate, static_cast<const char*>(line));
    return Finish(out, ExitSuccess);
}
