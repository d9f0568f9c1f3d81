#pragma once

// UTF-16 to UTF-8, written once for the stand-in (paths it hands to POSIX) and for the
// product (names a folder listing gives back). Pure computation: it asks no system.

#include <cstdint>
#include <string>

namespace CX::Platform {

// Appends the UTF-8 form of the NUL-terminated UTF-16 text pText to out. A lone surrogate
// has no UTF-8 form: it is written as U+FFFD, and the result is false.
template <typename Unit>
bool AppendUtf8FromUtf16(const Unit* pText, std::string& out) {
    std::size_t units = 0;
    while (pText[units] != 0) {
        ++units;
    }
    // Written in place into room for the longest form (three bytes a unit; a pair of units
    // takes four), then cut to what was written: a path costs one allocation and no check
    // of the room per byte, which a tree's every open pays for.
    const std::size_t start = out.size();
    out.resize(start + 3 * units);
    char* const pBegin = out.data();
    char* pOut = pBegin + start;
    bool whole = true;
    for (std::size_t i = 0; i < units; ++i) {
        char32_t cp = static_cast<std::uint16_t>(pText[i]);
        if (cp < 0x80) {
            *pOut++ = static_cast<char>(cp);
            continue;
        }
        const char32_t next = static_cast<std::uint16_t>(pText[i + 1]);
        if (cp >= 0xD800 && cp <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
            whole = false;
        }
        if (cp < 0x800) {
            *pOut++ = static_cast<char>(0xC0 | (cp >> 6));
            *pOut++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *pOut++ = static_cast<char>(0xE0 | (cp >> 12));
            *pOut++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *pOut++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *pOut++ = static_cast<char>(0xF0 | (cp >> 18));
            *pOut++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *pOut++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *pOut++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(pOut - pBegin));
    return whole;
}

}  // namespace CX::Platform
