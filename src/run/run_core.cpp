#include "run/run_core.h"

#include "io/file_input_stream.h"
#include "io/std_input_stream.h"
#include "lines/reasons.h"

namespace CX::Run {

Input OpenInput(const std::string& path) {
    Input input;
    if (path == "-") {
        input.Stream = std::make_unique<CX::IO::StdInputStream>();
        return input;
    }
    auto file = std::make_unique<CX::IO::FileInputStream>(path.c_str());
    if (!file->IsOpen()) {
        input.Reason = CX::Lines::ReasonForOpen(path.c_str(), file->GetOpenError());
        return input;
    }
    input.Stream = std::move(file);
    return input;
}

const char* ReadFailure(const std::string& path, DWORD error) {
    return path == "-" ? CX::Lines::ReasonForStandardInput(error) : CX::Lines::ReasonFor(error);
}

const char* OutcomeWords(const CX::Workers::Outcome& outcome) {
    switch (outcome.What) {
        case CX::Workers::Failure::None:
            return nullptr;
        case CX::Workers::Failure::IsDirectory:
            return CX::Lines::IsADirectory;
        case CX::Workers::Failure::Open:
        case CX::Workers::Failure::Read:
            break;
    }
    return CX::Lines::ReasonFor(outcome.Error);
}

}  // namespace CX::Run
