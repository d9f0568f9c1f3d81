#!/usr/bin/env bash
# Installs, from Debian's packages, what the test stages need and this machine lacks.
# Does nothing when everything is there; otherwise needs root for apt-get.
set -euo pipefail

missing=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_file() { [ -e "$1" ]; }

# The native build and its tests.
have_cmd cmake || missing+=(cmake)
have_cmd ninja || missing+=(ninja-build)
have_cmd g++ || missing+=(g++)
have_file /usr/include/gtest/gtest.h || missing+=(libgtest-dev)
have_file /usr/include/gmock/gmock.h || missing+=(libgmock-dev)
have_cmd sha256sum || missing+=(coreutils)
have_cmd strace || missing+=(strace)
# GNU parallel, for quillsum's many-hosts recipe (moreutils has a parallel of its own).
parallel --version 2>/dev/null | grep '^GNU parallel' >/dev/null || missing+=(parallel)
# tmux, a real terminal for the progress line.
have_cmd tmux || missing+=(tmux)
# The fuzz and memory stages: clang with its libFuzzer and sanitizer runtimes, valgrind.
have_cmd clang++ || missing+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    missing+=(libclang-rt-14-dev)
have_cmd valgrind || missing+=(valgrind)
# The release stage also builds the benchmarks, against Google Benchmark.
have_file /usr/include/benchmark/benchmark.h || missing+=(libbenchmark-dev)
# The Windows build: the MinGW-w64 cross compiler, Wine to run its tests, and the
# GoogleTest sources to build for it.
have_cmd x86_64-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-x86-64-posix)
have_file /usr/lib/wine/wine64 || missing+=(wine64)
have_file /usr/src/googletest/CMakeLists.txt || missing+=(googletest)
# The Linux cross builds: the aarch64 and s390x cross compilers (their sysroots come with
# them) and qemu-user to run their tests; GoogleTest from the same sources as above.
have_cmd aarch64-linux-gnu-g++ || missing+=(g++-aarch64-linux-gnu)
# objdump, native and cross: which SHA instructions each program holds.
have_cmd objdump || missing+=(binutils)
have_cmd aarch64-linux-gnu-objdump || missing+=(binutils-aarch64-linux-gnu)
have_cmd s390x-linux-gnu-g++ || missing+=(g++-s390x-linux-gnu)
{ have_cmd qemu-aarch64-static && have_cmd qemu-s390x-static; } || missing+=(qemu-user-static)
# The packages: dpkg-buildflags and dpkg-shlibdeps for the .deb, lintian to judge it,
# unzip and man to use the packages as a user would.
have_cmd dpkg-buildflags || missing+=(dpkg-dev)
have_cmd lintian || missing+=(lintian)
have_cmd unzip || missing+=(unzip)
have_cmd man || missing+=(man-db)
have_cmd git || missing+=(git)
# Duplicate finding: jdupes is the oracle of the groups, fdupes and rmlint are peers in
# bench/duplicates.sh; python3 and jq read the groups and the JSON back.
have_cmd jdupes || missing+=(jdupes)
have_cmd fdupes || missing+=(fdupes)
have_cmd rmlint || missing+=(rmlint)
have_file /usr/bin/python3 || missing+=(python3)
have_cmd jq || missing+=(jq)

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi
echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "run as root, or install these Debian packages first: ${missing[*]}"
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
