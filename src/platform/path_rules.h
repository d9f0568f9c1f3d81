#pragma once

// What a path looks like on the system we run on, for code that builds and prints names.

namespace CX::Platform {

#ifdef _WIN32
// A backslash separates folders as a slash does; neither may appear inside a name.
inline constexpr bool BackslashIsSeparator = true;
#else
// Only '/' separates; a backslash is an ordinary byte of a name.
inline constexpr bool BackslashIsSeparator = false;
#endif

}  // namespace CX::Platform
