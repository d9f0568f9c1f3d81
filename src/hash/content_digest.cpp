#include "hash/content_digest.h"

namespace CX::Hash {

Status ContentDigest::Reset() {
    ByteCount = 0;
    return Hash.Init(0);
}

Status ContentDigest::Update(const std::uint8_t* pBinInput, std::uint32_t cBinInputSize) {
    Status status = Hash.Update(pBinInput, cBinInputSize);
    if (status.IsSuccess()) {
        ByteCount += cBinInputSize;
    }
    return status;
}

Status ContentDigest::Final(std::uint8_t* pBinOutput) {
    // The digest goes first: if the hash fails, not even the count has been written.
    Status status = Hash.Final(pBinOutput != nullptr ? pBinOutput + 8 : nullptr);
    if (!status.IsSuccess()) {
        return status;
    }
    for (int i = 0; i < 8; ++i) {
        pBinOutput[i] = static_cast<std::uint8_t>(ByteCount >> (8 * i));
    }
    return status;
}

}  // namespace CX::Hash
