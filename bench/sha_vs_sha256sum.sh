#!/usr/bin/env bash
# Our SHA-256 against GNU coreutils' sha256sum on the same cached file in the same run.
#
#   bench/sha_vs_sha256sum.sh <path to bench_sha_file> [MiB, default 256] [runs, default 7]
#
# The two programs run interleaved (the order alternating), each timed by wall clock;
# the minimum of each is kept. Prints both figures and the ratio of our time to
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

nanos() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    echo $((end - start))
}

best_ours=
best_theirs=
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then
        t_ours=$(nanos "$driver" "$file")
        t_theirs=$(nanos sha256sum "$file")
    else
        t_theirs=$(nanos sha256sum "$file")
        t_ours=$(nanos "$driver" "$file")
    fi
    if [[ -z "$best_ours" || $t_ours -lt $best_ours ]]; then best_ours=$t_ours; fi
    if [[ -z "$best_theirs" || $t_theirs -lt $best_theirs ]]; then best_theirs=$t_theirs; fi
done

awk -v o="$best_ours" -v t="$best_theirs" -v mib="$mib" -v runs="$runs" 'BEGIN {
    mb = mib * 1048576 / 1e6
    printf "%d MiB, minimum of %d interleaved runs\n", mib, runs
    printf "ours:      %.3f s  %.0f MB/s\n", o / 1e9, mb / (o / 1e9)
    printf "sha256sum: %.3f s  %.0f MB/s\n", t / 1e9, mb / (t / 1e9)
    printf "ratio (ours / sha256sum): %.3f\n", o / t
}'
