#include "lines/standard_error.h"

#include <atomic>

namespace CX::Lines {
namespace {

std::mutex g_lock;  // one writer of standard error at a time, while a sharer draws
std::atomic<IStandardErrorSharer*> g_sharer{nullptr};

}  // namespace

std::mutex& StandardErrorLock() {
    return g_lock;
}

void ShareStandardError(IStandardErrorSharer* sharer) {
    g_sharer = sharer;
}

std::unique_lock<std::mutex> ClaimStandardError() {
    if (g_sharer.load() == nullptr) {
        return {};
    }
    std::unique_lock<std::mutex> lock(g_lock);
    // Looked at again under the lock: a sharer that goes clears itself under it.
    if (IStandardErrorSharer* sharer = g_sharer.load()) {
        sharer->Erase();
    }
    return lock;
}

}  // namespace CX::Lines
