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

// Writes the pieces, one after another, at the file's end; false with the last error set
// when it could not.
bool WriteAll(HANDLE file, const std::vector<Cache::Piece>& pieces) {
    for (const Cache::Piece& bytes : pieces) {
        for (std::size_t at = 0; at < bytes.Size;) {
            const DWORD piece =
                static_cast<DWORD>(std::min<std::size_t>(bytes.Size - at, 1u << 20));
            DWORD done = 0;
            if (WriteFile(file, bytes.Data + at, piece, &done, nullptr) == FALSE) {
                return false;
            }
            if (done == 0) {
                SetLastError(ERROR_DISK_FULL);
                return false;
            }
            at += done;
        }
    }
    return true;
}

// Writes the rest of an open file, flushes it to the disk and closes it; error tells why it
// could not.
bool Complete(HANDLE file, const std::vector<Cache::Piece>& pieces, DWORD& error) {
    bool written = WriteAll(file, pieces) && FlushFileBuffers(file) != FALSE;
    if (!written) {
        error = GetLastError();
    }
    if (CloseHandle(file) == FALSE && written) {
        error = GetLastError();
        written = false;
    }
    return written;
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
    return Complete(file, pieces, error);
}

// Renames a file written whole over the cache, through to the disk; error tells why not.
bool Replace(const HeapWString& from, const HeapWString& cache, DWORD& error) {
    if (MoveFileExW(from.c_str(), cache.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        error = GetLastError();
        return false;
    }
    return true;
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

// A byte of PATH.lock, locked for as long as this lives: the first, shared by the runs that
// read the cache and held alone by one that replaces it, waited for; or the second, held by
// the run that writes PATH.run, taken only when free.
class CacheFile::Lock {
public:
    enum class Byte : DWORD { Cache = 0, Stream = 1 };

    Lock(const std::string& path, Byte byte, bool alone) {
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
        m_overlapped.Offset = static_cast<DWORD>(byte);
        const DWORD flags = (alone ? LOCKFILE_EXCLUSIVE_LOCK : 0) |
                            (byte == Byte::Stream ? LOCKFILE_FAIL_IMMEDIATELY : 0);
        if (LockFileEx(m_handle, flags, 0, 1, 0, &m_overlapped) == FALSE) {
            m_error = GetLastError();
            return;
        }
        m_locked = true;
    }
    ~Lock() {
        if (m_locked) {
            UnlockFileEx(m_handle, 0, 1, 0, &m_overlapped);
        }
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    bool Held() const { return m_locked; }
    DWORD Error() const { return m_error; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    OVERLAPPED m_overlapped = {};
    bool m_locked = false;
    DWORD m_error = ERROR_SUCCESS;
};

CacheFile::CacheFile(std::string path) : m_path(std::move(path)) {}

CacheFile::~CacheFile() {
    EndStream(false);
}

bool CacheFile::Load(std::vector<Entry>& entries, std::string& problem) {
    const Lock lock(m_path, Lock::Byte::Cache, false);
    if (!lock.Held()) {
        problem = Words("cannot lock the cache", lock.Error());
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadAll(m_path, bytes, problem)) {
        return false;
    }
    m_usable = Decode(bytes, entries, problem);
    m_loadedNone = m_usable && entries.empty();
    return m_usable;
}

void CacheFile::Stream(Cache& cache) {
    if (!m_loadedNone || m_streamLock != nullptr) {
        return;
    }
    HeapWString run;
    DWORD error = ERROR_SUCCESS;
    if (!Wide(m_path + ".run", run, error)) {
        return;
    }
    m_streamLock = std::make_unique<Lock>(m_path, Lock::Byte::Stream, true);
    if (!m_streamLock->Held()) {
        m_streamLock.reset();
        return;
    }
    // Ours alone now: what a run that ended without its save left there goes.
    m_stream = CreateFileW(run.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    std::uint8_t header[HeaderSize];
    EncodeHeader(header);
    if (m_stream == INVALID_HANDLE_VALUE || !WriteAll(m_stream, {{header, HeaderSize}})) {
        EndStream(false);
        return;
    }
    cache.StreamTo(this);
}

void CacheFile::Filled(const std::uint8_t* data, std::size_t size) {
    if (m_stream != INVALID_HANDLE_VALUE && !WriteAll(m_stream, {{data, size}})) {
        EndStream(false);
    }
}

void CacheFile::EndStream(bool removed) {
    if (m_stream != INVALID_HANDLE_VALUE) {
        CloseHandle(m_stream);
        m_stream = INVALID_HANDLE_VALUE;
        removed = false;
    }
    if (m_streamLock != nullptr && !removed) {
        HeapWString run;
        DWORD error = ERROR_SUCCESS;
        if (Wide(m_path + ".run", run, error)) {
            DeleteFileW(run.c_str());
        }
    }
    m_streamLock.reset();
}

bool CacheFile::FinishStream(const Cache& cache, std::string& problem) {
    DWORD error = ERROR_SUCCESS;
    HeapWString wide;
    HeapWString run;
    HANDLE stream = m_stream;
    m_stream = INVALID_HANDLE_VALUE;
    const bool replaced = Wide(m_path, wide, error) && Wide(m_path + ".run", run, error) &&
                          Complete(stream, cache.Kept(cache.Streamed()), error) &&
                          Replace(run, wide, error);
    EndStream(replaced);
    if (!replaced) {
        problem = Words("cannot write the cache", error);
    }
    return replaced;
}

bool CacheFile::Save(const Cache& cache, std::string& problem) {
    if (!m_usable || !cache.Changed()) {
        EndStream(false);
        return true;
    }
    const Lock lock(m_path, Lock::Byte::Cache, true);
    if (!lock.Held()) {
        EndStream(false);
        problem = Words("cannot lock the cache", lock.Error());
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::vector<Entry> onDisk;
    if (!ReadAll(m_path, bytes, problem) || !Decode(bytes, onDisk, problem)) {
        EndStream(false);
        return false;
    }
    if (onDisk.empty() && m_stream != INVALID_HANDLE_VALUE && cache.StreamedAllKept()) {
        // Most of the records are on their way to the disk already: the rest follow them.
        return FinishStream(cache, problem);
    }
    // Another run filled the cache meanwhile, the records could not be streamed, or a
    // record streamed was replaced since: they are all here still, each file's once.
    EndStream(false);
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
    if (!WriteNew(temp, pieces, error) || !Replace(temp, wide, error)) {
        DeleteFileW(temp.c_str());
        problem = Words("cannot write the cache", error);
        return false;
    }
    // A run that ended before its save may have left its records at PATH.run: they go,
    // unless another run is writing there now.
    const Lock stream(m_path, Lock::Byte::Stream, true);
    HeapWString run;
    if (stream.Held() && Wide(m_path + ".run", run, error)) {
        DeleteFileW(run.c_str());
    }
    return true;
}

}  // namespace CX::Cache
