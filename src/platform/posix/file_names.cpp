// Names of files: MoveFileExW over rename(2) and DeleteFileW over unlink(2).

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/stand_in.h"

using CX::Platform::FaultAction;
using CX::Platform::FaultCall;
using CX::Platform::Detail::ErrorFromErrno;
using CX::Platform::Detail::ErrorFromPathErrno;
using CX::Platform::Detail::FailWith;
using CX::Platform::Detail::PosixPathFromWide;
using CX::Platform::Detail::TakeFault;

namespace {

// The folder that holds a name: what comes before its last '/' (the root for "/x"), or the
// working directory for a bare name.
std::string FolderOf(const std::string& path) {
    const std::string::size_type end = path.find_last_not_of('/');
    const std::string::size_type slash =
        end == std::string::npos ? std::string::npos : path.rfind('/', end);
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Makes the folder's entries durable: its own fsync(2). Returns 0 or an errno value.
int FlushFolder(const std::string& folder) {
    int fd;
    do {
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    int result;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int error = result == 0 ? 0 : errno;
    close(fd);
    return error;
}

// A rename that never replaces: the kernel's own test where the file system has one, or a
// look before the rename where it has not (then a name made in between is replaced).
int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from.c_str(), to.c_str());
}

// The error for a refused rename. ENOENT is either name's: the source's own when it is
// missing, else the target's folder.
DWORD MoveError(int errnoValue, const std::string& from, const std::string& to) {
    if (errnoValue != ENOENT) {
        return ErrorFromErrno(errnoValue);
    }
    struct stat st;
    return lstat(from.c_str(), &st) != 0 ? ErrorFromPathErrno(ENOENT, from)
                                         : ErrorFromPathErrno(ENOENT, to);
}

}  // namespace

// Windows: gives a file (or folder) a new name, atomically on one volume: rename(2). Paths
// are converted as CreateFileW converts them.
// - Without MOVEFILE_REPLACE_EXISTING an existing target fails with ERROR_ALREADY_EXISTS
//   and is left alone. With it a file target is replaced in one step, so that whoever opens
//   the name finds the old file or the new one, never neither; a directory target fails
//   with ERROR_ACCESS_DENIED (EISDIR). A handle open on the replaced file keeps reading it.
//   Windows (and Wine) refuse to replace a file that any handle holds open, whatever its
//   sharing, with ERROR_ACCESS_DENIED; the stand-in cannot see other handles and replaces it.
// - MOVEFILE_WRITE_THROUGH returns only when the move is on the disk: the folder of the new
//   name, and of the old one when it differs, is flushed (fsync(2)). Should that flush fail,
//   the call fails with its error although the name has moved, as a move that Windows
//   could not confirm.
// - A missing source fails with ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND when a folder on
//   its way is missing), a missing folder of the target with ERROR_PATH_NOT_FOUND, a move
//   to another volume with ERROR_NOT_SAME_DEVICE (MOVEFILE_COPY_ALLOWED is not provided).
//   Any flag but the two above, or a null target (which Windows reads as a delete at the
//   next reboot), fails with ERROR_INVALID_PARAMETER.
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (const auto fault = TakeFault(FaultCall::MoveFileExW); fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    if ((dwFlags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != 0 ||
        lpNewFileName == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    std::string from;
    std::string to;
    if (const DWORD error = PosixPathFromWide(lpExistingFileName, &from); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    if (const DWORD error = PosixPathFromWide(lpNewFileName, &to); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    const int moved = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0 ? rename(from.c_str(), to.c_str())
                                                                 : RenameWithoutReplacing(from, to);
    if (moved != 0) {
        return FailWith(MoveError(errno, from, to));
    }
    if ((dwFlags & MOVEFILE_WRITE_THROUGH) != 0) {
        const std::string folder = FolderOf(to);
        int error = FlushFolder(folder);
        if (error == 0 && FolderOf(from) != folder) {
            error = FlushFolder(FolderOf(from));
        }
        if (error != 0) {
            return FailWith(ErrorFromErrno(error));
        }
    }
    return TRUE;
}

// Windows: removes a file's name: unlink(2). A directory fails with ERROR_ACCESS_DENIED
// (EISDIR), a missing file with ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND when a folder on
// its way is missing). Where Windows differs: it refuses a read-only file
// (ERROR_ACCESS_DENIED) and a file open without FILE_SHARE_DELETE (ERROR_SHARING_VIOLATION),
// and removes a file open with it only once its last handle is closed; the stand-in removes
// the name at once in every case, and open handles keep reading the file.
BOOL DeleteFileW(LPCWSTR lpFileName) {
    if (const auto fault = TakeFault(FaultCall::DeleteFileW); fault.Action == FaultAction::Fail) {
        return FailWith(static_cast<DWORD>(fault.Value));
    }
    std::string path;
    if (const DWORD error = PosixPathFromWide(lpFileName, &path); error != ERROR_SUCCESS) {
        return FailWith(error);
    }
    if (unlink(path.c_str()) != 0) {
        return FailWith(ErrorFromPathErrno(errno, path));
    }
    return TRUE;
}
