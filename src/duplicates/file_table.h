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
// that is never moved, and its size as the walk saw it. A name is kept as its folder and
// its last component, and the folder once for the files the walk gives in a row from it,
// so that a file costs 24 bytes beside its last component. Growing the table never copies
// what it holds: its peak is what it keeps.
class FileTable {
public:
    using Number = std::uint32_t;

    FileTable();

    FileTable(const FileTable&) = delete;
    FileTable& operator=(const FileTable&) = delete;

    // False when the table can take no more (2^32 - 1 files, or a name past a piece's size).
    bool Add(std::string_view name, std::string_view openPath, std::uint64_t size);

    std::size_t Count() const { return m_entries.size(); }
    std::uint64_t Size(Number file) const { return m_entries[file].Size; }
    std::string Name(Number file) const;
    // The path to open the file by, NUL-terminated: in the store, or made in path.
    const char* OpenPath(Number file, std::string& path) const;
    // The open paths of count files at once, each NUL-terminated, one after another in
    // text; at[k] is where that of files[k] begins.
    void OpenPaths(const Number* files, std::size_t count, std::string& text,
                   std::vector<std::size_t>& at) const;

    // The numbers of the files whose size some other file has too, in runs of one size,
    // the largest size first and each run in walk order. Files of a size no other has
    // are left out: they are never opened.
    std::vector<Number> SharedSizes() const;

private:
    // Names are kept in pieces of this many bytes; one never spans two pieces.
    static constexpr std::size_t PieceSize = std::size_t{1} << 20;
    static constexpr std::uint32_t NoFolder = 0xFFFFFFFFu;
    // In an entry without a folder: its open path follows its name.
    static constexpr std::uint32_t OpenFollows = 0x80000000u;

    struct Entry {
        std::uint64_t Size;
        std::uint64_t At;      // piece * PieceSize + offset of the last component or name
        std::uint32_t Folder;  // NoFolder: At holds the whole name
        std::uint32_t Length;  // of what At holds, with OpenFollows
    };
    struct Folder {
        std::uint64_t At;
        std::uint64_t Length;  // with its last '/'
    };

    const char* Text(std::uint64_t at) const {
        return m_pieces[at / PieceSize].get() + at % PieceSize;
    }
    // Room for need bytes; where they go.
    char* Room(std::size_t need, std::uint64_t& at);

    std::deque<Entry> m_entries;  // a deque, so that it grows without a copy
    std::deque<Folder> m_folders;
    std::vector<std::unique_ptr<char[]>> m_pieces;
    std::size_t m_used = PieceSize;  // of the last piece
};

}  // namespace CX::Duplicates
