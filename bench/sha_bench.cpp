// MB/s of ShaInput over 64 KiB buffers, the block size the tool reads files in.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "hash/sha_engine.h"

namespace {

using CX::Hash::ShaAlgorithm;

void ShaInputThroughput(benchmark::State& state, ShaAlgorithm algorithm) {
    constexpr std::uint32_t BufferSize = 64 * 1024;
    std::vector<std::uint8_t> buffer(BufferSize);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    CX::Hash::ShaContext context;
    std::memset(&context, 0, sizeof context);
    CX::Hash::ShaReset(&context, algorithm);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CX::Hash::ShaInput(&context, buffer.data(), BufferSize));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * BufferSize);
}

BENCHMARK_CAPTURE(ShaInputThroughput, Sha1, ShaAlgorithm::Sha1);
BENCHMARK_CAPTURE(ShaInputThroughput, Sha256, ShaAlgorithm::Sha256);
BENCHMARK_CAPTURE(ShaInputThroughput, Sha512, ShaAlgorithm::Sha512);

}  // namespace
