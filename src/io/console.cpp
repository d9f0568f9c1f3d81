#include "io/console.h"

#include "platform/win32.h"

namespace CX::IO {

unsigned StandardErrorTerminalWidth() {
    const HANDLE hError = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (hError == nullptr || hError == INVALID_HANDLE_VALUE || !GetConsoleMode(hError, &mode)) {
        return 0;
    }
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(hError, &info) || info.srWindow.Right <= info.srWindow.Left) {
        return 80;  // a console whose size cannot be had: the classic width
    }
    return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
}

}  // namespace CX::IO
