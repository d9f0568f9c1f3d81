#include "lines/names.h"

#include <cstdint>

#include "platform/path_rules.h"

namespace CX::Lines {

bool NeedsEscape(std::string_view name) {
    return name.find_first_of("\\\n\r") != std::string_view::npos;
}

void AppendEscaped(std::string& out, std::string_view name) {
    for (const char c : name) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

bool Unescape(std::string_view escaped, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == escaped.size()) {
            return false;
        }
        switch (escaped[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

std::string Printed(std::string path) {
    if (CX::Platform::BackslashIsSeparator) {
        for (char& c : path) {
            if (c == '\\') {
                c = '/';
            }
        }
    }
    return path;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto b0 = static_cast<std::uint8_t>(text[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range the second byte may take; the
        // narrowed ranges are what shut out overlong forms, surrogates and values past
        // U+10FFFF.
        std::size_t length;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) {
                low = 0xA0;
            } else if (b0 == 0xED) {
                high = 0x9F;
            }
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) {
                low = 0x90;
            } else if (b0 == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false;
        }
        if (n - i < length) {
            return false;
        }
        const auto b1 = static_cast<std::uint8_t>(text[i + 1]);
        if (b1 < low || b1 > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            const auto b = static_cast<std::uint8_t>(text[i + k]);
            if (b < 0x80 || b > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace CX::Lines
