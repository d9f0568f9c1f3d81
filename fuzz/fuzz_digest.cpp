// Fuzzes quillsum's digest against the library's ContentDigest: on every path this
// processor can run, the message fed in pieces the input picks (empty pieces included)
// must give ContentDigest's record for the whole message, and a record taken part way
// must be ContentDigest's for the bytes fed so far.
//
// Input layout:
//   bytes 0-1   seed of the piece lengths (0 to 200 bytes each)
//   the rest    the message

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "digest/record_digest.h"
#include "hash/content_digest.h"

namespace {

using CX::Digest::RecordDigest;
using CX::Digest::Sha256Path;

[[noreturn]] void Fail(const char* what, Sha256Path path) {
    std::fprintf(stderr, "fuzz_digest: %s: %s\n", CX::Digest::NameOf(path), what);
    std::abort();
}

void Oracle(const std::uint8_t* message, std::size_t size, std::uint8_t* record) {
    CX::Hash::ContentDigest digest;
    if (!digest.Reset().IsSuccess() ||
        !digest.Update(message, static_cast<std::uint32_t>(size)).IsSuccess() ||
        !digest.Final(record).IsSuccess()) {
        std::fprintf(stderr, "fuzz_digest: ContentDigest refused a message\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::uint32_t seed = data[0] | (std::uint32_t{data[1]} << 8);
    const std::uint8_t* message = data + 2;
    const std::size_t n = size - 2;
    std::uint8_t whole[RecordDigest::RecordSize];
    Oracle(message, n, whole);

    const Sha256Path before = CX::Digest::Sha256PathInUse();
    for (Sha256Path path : {Sha256Path::Portable, Sha256Path::X86Sha, Sha256Path::ArmSha2}) {
        if (!CX::Digest::UseSha256PathForTesting(path)) {
            continue;
        }
        RecordDigest digest;
        std::size_t fed = 0;
        std::uint8_t record[RecordDigest::RecordSize], expected[RecordDigest::RecordSize];
        while (fed < n) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t piece = (seed >> 16) % 201;
            const std::size_t take = piece < n - fed ? piece : n - fed;
            digest.Update(message + fed, take);
            fed += take;
            if ((seed & 0x700) == 0) {  // now and then, a record part way
                digest.Final(record);
                Oracle(message, fed, expected);
                if (std::memcmp(record, expected, sizeof record) != 0) {
                    Fail("a record part way differs from ContentDigest's", path);
                }
            }
        }
        digest.Final(record);
        if (std::memcmp(record, whole, sizeof record) != 0) {
            Fail("the record differs from ContentDigest's", path);
        }
    }
    CX::Digest::UseSha256PathForTesting(before);
    return 0;
}
