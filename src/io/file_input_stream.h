#pragma once

#include <cstdint>

#include "io/file_facts.h"
#include "io/input_stream.h"
#include "mem/heap_string.h"
#include "platform/win32.h"
#include "text/status.h"

namespace CX::IO {

// An input stream over one file, opened for reading when the stream is made and closed
// when it is destroyed. Others may read and write the file meanwhile, but not delete or
// rename it. Output arguments are written only on success; every operation on a stream
// that did not open answers NotReady, "File not opened".
class FileInputStream : public IInputStream {
public:
    // When the system is asked what the handle is (IsDiskFile): at the open, or the first
    // time it matters, for a caller that may only read (it then costs nothing).
    enum class TypeAsked : std::uint8_t { AtOpen, WhenNeeded };

    // Opens pPath, a NUL-terminated UTF-8 path. Whether it opened is told by IsOpen only.
    // A path of MAX_PATH units or more that the system refuses is tried once more in its
    // \\?\ form.
    explicit FileInputStream(const char* pPath, TypeAsked typeAsked = TypeAsked::AtOpen);
    ~FileInputStream() override;

    FileInputStream(const FileInputStream&) = delete;
    FileInputStream& operator=(const FileInputStream&) = delete;

    // One system read straight into pBuffer: a short count is passed on as it comes.
    Status Read(void* pBuffer, std::uint32_t cBytesToRead, std::uint32_t* pcBytesRead) override;
    Status Seek(std::uint64_t nOffset) override;
    Status GetPosition(std::uint64_t* pPosition) override;
    // Asks the system anew on each call, so a file that grows while it is read is followed.
    // What is not a disk file (a device, a pipe, a console) has no size: SeekFailed,
    // "GetFileSizeEx failed with error 1", without asking the size.
    Status GetSize(std::uint64_t* pSize) override;
    // Asks GetPosition and GetSize through the interface, each time.
    bool IsEndOfStream() override;
    bool IsOpen() override;
    // The path as it was passed when open, "" otherwise.
    const char* GetName() override;

    // Size, identity, links and times of the file this stream reads, from its handle (no
    // second open by name). False with the system's error number when it cannot tell or
    // the stream is not open.
    bool GetFacts(FileFacts& facts, DWORD& error) const;
    // The identity alone (IdentityOfHandle): one system call where the facts take three.
    bool GetIdentity(FileIdentity& identity, DWORD& error) const;

    // The system calls the open handle a disk file: its size and times follow its bytes.
    // Asked of the system once (see TypeAsked): a handle's type never changes.
    bool IsDiskFile() const;

    // Why the open failed, as a system error number (ERROR_NO_UNICODE_TRANSLATION when
    // the path could not be converted); ERROR_SUCCESS when it opened.
    DWORD GetOpenError() const { return m_openError; }

private:
    Status Open(const char* pPath);

    HANDLE m_hFile = nullptr;  // null when not open; never INVALID_HANDLE_VALUE
    HeapString m_strName;
    enum class Kind : std::uint8_t { NotAsked, Disk, Other };
    mutable Kind m_kind = Kind::NotAsked;  // what the system calls the open handle
    DWORD m_openError = ERROR_SUCCESS;
};

}  // namespace CX::IO
