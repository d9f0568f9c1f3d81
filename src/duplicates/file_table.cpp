#include "duplicates/file_table.h"

#include <algorithm>
#include <cstring>

namespace CX::Duplicates {

FileTable::FileTable() = default;

bool FileTable::Add(std::string_view name, std::string_view openPath, std::uint64_t size) {
    const bool sameOpen = openPath == name;
    // Each with its NUL, so that a path can be handed to the system as it is stored.
    const std::size_t need = name.size() + 1 + (sameOpen ? 0 : openPath.size() + 1);
    if (need > PieceSize || m_entries.size() >= 0xFFFFFFFFu) {
        return false;
    }
    if (PieceSize - m_used < need) {
        m_pieces.push_back(std::make_unique<char[]>(PieceSize));
        m_used = 0;
    }
    char* at = m_pieces.back().get() + m_used;
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = '\0';
    if (!sameOpen) {
        std::memcpy(at + name.size() + 1, openPath.data(), openPath.size());
        at[need - 1] = '\0';
    }
    m_entries.push_back(Entry{size, (m_pieces.size() - 1) * PieceSize + m_used,
                              static_cast<std::uint32_t>(name.size()),
                              static_cast<std::uint32_t>(sameOpen ? 0 : openPath.size())});
    m_used += need;
    return true;
}

std::string_view FileTable::Name(Number file) const {
    const Entry& entry = m_entries[file];
    return std::string_view(Text(entry.At), entry.NameLength);
}

const char* FileTable::OpenPath(Number file) const {
    const Entry& entry = m_entries[file];
    const char* name = Text(entry.At);
    return entry.OpenLength == 0 ? name : name + entry.NameLength + 1;
}

std::vector<FileTable::Number> FileTable::SharedSizes() const {
    std::vector<Number> files(m_entries.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i] = static_cast<Number>(i);
    }
    std::stable_sort(files.begin(), files.end(),
                     [this](Number a, Number b) { return m_entries[a].Size > m_entries[b].Size; });
    std::size_t kept = 0;
    for (std::size_t i = 0; i < files.size();) {
        std::size_t end = i + 1;
        while (end < files.size() && Size(files[end]) == Size(files[i])) {
            ++end;
        }
        if (end - i > 1) {
            std::copy(files.begin() + static_cast<std::ptrdiff_t>(i),
                      files.begin() + static_cast<std::ptrdiff_t>(end),
                      files.begin() + static_cast<std::ptrdiff_t>(kept));
            kept += end - i;
        }
        i = end;
    }
    files.resize(kept);
    return files;
}

}  // namespace CX::Duplicates
