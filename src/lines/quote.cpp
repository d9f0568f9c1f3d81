#include "lines/quote.h"

#include <cstdint>

#include "lines/names.h"

namespace CX::Lines {
namespace {

bool IsAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsOneOf(char c, std::string_view set) {
    return set.find(c) != std::string_view::npos;
}

// A shell gives '~' and '#' a meaning only at a word's start.
bool IsSafe(char c, bool first) {
    return IsAlphanumeric(c) || IsOneOf(c, "%+,-./@_]{}") || (!first && IsOneOf(c, "~#"));
}

// The length of the well-formed UTF-8 sequence at text[at] of two bytes or more, or 0.
std::size_t MultiByteAt(std::string_view text, std::size_t at) {
    for (std::size_t length = 2; length <= 4 && at + length <= text.size(); ++length) {
        if (IsValidUtf8(text.substr(at, length))) {
            return length;
        }
    }
    return 0;
}

// Characters that a terminal would not show as one glyph of the name: C1 controls, the
// line and paragraph separators, and the noncharacters. (sha256sum also escapes code
// points that Unicode has not assigned yet; that needs its tables, and is not done here.)
bool IsPrintable(std::string_view sequence) {
    const auto b0 = static_cast<std::uint8_t>(sequence[0]);
    char32_t cp = b0 & (0x7F >> sequence.size());
    for (std::size_t k = 1; k < sequence.size(); ++k) {
        cp = (cp << 6) | (static_cast<std::uint8_t>(sequence[k]) & 0x3F);
    }
    return cp > 0x9F && cp != 0x2028 && cp != 0x2029 && !(cp >= 0xFDD0 && cp <= 0xFDEF) &&
           (cp & 0xFFFE) != 0xFFFE;
}

// One unit of a name: a byte, or a well-formed multi-byte character. escaped: written as
// octal (or \n, \t, ...) inside $'...', a byte at a time.
std::size_t UnitAt(std::string_view name, std::size_t at, bool& escaped) {
    const auto c = static_cast<unsigned char>(name[at]);
    if (c < 0x80) {
        escaped = c < 0x20 || c == 0x7F;
        return 1;
    }
    const std::size_t length = MultiByteAt(name, at);
    escaped = length == 0 || !IsPrintable(name.substr(at, length));
    return length == 0 ? 1 : length;
}

// Within double quotes a shell still expands $, `, \ and !; sha256sum keeps to a narrower
// set, and '#' and '~' only at the start.
bool FitsDoubleQuotes(char c, bool first) {
    return IsAlphanumeric(c) || IsOneOf(c, " %+,-./:@]_'") || (first && IsOneOf(c, "#~"));
}

// The body of one escape inside $'...': \n, \t, ... or three octal digits.
void AppendEscape(std::string& out, unsigned char c) {
    out += '\\';
    switch (c) {
        case '\a':
            out += 'a';
            break;
        case '\b':
            out += 'b';
            break;
        case '\t':
            out += 't';
            break;
        case '\n':
            out += 'n';
            break;
        case '\v':
            out += 'v';
            break;
        case '\f':
            out += 'f';
            break;
        case '\r':
            out += 'r';
            break;
        default:
            out += static_cast<char>('0' + (c >> 6));
            out += static_cast<char>('0' + ((c >> 3) & 7));
            out += static_cast<char>('0' + (c & 7));
    }
}

}  // namespace

std::string QuoteName(std::string_view name) {
    if (name.empty()) {
        return "''";
    }
    bool plain = true;
    bool doubleQuotes = true;
    bool singleQuote = false;
    bool lastEscaped = false;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = UnitAt(name, i, lastEscaped);
        if (lastEscaped) {
            plain = doubleQuotes = false;
        } else if (length == 1) {
            plain = plain && IsSafe(name[i], i == 0);
            doubleQuotes = doubleQuotes && FitsDoubleQuotes(name[i], i == 0);
            singleQuote = singleQuote || name[i] == '\'';
        }
        i += length;
    }
    // A brace alone is a word a shell may expand.
    if (plain && name != "{" && name != "}") {
        return std::string(name);
    }
    if (singleQuote && doubleQuotes) {
        return "\"" + std::string(name) + "\"";
    }
    // Escapes in a row share one $'...'; a single quote closes either kind of quoting.
    // sha256sum starts a name that holds a single quote and ends in an escape as if an
    // escape were already open: its first plain character then comes after '' (and a
    // first escape lacks its $'). Copied as it is, so that messages are sha256sum's byte
    // for byte.
    std::string out = "'";
    bool inEscape = singleQuote && lastEscaped;
    for (std::size_t i = 0; i < name.size();) {
        bool escaped = false;
        const std::size_t length = UnitAt(name, i, escaped);
        if (escaped) {
            if (!inEscape) {
                out += "'$'";
                inEscape = true;
            }
            for (std::size_t k = 0; k < length; ++k) {
                AppendEscape(out, static_cast<unsigned char>(name[i + k]));
            }
        } else if (name[i] == '\'') {
            out += "'\\''";
            inEscape = false;
        } else {
            if (inEscape) {
                out += "''";
                inEscape = false;
            }
            out.append(name.substr(i, length));
        }
        i += length;
    }
    out += '\'';
    return out;
}

}  // namespace CX::Lines
