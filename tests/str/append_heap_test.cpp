#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/fault_seam.h"
#include "str/hex_bin_str.h"

namespace CX::Str {
namespace {

// The temporary text buffer of the shared append lives on the stack below 8192 characters
// and is one heap block from there on. The string has its room beforehand, so every
// HeapAlloc counted here is the temporary buffer's.
TEST(IBinStr, AppendTakesOneHeapBlockFrom8192Characters) {
    using Platform::FaultCall;
    using Platform::UseCount;
    const HexBinStr codec(HexCase::Upper);
    const std::vector<std::uint8_t> bytes(4096, 0x5C);
    HeapString str;
    str.reserve(3 * 8192);

    std::uint64_t allocs = UseCount(FaultCall::HeapAlloc);
    std::uint64_t frees = UseCount(FaultCall::HeapFree);
    ASSERT_EQ(codec.AppendStrFromBin(bytes.data(), 4095, str).Code, StatusCode::Success);
    EXPECT_EQ(UseCount(FaultCall::HeapAlloc) - allocs, 0u);
    EXPECT_EQ(UseCount(FaultCall::HeapFree) - frees, 0u);
    EXPECT_EQ(str.size(), 8190u);

    allocs = UseCount(FaultCall::HeapAlloc);
    frees = UseCount(FaultCall::HeapFree);
    ASSERT_EQ(codec.AppendStrFromBin(bytes.data(), 4096, str).Code, StatusCode::Success);
    EXPECT_EQ(UseCount(FaultCall::HeapAlloc) - allocs, 1u);
    EXPECT_EQ(UseCount(FaultCall::HeapFree) - frees, 1u);
    EXPECT_EQ(str.size(), 8190u + 8192u);
    EXPECT_EQ(str.find_first_not_of("5C"), HeapString::npos);
}

TEST(IBinStr, AppendReportsARefusedTempBuffer) {
    using Platform::FaultCall;
    const HexBinStr codec(HexCase::Upper);
    const std::vector<std::uint8_t> bytes(4096, 0x01);
    HeapString str("kept");

    Platform::FailOn(FaultCall::HeapAlloc, 1, ERROR_NOT_ENOUGH_MEMORY);
    const std::uint64_t frees = Platform::UseCount(FaultCall::HeapFree);
    Status s = codec.AppendStrFromBin(bytes.data(), 4096, str);
    // Nothing was taken, so nothing may be given back.
    EXPECT_EQ(Platform::UseCount(FaultCall::HeapFree) - frees, 0u);
    Platform::ResetFaults();
    EXPECT_EQ(s.Code, StatusCode::AllocationFailed);
    EXPECT_STREQ(s.Message, "Failed to allocate temp buffer");
    EXPECT_EQ(str, "kept");
}

}  // namespace
}  // namespace CX::Str
