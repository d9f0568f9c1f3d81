#pragma once

// What the tests of threads share: they wait for events, never for a time.

#include <chrono>
#include <vector>

namespace CX::Testing {

// Long enough that only a real hang reaches it, on however busy a machine.
inline constexpr std::chrono::seconds Deadline{60};

// The job numbers 0 to count - 1, in order.
inline std::vector<int> Sequence(int count) {
    std::vector<int> ids(count);
    for (int i = 0; i < count; ++i) {
        ids[i] = i;
    }
    return ids;
}

}  // namespace CX::Testing
