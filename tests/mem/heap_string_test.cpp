// The heap strings' length limits: 2^31 - 1 narrow and 2^31 - 2 wide characters.

#include <gtest/gtest.h>

#include <stdexcept>

#include "mem/heap_string.h"

namespace CX {
namespace {

// The limits are checked before anything is allocated, so none of this takes 2 GiB.
template <class S>
void ExpectLimit(std::size_t limit) {
    S s;
    EXPECT_EQ(s.max_size(), limit);
    EXPECT_THROW(s.resize(limit + 1), std::length_error);
    EXPECT_THROW(s.reserve(limit + 1), std::length_error);
    s.assign(3, 'a');
    EXPECT_THROW(s.append(limit - 2, 'a'), std::length_error);
    EXPECT_EQ(s.size(), 3u);  // the string is unharmed
}

TEST(HeapString, LengthLimits) {
    ExpectLimit<HeapString>(2147483647u);
    ExpectLimit<HeapWString>(2147483646u);
}

}  // namespace
}  // namespace CX
