// hold_file <mode> <path> <marker> <release>: a second Windows process for the end-to-end
// tests. It takes <path> the way <mode> says, then creates <marker> to say it has, and
// keeps it until <release> exists or 100 seconds have passed.
//   exclusive   opens the file for reading and writing with share mode 0: nobody else may
//               open it at all
//   writer      opens the file for writing, sharing reading and writing: readers may come
//   delete      opens the file with DELETE access, sharing everything: only an opener that
//               shares deletion may come
//   pipe-write  serves the named pipe <path> and writes to its client until it goes
//   pipe-idle   serves the named pipe <path> and writes nothing
// Exit codes: 0 released (or the pipe's client went away), 1 usage, 2 the file or pipe
// could not be taken, 3 no release in time.

#include <cstdio>
#include <cwchar>

#include "platform/win32.h"

namespace {

bool Exists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool Mark(const wchar_t* marker) {
    const HANDLE h = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(h);
    return true;
}

// Waits for <release>; in pipe-write mode it writes to the client meanwhile, and a client
// that has gone ends the wait too.
int Keep(HANDLE held, const wchar_t* release, bool writePipe) {
    static char block[4096];
    for (int waited = 0; waited < 10000; ++waited) {
        if (Exists(release)) {
            CloseHandle(held);
            return 0;
        }
        DWORD written = 0;
        if (writePipe && !WriteFile(held, block, sizeof block, &written, nullptr)) {
            CloseHandle(held);
            return 0;
        }
        Sleep(10);
    }
    CloseHandle(held);
    return 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fputs("usage: hold_file <mode> <path> <marker> <release>\n", stderr);
        return 1;
    }
    const wchar_t* mode = argv[1];
    const wchar_t* path = argv[2];
    const bool pipeWrite = std::wcscmp(mode, L"pipe-write") == 0;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (pipeWrite || std::wcscmp(mode, L"pipe-idle") == 0) {
        held = CreateNamedPipeW(path, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                                65536, 0, nullptr);
    } else {
        DWORD access = 0;
        DWORD share = 0;
        if (std::wcscmp(mode, L"exclusive") == 0) {
            access = GENERIC_READ | GENERIC_WRITE;
        } else if (std::wcscmp(mode, L"writer") == 0) {
            access = GENERIC_WRITE;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        } else if (std::wcscmp(mode, L"delete") == 0) {
            access = DELETE;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        } else {
            std::fputs("hold_file: unknown mode\n", stderr);
            return 1;
        }
        held = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: taking the file failed with error %lu\n", GetLastError());
        return 2;
    }
    if (!Mark(argv[3])) {
        return 2;
    }
    if (pipeWrite || std::wcscmp(mode, L"pipe-idle") == 0) {
        // The client may have come between the pipe's creation and this call.
        if (!ConnectNamedPipe(held, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            std::fprintf(stderr, "hold_file: ConnectNamedPipe failed with error %lu\n",
                         GetLastError());
            CloseHandle(held);
            return 2;
        }
    }
    return Keep(held, argv[4], pipeWrite);
}
