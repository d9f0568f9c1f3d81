// Code-page conversion: UTF-8 to UTF-16 as Windows does it, and the reverse for paths.

#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/posix/stand_in.h"
#include "platform/utf8_from_utf16.h"

using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::TakeFault;

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) {
    return b >= 0x80 && b <= 0xBF;
}

// Decodes UTF-8 by the rule Windows has followed since Vista, calling emit for each UTF-16
// unit. It agrees with the Unicode maximal-subpart practice except in one place: when a
// lead E0, ED, F0 or F4 is followed by a continuation byte outside the range that lead
// allows (an overlong form, a surrogate, or a value above U+10FFFF), the lead and that
// byte together give one U+FFFD, where maximal subparts give one for the lead alone.
template <class Emit>
void DecodeUtf8(const unsigned char* p, std::size_t n, Emit emit) {
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            emit(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        if (lead < 0xC2 || lead > 0xF4) {
            // A stray continuation byte, a lead that can only start an overlong form
            // (C0, C1), or one beyond the Unicode range (F5 to FF).
            emit(kReplacement);
            ++i;
            continue;
        }
        int trail = lead < 0xE0 ? 1 : (lead < 0xF0 ? 2 : 3);
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead == 0xE0) {
            low = 0xA0;  // below: overlong
        } else if (lead == 0xED) {
            high = 0x9F;  // above: a surrogate
        } else if (lead == 0xF0) {
            low = 0x90;  // below: overlong
        } else if (lead == 0xF4) {
            high = 0x8F;  // above: beyond U+10FFFF
        }
        if (i + 1 >= n || !IsContinuation(p[i + 1])) {
            emit(kReplacement);
            ++i;
            continue;
        }
        if (p[i + 1] < low || p[i + 1] > high) {
            emit(kReplacement);
            i += 2;
            continue;
        }
        char32_t cp = lead & (0x3F >> trail);
        std::size_t j = i + 1;
        int taken = 0;
        while (taken < trail && j < n && IsContinuation(p[j])) {
            cp = (cp << 6) | (p[j] & 0x3F);
            ++j;
            ++taken;
        }
        i = j;
        if (taken < trail) {
            // A well-formed beginning cut short: one U+FFFD for all of it.
            emit(kReplacement);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            emit(static_cast<char16_t>(0xD800 + (cp >> 10)));
            emit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            emit(static_cast<char16_t>(cp));
        }
    }
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

// Windows, CP_UTF8 with flags 0: converts cbMultiByte bytes (or, for -1, the text up to
// and including its NUL) to UTF-16, replacing invalid input with U+FFFD by Windows' own
// rule (see DecodeUtf8). A NUL byte is converted like any other. With a null destination
// and a capacity of 0 it returns the number of units needed; otherwise the number written.
// Failures return 0: ERROR_INVALID_PARAMETER for a code page other than CP_UTF8, a null
// source, a byte count of 0 or below -1, a negative capacity or a null destination with a
// capacity; ERROR_INVALID_FLAGS for any flag (the stand-in supports none);
// ERROR_INSUFFICIENT_BUFFER when the result does not fit, in which case nothing is
// written.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (const auto fault = TakeFault(FaultCall::MultiByteToWideChar);
        fault.Action == FaultAction::Fail) {
        return Fail(static_cast<DWORD>(fault.Value));
    }
    if (CodePage != CP_UTF8) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dwFlags != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (lpWideCharStr == nullptr && cchWideChar != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const auto* p = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    std::size_t n =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    if (n > static_cast<std::size_t>(INT_MAX)) {
        // A NUL-terminated text too long for the int result.
        return Fail(ERROR_INVALID_PARAMETER);
    }

    // A text of ASCII alone (most paths) is its bytes widened, one unit each: counted and
    // written without decoding.
    std::size_t ascii = 0;
    for (std::uint64_t eight = 0; ascii + 8 <= n; ascii += 8) {
        std::memcpy(&eight, p + ascii, 8);
        if ((eight & 0x8080808080808080u) != 0) {
            break;
        }
    }
    while (ascii < n && p[ascii] < 0x80) {
        ++ascii;
    }
    if (ascii == n) {
        if (cchWideChar == 0) {
            return static_cast<int>(n);
        }
        if (n > static_cast<std::size_t>(cchWideChar)) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        for (std::size_t i = 0; i < n; ++i) {
            lpWideCharStr[i] = p[i];
        }
        return static_cast<int>(n);
    }
    // Each byte gives at most one unit (a 4-byte sequence gives two), so the count fits.
    std::size_t need = 0;
    DecodeUtf8(p, n, [&need](char16_t) { ++need; });
    if (cchWideChar == 0) {
        return static_cast<int>(need);
    }
    if (need > static_cast<std::size_t>(cchWideChar)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::size_t k = 0;
    DecodeUtf8(p, n, [&k, lpWideCharStr](char16_t u) { lpWideCharStr[k++] = u; });
    return static_cast<int>(k);
}

namespace CX::Platform::Detail {

std::string Utf8FromUtf16Path(const WCHAR* pPath) {
    std::string out;
    // A lone surrogate becomes U+FFFD, as Windows converts it.
    static_cast<void>(AppendUtf8FromUtf16(pPath, out));
    return out;
}

std::u16string Utf16FromUtf8Path(const std::string& path) {
    std::u16string out;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(path.data()), path.size(),
               [&out](char16_t u) { out += u; });
    return out;
}

// Unlike the Windows rule above, nothing is replaced: each byte that does not start (or
// belong to) a well-formed sequence is kept as U+DC80 + byte, one unit per byte, so that
// the caller can tell such a name from any that converts and can still see its bytes.
std::size_t Utf16FromUtf8Name(const char* szName, char16_t* pOut) {
    const auto* p = reinterpret_cast<const unsigned char*>(szName);
    std::size_t k = 0;
    while (*p != 0) {
        const unsigned char lead = *p;
        int trail = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong form
            high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong form
            high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing beyond U+10FFFF
        }
        // The bytes after the lead are checked before any is taken; the NUL at the end
        // fails the test, so nothing is read beyond it.
        bool whole = lead < 0x80 || (trail > 0 && p[1] >= low && p[1] <= high);
        for (int i = 2; whole && i <= trail; ++i) {
            whole = IsContinuation(p[i]);
        }
        if (!whole) {
            pOut[k++] = static_cast<char16_t>(0xDC00 + lead);
            ++p;
            continue;
        }
        char32_t cp = trail == 0 ? lead : lead & (0x3F >> trail);
        for (int i = 1; i <= trail; ++i) {
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        p += trail + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            pOut[k++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            pOut[k++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            pOut[k++] = static_cast<char16_t>(cp);
        }
    }
    pOut[k] = 0;
    return k;
}

}  // namespace CX::Platform::Detail
