#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hash/content_record.h"

namespace CX::Lines {

enum class ListLine {
    Skipped,    // empty, or a comment
    Entry,      // an identifier and a name
    Malformed,  // anything else
};

// How the identifier and the name are parted, fixed by the first line that reads either
// way and kept from then on, for every list of the run, as sha256sum -c does.
enum class ListFormat {
    Unknown,
    Modes,  // one blank, a mode character (' ' or '*'), the name: "ID  NAME", "ID *NAME"
    Plain,  // one blank, the name: "ID NAME"
};

// One line of a list of identifiers, read as sha256sum -c reads its lines: optional
// leading blanks; a backslash that marks an escaped name; 80 hexadecimal digits of either
// case; the parting (see ListFormat); the name, which may not be empty. A line ending in
// CR (a list written on Windows) loses it first, unless the records end in NUL. A line
// whose first byte is '#' is a comment.
ListLine ParseListLine(std::string_view line, bool nulEnded, ListFormat& format,
                       CX::Hash::ContentRecord& record, std::string& name);

}  // namespace CX::Lines
