#include "io/std_input_stream.h"

namespace CX::IO {
namespace {

Status NoPosition() {
    Status status;
    status.SetFormatted(StatusCode::SeekFailed, "standard input has no position (error {1})",
                        static_cast<std::uint32_t>(ERROR_INVALID_FUNCTION));
    return status;
}

}  // namespace

StdInputStream::StdInputStream() : m_hInput(GetStdHandle(STD_INPUT_HANDLE)) {}

bool StdInputStream::IsOpen() {
    return m_hInput != nullptr && m_hInput != INVALID_HANDLE_VALUE;
}

Status StdInputStream::Read(void* pBuffer, std::uint32_t cBytesToRead, std::uint32_t* pcBytesRead) {
    Status status;
    DWORD cRead = 0;
    if (!IsOpen()) {
        status.Set(StatusCode::NotReady, "standard input is closed");
        return status;
    }
    if (!ReadFile(m_hInput, pBuffer, static_cast<DWORD>(cBytesToRead), &cRead, nullptr)) {
        status.SetFormatted(StatusCode::IoError, "ReadFile failed with error {1}",
                            static_cast<std::uint32_t>(GetLastError()));
        return status;
    }
    if (pcBytesRead != nullptr) {
        *pcBytesRead = static_cast<std::uint32_t>(cRead);
    }
    if (cRead == 0) {
        status.Set(StatusCode::EndOfData, "");
    }
    return status;
}

bool StandardInputIsFolder() {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(GetStdHandle(STD_INPUT_HANDLE), &info) != FALSE &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Status StdInputStream::Seek(std::uint64_t) {
    return NoPosition();
}

Status StdInputStream::GetPosition(std::uint64_t*) {
    return NoPosition();
}

Status StdInputStream::GetSize(std::uint64_t*) {
    return NoPosition();
}

}  // namespace CX::IO
