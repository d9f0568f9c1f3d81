#!/usr/bin/env bash
# The suite on a loaded machine: while stress-ng keeps every core busy (--cpu 2 --io 1),
# the native suite runs with ctest -j4 (debug preset) and quillsum's end-to-end cases run
# under Wine (mingw preset), N times over (5 unless told). Every failure is printed with its
# output; the last line counts the passes. A test that waits for a time rather than for
# its event fails here. Too long for CI; on a shared machine run it under the lock that
# keeps load tests apart: flock /tmp/quill-heavy.lock tests/under_load.sh 10 native
# Usage: tests/under_load.sh [N] [native|wine|both] [<pattern of the cases under Wine>]
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
runs=${1:-5}
which=${2:-both}
wine_cases=${3:-'^(quillsum|quillsum_check)\.'}
case $which in native | wine | both) ;; *) echo "usage: $0 [N] [native|wine|both]"; exit 2 ;; esac
command -v stress-ng >/dev/null || { echo "stress-ng is missing (Debian package stress-ng)"; exit 2; }

want() { [ "$which" = both ] || [ "$which" = "$1" ]; }
# Built before the load starts: the load is for the tests.
if want native; then cmake --preset debug >/dev/null && cmake --build --preset debug >/dev/null || exit 2; fi
if want wine; then cmake --preset mingw >/dev/null && cmake --build --preset mingw >/dev/null || exit 2; fi

log=$(mktemp -d "${TMPDIR:-/tmp}/under-load.XXXXXX")
# Every run that Wine did not start, though tried again with success (tests/e2e/wine_run.sh).
export QUILLMARK_WINE_RETRIES=$log/wine-retries.txt
: >"$QUILLMARK_WINE_RETRIES"
stress-ng --cpu 2 --io 1 --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null; rm -rf "$log"' EXIT

passed_native=0
passed_wine=0
# one <name> <ctest args...>: one pass of the suite; a failure prints each failed test's
# output, as ctest caught it.
one() {
    local name=$1 out="$log/$1.txt"
    shift
    if ctest "$@" --output-on-failure >"$out" 2>&1; then
        echo "  $name: passed ($(grep -E -o '[0-9]+ tests? failed out of [0-9]+' "$out"))"
        return 0
    fi
    echo "  $name: FAILED"
    sed -n '/The following tests FAILED/,$p' "$out" | sed 's/^/    /'
    # --output-on-failure puts each failed test's output after its status line.
    awk '/^ *[0-9]+\/[0-9]+ Test +#/ { show = /\*\*\*(Failed|Timeout|Exception)|Not Run/ }
         /^ *Start +[0-9]+:/ { show = 0 }
         show' "$out" | sed 's/^/    | /'
    return 1
}

for i in $(seq "$runs"); do
    echo "run $i of $runs"
    if want native; then
        one native --test-dir build/debug -j4 && passed_native=$((passed_native + 1))
    fi
    if want wine; then
        one wine --test-dir build/mingw -j4 -R "$wine_cases" &&
            passed_wine=$((passed_wine + 1))
    fi
done

summary=()
want native && summary+=("native $passed_native of $runs passed")
want wine && summary+=("Wine $passed_wine of $runs passed")
want wine && summary+=("($(wc -l <"$QUILLMARK_WINE_RETRIES") runs Wine did not start)")
sed 's/^/  /' "$QUILLMARK_WINE_RETRIES"
echo "under load: ${summary[*]}"
{ ! want native || [ "$passed_native" = "$runs" ]; } && { ! want wine || [ "$passed_wine" = "$runs" ]; }
