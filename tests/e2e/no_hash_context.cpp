// Test build of the driver only: with QUILLMARK_FAIL_NOTHROW_NEW set, every non-throwing
// single-object allocation fails, which leaves the hash without its context.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    static const bool fail = std::getenv("QUILLMARK_FAIL_NOTHROW_NEW") != nullptr;
    if (fail) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
