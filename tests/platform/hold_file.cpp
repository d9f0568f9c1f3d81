// hold_file <path> <marker> <release>: a second Windows process for the end-to-end tests.
// Opens <path> with share mode 0 (nobody else may open it at all), then creates <marker>
// to say so, and keeps the file until <release> exists or 30 seconds have passed.
// Exit codes: 0 released, 1 usage, 2 the file could not be held, 3 no release in time.

#include <cstdio>

#include "platform/win32.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: hold_file <path> <marker> <release>\n", stderr);
        return 1;
    }
    const HANDLE held = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: CreateFileW failed with error %lu\n", GetLastError());
        return 2;
    }
    const HANDLE marker = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        return 2;
    }
    CloseHandle(marker);
    for (int waited = 0; waited < 3000; ++waited) {
        if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) {
            CloseHandle(held);
            return 0;
        }
        Sleep(10);
    }
    CloseHandle(held);
    return 3;
}
