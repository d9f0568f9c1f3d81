#pragma once

#include <cstdint>

namespace CX {

// One numbering for every outcome: Status records carry these, and the formatter
// returns them bare. A code may not be dropped unread; one dropped on purpose is cast to
// void where it is dropped, with the reason. (clang-format 14 does not know an enum with
// an attribute, and would pack the values into one block.)
// clang-format off
enum class [[nodiscard]] StatusCode : std::uint32_t {
    Success = 0,
    EndOfData = 4,
    BufferTooSmall = 6,
    OutputTooLong = 10,
    WriteFailed = 11,
    IoError = 13,
    BadInput = 16,
    NotReady = 18,
    ConversionFailed = 21,
    AllocationFailed = 22,
    SeekFailed = 23,
};
// clang-format on

// The result of every fallible operation: a code and a diagnostic message, as a
// fixed-size value that needs no heap and is handed back by value. Like the code, it may
// not be dropped unread.
struct [[nodiscard]] Status {
    static constexpr std::uint32_t MessageCapacity = 1023;  // characters, without the NUL

    StatusCode Code = StatusCode::Success;
    char Message[MessageCapacity + 1];

    // A default Status is the success value: code 0 and an empty message. The bytes
    // after the terminator are left as they are; nothing reads them.
    Status() { Message[0] = '\0'; }

    // Stores code and a copy of szText, cut after its 1023rd character.
    void Set(StatusCode code, const char* szText);

    // Stores code, then formats szTemplate with value as argument 1 into the message.
    // When the formatting fails the message is left empty; the code stays.
    void SetFormatted(StatusCode code, const char* szTemplate, std::uint32_t value);

    // Code 0 with an empty message.
    void SetSuccess() {
        Code = StatusCode::Success;
        Message[0] = '\0';
    }

    bool IsSuccess() const { return Code == StatusCode::Success; }
};

}  // namespace CX
