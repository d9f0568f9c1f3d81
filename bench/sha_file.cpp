// bench_sha_file <path>: prints the SHA-256 of a file in sha256sum's format, reading it
// in 64 KiB blocks as the tool does. A benchmark driver only; the tool's own file input
// lives elsewhere.

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "hash/sha_engine.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_sha_file <path>\n");
        return 1;
    }
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    static std::uint8_t buffer[64 * 1024];
    CX::Hash::ShaContext context;
    std::memset(&context, 0, sizeof context);
    CX::Hash::ShaReset(&context, CX::Hash::ShaAlgorithm::Sha256);
    std::size_t got;
    bool failed = false;
    while (!failed && (got = std::fread(buffer, 1, sizeof buffer, file)) != 0) {
        failed = CX::Hash::ShaInput(&context, buffer, static_cast<std::uint32_t>(got)) !=
                 CX::Hash::ShaSuccess;
    }
    failed = failed || std::ferror(file) != 0;
    std::fclose(file);
    std::uint8_t digest[32];
    if (failed || CX::Hash::ShaResult(&context, digest) != CX::Hash::ShaSuccess) {
        std::fprintf(stderr, "%s: read or hash failed\n", argv[1]);
        return 3;
    }
    for (std::uint8_t byte : digest) {
        std::printf("%02x", byte);
    }
    std::printf("  %s\n", argv[1]);
    return 0;
}
