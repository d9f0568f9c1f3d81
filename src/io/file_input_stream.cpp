#include "io/file_input_stream.h"

#include "io/long_path.h"
#include "mem/utf8_to_wide.h"

namespace CX::IO {
namespace {

Status NotOpened() {
    Status status;
    status.Set(StatusCode::NotReady, "File not opened");
    return status;
}

Status SystemFailure(StatusCode code, const char* szTemplate, DWORD error) {
    Status status;
    status.SetFormatted(code, szTemplate, static_cast<std::uint32_t>(error));
    return status;
}

Status SystemFailure(StatusCode code, const char* szTemplate) {
    // Taken first, before anything else can touch the last error.
    return SystemFailure(code, szTemplate, GetLastError());
}

HANDLE OpenForReading(const WCHAR* pPath) {
    return CreateFileW(pPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FileInputStream::FileInputStream(const char* pPath, TypeAsked typeAsked) {
    if (pPath == nullptr) {
        m_openError = ERROR_INVALID_PARAMETER;
        return;
    }
    m_strName.assign(pPath);
    // Construction reports nothing; the caller asks IsOpen.
    static_cast<void>(Open(pPath));
    if (typeAsked == TypeAsked::AtOpen) {
        static_cast<void>(IsDiskFile());
    }
}

Status FileInputStream::Open(const char* pPath) {
    HeapWString wstrPath;
    Status status = Utf8ToWide(pPath, wstrPath);
    if (!status.IsSuccess()) {
        m_openError = status.Code == StatusCode::AllocationFailed ? ERROR_NOT_ENOUGH_MEMORY
                                                                  : ERROR_NO_UNICODE_TRANSLATION;
        return status;
    }
    HANDLE hFile = OpenForReading(wstrPath.c_str());
    if (hFile == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        HeapWString wstrLong;
        if (!RetryInLongForm(wstrPath, error, wstrLong)) {
            m_openError = error;
            return SystemFailure(StatusCode::IoError, "CreateFileW failed with error {1}", error);
        }
        hFile = OpenForReading(wstrLong.c_str());
        if (hFile == INVALID_HANDLE_VALUE) {
            m_openError = GetLastError();
            return SystemFailure(StatusCode::IoError, "CreateFileW failed with error {1}",
                                 m_openError);
        }
    }
    m_hFile = hFile;
    return status;
}

FileInputStream::~FileInputStream() {
    if (m_hFile != nullptr) {
        CloseHandle(m_hFile);
        m_hFile = nullptr;
    }
}

Status FileInputStream::Read(void* pBuffer, std::uint32_t cBytesToRead,
                             std::uint32_t* pcBytesRead) {
    if (m_hFile == nullptr) {
        return NotOpened();
    }
    DWORD cRead = 0;
    if (!ReadFile(m_hFile, pBuffer, static_cast<DWORD>(cBytesToRead), &cRead, nullptr)) {
        return SystemFailure(StatusCode::IoError, "ReadFile failed with error {1}");
    }
    if (pcBytesRead != nullptr) {
        *pcBytesRead = static_cast<std::uint32_t>(cRead);
    }
    Status status;
    if (cRead == 0) {
        status.Set(StatusCode::EndOfData, "");
    }
    return status;
}

Status FileInputStream::Seek(std::uint64_t nOffset) {
    if (m_hFile == nullptr) {
        return NotOpened();
    }
    // An offset above the largest signed value turns negative here, and the system refuses
    // it (ERROR_NEGATIVE_SEEK) rather than seeking somewhere else.
    LARGE_INTEGER liOffset;
    liOffset.QuadPart = static_cast<LONGLONG>(nOffset);
    if (!SetFilePointerEx(m_hFile, liOffset, nullptr, FILE_BEGIN)) {
        return SystemFailure(StatusCode::SeekFailed, "SetFilePointerEx failed with error {1}");
    }
    return Status();
}

Status FileInputStream::GetPosition(std::uint64_t* pPosition) {
    if (m_hFile == nullptr) {
        return NotOpened();
    }
    LARGE_INTEGER liZero;
    liZero.QuadPart = 0;
    LARGE_INTEGER liPosition;
    if (!SetFilePointerEx(m_hFile, liZero, &liPosition, FILE_CURRENT)) {
        return SystemFailure(StatusCode::SeekFailed, "SetFilePointerEx failed with error {1}");
    }
    if (pPosition != nullptr) {
        *pPosition = static_cast<std::uint64_t>(liPosition.QuadPart);
    }
    return Status();
}

Status FileInputStream::GetSize(std::uint64_t* pSize) {
    if (m_hFile == nullptr) {
        return NotOpened();
    }
    if (!IsDiskFile()) {
        // A device, a pipe or a console has no size, whatever the system would answer (the
        // NUL device says 0, which would pass for an empty file). Refused as Windows
        // refuses the query for such handles, without asking it.
        return SystemFailure(StatusCode::SeekFailed, "GetFileSizeEx failed with error {1}",
                             ERROR_INVALID_FUNCTION);
    }
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(m_hFile, &liSize)) {
        return SystemFailure(StatusCode::SeekFailed, "GetFileSizeEx failed with error {1}");
    }
    if (pSize != nullptr) {
        *pSize = static_cast<std::uint64_t>(liSize.QuadPart);
    }
    return Status();
}

bool FileInputStream::IsEndOfStream() {
    if (m_hFile == nullptr) {
        return true;
    }
    // Through the interface, so that a stream built on this one answers with its own
    // position and size.
    IInputStream& self = *this;
    std::uint64_t position = 0;
    if (!self.GetPosition(&position).IsSuccess()) {
        return true;
    }
    std::uint64_t size = 0;
    if (!self.GetSize(&size).IsSuccess()) {
        return true;
    }
    return position >= size;
}

bool FileInputStream::IsOpen() {
    return m_hFile != nullptr;
}

const char* FileInputStream::GetName() {
    return IsOpen() ? m_strName.c_str() : "";
}

bool FileInputStream::IsDiskFile() const {
    if (m_hFile == nullptr) {
        return false;
    }
    if (m_kind == Kind::NotAsked) {
        // What is not a disk file has no size that tells where its content ends (see
        // GetSize).
        m_kind = GetFileType(m_hFile) == FILE_TYPE_DISK ? Kind::Disk : Kind::Other;
    }
    return m_kind == Kind::Disk;
}

bool FileInputStream::GetFacts(FileFacts& facts, DWORD& error) const {
    if (m_hFile == nullptr) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    return FactsOfHandle(m_hFile, facts, error);
}

bool FileInputStream::GetIdentity(FileIdentity& identity, DWORD& error) const {
    if (m_hFile == nullptr) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    return IdentityOfHandle(m_hFile, identity, error);
}

}  // namespace CX::IO
