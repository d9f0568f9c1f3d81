#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "text/status.h"

namespace CX {

enum class Alignment : std::uint32_t { Left = 0, Right = 1, Center = 2 };
enum class NumberStyle : std::uint32_t { Decimal = 0, HexLower = 1, HexUpper = 2 };

// How one placeholder is written. Every placeholder starts from these defaults.
struct FormatSpec {
    char Fill = ' ';
    std::uint32_t Width = 0;
    std::int32_t Precision = 6;  // read and checked, but no argument kind uses it
    Alignment Align = Alignment::Right;
    NumberStyle Style = NumberStyle::Decimal;
};

// A bounded destination: Data holds Capacity characters and a NUL terminator.
struct TextBuffer {
    char* Data;
    std::uint32_t Capacity;
};

// One argument of a template: a NUL-terminated text or an unsigned 32-bit number.
class FormatArg {
public:
    enum class Kind : std::uint32_t { Text, UInt32 };

    FormatArg(const char* szText) : kind_(Kind::Text), text_(szText) {}
    FormatArg(std::uint32_t value) : kind_(Kind::UInt32), value_(value) {}
    // Numbers are 32-bit: a wider or signed one must be converted where it is passed, not
    // cut here without a word.
    template <class T,
              std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, std::uint32_t>, int> = 0>
    FormatArg(T) = delete;

    Kind GetKind() const { return kind_; }
    const char* GetText() const { return text_; }
    std::uint32_t GetValue() const { return value_; }

private:
    Kind kind_;
    const char* text_ = nullptr;
    std::uint32_t value_ = 0;
};

// Both sinks gather output in a stage of their own and deliver it when the stage is
// full and at the end of the template, so that a short message is one delivery.
template <class Derived>
class StagedSink {
public:
    static constexpr std::uint32_t StageSize = 4096;

    StagedSink() = default;
    StagedSink(const StagedSink&) = delete;
    StagedSink& operator=(const StagedSink&) = delete;

    StatusCode Write(const char* pChars, std::uint32_t cCount) {
        while (cCount > 0) {
            std::uint32_t room = StageSize - StageCount;
            std::uint32_t take = cCount < room ? cCount : room;
            for (std::uint32_t i = 0; i < take; ++i) {
                Stage[StageCount + i] = pChars[i];
            }
            StageCount += take;
            pChars += take;
            cCount -= take;
            if (StageCount == StageSize) {
                StatusCode rc = static_cast<Derived*>(this)->Deliver(Stage, StageCount);
                if (rc != StatusCode::Success) {
                    return rc;
                }
                StageCount = 0;
            }
        }
        return StatusCode::Success;
    }

    StatusCode Flush() {
        if (StageCount == 0) {
            return StatusCode::Success;
        }
        return static_cast<Derived*>(this)->Deliver(Stage, StageCount);
    }

    char Stage[StageSize];
    std::uint32_t StageCount = 0;
};

// Delivers to a C runtime stream, one fwrite per delivery.
class StreamSink : public StagedSink<StreamSink> {
public:
    explicit StreamSink(std::FILE* pStream) : Stream(pStream) {}

    StatusCode Deliver(const char* pChars, std::uint32_t cCount);

    std::FILE* Stream;
};

// Delivers into a TextBuffer: the text and its NUL, or nothing at all when it does not
// fit. Text delivered earlier in the same call stays; later text goes after it.
class BufferSink : public StagedSink<BufferSink> {
public:
    explicit BufferSink(TextBuffer buffer) : Buffer(buffer) {}

    StatusCode Deliver(const char* pChars, std::uint32_t cCount);

    TextBuffer Buffer;
    std::uint32_t Delivered = 0;
};

// Renders templates with placeholders "{1}", "{}" and "{{", each with an optional
// ":" format, into a sink. Allocates nothing.
class PlaceholderFormatter {
public:
    static constexpr std::uint32_t MaxArgs = 16;

    // Each call sets up a sink of its own: pass a freshly made StreamSink or BufferSink.
    template <class Sink, class... Args>
    static StatusCode Format(Sink sink, const char* szTemplate, const Args&... args) {
        static_assert(sizeof...(Args) <= MaxArgs, "a template takes at most 16 arguments");
        const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
        return Render(sink, szTemplate, list.data(), static_cast<std::uint32_t>(list.size()));
    }

    static std::uint32_t CountDecimalDigits(std::uint64_t value);

    // Exactly 8 digits and no terminator; BufferTooSmall, writing nothing, below 8.
    static StatusCode RenderHex32(std::uint32_t value, char* pBuffer, std::uint32_t cCapacity,
                                  std::uint32_t* pcLength, bool upper);

    // Hex styles render as RenderHex32. Decimal sets the length to the digit count first,
    // then needs room for the digits and a NUL.
    static StatusCode RenderInteger(std::uint32_t value, NumberStyle style, char* pBuffer,
                                    std::uint32_t cCapacity, std::uint32_t* pcLength);

    template <class Sink>
    static StatusCode Render(Sink& sink, const char* szTemplate, const FormatArg* pArgs,
                             std::uint32_t cArgs);
};

extern template StatusCode PlaceholderFormatter::Render<StreamSink>(StreamSink&, const char*,
                                                                    const FormatArg*,
                                                                    std::uint32_t);
extern template StatusCode PlaceholderFormatter::Render<BufferSink>(BufferSink&, const char*,
                                                                    const FormatArg*,
                                                                    std::uint32_t);

}  // namespace CX
