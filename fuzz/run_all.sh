#!/usr/bin/env bash
# Runs every fuzz target for a number of seconds, each from a scratch copy of its seed
# corpus, so that the committed corpus never grows in CI. Prints the executions of each
# target; exits non-zero when a target finds a failing input (kept as fuzz-<name>-crash-*
# in the current directory, to be added to the corpus once fixed). Runs as many targets at
# once as there are processors.
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

# fuzz_one <name>: runs one target into its scratch folder; its line and, on a failure,
# the fuzzer's report go to <name>.out, printed once every target has ended.
fuzz_one() {
    local name=$1 exe=$build/fuzz/fuzz_$1 log=$scratch/$1.log result runs rate files
    mkdir -p "$scratch/$name"
    cp "$here/corpus/$name/"* "$scratch/$name/"
    # -max_len: room for inputs past the 4096-character stage and the 4000-unit buffer.
    if "$exe" -max_total_time="$seconds" -max_len=9000 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/fuzz-$name-" \
        "$scratch/$name" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    files=$(ls "$scratch/$name" | wc -l)
    {
        printf '%-12s %12s %10s %8s %s\n' "fuzz_$name" "${runs:-?}" "${rate:-?}" "$files" "$result"
        if [ "$result" = FAILED ]; then
            grep -E -A30 '^(==[0-9]+==ERROR|fuzz_[a-z0-9]+:|SUMMARY)' "$log" | head -60 || tail -40 "$log"
        fi
    } >"$scratch/$name.out"
}

for name in "${targets[@]}"; do
    [ -x "$build/fuzz/fuzz_$name" ] || { echo "missing $build/fuzz/fuzz_$name (build the fuzz preset first)"; exit 2; }
done
# As many targets at once as there are processors: each fuzzer runs on one.
width=$(nproc 2>/dev/null || echo 1)
running=0
for name in "${targets[@]}"; do
    if [ "$running" -ge "$width" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz_one "$name" &
    running=$((running + 1))
done
wait

status=0
printf '%-12s %12s %10s %8s %s\n' target executions exec/s corpus result
for name in "${targets[@]}"; do
    cat "$scratch/$name.out"
    grep -q ' FAILED$' <(head -1 "$scratch/$name.out") && status=1
done
exit $status
