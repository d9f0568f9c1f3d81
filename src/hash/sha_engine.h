#pragma once

// The SHA engine: one plain-data context for SHA-1, SHA-224, SHA-256, SHA-384 and
// SHA-512 (FIPS 180-4), fed in pieces of any size. Nothing here allocates or throws;
// every failure is a ShaCode result, and a failure that spoils the message is kept in
// the state's sticky Corrupted field until the next ShaReset.

#include <cstdint>

namespace CX::Hash {

enum class ShaAlgorithm : std::int32_t {
    Sha1 = 0,
    Sha224 = 1,
    Sha256 = 2,
    Sha384 = 3,
    Sha512 = 4,
};

// Unscoped on purpose: the same values live in the int32 Corrupted fields. A result may not
// be dropped unread. (clang-format 14 does not know an enum with an attribute.)
// clang-format off
enum [[nodiscard]] ShaCode : std::int32_t {
    ShaSuccess = 0,
    ShaNull = 1,        // a required pointer is null; also recorded when the bit count overflows
    ShaStateError = 3,  // bytes fed after the digest was computed
    ShaBadParam = 4,    // selector outside 0 to 4
};
// clang-format on

struct Sha1State {
    std::uint32_t IntermediateHash[5];
    std::uint32_t LengthLow;  // message length in bits, low half
    std::uint32_t LengthHigh;
    std::int16_t MessageBlockIndex;  // bytes waiting in MessageBlock
    std::uint8_t MessageBlock[64];
    std::int32_t Computed;   // non-zero once finalised
    std::int32_t Corrupted;  // sticky ShaCode, 0 while sound
};

struct Sha256State {  // SHA-224 and SHA-256
    std::uint32_t IntermediateHash[8];
    std::uint32_t LengthLow;
    std::uint32_t LengthHigh;
    std::int16_t MessageBlockIndex;
    std::uint8_t MessageBlock[64];
    std::int32_t Computed;
    std::int32_t Corrupted;
};

struct Sha512State {  // SHA-384 and SHA-512
    std::uint64_t IntermediateHash[8];
    std::uint64_t LengthLow;  // the two halves form a 128-bit bit count
    std::uint64_t LengthHigh;
    std::int16_t MessageBlockIndex;
    std::uint8_t MessageBlock[128];
    std::int32_t Computed;
    std::int32_t Corrupted;
};

union ShaState {
    Sha1State Sha1;
    Sha256State Sha256;
    Sha512State Sha512;
};

// Plain data, sized by its largest state so that one allocation serves every selector.
struct ShaContext {
    std::int32_t Algorithm;  // a ShaAlgorithm value; anything else selects no path
    ShaState State;
};

// Starts an empty message for the algorithm. A selector outside 0 to 4 is recorded as
// given, and the context then refuses input and result with ShaBadParam.
void ShaReset(ShaContext* context, ShaAlgorithm algorithm);

// Feeds length bytes to the selected path. Length 0 succeeds at once, whatever the
// pointers and the state.
ShaCode ShaInput(ShaContext* context, const std::uint8_t* data, std::uint32_t length);

// Finalises the message once and writes the digest (20, 28, 32, 48 or 64 bytes). On any
// failure the digest buffer is left as it was.
ShaCode ShaResult(ShaContext* context, std::uint8_t* digest);

// The per-path steps behind ShaInput and ShaResult.
ShaCode Sha1Input(Sha1State* state, const std::uint8_t* data, std::uint32_t length);
void Sha1Finalize(Sha1State* state);
void Sha1ProcessBlock(Sha1State* state);

ShaCode Sha256Input(Sha256State* state, const std::uint8_t* data, std::uint32_t length);
void Sha256Finalize(Sha256State* state);
void Sha256ProcessBlock(Sha256State* state);

ShaCode Sha512Input(Sha512State* state, const std::uint8_t* data, std::uint32_t length);
void Sha512Finalize(Sha512State* state);
void Sha512ProcessBlock(Sha512State* state);

}  // namespace CX::Hash
