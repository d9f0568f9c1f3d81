#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/win32.h"

namespace CX {

// A stateless allocator over the process heap. It keeps no heap handle: every call asks
// for the default heap anew, so all instances are interchangeable.
template <class T>
class HeapAllocator {
public:
    using value_type = T;
    using is_always_equal = std::true_type;

    HeapAllocator() noexcept = default;
    template <class U>
    HeapAllocator(const HeapAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > max_size()) {
            throw std::bad_array_new_length();
        }
        void* p = HeapAlloc(GetProcessHeap(), 0, n * sizeof(T));
        if (p == nullptr) {
            // The heap raises nothing of its own with flags 0; a string that cannot grow
            // must not carry on as if it had.
            throw std::bad_alloc();
        }
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t) noexcept { HeapFree(GetProcessHeap(), 0, p); }

    // Sizes are unsigned 32-bit throughout, so no block is ever larger than that.
    static constexpr std::size_t max_size() noexcept { return UINT32_MAX / sizeof(T); }

    template <class U>
    bool operator==(const HeapAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace CX
