#!/usr/bin/env bash
# What Debian's hardening flags cost: the release binary (built with them) against the
# same sources built without them (the release preset with QUILLMARK_HARDENING=OFF, in
# build/release-unhardened), on the same cached file in the same run. The two run
# interleaved, the order alternating; for each the minimum wall and CPU time are kept.
#
#   bench/hardening_cost.sh [MiB, default 256] [runs, default 9]
#
# Prints both and the ratios hardened / unhardened: 1.00 means no cost.
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-256}
runs=${2:-9}

cmake --preset release >/dev/null && cmake --build --preset release >/dev/null
cmake --preset release -B build/release-unhardened -DQUILLMARK_HARDENING=OFF >/dev/null &&
    cmake --build build/release-unhardened >/dev/null
hardened=build/release/quillmark
plain=build/release-unhardened/quillmark
grep -qa __stack_chk_fail "$hardened" || { echo "$hardened has no stack protector"; exit 1; }
! grep -qa __stack_chk_fail "$plain" || { echo "$plain has a stack protector"; exit 1; }

file=$(mktemp "${TMPDIR:-/tmp}/hardening_cost.XXXXXX")
trap 'rm -f "$file"' EXIT
head -c $((mib * 1024 * 1024)) /dev/urandom >"$file"
# Both read the file once before timing, which also caches it; the lines must agree.
[ "$("$hardened" "$file")" = "$("$plain" "$file")" ] || { echo "the two builds disagree"; exit 1; }

# "wall cpu" in milliseconds for one run; cpu is user + system time.
measure() {
    local TIMEFORMAT='%3R %3U %3S' times
    times=$({ time "$@" >/dev/null; } 2>&1)
    awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' <<<"$times"
}
min() { if [[ -z "$1" || $2 -lt $1 ]]; then echo "$2"; else echo "$1"; fi; }

h_wall= h_cpu= p_wall= p_cpu=
for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then
        read -r hw hc < <(measure "$hardened" "$file")
        read -r pw pc < <(measure "$plain" "$file")
    else
        read -r pw pc < <(measure "$plain" "$file")
        read -r hw hc < <(measure "$hardened" "$file")
    fi
    h_wall=$(min "$h_wall" "$hw") h_cpu=$(min "$h_cpu" "$hc")
    p_wall=$(min "$p_wall" "$pw") p_cpu=$(min "$p_cpu" "$pc")
done

awk -v hw="$h_wall" -v hc="$h_cpu" -v pw="$p_wall" -v pc="$p_cpu" -v mib="$mib" -v runs="$runs" 'BEGIN {
    mb = mib * 1048576 / 1e6
    printf "%d MiB, minimum of %d interleaved runs (wall / cpu)\n", mib, runs
    printf "hardened:   %.3f s  %.0f MB/s / %.3f s\n", hw / 1e3, mb / (hw / 1e3), hc / 1e3
    printf "unhardened: %.3f s  %.0f MB/s / %.3f s\n", pw / 1e3, mb / (pw / 1e3), pc / 1e3
    printf "ratio (hardened / unhardened): %.3f wall, %.3f cpu\n", hw / pw, hc / pc
}'
