#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "duplicates/file_table.h"
#include "hash/content_record.h"
#include "io/file_facts.h"
#include "lines/line_writer.h"

namespace CX::Duplicates {

// A file read to its end that may have a duplicate.
struct Found {
    FileTable::Number File;
    CX::Hash::ContentRecord Record;
    CX::IO::FileIdentity Identity;
};

// A group: found[First] and the Count - 1 after it.
struct Group {
    std::size_t First;
    std::size_t Count;
};

// Orders found so that each group's files stand together in walk order, and gives the
// groups (two files or more with one identifier) in the walk order of their first files.
// Of the names of one file (one identity) only the first is kept: a file is never its
// own duplicate.
std::vector<Group> FormGroups(std::vector<Found>& found);

// How the groups are printed.
enum class Format : std::uint8_t {
    Lines,  // identifier lines; an empty line between groups (-z: a NUL after each group)
    Json,   // one JSON object a group, on a line of its own
};
void PrintGroups(const std::vector<Found>& found, const std::vector<Group>& groups,
                 const FileTable& files, Format format, bool zero, CX::Lines::LineWriter& out);

// text as a JSON string, quotes included: '"', '\' and control characters escaped, every
// other byte as it is (names here are UTF-8: one that is not is never opened).
void AppendJsonString(std::string& out, std::string_view text);

// The closing line of --summary, without the program's name.
std::string SummaryLine(std::uint64_t compared, const std::vector<Found>& found,
                        const std::vector<Group>& groups);

}  // namespace CX::Duplicates
