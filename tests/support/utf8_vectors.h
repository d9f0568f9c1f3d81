#pragma once

// The rows of windows.tsv (tests/vectors/utf8): what MultiByteToWideChar(CP_UTF8, 0) gives on
// Windows, and where Wine 8 departs from it.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace CX::Test {

struct WindowsUtf8Row {
    std::string Name;
    std::string Input;           // column 2: the bytes
    std::vector<WCHAR> Windows;  // column 3: Windows, the input alone
    std::string Wine;            // column 4: Wine 8 with a terminating NUL, where it differs
};

inline std::string BytesFromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

inline std::vector<WCHAR> UnitsFromHex(const std::string& text) {
    std::vector<WCHAR> out;
    std::istringstream in(text);
    std::string unit;
    while (in >> unit) {
        out.push_back(static_cast<WCHAR>(std::stoi(unit, nullptr, 16)));
    }
    return out;
}

// Empty when the file cannot be read; callers fail then, as they do on a short file.
inline std::vector<WindowsUtf8Row> LoadWindowsUtf8Rows() {
    std::vector<WindowsUtf8Row> rows;
    std::ifstream in(std::string(QUILLMARK_VECTORS_DIR) + "/utf8/windows.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> columns;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            columns.push_back(field);
        }
        columns.resize(4);
        rows.push_back(
            {columns[0], BytesFromHex(columns[1]), UnitsFromHex(columns[2]), columns[3]});
    }
    return rows;
}

}  // namespace CX::Test
