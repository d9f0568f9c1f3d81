#pragma once

#include <mutex>

namespace CX::Lines {

// Something else that draws on the terminal of standard error (a progress line). While one
// is set, every write of messages or of lines (standard output may be the same terminal)
// takes the lock of standard error and has it erase what it drew first.
class IStandardErrorSharer {
public:
    // Erases what it drew; called with the lock of standard error held.
    virtual void Erase() = 0;

protected:
    ~IStandardErrorSharer() = default;
};

// The lock every writer of standard error takes while a sharer is set; the sharer draws
// under it too.
std::mutex& StandardErrorLock();

// Sets the one sharer of the process, or none (null). The sharer clears itself, under the
// lock, before it goes.
void ShareStandardError(IStandardErrorSharer* sharer);

// Takes standard error for a write: the sharer's drawing is erased, and drawn again at its
// next tick. An empty lock when there is no sharer.
std::unique_lock<std::mutex> ClaimStandardError();

}  // namespace CX::Lines
