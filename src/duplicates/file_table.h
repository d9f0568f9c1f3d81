#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace CX::Duplicates {

// The files a run compares, in the order the walk found them, numbered from 0: each one's
// name as printed (and the path it is opened by, where that differs) in a store of text
// that is never moved, and its size as the walk saw it. A file costs 24 bytes beside its
// names, and growing the table never copies what it holds: its peak is what it keeps.
class FileTable {
public:
    using Number = std::uint32_t;

    FileTable();

    FileTable(const FileTable&) = delete;
    FileTable& operator=(const FileTable&) = delete;

    // False when the table can take no more (2^32 files, or a name past a piece's size).
    bool Add(std::string_view name, std::string_view openPath, std::uint64_t size);

    std::size_t Count() const { return m_entries.size(); }
    std::uint64_t Size(Number file) const { return m_entries[file].Size; }
    std::string_view Name(Number file) const;
    // The path to open the file by, NUL-terminated.
    const char* OpenPath(Number file) const;

    // The numbers of the files whose size some other file has too, in runs of one size,
    // the largest size first and each run in walk order. Files of a size no other has
    // are left out: they are never opened.
    std::vector<Number> SharedSizes() const;

private:
    // Names are kept in pieces of this many bytes; one never spans two pieces.
    static constexpr std::size_t PieceSize = std::size_t{1} << 20;

    struct Entry {
        std::uint64_t Size;
        std::uint64_t At;  // piece * PieceSize + offset of the name
        std::uint32_t NameLength;
        std::uint32_t OpenLength;  // 0: opened by its name
    };

    const char* Text(std::uint64_t at) const {
        return m_pieces[at / PieceSize].get() + at % PieceSize;
    }

    std::deque<Entry> m_entries;  // a deque, so that it grows without a copy
    std::vector<std::unique_ptr<char[]>> m_pieces;
    std::size_t m_used = PieceSize;  // of the last piece
};

}  // namespace CX::Duplicates
