// Fuzzes the placeholder formatter: one template and up to 16 arguments of both kinds,
// rendered into a buffer of a capacity the input picks and into streams that accept
// everything or fail after a number of bytes the input picks. Each outcome is checked
// against a small reference renderer written here from the template grammar.
//
// Input layout:
//   byte 0      capacity mode: high bit set = capacity near the output length (low 3 bits
//               give the offset -4..+3), else bytes 1-2 give it (0..12288)
//   bytes 1-2   capacity (little-endian) or stream budget when the mode says "near"
//   byte 3      argument count (mod 17)
//   per argument: a kind byte (even = text, odd = number), then 4 bytes of number, or a
//               length byte and that many text bytes (cut at the first NUL)
//   the rest    the template (cut at the first NUL)
//
// Destinations of 4096 characters or more are held to what the formatter does by design
// for them: a full stage that fits stays delivered, with its NUL, even when a later
// delivery of the same call fails. Below 4096, the only size the system uses, a failed
// call leaves the destination untouched.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "text/placeholder_formatter.h"

namespace {

using CX::FormatArg;
using CX::PlaceholderFormatter;
using CX::StatusCode;

constexpr std::size_t kStage = 4096;
// Inputs whose output (or output before a malformed placeholder) would exceed this are
// skipped: a width near 2^32 would otherwise cost gigabytes per run.
constexpr std::size_t kMaxOutput = 1 << 16;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_format: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

struct Arg {
    bool IsText;
    std::string Text;
    std::uint32_t Value;
};

// --- Reference renderer: the grammar, written plainly and independently ---------------

struct Reference {
    bool Malformed = false;
    bool TooBig = false;
    std::string Out;  // the whole output, or what precedes the malformed placeholder
};

std::string Decimal(std::uint64_t v) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + v % 10));
        v /= 10;
    } while (v != 0);
    return s;
}

std::string Hex8(std::uint32_t v, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i) {
        s[static_cast<std::size_t>(i)] = digits[v & 15];
        v >>= 4;
    }
    return s;
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

Reference RenderReference(const std::string& tmpl, const std::vector<Arg>& args) {
    Reference r;
    std::uint32_t next = 0;
    std::size_t i = 0;
    const std::size_t n = tmpl.size();
    auto at = [&](std::size_t k) { return k < n ? tmpl[k] : '\0'; };
    auto number = [&](std::size_t& k) {
        std::uint32_t v = 0;
        while (Digit(at(k))) {
            v = v * 10 + static_cast<std::uint32_t>(at(k) - '0');
            ++k;
        }
        return v;
    };
    while (i < n) {
        if (tmpl[i] != '{') {
            r.Out += tmpl[i++];
            continue;
        }
        if (at(i + 1) == '{') {
            r.Out += '{';
            i += 2;
            continue;
        }
        std::size_t k = i + 1;
        std::uint32_t index = Digit(at(k)) ? number(k) : ++next;
        char fill = ' ';
        std::uint32_t width = 0;
        char align = '>';
        bool hex = false;
        bool upper = false;
        bool closed = false;
        if (at(k) == ':') {
            ++k;
            if (at(k) == 'x' || at(k) == 'X') {
                hex = true;
                upper = at(k) == 'X';
                ++k;
                if (at(k) == '}') {
                    closed = true;
                } else if (at(k) == ':') {
                    ++k;
                } else {
                    r.Malformed = true;
                    return r;
                }
            }
            if (!closed) {
                if (at(k) == '<' || at(k) == '>' || at(k) == '|') {
                    align = at(k++);
                }
                if (at(k) == '\'') {
                    if (at(k + 1) == '\0' || at(k + 2) != '\'') {
                        r.Malformed = true;
                        return r;
                    }
                    fill = at(k + 1);
                    k += 3;
                }
                width = number(k);
                if (at(k) == '.') {
                    ++k;
                    number(k);
                }
            }
        }
        if (at(k) != '}') {
            r.Malformed = true;
            return r;
        }
        i = k + 1;
        if (index == 0 || index > args.size()) {
            r.Out += "{?" + Decimal(index) + "?}";
            continue;
        }
        const Arg& a = args[index - 1];
        const std::string value = a.IsText ? a.Text : hex ? Hex8(a.Value, upper) : Decimal(a.Value);
        const std::size_t pad = value.size() < width ? width - value.size() : 0;
        if (r.Out.size() + value.size() + pad > kMaxOutput) {
            r.TooBig = true;
            return r;
        }
        std::size_t before = align == '<' ? 0 : align == '|' ? (pad + 1) / 2 : pad;
        r.Out.append(before, fill);
        r.Out += value;
        r.Out.append(pad - before, fill);
    }
    return r;
}

// --- Streams ------------------------------------------------------------------------

// A stream that takes at most Budget bytes in total and then refuses; it records what it
// took and the size of every write it was asked for.
struct Capture {
    std::string Taken;
    std::size_t Budget = SIZE_MAX;
    std::vector<std::size_t> Writes;
};

ssize_t CaptureWrite(void* cookie, const char* buf, size_t size) {
    auto* c = static_cast<Capture*>(cookie);
    c->Writes.push_back(size);
    const std::size_t room = c->Budget - c->Taken.size();
    const std::size_t take = size < room ? size : room;
    if (take == 0) {
        return -1;
    }
    c->Taken.append(buf, take);
    return static_cast<ssize_t>(take);
}

std::FILE* OpenCapture(Capture& c) {
    cookie_io_functions_t io{};
    io.write = CaptureWrite;
    std::FILE* f = fopencookie(&c, "w", io);
    Check(f != nullptr, "fopencookie failed");
    // Unbuffered: each fwrite reaches the cookie at once, so its result is the truth.
    std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

// --- Calling Format with a run-time argument count -----------------------------------

// Sinks cannot be copied or moved, so each is made right in Format's parameter.
template <class MakeSink, std::size_t... I>
StatusCode FormatWith(MakeSink& make, const char* tmpl, const std::vector<FormatArg>& a,
                      std::index_sequence<I...>) {
    return PlaceholderFormatter::Format(make(), tmpl, a[I]...);
}

template <class MakeSink, std::size_t... N>
StatusCode Dispatch(MakeSink make, const char* tmpl, const std::vector<FormatArg>& a,
                    std::index_sequence<N...>) {
    StatusCode rc = StatusCode::Success;
    ((a.size() == N ? (rc = FormatWith(make, tmpl, a, std::make_index_sequence<N>{}), 0) : 0), ...);
    return rc;
}

template <class MakeSink>
StatusCode FormatAll(MakeSink make, const char* tmpl, const std::vector<FormatArg>& a) {
    return Dispatch(make, tmpl, a, std::make_index_sequence<PlaceholderFormatter::MaxArgs + 1>{});
}

// --- The checks ----------------------------------------------------------------------

void CheckStream(const std::string& tmpl, const std::vector<FormatArg>& fa, const Reference& ref,
                 std::size_t budget) {
    // The C library reports a refused write reliably only when part of it was taken: a
    // write that takes nothing at all may still be counted as done by an unbuffered
    // stream. So a budget never ends exactly on a delivery, and "nothing" is a stream
    // opened for reading only, which takes no byte of any write.
    if (budget != 0 && budget % kStage == 0) {
        ++budget;
    }
    Capture c;
    c.Budget = budget;
    std::FILE* f = budget == 0 ? std::fopen("/dev/null", "r") : OpenCapture(c);
    Check(f != nullptr, "cannot open a stream");
    const StatusCode rc = FormatAll([f] { return CX::StreamSink(f); }, tmpl.c_str(), fa);
    std::fclose(f);

    // What the formatter has to deliver: every full stage, and the rest only at the end of
    // a well-formed template.
    const std::size_t stages = ref.Out.size() / kStage * kStage;
    const std::size_t due = ref.Malformed ? stages : ref.Out.size();
    Check(c.Taken == ref.Out.substr(0, c.Taken.size()), "stream: delivered text differs");
    if (due > budget) {
        Check(rc == StatusCode::WriteFailed, "stream: a short write must give 11");
        Check(c.Taken.size() == budget, "stream: bytes accepted before the failure lost");
        return;
    }
    Check(c.Taken.size() == due, "stream: delivered length differs");
    if (ref.Malformed) {
        Check(rc == StatusCode::BadInput, "stream: malformed template must give 16");
    } else {
        Check(rc == StatusCode::Success, "stream: well-formed template must give 0");
    }
    // One fwrite per full stage and one for the rest, never more than a stage at once.
    Check(c.Writes.size() == (due + kStage - 1) / kStage, "stream: not one write per stage");
    for (std::size_t w : c.Writes) {
        Check(w <= kStage && w > 0, "stream: a write larger than the stage, or empty");
    }
}

void CheckBuffer(const std::string& tmpl, const std::vector<FormatArg>& fa, const Reference& ref,
                 std::uint32_t capacity, unsigned char pattern) {
    // Exactly Capacity + 1 characters on the heap, so that ASan sees a write past them.
    char* data = static_cast<char*>(std::malloc(std::size_t{capacity} + 1));
    std::memset(data, pattern, std::size_t{capacity} + 1);
    const StatusCode rc = FormatAll(
        [&] {
            return CX::BufferSink(CX::TextBuffer{data, capacity});
        },
        tmpl.c_str(), fa);

    const std::size_t len = ref.Out.size();
    // Full stages that reach the destination before the call ends, and how many fit.
    const std::size_t stagesDue = (ref.Malformed ? len : (len == 0 ? 0 : len - 1)) / kStage;
    const std::size_t stagesFit = capacity / kStage;
    StatusCode expected;
    std::size_t kept = 0;  // characters that stay delivered, followed by a NUL
    if (stagesDue > stagesFit) {
        expected = StatusCode::OutputTooLong;
        kept = stagesFit * kStage;
    } else if (ref.Malformed) {
        expected = StatusCode::BadInput;
        kept = stagesDue * kStage;
    } else if (len > capacity) {
        expected = StatusCode::OutputTooLong;
        kept = stagesDue * kStage;
    } else {
        expected = StatusCode::Success;
        kept = len;
    }
    Check(rc == expected, "buffer: result differs");
    if (capacity < kStage && rc != StatusCode::Success) {
        Check(kept == 0, "buffer: reference says text stays in a small destination");
    }
    // Nothing at all is delivered for empty output, so an empty template leaves it as it was.
    const bool wrote = kept > 0;
    Check(std::memcmp(data, ref.Out.data(), kept) == 0, "buffer: delivered text differs");
    std::size_t from = kept;
    if (wrote) {
        Check(data[kept] == '\0', "buffer: no NUL after the text");
        from = kept + 1;
    }
    for (std::size_t i = from; i <= capacity; ++i) {
        if (static_cast<unsigned char>(data[i]) != pattern) {
            Fail("buffer: a character beyond the delivered text was changed");
        }
    }
    std::free(data);
}

// For output beyond what the reference renders: only the first full stage is looked at.
void CheckTooLong(const std::string& tmpl, const std::vector<FormatArg>& fa, std::uint32_t capacity,
                  unsigned char pattern) {
    char* data = static_cast<char*>(std::malloc(std::size_t{capacity} + 1));
    std::memset(data, pattern, std::size_t{capacity} + 1);
    StatusCode rc = FormatAll(
        [&] {
            return CX::BufferSink(CX::TextBuffer{data, capacity});
        },
        tmpl.c_str(), fa);
    Check(rc == StatusCode::OutputTooLong, "long output: buffer result is not 10");
    for (std::size_t i = 0; i <= capacity; ++i) {
        if (static_cast<unsigned char>(data[i]) != pattern) {
            Fail("long output: a small destination was changed");
        }
    }
    std::free(data);

    std::FILE* f = std::fopen("/dev/null", "r");
    Check(f != nullptr, "cannot open a stream");
    rc = FormatAll([f] { return CX::StreamSink(f); }, tmpl.c_str(), fa);
    std::fclose(f);
    Check(rc == StatusCode::WriteFailed, "long output: stream result is not 11");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    const std::uint32_t picked = data[1] | (std::uint32_t{data[2]} << 8);
    const std::size_t nargs = data[3] % 17;
    std::size_t pos = 4;

    std::vector<Arg> args;
    for (std::size_t k = 0; k < nargs && pos < size; ++k) {
        Arg a{};
        a.IsText = (data[pos++] & 1) == 0;
        if (a.IsText) {
            std::size_t n = pos < size ? data[pos++] : 0;
            n = n < size - pos ? n : size - pos;
            a.Text.assign(reinterpret_cast<const char*>(data + pos), n);
            a.Text.resize(std::strlen(a.Text.c_str()));
            pos += n;
        } else {
            for (int b = 0; b < 4; ++b) {
                a.Value = (a.Value << 8) | (pos < size ? data[pos++] : 0u);
            }
        }
        args.push_back(std::move(a));
    }
    std::string tmpl(reinterpret_cast<const char*>(data + pos), size - pos);
    tmpl.resize(std::strlen(tmpl.c_str()));

    const Reference ref = RenderReference(tmpl, args);
    std::vector<FormatArg> fa;
    for (const Arg& a : args) {
        fa.push_back(a.IsText ? FormatArg(a.Text.c_str()) : FormatArg(a.Value));
    }

    if (ref.TooBig) {
        // Too long to render here, but the first full stage already decides both cases
        // that stop there: a destination below 4096 refuses it and stays as it was, and a
        // stream that takes nothing fails on it.
        CheckTooLong(tmpl, fa, picked % kStage, static_cast<unsigned char>(mode | 0x40));
        return 0;
    }

    std::uint32_t capacity;
    if (mode & 0x80) {
        const long near = static_cast<long>(ref.Out.size()) + (mode & 7) - 4;
        capacity = static_cast<std::uint32_t>(near < 0 ? 0 : near);
    } else {
        capacity = picked % (3 * kStage + 1);
    }
    CheckBuffer(tmpl, fa, ref, capacity, static_cast<unsigned char>(mode | 0x40));

    CheckStream(tmpl, fa, ref, SIZE_MAX);
    // A stream that fails partway: at the end, on a stage boundary, or wherever picked says.
    const std::size_t budgets[] = {0, ref.Out.size() ? ref.Out.size() - 1 : 0, kStage + 1,
                                   picked % (ref.Out.size() + 1)};
    CheckStream(tmpl, fa, ref, budgets[(mode >> 4) & 3]);
    return 0;
}
