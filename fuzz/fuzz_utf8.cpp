// Fuzzes Utf8ToWide against a deliberately simple decoder of the rule Windows applies to
// malformed UTF-8 (MultiByteToWideChar, CP_UTF8, flags 0, since Vista):
//   - 00-7F is itself; 80-C1 and F5-FF are one U+FFFD each;
//   - a lead C2-F4 whose next byte is no continuation byte (80-BF), or which ends the
//     text, is one U+FFFD;
//   - a lead E0, ED, F0 or F4 whose next byte is a continuation byte outside the range
//     the lead allows (E0: A0-BF, ED: 80-9F, F0: 90-BF, F4: 80-8F) is one U+FFFD together
//     with that byte;
//   - otherwise a well-formed beginning that is cut short is one U+FFFD for all of it,
//     and a whole sequence is its code point, as a surrogate pair above U+FFFF.
// The output must match unit for unit, replace what the string held, and keep the length
// rules: no more units than bytes, and a NUL right after the last unit.
//
// Input layout:
//   byte 0      bit 0 set: the text is the rest repeated and cut to 3990 + (byte 0 >> 1)
//               % 32 bytes, which crosses the 4000-unit edge of the stack buffer
//   byte 1      length of what the string holds beforehand (times 17)
//   the rest    the text, cut at its first NUL

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mem/utf8_to_wide.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_utf8: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

// How many continuation bytes a lead takes, and the range its first one must lie in.
struct Lead {
    int Trail;
    unsigned First;
    unsigned Last;
};

Lead LeadOf(unsigned b) {
    if (b >= 0xC2 && b <= 0xDF)
        return {1, 0x80, 0xBF};
    if (b == 0xE0)
        return {2, 0xA0, 0xBF};
    if (b == 0xED)
        return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF)
        return {2, 0x80, 0xBF};
    if (b == 0xF0)
        return {3, 0x90, 0xBF};
    if (b == 0xF4)
        return {3, 0x80, 0x8F};
    if (b >= 0xF1 && b <= 0xF3)
        return {3, 0x80, 0xBF};
    return {0, 0, 0};  // not a lead
}

bool Cont(unsigned b) {
    return (b & 0xC0) == 0x80;
}

std::vector<std::uint16_t> Expected(const std::string& s) {
    std::vector<std::uint16_t> out;
    const std::size_t n = s.size();
    auto byte = [&](std::size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(s[i]));
    };
    std::size_t i = 0;
    while (i < n) {
        const unsigned b = byte(i);
        if (b < 0x80) {
            out.push_back(static_cast<std::uint16_t>(b));
            i += 1;
            continue;
        }
        const Lead lead = LeadOf(b);
        if (lead.Trail == 0 || i + 1 == n || !Cont(byte(i + 1))) {
            out.push_back(0xFFFD);
            i += 1;
            continue;
        }
        if (byte(i + 1) < lead.First || byte(i + 1) > lead.Last) {
            out.push_back(0xFFFD);
            i += 2;
            continue;
        }
        // The lead's own bits, then six bits from each continuation byte.
        std::uint32_t cp = b & (lead.Trail == 1 ? 0x1Fu : lead.Trail == 2 ? 0x0Fu : 0x07u);
        int got = 0;
        std::size_t j = i + 1;
        for (; got < lead.Trail && j < n && Cont(byte(j)); ++got, ++j) {
            cp = cp * 64 + (byte(j) & 0x3F);
        }
        i = j;
        if (got < lead.Trail) {
            out.push_back(0xFFFD);
        } else if (cp > 0xFFFF) {
            out.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    if (data[0] & 1) {
        const std::size_t target = 3990 + (data[0] >> 1) % 32;
        const std::string piece = text.empty() ? std::string("a") : text;
        text.clear();
        while (text.size() < target) {
            text += piece;
        }
        text.resize(target);
    }

    const std::vector<std::uint16_t> expected = Expected(text);
    Check(expected.size() <= text.size(), "reference: more units than bytes");

    CX::HeapWString wide(static_cast<std::size_t>(data[1]) * 17, static_cast<WCHAR>(0x2603));
    const CX::Status st = CX::Utf8ToWide(text.c_str(), wide);
    Check(st.IsSuccess() && st.Message[0] == '\0', "Utf8ToWide failed");
    Check(wide.size() == expected.size(), "unit count differs");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (static_cast<std::uint16_t>(wide[i]) != expected[i]) {
            Fail("a unit differs");
        }
    }
    Check(wide.c_str()[wide.size()] == 0, "no NUL after the last unit");
    return 0;
}
