#!/usr/bin/env bash
# The README's recipe for many files, in files per second, beside the same recipe with
# sha256sum in quillmark's place, in one run over one tree of small files (cached).
# Rounds interleave; each side keeps its fastest. The ratio is quillmark / sha256sum in
# files per second: above 1.00 means quillmark gets through the tree faster.
#
#   bench/many_files.sh [path/to/quillmark] [files, default 10000] [rounds, default 3]
set -euo pipefail
exe=${1:-build/release/quillmark}
files=${2:-10000}
rounds=${3:-3}
[ -x "$exe" ] || { echo "no executable at $exe (build the release preset first)"; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/many_files.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin" "$dir/tree"
ln -s "$(realpath "$exe")" "$dir/bin/quillmark"
# Files of 1,000 random bytes, 100 to a folder.
head -c $((files * 1000)) /dev/urandom | (cd "$dir/tree" && split -b 1000 -a 6 -d - f)
(cd "$dir/tree" && for ((i = 0; i < files; i += 100)); do
    mkdir "d$i" && mv $(seq -f 'f%06g' "$i" $((i + 99 < files - 1 ? i + 99 : files - 1))) "d$i"
done)
cat "$dir"/tree/*/* >/dev/null

# The recipe, with the program to run each file through.
recipe() {  # recipe <program>
    find . -type f -print0 |
        xargs -0 -P "$(nproc)" -n 64 sh -c 'for f; do printf "%s  %s\n" "$('"$1"' "$f")" "$f"; done' sh
}
seconds() {  # seconds <program>: wall seconds of one pass over the tree
    local t0 t1
    t0=$(date +%s.%N)
    (cd "$dir/tree" && PATH=$dir/bin:$PATH recipe "$1") >"$dir/out"
    t1=$(date +%s.%N)
    [ "$(wc -l <"$dir/out")" = "$files" ] || { echo "$1: not one line per file"; exit 1; }
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
min() { printf '%s\n' "$@" | sort -g | head -n 1; }

q=() s=()
for ((r = 0; r < rounds; r++)); do
    q+=("$(seconds quillmark)")
    s+=("$(seconds sha256sum)")
done
qs=$(min "${q[@]}") ss=$(min "${s[@]}")
awk -v q="$qs" -v s="$ss" -v n="$files" -v p="$(nproc)" 'BEGIN {
    printf "%d small files, xargs -P %d, fastest of the rounds\n", n, p
    printf "quillmark: %.2f s  %.0f files/s\n", q, n / q
    printf "sha256sum: %.2f s  %.0f files/s\n", s, n / s
    printf "ratio (quillmark / sha256sum, files/s): %.2f\n", s / q
}'
