#include "lines/list_parser.h"

#include "lines/names.h"

namespace CX::Lines {
namespace {

constexpr std::size_t Digits = 80;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

ListLine ParseListLine(std::string_view line, bool nulEnded, ListFormat& format,
                       CX::Hash::ContentRecord& record, std::string& name) {
    if (!nulEnded && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') {
        return ListLine::Skipped;
    }
    std::size_t at = 0;
    while (at < line.size() && IsBlank(line[at])) {
        ++at;
    }
    const bool escaped = at < line.size() && line[at] == '\\';
    if (escaped) {
        ++at;
    }
    if (line.size() - at < Digits + 2) {
        return ListLine::Malformed;
    }
    for (std::size_t i = 0; i < Digits; i += 2) {
        const int high = DigitValue(line[at + i]);
        const int low = DigitValue(line[at + i + 1]);
        if (high < 0 || low < 0) {
            return ListLine::Malformed;
        }
        record.Bytes[i / 2] = static_cast<std::uint8_t>(high * 16 + low);
    }
    at += Digits;
    if (!IsBlank(line[at])) {
        return ListLine::Malformed;
    }
    ++at;
    // "ID  " reads as the name " " in the plain form only.
    const bool modes = (line[at] == ' ' || line[at] == '*') && at + 1 < line.size();
    if (format == ListFormat::Unknown) {
        format = modes ? ListFormat::Modes : ListFormat::Plain;
    }
    if (format == ListFormat::Modes) {
        if (!modes) {
            return ListLine::Malformed;
        }
        ++at;
    }
    const std::string_view rest = line.substr(at);
    if (rest.find('\0') != std::string_view::npos) {
        return ListLine::Malformed;
    }
    if (escaped) {
        if (!Unescape(rest, name)) {
            return ListLine::Malformed;
        }
    } else {
        name.assign(rest);
    }
    return name.empty() ? ListLine::Malformed : ListLine::Entry;
}

}  // namespace CX::Lines
