#!/usr/bin/env bash
# Whole-process speed and footprint of quillmark beside sha256sum, in one run on the same
# data: a cached 1 GiB file, start-up over 1,000 runs on a 3-byte file, and peak RSS.
# Each figure is the minimum of interleaved rounds; ratios are quillmark / sha256sum.
# The file's time is also set against OpenSSL's integer code (OPENSSL_ia32cap=0:0, both
# words of its processor flags cleared: no SIMD, no SHA instructions), as the time
# openssl speed takes for the same bytes in memory, in 64 KiB buffers. The engine's
# portable rounds are to be no slower than either.
# Usage: bench/quillmark_vs_sha256sum.sh [path/to/quillmark] [rounds] [size_mib]
set -euo pipefail

exe=${1:-build/release/quillmark}
rounds=${2:-5}
size_mib=${3:-1024}
[ -x "$exe" ] || { echo "no executable at $exe (build the release preset first)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, package 'time')"; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
big=$dir/big.bin
tiny=$dir/tiny.bin
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$big"
printf abc >"$tiny"
cat "$big" >/dev/null  # into the page cache

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.9f\", $1 }"; }
elapsed() {  # elapsed <command...>: wall seconds of one run, output discarded
    local t0 t1
    t0=$(now)
    "$@" >/dev/null
    t1=$(now)
    calc "$t1 - $t0"
}
startup() {  # startup <command...>: wall seconds of 1,000 runs on the tiny file
    local t0 t1 i
    t0=$(now)
    for ((i = 0; i < 1000; i++)); do "$@" "$tiny" >/dev/null; done
    t1=$(now)
    calc "$t1 - $t0"
}
min() { printf '%s\n' "$@" | sort -g | head -n 1; }
rss_kib() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }

# The seconds OpenSSL's integer code takes for size_mib in memory (its figure is in units
# of 1,000 bytes a second).
openssl_integer() {
    OPENSSL_ia32cap=0:0 openssl speed -evp sha256 -bytes 65536 -seconds 2 2>/dev/null |
        awk -v mib="$size_mib" '$1 == "sha256" { sub(/k$/, "", $2)
            printf "%.6f", mib * 1048576 / ($2 * 1000) }'
}

q_big=() s_big=() o_big=() q_up=() s_up=() q_rss=() s_rss=()
for ((r = 0; r < rounds; r++)); do
    q_big+=("$(elapsed "$exe" "$big")")
    s_big+=("$(elapsed sha256sum "$big")")
    o_big+=("$(openssl_integer)")
    q_up+=("$(startup "$exe")")
    s_up+=("$(startup sha256sum)")
    q_rss+=("$(rss_kib "$exe" "$big")")
    s_rss+=("$(rss_kib sha256sum "$big")")
done

qb=$(min "${q_big[@]}") sb=$(min "${s_big[@]}") ob=$(min "${o_big[@]}")
qu=$(min "${q_up[@]}") su=$(min "${s_up[@]}")
qr=$(min "${q_rss[@]}") sr=$(min "${s_rss[@]}")
printf 'file of %d MiB:   quillmark %.3f s (%.0f MB/s)  sha256sum %.3f s (%.0f MB/s)  ratio %.3f\n' \
    "$size_mib" "$qb" "$(calc "$size_mib * 1.048576 / $qb")" \
    "$sb" "$(calc "$size_mib * 1.048576 / $sb")" "$(calc "$qb / $sb")"
printf 'OpenSSL integer:  quillmark %.3f s  openssl speed, in memory %.3f s (%.0f MB/s)  ratio %.3f\n' \
    "$qb" "$ob" "$(calc "$size_mib * 1.048576 / $ob")" "$(calc "$qb / $ob")"
printf '1000 runs, 3 B:   quillmark %.3f s  sha256sum %.3f s  ratio %.3f\n' \
    "$qu" "$su" "$(calc "$qu / $su")"
printf 'peak RSS:         quillmark %d KiB  sha256sum %d KiB  ratio %.3f\n' \
    "$qr" "$sr" "$(calc "$qr / $sr")"
