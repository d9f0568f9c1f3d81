#include "cache/cache_file.h"

#include <cstdint>

#include "io/file_input_stream.h"
#include "lines/reasons.h"
#include "mem/heap_string.h"
#include "mem/utf8_to_wide.h"
#include "platform/win32.h"

namespace CX::Cache {
namespace {

std::string Words(const char* what, DWORD error) {
    return std::string(what) + ": " + CX::Lines::ReasonFor(error);
}

bool Wide(const std::string& path, HeapWString& wide, DWORD& error) {
    if (!Utf8ToWide(path.c_str(), wide).IsSuccess()) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    return true;
}

// PATH.lock, locked for as long as this lives.
class FileLock {
public:
    FileLock(const std::string& path, bool alone) {
        HeapWString wide;
        if (!Wide(path + ".lock", wide, m_error)) {
            return;
        }
        m_handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            m_error = GetLastError();
            return;
        }
        OVERLAPPED overlapped = {};
        if (LockFileEx(m_handle, alone ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &overlapped) ==
            FALSE) {
            m_error = GetLastError();
            return;
        }
        m_locked = true;
    }
    ~FileLock() {
        if (m_locked) {
            OVERLAPPED overlapped = {};
            UnlockFileEx(m_handle, 0, 1, 0, &overlapped);
        }
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return m_locked; }
    DWORD Error() const { return m_error; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    bool m_locked = false;
    DWORD m_error = ERROR_SUCCESS;
};

// The whole file; a missing one is empty. Otherwise false with the words.
bool ReadAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& problem) {
    CX::IO::FileInputStream stream(path.c_str());
    if (!stream.IsOpen()) {
        const DWORD error = stream.GetOpenError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        problem =
            std::string("cannot read the cache: ") + CX::Lines::ReasonForOpen(path.c_str(), error);
        return false;
    }
    std::uint64_t size = 0;
    if (stream.GetSize(&size).IsSuccess() && size < (std::uint64_t{1} << 32)) {
        bytes.reserve(static_cast<std::size_t>(size));
    }
    constexpr std::uint32_t Block = 0x10000;
    for (;;) {
        const std::size_t at = bytes.size();
        bytes.resize(at + Block);
        std::uint32_t got = 0;
        const Status status = stream.Read(bytes.data() + at, Block, &got);
        if (status.Code == StatusCode::EndOfData) {
            bytes.resize(at);
            return true;
        }
        if (!status.IsSuccess()) {
            problem = Words("cannot read the cache", GetLastError());
            return false;
        }
        bytes.resize(at + got);
    }
}

// Decodes, or says why the file is no use.
bool Decode(const std::vector<std::uint8_t>& bytes, std::vector<Entry>& entries,
            std::string& problem) {
    DecodedFile file = DecodeFile(bytes.data(), bytes.size());
    switch (file.Kind) {
        case FileKind::Empty:
        case FileKind::Ours:
            entries = std::move(file.Entries);
            return true;
        case FileKind::OtherVersion:
            problem = "a cache of format version " + std::to_string(file.Version) +
                      ", which this quillsum does not know; not used, left as it is";
            return false;
        case FileKind::Foreign:
            break;
    }
    problem = "not a quillsum cache; not used, left as it is";
    return false;
}

// Writes the pieces, one after another, to a new file at temp, flushed to the disk; error
// tells why it could not.
bool WriteNew(const HeapWString& temp, const std::vector<Cache::Piece>& pieces, DWORD& error) {
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    bool written = true;
    for (const Cache::Piece& bytes : pieces) {
        for (std::size_t at = 0; written && at < bytes.Size;) {
            const DWORD piece =
                static_cast<DWORD>(std::min<std::size_t>(bytes.Size - at, 1u << 20));
            DWORD done = 0;
            written = WriteFile(file, bytes.Data + at, piece, &done, nullptr) != FALSE;
            if (written && done == 0) {
                written = false;
                SetLastError(ERROR_DISK_FULL);
            }
            at += done;
        }
    }
    written = written && FlushFileBuffers(file) != FALSE;
    if (!written) {
        error = GetLastError();
    }
    if (CloseHandle(file) == FALSE && written) {
        error = GetLastError();
        written = false;
    }
    return written;
}

std::vector<std::uint8_t> Encode(const std::vector<Entry>& entries) {
    std::vector<std::uint8_t> bytes(HeaderSize + entries.size() * RecordSize);
    EncodeHeader(bytes.data());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EncodeEntry(entries[i], bytes.data() + HeaderSize + i * RecordSize);
    }
    return bytes;
}

}  // namespace

bool CacheFile::Load(std::vector<Entry>& entries, std::string& problem) {
    const FileLock lock(m_path, false);
    if (!lock.Held()) {
        problem = Words("cannot lock the cache", lock.Error());
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadAll(m_path, bytes, problem)) {
        return false;
    }
    m_usable = Decode(bytes, entries, problem);
    return m_usable;
}

bool CacheFile::Save(const Cache& cache, std::string& problem) {
    if (!m_usable || !cache.Changed()) {
        return true;
    }
    const FileLock lock(m_path, true);
    if (!lock.Held()) {
        problem = Words("cannot lock the cache", lock.Error());
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::vector<Entry> onDisk;
    if (!ReadAll(m_path, bytes, problem)) {
        return false;
    }
    if (!Decode(bytes, onDisk, problem)) {
        return false;
    }
    std::uint8_t header[HeaderSize];
    std::vector<Cache::Piece> pieces;
    if (onDisk.empty()) {
        // Nothing to merge with (a first run, as a rule): the records as the run made them.
        EncodeHeader(header);
        pieces.push_back(Cache::Piece{header, HeaderSize});
        for (const Cache::Piece& piece : cache.Kept()) {
            pieces.push_back(piece);
        }
    } else {
        bytes = Encode(cache.Merged(onDisk));
        pieces.push_back(Cache::Piece{bytes.data(), bytes.size()});
    }
    DWORD error = ERROR_SUCCESS;
    HeapWString wide;
    HeapWString temp;
    if (!Wide(m_path, wide, error) || !Wide(m_path + ".tmp", temp, error)) {
        problem = Words("cannot write the cache", error);
        return false;
    }
    if (!WriteNew(temp, pieces, error) ||
        MoveFileExW(temp.c_str(), wide.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        if (error == ERROR_SUCCESS) {
            error = GetLastError();
        }
        DeleteFileW(temp.c_str());
        problem = Words("cannot write the cache", error);
        return false;
    }
    return true;
}

}  // namespace CX::Cache
