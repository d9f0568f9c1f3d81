#include "io/long_path.h"

#include <cstddef>

namespace CX::IO {
namespace {

constexpr std::size_t MaxPath = 260;

// Wide texts spelt unit by unit: WCHAR is wchar_t on Windows and char16_t elsewhere.
constexpr WCHAR VerbatimPrefix[] = {'\\', '\\', '?', '\\', 0};
constexpr WCHAR DevicePrefix[] = {'\\', '\\', '.', '\\', 0};
constexpr WCHAR UncPrefix[] = {'\\', '\\', 0};
constexpr WCHAR VerbatimUncPrefix[] = {'\\', '\\', '?', '\\', 'U', 'N', 'C', '\\', 0};

bool HasPrefix(const HeapWString& wstr, const WCHAR* pPrefix) {
    return wstr.compare(0, std::char_traits<WCHAR>::length(pPrefix), pPrefix) == 0;
}

bool IsVerbatim(const HeapWString& wstr) {
    return HasPrefix(wstr, VerbatimPrefix) || HasPrefix(wstr, DevicePrefix);
}

bool LongForm(const HeapWString& wstrPath, HeapWString& wstrLong) {
    const DWORD cNeeded = GetFullPathNameW(wstrPath.c_str(), 0, nullptr, nullptr);
    if (cNeeded == 0) {
        return false;
    }
    HeapWString wstrFull(cNeeded, WCHAR{0});
    const DWORD cFull = GetFullPathNameW(wstrPath.c_str(), cNeeded, wstrFull.data(), nullptr);
    if (cFull == 0 || cFull >= cNeeded) {
        return false;
    }
    wstrFull.resize(cFull);
    if (IsVerbatim(wstrFull)) {
        return false;
    }
    if (HasPrefix(wstrFull, UncPrefix)) {
        wstrLong.assign(VerbatimUncPrefix).append(wstrFull, 2);
    } else {
        wstrLong.assign(VerbatimPrefix).append(wstrFull);
    }
    return true;
}

}  // namespace

bool RetryInLongForm(const HeapWString& wstrPath, DWORD error, HeapWString& wstrLong) {
    return (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILENAME_EXCED_RANGE) &&
           wstrPath.size() >= MaxPath && !IsVerbatim(wstrPath) && LongForm(wstrPath, wstrLong);
}

}  // namespace CX::IO
