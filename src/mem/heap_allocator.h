#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "platform/win32.h"

namespace CX {

// The longest text a heap string may hold, in characters: sizes are unsigned 32-bit and
// a string's length must stay a non-negative 32-bit value with room for the terminator,
// so 2^31 - 1 narrow characters, and 2^31 - 2 wide ones.
template <class T>
inline constexpr std::size_t HeapStringMaxLength = sizeof(T) == 1 ? std::size_t{INT32_MAX}
                                                                  : std::size_t{INT32_MAX} - 1;

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
        if (n > max_size() || n > SIZE_MAX / sizeof(T)) {
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

    // The strings take their length limit from here. libstdc++ allows a basic_string
    // (max_size() - 1) / 2 characters of its allocator's max_size(), so this is the
    // value that yields HeapStringMaxLength; the largest block a string then asks for,
    // its limit plus the terminator, is below 4 GiB.
    static constexpr std::size_t max_size() noexcept { return 2 * HeapStringMaxLength<T> + 1; }

    template <class U>
    bool operator==(const HeapAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace CX
