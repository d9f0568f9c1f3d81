#pragma once

#include <string>
#include <string_view>

namespace CX::Lines {

// A name as sha256sum shows it in a message: as it is when every byte is harmless to a
// shell; otherwise in single quotes (double quotes when it holds a single quote and
// nothing a shell would expand there), with control characters and bytes that are not
// UTF-8 written outside the quotes as $'\n' or $'\351'. So a message stays one line and
// its name can be pasted into a shell.
std::string QuoteName(std::string_view name);

}  // namespace CX::Lines
