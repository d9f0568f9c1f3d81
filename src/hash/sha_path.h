#pragma once

// What the three SHA paths share: the input step, the padding and the digest output,
// written once over the state type and its compression function. Only the engine's own
// sources include this header.
//
// The input step defines its result byte by byte: store the byte, count 8 bits, compress
// when the block is full, and stop with Corrupted = ShaNull when the bit count passes
// its maximum. Whenever a call cannot reach that maximum, the same result is reached a
// block at a time, compressing whole blocks straight from the caller's buffer.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "hash/sha_engine.h"

namespace CX::Hash::Detail {

// Reverses the bytes of a word, in a form that compilers turn into one instruction.
template <typename Word>
inline Word ByteSwap(Word v) {
    if constexpr (sizeof(Word) == 4) {
        return (v << 24) | ((v << 8) & 0x00ff0000u) | ((v >> 8) & 0x0000ff00u) | (v >> 24);
    } else {
        v = ((v << 8) & 0xff00ff00ff00ff00u) | ((v >> 8) & 0x00ff00ff00ff00ffu);
        v = ((v << 16) & 0xffff0000ffff0000u) | ((v >> 16) & 0x0000ffff0000ffffu);
        return (v << 32) | (v >> 32);
    }
}

// One unaligned load and, on a little-endian machine, a byte swap.
template <typename Word>
inline Word LoadBigEndian(const std::uint8_t* p) {
    Word value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::little) {
        value = ByteSwap(value);
    }
    return value;
}

template <typename Word>
inline void StoreBigEndian(Word value, std::uint8_t* p) {
    for (std::size_t i = 0; i < sizeof(Word); ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * (sizeof(Word) - 1 - i)));
    }
}

template <typename State>
using WordOf = decltype(State::LengthLow);

template <typename State>
constexpr std::size_t BlockSizeOf = sizeof(State::MessageBlock);

// True when adding bits to the count would carry it past its top, 2^64 - 1 for the
// 32-bit length words and 2^128 - 1 for the 64-bit ones.
template <typename State>
bool CountMayOverflow(const State& state, std::uint64_t bits) {
    constexpr std::uint64_t Max = std::numeric_limits<std::uint64_t>::max();
    if constexpr (sizeof(WordOf<State>) == 4) {
        const std::uint64_t count = (std::uint64_t{state.LengthHigh} << 32) | state.LengthLow;
        return bits > Max - count;
    } else {
        return state.LengthHigh == Max && bits > Max - state.LengthLow;
    }
}

// Adds bits to the count; the caller has ruled out an overflow.
template <typename State>
void AddToCount(State& state, std::uint64_t bits) {
    if constexpr (sizeof(WordOf<State>) == 4) {
        const std::uint64_t count =
            ((std::uint64_t{state.LengthHigh} << 32) | state.LengthLow) + bits;
        state.LengthLow = static_cast<std::uint32_t>(count);
        state.LengthHigh = static_cast<std::uint32_t>(count >> 32);
    } else {
        state.LengthLow += bits;
        if (state.LengthLow < bits) {
            ++state.LengthHigh;
        }
    }
}

// Compress(IntermediateHash, blocks, count) is the compression function of one path
// over count whole blocks.
template <typename State, auto Compress>
void ProcessBlock(State* state) {
    Compress(state->IntermediateHash, state->MessageBlock, 1);
    state->MessageBlockIndex = 0;
}

// The byte-at-a-time definition, used for a call that may overflow the bit count: the
// byte that overflows stays in the block uncompressed, and the loop stops there.
template <typename State, auto Compress>
void AbsorbBytes(State* state, const std::uint8_t* data, std::uint32_t length) {
    using Word = WordOf<State>;
    for (; length != 0 && state->Corrupted == 0; --length, ++data) {
        state->MessageBlock[state->MessageBlockIndex] = *data;
        ++state->MessageBlockIndex;
        const Word before = state->LengthLow;
        state->LengthLow = static_cast<Word>(before + 8);
        if (state->LengthLow < before) {
            ++state->LengthHigh;
            state->Corrupted = state->LengthHigh == 0 ? ShaNull : ShaSuccess;
        } else {
            state->Corrupted = ShaSuccess;
        }
        if (state->Corrupted == 0 &&
            static_cast<std::size_t>(state->MessageBlockIndex) == BlockSizeOf<State>) {
            ProcessBlock<State, Compress>(state);
        }
    }
}

template <typename State, auto Compress>
ShaCode AbsorbInput(State* state, const std::uint8_t* data, std::uint32_t length) {
    constexpr std::size_t BlockSize = BlockSizeOf<State>;
    if (length == 0) {
        return ShaSuccess;
    }
    if (state == nullptr || data == nullptr) {
        return ShaNull;
    }
    if (state->Computed != 0) {
        state->Corrupted = ShaStateError;
        return ShaStateError;
    }
    if (state->Corrupted != 0) {
        return static_cast<ShaCode>(state->Corrupted);
    }

    const std::uint64_t bits = std::uint64_t{length} * 8;
    if (CountMayOverflow(*state, bits)) {
        AbsorbBytes<State, Compress>(state, data, length);
        return ShaSuccess;  // an overflow shows in the next input and in the result
    }
    AddToCount(*state, bits);

    std::size_t remaining = length;

    // Phase 1: top up a partly filled block, and compress it once it is whole.
    if (state->MessageBlockIndex != 0) {
        const std::size_t index = static_cast<std::size_t>(state->MessageBlockIndex);
        const std::size_t take = std::min(BlockSize - index, remaining);
        std::memcpy(state->MessageBlock + index, data, take);
        data += take;
        remaining -= take;
        state->MessageBlockIndex = static_cast<std::int16_t>(index + take);
        if (index + take < BlockSize) {
            return ShaSuccess;
        }
        ProcessBlock<State, Compress>(state);
    }

    // Phase 2: whole blocks straight from the caller's buffer, without a copy.
    const std::size_t blocks = remaining / BlockSize;
    if (blocks != 0) {
        Compress(state->IntermediateHash, data, blocks);
        data += blocks * BlockSize;
        remaining -= blocks * BlockSize;
    }

    // Phase 3: the remainder waits in the block for the next call or the padding.
    if (remaining != 0) {
        std::memcpy(state->MessageBlock, data, remaining);
        state->MessageBlockIndex = static_cast<std::int16_t>(remaining);
    }
    return ShaSuccess;
}

// Pads with 0x80 and zeros, appends the bit count big-endian (high word first) and
// compresses; then clears the block and the count and marks the state Computed.
template <typename State, auto Compress>
void FinalizeMessage(State* state) {
    using Word = WordOf<State>;
    constexpr std::size_t BlockSize = BlockSizeOf<State>;
    constexpr std::size_t LengthOffset = BlockSize - 2 * sizeof(Word);

    const std::size_t index = static_cast<std::size_t>(state->MessageBlockIndex);
    state->MessageBlock[index] = 0x80;
    state->MessageBlockIndex = static_cast<std::int16_t>(index + 1);
    if (index >= LengthOffset) {  // no room left for the count
        std::memset(state->MessageBlock + index + 1, 0, BlockSize - index - 1);
        ProcessBlock<State, Compress>(state);
    }
    const std::size_t fill = static_cast<std::size_t>(state->MessageBlockIndex);
    std::memset(state->MessageBlock + fill, 0, LengthOffset - fill);
    StoreBigEndian<Word>(state->LengthHigh, state->MessageBlock + LengthOffset);
    StoreBigEndian<Word>(state->LengthLow, state->MessageBlock + LengthOffset + sizeof(Word));
    ProcessBlock<State, Compress>(state);

    std::memset(state->MessageBlock, 0, BlockSize);
    state->LengthLow = 0;
    state->LengthHigh = 0;
    state->Computed = 1;
}

// The result step after the context checks: finalise once, then write the first
// digestSize bytes of the chaining value, each word most significant byte first.
template <typename State, auto Finalize>
ShaCode WriteResult(State* state, std::uint8_t* digest, std::size_t digestSize) {
    using Word = std::remove_extent_t<decltype(State::IntermediateHash)>;
    if (state->Corrupted != 0) {
        return static_cast<ShaCode>(state->Corrupted);
    }
    if (state->Computed == 0) {
        Finalize(state);
    }
    for (std::size_t i = 0; i < digestSize / sizeof(Word); ++i) {
        StoreBigEndian<Word>(state->IntermediateHash[i], digest + i * sizeof(Word));
    }
    return ShaSuccess;
}

}  // namespace CX::Hash::Detail
