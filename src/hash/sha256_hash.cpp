#include "hash/sha256_hash.h"

#include <cstring>
#include <new>

namespace CX::Hash {
namespace {

constexpr const char* NoContextMessage = "Context not initialized";

Status NotReady() {
    Status status;
    status.Set(StatusCode::NotReady, NoContextMessage);
    return status;
}

Status FromEngine(ShaCode code, const char* szTemplate) {
    Status status;
    if (code != ShaSuccess) {
        status.SetFormatted(StatusCode::BadInput, szTemplate, static_cast<std::uint32_t>(code));
    }
    return status;
}

}  // namespace

SHA256Hash::SHA256Hash() : Context(new (std::nothrow) ShaContext) {
    if (Context != nullptr) {
        std::memset(Context, 0, sizeof *Context);
        ShaReset(Context, ShaAlgorithm::Sha256);
    }
}

SHA256Hash::~SHA256Hash() {
    delete Context;
}

const char* SHA256Hash::GetName() const {
    return "SHA256";
}

std::uint32_t SHA256Hash::GetDigestSize() const {
    return DigestSize;
}

Status SHA256Hash::Init(std::uintptr_t /*argument*/) {
    if (Context == nullptr) {
        return NotReady();
    }
    ShaReset(Context, ShaAlgorithm::Sha256);
    return Status();
}

Status SHA256Hash::Update(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize) {
    if (Context == nullptr) {
        return NotReady();
    }
    return FromEngine(ShaInput(Context, pBinInput, cBinInputSize), "ShaInput failed with code {1}");
}

Status SHA256Hash::Final(std::uint8_t* pBinOutput) {
    if (Context == nullptr) {
        return NotReady();
    }
    return FromEngine(ShaResult(Context, pBinOutput), "ShaResult failed with code {1}");
}

}  // namespace CX::Hash
