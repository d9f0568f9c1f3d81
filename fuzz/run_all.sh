#!/usr/bin/env bash
# Runs every fuzz target for a number of seconds, each from a scratch copy of its seed
# corpus, so that the committed corpus never grows in CI. Prints the executions of each
# target; exits non-zero when a target finds a failing input (kept as fuzz-<name>-crash-*
# in the current directory, to be added to the corpus once fixed).
# Usage: fuzz/run_all.sh <build-dir> [seconds, default 20] [target...]
set -euo pipefail

build=${1:?usage: run_all.sh <build-dir> [seconds] [target...]}
seconds=${2:-20}
shift $(($# < 2 ? $# : 2))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(format hex utf8 sha digest list cache)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts=$PWD

status=0
printf '%-12s %12s %10s %8s %s\n' target executions exec/s corpus result
for name in "${targets[@]}"; do
    exe=$build/fuzz/fuzz_$name
    [ -x "$exe" ] || { echo "missing $exe (build the fuzz preset first)"; exit 2; }
    mkdir -p "$scratch/$name"
    cp "$here/corpus/$name/"* "$scratch/$name/"
    log=$scratch/$name.log
    # -max_len: room for inputs past the 4096-character stage and the 4000-unit buffer.
    if "$exe" -max_total_time="$seconds" -max_len=9000 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/fuzz-$name-" \
        "$scratch/$name" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    files=$(ls "$scratch/$name" | wc -l)
    printf '%-12s %12s %10s %8s %s\n' "fuzz_$name" "${runs:-?}" "${rate:-?}" "$files" "$result"
    if [ "$result" = FAILED ]; then
        grep -E -A30 '^(==[0-9]+==ERROR|fuzz_[a-z0-9]+:|SUMMARY)' "$log" | head -60 || tail -40 "$log"
    fi
done
exit $status
