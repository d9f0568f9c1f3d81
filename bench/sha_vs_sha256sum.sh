#!/usr/bin/env bash
# Our SHA-256 against GNU coreutils' sha256sum on the same cached file in the same run.
#
#   bench/sha_vs_sha256sum.sh <path to bench_sha_file> [MiB, default 256] [runs, default 7]
#
# The two programs run interleaved (the order alternating); for each the minimum wall
# time and the minimum CPU time are kept. Prints both and the ratios of our time to
# sha256sum's: at most 1.00 means we are at least as fast.
set -euo pipefail

driver=${1:?usage: $0 <bench_sha_file> [MiB] [runs]}
mib=${2:-256}
runs=${3:-7}

file=$(mktemp "${TMPDIR:-/tmp}/sha_vs_sha256sum.XXXXXX")
trap 'rm -f "$file"' EXIT
head -c $((mib * 1024 * 1024)) /dev/urandom >"$file"

# Both read the file once before timing, which also caches it; the digests must agree.
ours=$("$driver" "$file" | cut -d' ' -f1)
theirs=$(sha256sum "$file" | cut -d' ' -f1)
if [[ "$ours" != "$theirs" ]]; then
    echo "digest mismatch: ours $ours, sha256sum $theirs" >&2
    exit 1
fi

# Prints "wall cpu" in milliseconds for one run; cpu is user + system time, which other
# load on the machine disturbs less than the wall clock.
measure() {
    local TIMEFORMAT='%3R %3U %3S' times
    times=$({ time "$@" >/dev/null; } 2>&1)
    awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' <<<"$times"
}

min() { if [[ -z "$1" || $2 -lt $1 ]]; then echo "$2"; else echo "$1"; fi; }

ours_wall= ours_cpu= theirs_wall= theirs_cpu=
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then
        read -r ow oc < <(measure "$driver" "$file")
        read -r tw tc < <(measure sha256sum "$file")
    else
        read -r tw tc < <(measure sha256sum "$file")
        read -r ow oc < <(measure "$driver" "$file")
    fi
    ours_wall=$(min "$ours_wall" "$ow") ours_cpu=$(min "$ours_cpu" "$oc")
    theirs_wall=$(min "$theirs_wall" "$tw") theirs_cpu=$(min "$theirs_cpu" "$tc")
done

awk -v ow="$ours_wall" -v oc="$ours_cpu" -v tw="$theirs_wall" -v tc="$theirs_cpu" \
    -v mib="$mib" -v runs="$runs" 'BEGIN {
    mb = mib * 1048576 / 1e6
    printf "%d MiB, minimum of %d interleaved runs (wall / cpu)\n", mib, runs
    printf "ours:      %.3f s  %.0f MB/s / %.3f s\n", ow / 1e3, mb / (ow / 1e3), oc / 1e3
    printf "sha256sum: %.3f s  %.0f MB/s / %.3f s\n", tw / 1e3, mb / (tw / 1e3), tc / 1e3
    printf "ratio (ours / sha256sum): %.3f wall, %.3f cpu\n", ow / tw, oc / tc
}'
