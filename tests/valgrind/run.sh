#!/usr/bin/env bash
# Runs the release quillmark under valgrind on an empty file, "abc", a missing file and a
# 1 MiB file: each run must give its usual line and exit code, no memory error and no
# leak of any kind: every heap block is freed by exit, except the C++ runtime's own
# exception pool (runtime.supp), which a statically linked runtime keeps to the end.
# Usage: tests/valgrind/run.sh <quillmark>
set -u

exe=$(readlink -f "${1:?usage: run.sh <quillmark>}")
suppressions=$(cd "$(dirname "$0")" && pwd)/runtime.supp
[ -x "$exe" ] || { echo "not an executable: $exe"; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-valgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

: >empty
printf abc >abc
# 1 MiB that is not one repeated byte, so that every block hashes differently.
seq 1 300000 | head -c 1048576 >mib
[ "$(stat -c %s mib)" = 1048576 ] || { echo "could not make the 1 MiB file"; exit 2; }

# The identifier from tools none of us wrote: the size as 8 little-endian bytes, then
# sha256sum, in upper case.
identifier_of() {
    printf '%016X' "$(stat -c %s "$1")" | sed -E 's/(..)(..)(..)(..)(..)(..)(..)(..)/\8\7\6\5\4\3\2\1/'
    sha256sum "$1" | cut -c1-64 | tr a-f A-F
}

failures=0
check() {  # check <name> <expected exit code> <expected stdout> <file argument>
    local name=$1 want_rc=$2 want_out=$3 arg=$4 rc
    valgrind --error-exitcode=1 --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=all --suppressions="$suppressions" --log-file="$name.vg" \
        "$exe" "$arg" >"$name.out" 2>"$name.err"
    rc=$?
    local problems=()
    [ "$rc" = "$want_rc" ] || problems+=("exit code $rc, expected $want_rc")
    [ "$(cat "$name.out")" = "$want_out" ] || problems+=("stdout '$(cat "$name.out")', expected '$want_out'")
    [ ! -s "$name.err" ] || problems+=("stderr: $(cat "$name.err")")
    grep -q 'ERROR SUMMARY: 0 errors' "$name.vg" || problems+=("valgrind reports errors")
    if ! grep -q 'All heap blocks were freed -- no leaks are possible' "$name.vg"; then
        for kind in 'definitely lost' 'indirectly lost' 'possibly lost' 'still reachable'; do
            grep -q "$kind: 0 bytes in 0 blocks" "$name.vg" || problems+=("$kind is not 0")
        done
    fi
    local heap
    heap=$(sed -n 's/.*total heap usage: //p' "$name.vg")
    local kept
    kept=$(sed -n 's/.*suppressed: \([1-9][0-9,]* bytes in [0-9]* blocks\).*/\1/p' "$name.vg")
    [ -z "$kept" ] || heap="$heap; runtime pool kept: $kept"
    if [ ${#problems[@]} -eq 0 ]; then
        printf 'ok    %-8s exit %s, %s\n' "$name" "$rc" "$heap"
    else
        printf 'FAIL  %-8s %s\n' "$name" "${problems[*]}"
        sed 's/^/      /' "$name.vg"
        failures=$((failures + 1))
    fi
}

check empty 0 "$(identifier_of empty)" empty
check abc 0 "$(identifier_of abc)" abc
check missing 2 "Failed to open file 'no-such-file'" no-such-file
check mib 0 "$(identifier_of mib)" mib

[ "$failures" -eq 0 ] || { echo "$failures valgrind case(s) failed"; exit 1; }
