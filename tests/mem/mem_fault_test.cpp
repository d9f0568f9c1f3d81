// The heap strings and Utf8ToWide against platform calls that count, refuse and fail.

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "mem/heap_string.h"
#include "mem/utf8_to_wide.h"
#include "platform/fault_seam.h"

namespace CX {
namespace {

using Platform::FaultCall;
using Platform::UseCount;

class MemFaults : public ::testing::Test {
protected:
    void SetUp() override { Platform::ResetFaults(); }
    void TearDown() override { Platform::ResetFaults(); }
};

TEST_F(MemFaults, ShortTextsTakeNoBlock) {
    {
        HeapString s(15, 'n');
        HeapWString w(7, u'w');
        EXPECT_EQ(UseCount(FaultCall::HeapAlloc), 0u);
    }
    {
        HeapString s(16, 'n');
        HeapWString w(8, u'w');
        EXPECT_EQ(UseCount(FaultCall::HeapAlloc), 2u);
    }
    EXPECT_EQ(UseCount(FaultCall::HeapFree), 2u);
}

TEST_F(MemFaults, GrowingTakesANewBlockAndReleasesTheOld) {
    HeapString s(20, 'a');
    ASSERT_EQ(UseCount(FaultCall::HeapAlloc), 1u);
    s.append(100, 'b');
    EXPECT_EQ(UseCount(FaultCall::HeapAlloc), 2u);
    EXPECT_EQ(UseCount(FaultCall::HeapFree), 1u);
    EXPECT_EQ(std::string(s.c_str()), std::string(20, 'a') + std::string(100, 'b'));
}

TEST_F(MemFaults, RefusedBlockRaisesBadAlloc) {
    Platform::FailOn(FaultCall::HeapAlloc, 1, ERROR_NOT_ENOUGH_MEMORY);
    HeapString s("short");
    EXPECT_THROW(s.append(100, 'x'), std::bad_alloc);
    EXPECT_EQ(s, "short");
}

TEST_F(MemFaults, Utf8ToWideCallsTheConverterThreeTimes) {
    HeapWString out;
    ASSERT_TRUE(Utf8ToWide("path", out).IsSuccess());
    EXPECT_EQ(UseCount(FaultCall::MultiByteToWideChar), 3u);
}

TEST_F(MemFaults, Utf8ToWideFailureOnEachCall) {
    const std::string longPath(5000, 'p');  // takes a temporary block, released on failure
    for (const char* szInput : {"short", longPath.c_str()}) {
        for (std::uint32_t nth = 1; nth <= 3; ++nth) {
            SCOPED_TRACE(testing::Message() << "call " << nth << ", " << std::strlen(szInput));
            Platform::ResetFaults();
            Platform::FailOn(FaultCall::MultiByteToWideChar, nth, 1113);
            const std::u16string kept = u"kept as it was";
            HeapWString out(kept.begin(), kept.end());
            const Status status = Utf8ToWide(szInput, out);
            EXPECT_EQ(status.Code, StatusCode::ConversionFailed);
            EXPECT_STREQ(status.Message, "MultiByteToWideChar failed with code 1113");
            EXPECT_EQ(std::u16string(out.begin(), out.end()), kept);
            EXPECT_EQ(UseCount(FaultCall::MultiByteToWideChar), nth);  // stops at the failure
        }
    }
}

}  // namespace
}  // namespace CX
