#include "duplicates/groups.h"

#include <algorithm>
#include <cstring>

#include "str/hex_bin_str.h"

namespace CX::Duplicates {
namespace {

int Compare(const CX::Hash::ContentRecord& a, const CX::Hash::ContentRecord& b) {
    return std::memcmp(a.Bytes, b.Bytes, sizeof a.Bytes);
}

std::string Counted(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
}

std::string JsonGroup(const std::vector<Found>& found, const Group& group, const FileTable& files) {
    const CX::Hash::ContentRecord& record = found[group.First].Record;
    char digits[2 * CX::Hash::ContentRecord::Size];
    CX::Str::HexBinStr encoder(CX::Str::HexCase::Upper);
    static_cast<void>(encoder.BinToStr(record.Bytes, sizeof record.Bytes, digits, sizeof digits));
    std::string line = "{\"identifier\":\"";
    line.append(digits, sizeof digits);
    line += "\",\"length\":" + std::to_string(record.Length()) + ",\"names\":[";
    for (std::size_t k = 0; k < group.Count; ++k) {
        if (k != 0) {
            line += ',';
        }
        AppendJsonString(line, files.Name(found[group.First + k].File));
    }
    line += "]}";
    return line;
}

}  // namespace

std::vector<Group> FormGroups(std::vector<Found>& found) {
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        const int order = Compare(a.Record, b.Record);
        return order != 0 ? order < 0 : a.File < b.File;
    });
    std::vector<Group> groups;
    std::size_t kept = 0;  // found[0, kept) is what stays; it never passes i
    for (std::size_t i = 0; i < found.size();) {
        std::size_t end = i + 1;
        while (end < found.size() && found[end].Record == found[i].Record) {
            ++end;
        }
        const std::size_t first = kept;
        for (; i < end; ++i) {
            const auto same = [&found, i](const Found& other) {
                return other.Identity == found[i].Identity;
            };
            const auto from = found.begin() + static_cast<std::ptrdiff_t>(first);
            if (std::none_of(from, from + static_cast<std::ptrdiff_t>(kept - first), same)) {
                found[kept++] = found[i];
            }
        }
        if (kept - first < 2) {
            kept = first;
        } else {
            groups.push_back(Group{first, kept - first});
        }
    }
    found.resize(kept);
    std::sort(groups.begin(), groups.end(), [&found](const Group& a, const Group& b) {
        return found[a.First].File < found[b.First].File;
    });
    return groups;
}

void PrintGroups(const std::vector<Found>& found, const std::vector<Group>& groups,
                 const FileTable& files, Format format, bool zero, CX::Lines::LineWriter& out) {
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const Group& group = groups[g];
        if (format == Format::Json) {
            out.Line(JsonGroup(found, group, files));
            continue;
        }
        if (g != 0 && !zero) {
            out.Line("");
        }
        for (std::size_t k = 0; k < group.Count; ++k) {
            const Found& file = found[group.First + k];
            out.Identifier(file.Record, files.Name(file.File));
        }
        if (zero) {
            out.Line("");
        }
    }
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            out += "\\u00";
            out += Hex[byte >> 4];
            out += Hex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string SummaryLine(std::uint64_t compared, const std::vector<Found>& found,
                        const std::vector<Group>& groups) {
    std::uint64_t copies = 0;
    std::uint64_t bytes = 0;
    for (const Group& group : groups) {
        copies += group.Count - 1;
        bytes += (group.Count - 1) * found[group.First].Record.Length();
    }
    return Counted(compared, " file compared, ", " files compared, ") +
           Counted(groups.size(), " group of duplicates, ", " groups of duplicates, ") +
           Counted(copies, " duplicate file, ", " duplicate files, ") +
           Counted(bytes, " byte", " bytes") + " in copies beyond the first of each group";
}

}  // namespace CX::Duplicates
