#include "text/placeholder_formatter.h"

namespace CX {
namespace {

constexpr char DigitPairs[] =
    "00010203040506070809"
    "10111213141516171819"
    "20212223242526272829"
    "30313233343536373839"
    "40414243444546474849"
    "50515253545556575859"
    "60616263646566676869"
    "70717273747576777879"
    "80818283848586878889"
    "90919293949596979899";

constexpr char HexDigits[32] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a',
                                'b', 'c', 'd', 'e', 'f', '0', '1', '2', '3', '4', '5',
                                '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// Room for any 32-bit value in decimal or hexadecimal, with a terminator.
constexpr std::uint32_t IndexAreaSize = 64;
constexpr std::uint32_t ArgumentAreaSize = 8192;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a run of decimal digits, wrapping modulo 2^32 like the index does.
const char* ReadNumber(const char* p, std::uint32_t* pValue) {
    std::uint32_t value = 0;
    while (IsDigit(*p)) {
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
        ++p;
    }
    *pValue = value;
    return p;
}

// What the scanner found inside one "{...}". Scanning never writes anything, so a
// malformed placeholder can be refused before any of its output exists.
struct Placeholder {
    std::uint32_t Index = 0;
    FormatSpec Spec;
    const char* Next = nullptr;  // the character after the closing "}"
};

// Parses the format after ":"; returns the position of the character that must be "}",
// or null when the format is malformed.
const char* ParseSpec(const char* p, FormatSpec& spec) {
    if (*p == 'x' || *p == 'X') {
        spec.Style = *p == 'x' ? NumberStyle::HexLower : NumberStyle::HexUpper;
        ++p;
        if (*p == '}') {
            return p;
        }
        if (*p != ':') {
            return nullptr;
        }
        ++p;
    }
    if (*p == '<' || *p == '>' || *p == '|') {
        spec.Align = *p == '<' ? Alignment::Left : *p == '>' ? Alignment::Right : Alignment::Center;
        ++p;
    }
    if (*p == '\'') {
        if (p[1] == '\0' || p[2] != '\'') {
            return nullptr;
        }
        spec.Fill = p[1];
        p += 3;
    }
    if (IsDigit(*p)) {
        p = ReadNumber(p, &spec.Width);
    }
    if (*p == '.') {
        std::uint32_t precision = 0;
        p = ReadNumber(p + 1, &precision);
        spec.Precision = static_cast<std::int32_t>(precision);
    }
    return p;
}

// Parses from the character after "{". Returns false for a malformed placeholder.
bool ParsePlaceholder(const char* p, std::uint32_t& autoIndex, Placeholder& out) {
    if (IsDigit(*p)) {
        p = ReadNumber(p, &out.Index);
    } else {
        out.Index = ++autoIndex;
    }
    out.Spec = FormatSpec{};
    if (*p == ':') {
        p = ParseSpec(p + 1, out.Spec);
        if (p == nullptr) {
            return false;
        }
    }
    if (*p != '}') {
        return false;
    }
    out.Next = p + 1;
    return true;
}

template <class Sink>
StatusCode WriteFill(Sink& sink, char fill, std::uint32_t count) {
    char run[64];
    for (char& c : run) {
        c = fill;
    }
    while (count > 0) {
        std::uint32_t take = count < sizeof(run) ? count : static_cast<std::uint32_t>(sizeof(run));
        StatusCode rc = sink.Write(run, take);
        if (rc != StatusCode::Success) {
            return rc;
        }
        count -= take;
    }
    return StatusCode::Success;
}

template <class Sink>
StatusCode WriteAligned(Sink& sink, const char* pValue, std::uint32_t cLength,
                        const FormatSpec& spec) {
    std::uint32_t pad = cLength < spec.Width ? spec.Width - cLength : 0;
    std::uint32_t before = 0;
    std::uint32_t after = 0;
    switch (spec.Align) {
        case Alignment::Left:
            after = pad;
            break;
        case Alignment::Center:
            before = pad / 2 + (pad & 1);  // the odd one left, without wrapping
            after = pad / 2;
            break;
        default:
            before = pad;
            break;
    }
    StatusCode rc = WriteFill(sink, spec.Fill, before);
    if (rc == StatusCode::Success) {
        rc = sink.Write(pValue, cLength);
    }
    if (rc == StatusCode::Success) {
        rc = WriteFill(sink, spec.Fill, after);
    }
    return rc;
}

template <class Sink>
StatusCode WriteArgument(Sink& sink, const FormatArg& arg, const FormatSpec& spec) {
    if (arg.GetKind() == FormatArg::Kind::Text) {
        const char* text = arg.GetText();
        std::size_t length = 0;
        while (text[length] != '\0') {
            ++length;
        }
        if (length <= UINT32_MAX) {
            return WriteAligned(sink, text, static_cast<std::uint32_t>(length), spec);
        }
        // Longer than any width: no fill, only the text, in pieces a count can hold.
        for (std::size_t done = 0; done < length;) {
            std::size_t piece = length - done < UINT32_MAX ? length - done : UINT32_MAX;
            StatusCode rc = sink.Write(text + done, static_cast<std::uint32_t>(piece));
            if (rc != StatusCode::Success) {
                return rc;
            }
            done += piece;
        }
        return StatusCode::Success;
    }
    char area[ArgumentAreaSize];
    std::uint32_t length = 0;
    // Dropped on purpose: the area holds any 32-bit number in any style, so it never fails.
    static_cast<void>(PlaceholderFormatter::RenderInteger(arg.GetValue(), spec.Style, area,
                                                          sizeof(area), &length));
    return WriteAligned(sink, area, length, spec);
}

// An index with no argument shows itself as "{?N?}", so a wrong template is visible.
template <class Sink>
StatusCode WriteMissing(Sink& sink, std::uint32_t index) {
    char area[IndexAreaSize];
    std::uint32_t length = 0;
    // Dropped on purpose: the area holds any 32-bit index in decimal, so it never fails.
    static_cast<void>(PlaceholderFormatter::RenderInteger(index, NumberStyle::Decimal, area,
                                                          sizeof(area), &length));
    StatusCode rc = sink.Write("{?", 2);
    if (rc == StatusCode::Success) {
        rc = sink.Write(area, length);
    }
    if (rc == StatusCode::Success) {
        rc = sink.Write("?}", 2);
    }
    return rc;
}

}  // namespace

StatusCode StreamSink::Deliver(const char* pChars, std::uint32_t cCount) {
    std::size_t written = std::fwrite(pChars, 1, cCount, Stream);
    return written == cCount ? StatusCode::Success : StatusCode::WriteFailed;
}

StatusCode BufferSink::Deliver(const char* pChars, std::uint32_t cCount) {
    if (cCount > Buffer.Capacity - Delivered) {
        return StatusCode::OutputTooLong;
    }
    char* out = Buffer.Data + Delivered;
    for (std::uint32_t i = 0; i < cCount; ++i) {
        out[i] = pChars[i];
    }
    out[cCount] = '\0';
    Delivered += cCount;
    return StatusCode::Success;
}

std::uint32_t PlaceholderFormatter::CountDecimalDigits(std::uint64_t value) {
    std::uint32_t count = 1;
    for (;;) {
        if (value < 10) {
            return count;
        }
        if (value < 100) {
            return count + 1;
        }
        if (value < 1000) {
            return count + 2;
        }
        if (value < 10000) {
            return count + 3;
        }
        value /= 10000;
        count += 4;
    }
}

StatusCode PlaceholderFormatter::RenderHex32(std::uint32_t value, char* pBuffer,
                                             std::uint32_t cCapacity, std::uint32_t* pcLength,
                                             bool upper) {
    if (cCapacity < 8) {
        return StatusCode::BufferTooSmall;
    }
    const char* digits = HexDigits + (upper ? 16 : 0);
    for (int i = 0; i < 8; ++i) {
        pBuffer[i] = digits[(value >> (28 - 4 * i)) & 0xFu];
    }
    *pcLength = 8;
    return StatusCode::Success;
}

StatusCode PlaceholderFormatter::RenderInteger(std::uint32_t value, NumberStyle style,
                                               char* pBuffer, std::uint32_t cCapacity,
                                               std::uint32_t* pcLength) {
    if (style == NumberStyle::HexLower || style == NumberStyle::HexUpper) {
        return RenderHex32(value, pBuffer, cCapacity, pcLength, style == NumberStyle::HexUpper);
    }
    std::uint32_t digits = CountDecimalDigits(value);
    *pcLength = digits;
    if (digits + 1 > cCapacity) {
        return StatusCode::BufferTooSmall;
    }
    // Filled from the right, two digits at a time.
    std::uint32_t pos = digits - 1;
    while (value >= 100) {
        std::uint32_t pair = (value % 100) * 2;
        value /= 100;
        pBuffer[pos - 1] = DigitPairs[pair];
        pBuffer[pos] = DigitPairs[pair + 1];
        pos -= 2;
    }
    if (value >= 10) {
        pBuffer[pos - 1] = DigitPairs[value * 2];
        pBuffer[pos] = DigitPairs[value * 2 + 1];
    } else {
        pBuffer[pos] = static_cast<char>('0' + value);
    }
    pBuffer[digits] = '\0';
    return StatusCode::Success;
}

template <class Sink>
StatusCode PlaceholderFormatter::Render(Sink& sink, const char* szTemplate, const FormatArg* pArgs,
                                        std::uint32_t cArgs) {
    std::uint32_t autoIndex = 0;
    const char* p = szTemplate;
    for (;;) {
        const char* run = p;
        while (*p != '\0' && *p != '{') {
            ++p;
        }
        if (p != run) {
            StatusCode rc = sink.Write(run, static_cast<std::uint32_t>(p - run));
            if (rc != StatusCode::Success) {
                return rc;
            }
        }
        if (*p == '\0') {
            return sink.Flush();
        }
        if (p[1] == '{') {
            StatusCode rc = sink.Write("{", 1);
            if (rc != StatusCode::Success) {
                return rc;
            }
            p += 2;
            continue;
        }
        Placeholder ph;
        if (!ParsePlaceholder(p + 1, autoIndex, ph)) {
            return StatusCode::BadInput;
        }
        StatusCode rc = (ph.Index >= 1 && ph.Index <= cArgs)
                            ? WriteArgument(sink, pArgs[ph.Index - 1], ph.Spec)
                            : WriteMissing(sink, ph.Index);
        if (rc != StatusCode::Success) {
            return rc;
        }
        p = ph.Next;
    }
}

template StatusCode PlaceholderFormatter::Render<StreamSink>(StreamSink&, const char*,
                                                             const FormatArg*, std::uint32_t);
template StatusCode PlaceholderFormatter::Render<BufferSink>(BufferSink&, const char*,
                                                             const FormatArg*, std::uint32_t);

}  // namespace CX
