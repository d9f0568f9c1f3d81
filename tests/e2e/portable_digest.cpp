// Test build of quillsum only: its digest on the portable rounds whatever the processor
// has, so that the same cases hold that path too.
#include "digest/sha256_path.h"

namespace {

const bool g_portable = CX::Digest::UseSha256PathForTesting(CX::Digest::Sha256Path::Portable);

}  // namespace
