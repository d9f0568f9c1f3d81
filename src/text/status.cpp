#include "text/status.h"

#include "text/placeholder_formatter.h"

namespace CX {

void Status::Set(StatusCode code, const char* szText) {
    Code = code;
    std::uint32_t i = 0;
    while (i < MessageCapacity && szText[i] != '\0') {
        Message[i] = szText[i];
        ++i;
    }
    Message[i] = '\0';
}

void Status::SetFormatted(StatusCode code, const char* szTemplate, std::uint32_t value) {
    // The code goes in first, so it stands whatever the formatting does.
    Code = code;
    // A template that renders nothing delivers nothing; the old text must not survive it.
    Message[0] = '\0';
    StatusCode rc = PlaceholderFormatter::Format(BufferSink(TextBuffer{Message, MessageCapacity}),
                                                 szTemplate, value);
    if (rc != StatusCode::Success) {
        Message[0] = '\0';
    }
}

}  // namespace CX
