#include "duplicates/file_table.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace CX::Duplicates {

FileTable::FileTable() = default;

char* FileTable::Room(std::size_t need, std::uint64_t& at) {
    if (PieceSize - m_used < need) {
        // Left unfilled: a page costs nothing until a name is written into it.
        m_pieces.push_back(std::unique_ptr<char[]>(new char[PieceSize]));
        m_used = 0;
    }
    at = (m_pieces.size() - 1) * PieceSize + m_used;
    m_used += need;
    return m_pieces.back().get() + (at % PieceSize);
}

bool FileTable::Add(std::string_view name, std::string_view openPath, std::uint64_t size) {
    if (m_entries.size() >= NoFolder || name.size() >= PieceSize || openPath.size() >= PieceSize) {
        return false;
    }
    const std::size_t slash = name.rfind('/');
    if (openPath == name && slash != std::string_view::npos) {
        const std::string_view folder = name.substr(0, slash + 1);
        const std::string_view last = name.substr(slash + 1);
        if (m_folders.empty() ||
            std::string_view(Text(m_folders.back().At), m_folders.back().Length) != folder) {
            Folder kept{0, folder.size()};
            std::memcpy(Room(folder.size(), kept.At), folder.data(), folder.size());
            m_folders.push_back(kept);
        }
        Entry entry{size, 0, static_cast<std::uint32_t>(m_folders.size() - 1),
                    static_cast<std::uint32_t>(last.size())};
        // With its NUL, so that a name without a folder can be handed to the system as it is
        // stored.
        char* at = Room(last.size() + 1, entry.At);
        std::memcpy(at, last.data(), last.size());
        at[last.size()] = '\0';
        m_entries.push_back(entry);
        return true;
    }
    const bool sameOpen = openPath == name;
    const std::size_t need = name.size() + 1 + (sameOpen ? 0 : openPath.size() + 1);
    if (need > PieceSize) {
        return false;
    }
    Entry entry{size, 0, NoFolder,
                static_cast<std::uint32_t>(name.size()) | (sameOpen ? 0 : OpenFollows)};
    char* at = Room(need, entry.At);
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = '\0';
    if (!sameOpen) {
        std::memcpy(at + name.size() + 1, openPath.data(), openPath.size());
        at[need - 1] = '\0';
    }
    m_entries.push_back(entry);
    return true;
}

std::string FileTable::Name(Number file) const {
    const Entry& entry = m_entries[file];
    const std::string_view own(Text(entry.At), entry.Length & ~OpenFollows);
    if (entry.Folder == NoFolder) {
        return std::string(own);
    }
    const Folder& folder = m_folders[entry.Folder];
    std::string name;
    name.reserve(folder.Length + own.size());
    name.append(Text(folder.At), folder.Length);
    name.append(own);
    return name;
}

const char* FileTable::OpenPath(Number file, std::string& path) const {
    const Entry& entry = m_entries[file];
    const char* own = Text(entry.At);
    if (entry.Folder == NoFolder) {
        return (entry.Length & OpenFollows) == 0 ? own : own + (entry.Length & ~OpenFollows) + 1;
    }
    const Folder& folder = m_folders[entry.Folder];
    path.assign(Text(folder.At), folder.Length);
    path.append(own, entry.Length);
    return path.c_str();
}

// A size's files lie scattered over the table, and a path made from each in turn waited on
// memory for its entry, then its folder, then their text: a tenth of what the comparing
// threads spent outside the system. Asked for all of them at once, each step is asked of
// every file before the next one needs it.
void FileTable::OpenPaths(const Number* files, std::size_t count, std::string& text,
                          std::vector<std::size_t>& at) const {
    for (std::size_t k = 0; k < count; ++k) {
        __builtin_prefetch(&m_entries[files[k]]);
    }
    for (std::size_t k = 0; k < count; ++k) {
        const Entry& entry = m_entries[files[k]];
        __builtin_prefetch(Text(entry.At));
        if (entry.Folder != NoFolder) {
            __builtin_prefetch(&m_folders[entry.Folder]);
        }
    }
    std::size_t length = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const Entry& entry = m_entries[files[k]];
        if (entry.Folder != NoFolder) {
            const Folder& folder = m_folders[entry.Folder];
            __builtin_prefetch(Text(folder.At));
            length += folder.Length + entry.Length + 1;
        } else {
            length += (entry.Length & ~OpenFollows) + 1;
        }
    }
    text.clear();
    text.reserve(length);
    at.resize(count);
    std::string path;
    for (std::size_t k = 0; k < count; ++k) {
        at[k] = text.size();
        const char* open = OpenPath(files[k], path);
        text.append(open, open == path.c_str() ? path.size() : std::strlen(open));
        text.push_back('\0');
    }
}

std::vector<FileTable::Number> FileTable::SharedSizes() const {
    // Sorted with each size beside its number, read from the table once in order: a sort
    // that looked each size up in the table at every comparison waited on memory, after
    // the walk and before any file could be read.
    std::vector<std::pair<std::uint64_t, Number>> bySize;
    bySize.reserve(m_entries.size());
    Number number = 0;
    for (const Entry& entry : m_entries) {
        bySize.emplace_back(entry.Size, number++);
    }
    std::sort(bySize.begin(), bySize.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::vector<Number> files;
    for (std::size_t i = 0; i < bySize.size();) {
        std::size_t end = i + 1;
        while (end < bySize.size() && bySize[end].first == bySize[i].first) {
            ++end;
        }
        if (end - i > 1) {
            for (; i < end; ++i) {
                files.push_back(bySize[i].second);
            }
        }
        i = end;
    }
    return files;
}

}  // namespace CX::Duplicates
