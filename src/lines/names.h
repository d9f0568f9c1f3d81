#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace CX::Lines {

// sha256sum's escaping of a name on an identifier line: a name holding a backslash, a line
// feed or a carriage return marks its line with a leading backslash and writes those
// characters as \\, \n and \r, so that every line stays one line and reads back exactly.
bool NeedsEscape(std::string_view name);

// Appends name with those three characters escaped (the leading mark is the caller's).
void AppendEscaped(std::string& out, std::string_view name);

// Reads back what AppendEscaped wrote. False, with out unspecified, for a backslash that
// is not followed by one of \, n or r.
bool Unescape(std::string_view escaped, std::string& out);

// A path as it is printed: where a backslash separates folders (Windows) it becomes '/',
// so that a list made on one system checks on the other; elsewhere it is a name's byte.
std::string Printed(std::string path);

// True when text is well-formed UTF-8: no stray or missing continuation byte, no
// overlong form, no surrogate, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

}  // namespace CX::Lines
