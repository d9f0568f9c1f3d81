#!/usr/bin/env bash
# quillsum --duplicates beside the tools people use for the same work, in one run: a real
# tree of this machine cached and with the page cache dropped, 100 files of 1 to 20 MiB
# whose lengths differ but for three pairs, and the peak memory over 200,000 small files.
# Every command runs once per round, the order reversed every other round, and each keeps
# its best (shortest) wall time; each row is a ratio peer / quillsum, so that above 1 means
# quillsum is faster, with the target it must reach.
#
#   bench/duplicates.sh [quillsum] [tree, default /usr/share] [rounds, default 3]
#
# Default quillsum: build/release/quillsum (the release preset). The rows with the cache
# dropped need root (sync; echo 3 >/proc/sys/vm/drop_caches) and are skipped with a
# message elsewhere. The made data (about 1.1 GB and 200,000 files) lives in a scratch
# folder under ${TMPDIR:-/tmp}, removed at the end. Needs jdupes, fdupes, rmlint, python3
# and GNU time: installed from Debian's packages when run as root, otherwise named.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
quillsum=${1:-$root/build/release/quillsum}
tree=${2:-/usr/share}
rounds=${3:-3}
[ -x "$quillsum" ] || { echo "no executable at $quillsum (build the release preset first)"; exit 1; }
[ -d "$tree" ] || { echo "no folder $tree"; exit 1; }
tree=$(cd "$tree" && pwd)

source "$(dirname "$0")/peers.sh"
missing=()
for tool in jdupes fdupes rmlint; do command -v $tool >/dev/null || missing+=("$tool"); done
[ -x /usr/bin/python3 ] || missing+=(python3)
[ -x /usr/bin/time ] || missing+=(time)
install_missing "${missing[@]}"

need_space 1300
dir=$(mktemp -d "$scratch_parent/duplicates.XXXXXX")
trap 'rm -rf "$dir"' EXIT
big=$dir/big many=$dir/many
mkdir "$big" "$many" "$dir/rmlint"

# 94 files of lengths all different from 1 to 20 MiB, and three pairs of lengths of their
# own: one pair the same bytes, one that differs in its first byte, one in its last.
# Random bytes, written for real (the holes of a sparse file read without a page to copy).
mib=1048576
for ((i = 0; i < 94; i++)); do
    head -c $((mib + i * (19 * mib / 93) + i * 7 + 1)) /dev/urandom >"$big/single$i"
done
head -c $((5 * mib + 3)) /dev/urandom >"$big/same-a"
cp "$big/same-a" "$big/same-b"
head -c $((11 * mib + 5)) /dev/urandom >"$big/head-a"
{ printf X; tail -c +2 "$big/head-a"; } >"$big/head-b"
cmp -s -n 1 "$big/head-a" "$big/head-b" && printf Y | dd of="$big/head-b" conv=notrunc status=none
head -c $((17 * mib + 9)) /dev/urandom >"$big/tail-a"
{ head -c -1 "$big/tail-a"; printf X; } >"$big/tail-b"
cmp -s "$big/tail-a" "$big/tail-b" && printf Y | dd of="$big/tail-b" bs=1 seek=$((17 * mib + 8)) \
    conv=notrunc status=none
if [ "$(find "$big" -type f | wc -l)" != 100 ] || [ "$(stat -c %s "$big"/* | sort | uniq -d | wc -l)" != 3 ] ||
    [ "$(stat -c %s "$big"/* | sort -u | wc -l)" != 97 ]; then
    echo "the 100 files are not as meant"
    exit 1
fi

# 200,000 files of 8 bytes in 200 folders, names of 20 bytes: all of one length, so that
# every one is opened; half of them in 50,000 pairs of the same bytes.
for ((d = 0; d < 200; d++)); do
    mkdir "$many/d$d"
    seq $((d * 1000)) $((d * 1000 + 999)) | awk '{ print ($1 < 50000 ? $1 + 50000 : $1) + 1000000 }' |
        split -l 1 -a 3 -d --additional-suffix=-name-twenty - "$many/d$d/f0000"
done
[ "$(find "$many" -type f | wc -l)" = 200000 ] || { echo "the 200,000 files are not there"; exit 1; }

groups_of() {  # groups_of <ours|peer> <listing>: the groups as sets of files by inode
    /usr/bin/python3 "$root/tests/e2e/duplicates_oracle.py" groups "$@"
}
recipe() { "$quillsum" -r "$1" | LC_ALL=C sort | uniq -w80 --all-repeated=separate; }

# The timed commands, by key; the caller sends their output to /dev/null. rmlint writes
# its reports into the folder it runs in: a scratch folder of its own.
run_q_tree() { "$quillsum" --duplicates "$tree"; }
run_j_tree() { jdupes -r -q "$tree"; }
run_f_tree() { fdupes -rnq "$tree"; }
run_u_tree() { recipe "$tree"; }
run_r_tree() { (cd "$dir/rmlint" && rmlint -T df "$tree"); }
run_q_big() { "$quillsum" --duplicates "$big"; }
run_j_big() { jdupes -r -q "$big"; }
run_u_big() { recipe "$big"; }

# One run of each before timing caches the data and shows that quillsum finds jdupes's
# groups, by device and inode, on every tree.
for t in "$tree" "$big" "$many"; do
    "$quillsum" --duplicates -z "$t" >"$dir/ours" 2>"$dir/ours.err" || {
        echo "quillsum --duplicates $t: exit $?: $(head -3 "$dir/ours.err")"
        [ "$t" = "$tree" ] || exit 1
    }
    jdupes -r -0 -q "$t" >"$dir/peer" 2>/dev/null || true
    groups_of ours "$dir/ours" >"$dir/ours.groups"
    groups_of peer "$dir/peer" >"$dir/peer.groups"
    cmp -s "$dir/ours.groups" "$dir/peer.groups" || {
        echo "quillsum and jdupes -r find different groups in $t:"
        diff "$dir/peer.groups" "$dir/ours.groups" | head -5
        exit 1
    }
    echo "$t: $(wc -l <"$dir/ours.groups") groups, as jdupes -r finds them"
done
for k in r_tree f_tree u_tree u_big j_big; do "run_$k" >/dev/null 2>&1 || true; done

drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches; }
cold=yes
drop_caches 2>/dev/null || cold="skipped: the page cache cannot be dropped here (root writes /proc/sys/vm/drop_caches)"
# Back into the cache after a dropped round: every byte of both trees read once.
warm() {
    find "$tree" "$big" -type f -print0 | xargs -0 cat >/dev/null 2>&1 || true
    find "$many" -type f -print0 | xargs -0 cat >/dev/null
}

declare -A best=() rss=()
elapsed() {  # elapsed <command...>: wall seconds of one run
    local t0=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f", b - a }'
}
keep() {  # keep <array name> <key> <value>: the least so far
    local -n kept=$1
    if [ -z "${kept[$2]:-}" ] || awk -v x="$3" -v y="${kept[$2]}" 'BEGIN { exit !(x < y) }'; then
        kept[$2]=$3
    fi
}
peak_kib() {  # peak_kib <command...>: its peak resident set, KiB
    /usr/bin/time -f %M -o "$dir/rss" "$@" >/dev/null 2>&1 || true
    cat "$dir/rss"
}
in_order() {  # in_order <round> <key>...: the keys, reversed in every other round
    local r=$1 i
    shift
    if ((r % 2 == 0)); then printf '%s\n' "$@"; else for ((i = $#; i >= 1; i--)); do echo "${!i}"; done; fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 0; r < rounds; r++)); do
    for k in $(in_order $r q_tree j_tree u_tree r_tree q_big j_big u_big); do
        keep best "$k" "$(elapsed "run_$k")"
    done
    keep rss q "$(peak_kib "$quillsum" --duplicates "$many")"
    keep rss j "$(peak_kib jdupes -r -q "$many")"
    if [ "$cold" = yes ]; then
        for k in $(in_order $r q_tree j_tree f_tree); do
            drop_caches
            keep best "cold_$k" "$(elapsed "run_$k")"
        done
        ((r + 1 == rounds)) || warm
    fi
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "quillsum $quillsum; tree $tree ($(find "$tree" -type f | wc -l) files)"
echo "best of $rounds interleaved rounds, $(nproc) processors;" \
    "load average $load_before before, $load_after after"
echo "speed: peer's best time / quillsum's (above 1: quillsum is faster)"
row() {  # row <label> <quillsum's key> <peer's key> <target>
    awk -v label="$1" -v q="${best[$2]}" -v p="${best[$3]}" -v t="$4" 'BEGIN {
        ratio = p / q
        printf "  %-50s %6.2fx  target >= %4.1fx  %-7s  (%.3f s vs %.3f s)\n", label, ratio, t,
            (ratio >= t ? "met" : "NOT met"), q, p
    }'
}
row "tree, cached, vs jdupes -r" q_tree j_tree 2
row "tree, cached, vs the README recipe" q_tree u_tree 2
row "tree, cached, vs rmlint -T df" q_tree r_tree 5
if [ "$cold" = yes ]; then
    row "tree, cache dropped, vs jdupes -r" cold_q_tree cold_j_tree 1.5
    row "tree, cache dropped, vs fdupes -rn" cold_q_tree cold_f_tree 1.5
else
    echo "  tree, cache dropped: $cold"
fi
row "100 files of 1-20 MiB, cached, vs the README recipe" q_big u_big 10
row "100 files of 1-20 MiB, cached, vs jdupes -r" q_big j_big 1
awk -v q="${rss[q]}" -v j="${rss[j]}" 'BEGIN {
    printf "peak RSS over 200,000 files of 8 bytes, names of 20 bytes (least of the rounds):\n"
    printf "  quillsum --duplicates %d KiB (%.0f bytes a file), jdupes -r %d KiB\n", q,
        q * 1024 / 200000, j
    printf "  target <= 40960 KiB: %s\n", (q <= 40960 ? "met" : "NOT met")
}'
echo "whole run, the data's making included: $SECONDS s"
