#include "lines/quote.h"

#include <cstdint>

#include "lines/names.h"

namespace CX::Lines {
namespace {

bool IsSafe(char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
        case '%':
        case '+':
        case ',':
        case '-':
        case '.':
        case '/':
        case '@':
        case '_':
        case ']':
        case '{':
        case '}':
            return true;
        case '~':
        case '#':
            return !first;  // a shell gives them a meaning only at a word's start
        default:
            return false;
    }
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

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void AppendEscape(std::string& out, unsigned char c) {
    out += "$'\\";
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
    out += '\'';
}

}  // namespace

std::string QuoteName(std::string_view name) {
    if (name.empty()) {
        return "''";
    }
    bool plain = true;
    bool escapes = false;
    bool singleQuote = false;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x80) {
            const std::size_t length = MultiByteAt(name, i);
            if (length == 0) {
                escapes = true;
                plain = false;
                ++i;
            } else {
                i += length;
            }
            continue;
        }
        if (IsControl(c)) {
            escapes = true;
        }
        if (c == '\'') {
            singleQuote = true;
        }
        if (!IsSafe(static_cast<char>(c), i == 0)) {
            plain = false;
        }
        ++i;
    }
    if (plain) {
        return std::string(name);
    }
    if (!escapes && singleQuote && name.find_first_of("$`\\\"!") == std::string_view::npos) {
        return "\"" + std::string(name) + "\"";
    }
    std::string out = "'";
    bool open = true;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const std::size_t length = c >= 0x80 ? MultiByteAt(name, i) : 1;
        const bool escape = IsControl(c) || (c >= 0x80 && length == 0);
        if (escape) {
            if (open) {
                out += '\'';
                open = false;
            }
            AppendEscape(out, c);
            ++i;
            continue;
        }
        if (!open) {
            out += '\'';
            open = true;
        }
        if (c == '\'') {
            out += "'\\''";
        } else {
            out.append(name.substr(i, length));
        }
        i += length;
    }
    if (open) {
        out += '\'';
    }
    return out;
}

}  // namespace CX::Lines
