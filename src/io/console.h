#pragma once

namespace CX::IO {

// The width, in columns, of the terminal (console) that standard error writes to; 0 when
// standard error is not one (a file, a pipe, the NUL device).
unsigned StandardErrorTerminalWidth();

}  // namespace CX::IO
