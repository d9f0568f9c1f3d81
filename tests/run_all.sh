#!/usr/bin/env bash
# Every test of the project, stage by stage: the native suite under ASan and UBSan, the pool
# and quillsum's runs under ThreadSanitizer, the Windows build under Wine, the aarch64 and
# s390x builds under qemu, the fuzz targets, the release binary under valgrind and on a
# sparse file past 4 GiB, and the packages as a user gets them (and all built again
# elsewhere, for the same bytes). Installs what the machine
# lacks first. Every stage runs even when an earlier one failed; the last line counts them.
set -uo pipefail
cd "$(dirname "$0")/.."

tests/install_deps.sh || exit 1

passed=0
failed=0
failed_names=()
stage() {  # stage <name> <command...>
    local name=$1 start=$SECONDS
    shift
    echo "=== stage $name"
    if "$@"; then
        passed=$((passed + 1))
        echo "=== stage $name passed in $((SECONDS - start)) s"
    else
        failed=$((failed + 1))
        failed_names+=("$name")
        echo "=== stage $name FAILED after $((SECONDS - start)) s"
    fi
}

# The test presets run four tests at once on two processors: many end-to-end cases spend
# their time waiting for files to age past the cache's step, and every test waits for its
# events, never for a time, so a busy machine changes no verdict (tests/under_load.sh).
native() { cmake --workflow --preset test; }
# The worker pool's test and quillsum's end-to-end cases, each run with four workers.
tsan() { cmake --workflow --preset tsan-test; }
windows() { cmake --workflow --preset mingw-test; }
# sha_instructions <objdump> <pattern> <binary> <none|some>: whether the binary holds SHA-256
# instructions: quillmark runs the engine's portable rounds only, quillsum the processor's
# where it has them.
sha_instructions() {
    local n
    n=$("$1" -d "$3" | grep -cE "$2") || true
    echo "$3: $n SHA-256 instructions"
    case $4 in none) [ "$n" -eq 0 ] ;; some) [ "$n" -gt 0 ] ;; esac
}
arm_sha='sha256(h|h2|su0|su1)'
x86_sha='sha256(rnds2|msg1|msg2)'
cross() {  # both, even when the first fails
    local rc=0
    cmake --workflow --preset aarch64-test || rc=1
    sha_instructions aarch64-linux-gnu-objdump "$arm_sha" build/aarch64/quillmark none || rc=1
    sha_instructions aarch64-linux-gnu-objdump "$arm_sha" build/aarch64/quillsum some || rc=1
    cmake --workflow --preset s390x-test || rc=1
    return $rc
}
fuzz() {
    cmake --preset fuzz && cmake --build --preset fuzz && fuzz/run_all.sh build/fuzz 12
}
# The release preset leaves warnings as warnings for users' compilers, and is built as they
# build it (the packages reuse that build). Here, on ours, any warning fails the stage: the
# bench preset, the same flags and the benchmarks too, is built with them as errors. The
# benchmarks are built so that they keep compiling; nothing is timed.
release() {
    cmake --preset release && cmake --build --preset release &&
        sha_instructions objdump "$x86_sha" build/release/quillmark none &&
        sha_instructions objdump "$x86_sha" build/release/quillsum some &&
        cmake --preset bench -DQUILLMARK_WERROR=ON && cmake --build --preset bench &&
        tests/valgrind/run.sh build/release/quillmark &&
        bash tests/e2e/e2e.sh huge_sparse_file "$PWD/build/release/quillmark"
}
# After the release stage, whose build the packages and the first tree of the same-bytes
# check reuse: the second tree is the one build it adds.
package() { tests/package/check.sh && tests/reproducible.sh; }

stage native native
stage tsan tsan
stage windows windows
stage cross cross
stage fuzz fuzz
stage release release
stage package package

[ "$failed" -eq 0 ] || echo "failed stages: ${failed_names[*]}"
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
