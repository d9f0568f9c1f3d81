#include "text/status.h"

#include <gtest/gtest.h>

#include <string>

namespace CX {
namespace {

TEST(Status, CodesKeepTheirNumbers) {
    const std::pair<StatusCode, std::uint32_t> codes[] = {
        {StatusCode::Success, 0},           {StatusCode::EndOfData, 4},
        {StatusCode::BufferTooSmall, 6},    {StatusCode::OutputTooLong, 10},
        {StatusCode::WriteFailed, 11},      {StatusCode::IoError, 13},
        {StatusCode::BadInput, 16},         {StatusCode::NotReady, 18},
        {StatusCode::ConversionFailed, 21}, {StatusCode::AllocationFailed, 22},
        {StatusCode::SeekFailed, 23}};
    for (const auto& [code, number] : codes) {
        EXPECT_EQ(static_cast<std::uint32_t>(code), number);
    }
    static_assert(sizeof(Status) == 4 + 1024);
}

TEST(Status, DefaultIsSuccessWithEmptyMessage) {
    Status s;
    EXPECT_TRUE(s.IsSuccess());
    EXPECT_STREQ(s.Message, "");
    s.Set(StatusCode::IoError, "x");
    s.SetSuccess();
    EXPECT_TRUE(s.IsSuccess());
    EXPECT_STREQ(s.Message, "");
}

TEST(Status, SetCutsAfter1023Characters) {
    Status s;
    s.Set(StatusCode::NotReady, "File not opened");
    EXPECT_EQ(s.Code, StatusCode::NotReady);
    EXPECT_STREQ(s.Message, "File not opened");

    s.Set(StatusCode::IoError, "");
    EXPECT_STREQ(s.Message, "");

    for (std::size_t length : {1023u, 1024u, 5000u}) {
        std::string text(length, 'm');
        s.Set(StatusCode::BadInput, text.c_str());
        EXPECT_EQ(std::string(s.Message), std::string(1023, 'm')) << length;
        EXPECT_EQ(s.Message[1023], '\0');
    }
}

TEST(Status, SetFormattedRendersTheSystemNumber) {
    Status s;
    s.SetFormatted(StatusCode::IoError, "ReadFile failed with error {1}", 5);
    EXPECT_EQ(s.Code, StatusCode::IoError);
    EXPECT_STREQ(s.Message, "ReadFile failed with error 5");

    s.SetFormatted(StatusCode::AllocationFailed, "Failed to allocate {1} bytes", 131072);
    EXPECT_STREQ(s.Message, "Failed to allocate 131072 bytes");

    s.SetFormatted(StatusCode::SeekFailed, "GetFileSizeEx failed with error {1}", 0);
    EXPECT_STREQ(s.Message, "GetFileSizeEx failed with error 0");

    s.SetFormatted(StatusCode::SeekFailed, "GetFileSizeEx failed with error {1}", 4294967295u);
    EXPECT_STREQ(s.Message, "GetFileSizeEx failed with error 4294967295");

    s.SetFormatted(StatusCode::ConversionFailed, "code {2}", 7);
    EXPECT_STREQ(s.Message, "code {?2?}");

    // Output of nothing leaves an empty message, not the one before.
    s.SetFormatted(StatusCode::SeekFailed, "", 5);
    EXPECT_EQ(s.Code, StatusCode::SeekFailed);
    EXPECT_STREQ(s.Message, "");
}

TEST(Status, FailedFormattingKeepsTheCodeAndEmptiesTheMessage) {
    Status s;
    s.Set(StatusCode::Success, "stale text");
    s.SetFormatted(StatusCode::IoError, "error {1", 5);
    EXPECT_EQ(s.Code, StatusCode::IoError);
    EXPECT_STREQ(s.Message, "");

    std::string tooLong(1030, 'x');
    tooLong += "{1}";
    s.Set(StatusCode::Success, "stale text");
    s.SetFormatted(StatusCode::SeekFailed, tooLong.c_str(), 1);
    EXPECT_EQ(s.Code, StatusCode::SeekFailed);
    EXPECT_STREQ(s.Message, "");
}

TEST(Status, CopyCarriesCodeAndMessage) {
    Status original;
    original.SetFormatted(StatusCode::ConversionFailed, "MultiByteToWideChar failed with code {1}",
                          1113);
    Status copy = original;
    original.Set(StatusCode::Success, "");
    EXPECT_EQ(copy.Code, StatusCode::ConversionFailed);
    EXPECT_STREQ(copy.Message, "MultiByteToWideChar failed with code 1113");
}

}  // namespace
}  // namespace CX
