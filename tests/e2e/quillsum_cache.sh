#!/usr/bin/env bash
# End-to-end cases of quillsum --cache: a cached run prints exactly what an uncached run
# prints, and what sha256sum and the length say, whatever the cache file holds and whatever
# happened to the tree or to the cache's write. Usage:
#   quillsum_cache.sh <case> <quillsum> [<quillsum_fault>]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=e2e_lib.sh
source "$here/e2e_lib.sh" quillsum "$@"

# A line's end as $(...) leaves it: the CR of a Windows line stays, the line feed goes.
CR=${EOL%$'\n'}

# oracle <tree>: the lines of an uncached run over the tree, from sha256sum and the length.
oracle() {
    find "$1" -type f -print0 | LC_ALL=C sort -z >files0
    identifiers_of0 files0 | paste -d '\0' - <(tr '\0' '\n' <files0 | sed 's/^/  /') |
        sed "s/\$/$CR/" >oracle.out
}

# same_as_oracle <what>: the last run printed exactly the oracle's lines, nothing on stderr.
same_as_oracle() {
    [ "$rc" = 0 ] && [ ! -s stderr.bin ] && cmp -s oracle.out stdout.bin ||
        fail "$1: exit $rc, stderr '$(cat stderr.bin)', $(diff oracle.out stdout.bin | head -5)"
}

# reads_nothing <args>...: the fault build over the cache reads no file of the tree. The
# cache itself takes two reads (its bytes, then the end); a third read of anything fails
# with error 5 and would show. The same fault on a run that must read a file proves that it
# does.
reads_nothing() {
    need_fault
    [ "$(stat -c %s ids)" -lt 65536 ] || fail "the cache outgrew one read: $(stat -c %s ids)"
    QUILLMARK_FAULTS=ReadFile:3:5 run_exe "$fault_exe" "$@"
}

case "$case_name" in
random_changes)
    # A tree changed at random between runs, from a seed printed on failure: contents
    # rewritten at their length with their times put back, times set back, renames, hard
    # links, deletions, files replaced by new ones that may take the old inode. Every cached
    # run, at any -j, prints what an uncached run and sha256sum print.
    seed=${QUILLSUM_CACHE_SEED:-25}
    RANDOM=$seed
    fail_seeded() { fail "seed $seed (QUILLSUM_CACHE_SEED=$seed reruns it), round $round: $*"; }
    mkdir -p T/sub
    for i in $(seq 1 30); do head -c $((RANDOM % 5000)) /dev/urandom >"T/f$i"; done
    for i in $(seq 1 6); do head -c $((RANDOM % 200000)) /dev/urandom >"T/sub/g$i"; done
    ln T/f1 T/sub/h1
    touch -d '3 days ago' stamp
    change() {  # change <file>: one random change of it
        local f=$1 size
        [ -e "$f" ] || return 0  # changed away earlier in the round
        size=$(stat -c %s "$f")
        case $((RANDOM % 7)) in
        0) touch -r "$f" t.ref && head -c "$size" /dev/urandom >t.new && cat t.new >"$f" &&
            touch -r t.ref "$f" ;;
        1) touch -r stamp "$f" ;;
        2) mv "$f" "$f.m$RANDOM" ;;
        3) ln "$f" "${f%/*}/h$RANDOM" ;;
        4) rm "$f" ;;
        5) # A new file in the old one's place: the freed inode is the likeliest for it.
            touch -r "$f" t.ref && rm "$f" && head -c "$size" /dev/urandom >"$f" &&
                touch -r t.ref "$f" ;;
        6) touch -r "$f" t.ref && printf x | dd of="$f" bs=1 seek=$((size / 2)) conv=notrunc \
            status=none && touch -r t.ref "$f" ;;
        esac
    }
    for round in $(seq 1 10); do
        mapfile -t files < <(find T -type f)
        for _ in 1 2 3 4 5; do change "${files[RANDOM % ${#files[@]}]}"; done
        # Every other round the times first grow old enough for the records to be kept.
        [ $((round % 2)) = 1 ] || aged T
        oracle T
        run -r T
        [ "$rc" = 0 ] && cmp -s oracle.out stdout.bin || fail_seeded "uncached: $(cat stderr.bin)"
        for j in 1 3; do
            run -r -j $j T --cache=ids
            [ "$rc" = 0 ] && [ ! -s stderr.bin ] && cmp -s oracle.out stdout.bin ||
                fail_seeded "-j $j: exit $rc, $(cat stderr.bin), $(diff oracle.out stdout.bin | head)"
        done
    done
    [ -s ids ] || fail "no record was ever kept (seed $seed)"
    ;;
racy)
    # A file rewritten at once after a run that read it, at its length and with its times
    # put back (touch -r, and touch -d with the old time to the nanosecond), is read again.
    for how in ref date; do
        for i in 1 2 3 4 5; do
            printf "aaa$i" >f
            run f --cache=ids
            L f
            expect 0
            touch -r f t.ref
            printf "bbb$i" >f
            if [ $how = ref ]; then
                touch -r t.ref f
            else
                touch -d "@$(stat -c %.9Y t.ref)" f
            fi
            [ "$(stat -c %s.%.9Y f)" = "4.$(stat -c %.9Y t.ref)" ] || fail "the time was not kept"
            run f --cache=ids
            L f
            expect 0
        done
    done
    # Once its times are old the file's record is kept and used: nothing of it is read.
    aged f
    run f --cache=ids
    L f
    expect 0
    if [ -n "$fault_exe" ] && ! on_windows; then
        reads_nothing f --cache=ids
        L f
        expect 0
    fi
    ;;
damaged_cache)
    # A cache cut, torn, flipped or foreign never changes the output. One that is ours but
    # damaged is silently used for what still checks; one that is none of ours is named once
    # on standard error, the run goes on without it and leaves it as it is.
    mkdir T
    for i in $(seq 1 9); do head -c $((i * 700)) /dev/urandom >"T/f$i"; done
    aged T
    oracle T
    run -r T --cache=ids
    same_as_oracle "filling"
    cp ids good
    size=$(stat -c %s good)
    flip() {  # flip <offset>: one bit of ids changed
        printf "\\x$(printf %02x $((0x$(od -An -tx1 -j "$1" -N1 ids | tr -d ' ') ^ 0x04)))" |
            dd of=ids bs=1 seek="$1" conv=notrunc status=none
    }
    # Records of 128 bytes after a header of 16: a flip in an identity, in two digests, in an
    # identifier's length, in a checksum.
    for damage in "flip 17" "flip $((16 + 2 * 128 + 80))" "flip $((16 + 5 * 128 + 103))" \
        "flip $((16 + 4 * 128 + 66))" "flip $((size - 1))" "truncate -s -1 ids" \
        "truncate -s $((size / 3)) ids" "truncate -s 17 ids" "truncate -s 0 ids" \
        "dd if=good of=ids bs=1 skip=40 seek=$((size / 2)) count=100 conv=notrunc status=none" \
        "dd if=/dev/urandom of=ids bs=1 seek=$((size / 3)) count=$((size / 3)) conv=notrunc status=none"; do
        cp good ids
        $damage
        run -r T --cache=ids
        same_as_oracle "$damage"
        # The cache it leaves is whole again: a run then reads nothing.
        if [ -n "$fault_exe" ] && ! on_windows; then
            reads_nothing -r T --cache=ids
            same_as_oracle "after $damage, the repaired cache"
        fi
    done
    for other in "sha256sum output" "$(head -c 300 /dev/urandom | od -An -tx1 | head -3)"; do
        printf '%s\n' "$other" >ids
        cp ids before
        run -r T --cache=ids
        [ "$rc" = 0 ] && cmp -s oracle.out stdout.bin && cmp -s ids before &&
            [ "$(cat stderr.bin)" = "quillsum: ids: not a quillsum cache; not used, left as it is$CR" ] ||
            fail "foreign: exit $rc, '$(cat stderr.bin)'"
    done
    ;;
shared_cache)
    # Two runs started together on one cache, each held after it read the cache until both
    # are: their replaces race for the lock, and neither loses the other's records. A third
    # run then finds every file in the cache. Under Wine the runs are Windows processes on the
    # real LockFileEx and MoveFileExW.
    mkdir A B
    for i in $(seq 1 20); do
        head -c $((i * 50)) /dev/urandom >"A/a$i"
        head -c $((i * 70)) /dev/urandom >"B/b$i"
    done
    aged A B
    for order in together first_a first_b; do
        rm -f ids hold_a hold_b
        mkfifo hold_a hold_b
        exec 3<>hold_a 4<>hold_b
        invoke -r A hold_a --cache=ids >a.out 2>a.err 3>&- 4>&- &
        run_a=$!
        invoke -r B hold_b --cache=ids >b.out 2>b.err 3>&- 4>&- &
        run_b=$!
        wait_until 30 "run A in its read of its FIFO" waits_in_read hold_a
        wait_until 30 "run B in its read of its FIFO" waits_in_read hold_b
        case $order in
        together) exec 3>&- 4>&- ;;
        first_a) exec 3>&- && { wait $run_a || fail "A: $(cat a.err)"; } && exec 4>&- ;;
        first_b) exec 4>&- && { wait $run_b || fail "B: $(cat b.err)"; } && exec 3>&- ;;
        esac
        wait $run_a || fail "$order, A: exit $?, $(cat a.err)"
        wait $run_b || fail "$order, B: exit $?, $(cat b.err)"
        [ ! -s a.err ] && [ ! -s b.err ] || fail "$order: $(cat a.err b.err)"
        oracle A
        cat oracle.out >ab.out
        oracle B
        cat ab.out oracle.out >oracle.both
        mv oracle.both oracle.out
        if [ -n "$fault_exe" ]; then
            reads_nothing -r A B --cache=ids
        else
            run -r A B --cache=ids
        fi
        same_as_oracle "$order: the third run"
        # The hold FIFOs are operands: their empty reads are lines of their own.
        [ "$(grep -c . a.out)" = 21 ] && [ "$(grep -c . b.out)" = 21 ] || fail "$order: lines"
    done
    ;;
duplicates)
    # Duplicates mode with a cache prints the groups it prints without one: a second run
    # over an aged tree reads nothing; a new copy among known files, the only unknown file
    # of their length, is read and grouped with them; a rewritten file is read again.
    mkdir T
    head -c 40000 /dev/urandom >T/a && cp T/a T/b && cp T/a T/c
    head -c 40001 /dev/urandom >T/d
    printf 'same bytes' >T/e && printf 'same bytes' >T/f
    aged T
    groups() { for f in T/a T/b T/c; do L $f; done; T "$EOL"; L T/e; L T/f; }
    for cache in '' --cache=ids --cache=ids; do
        run --duplicates T $cache
        groups
        expect 0
    done
    if [ -n "$fault_exe" ] && ! on_windows; then
        reads_nothing --duplicates T --cache=ids
        groups
        expect 0
    fi
    cp T/a T/0
    run --duplicates T --cache=ids
    for f in T/0 T/a T/b T/c; do L $f; done; T "$EOL"; L T/e; L T/f
    expect 0
    cp T/d T/c
    run --duplicates T --cache=ids
    for f in T/0 T/a T/b; do L $f; done; T "$EOL"; L T/c; L T/d; T "$EOL"; L T/e; L T/f
    expect 0
    ;;
jobs)
    # -j does not change what is printed, cold or warm, over files small and large.
    folders=(T T/d1 T/d1/d2)
    mkdir -p "${folders[@]}"
    for i in $(seq 1 40); do head -c $((i * i * 37)) /dev/urandom >"${folders[i % 3]}/f$i"; done
    aged T
    oracle T
    for j in 1 2 7 1 16; do
        run -r -j $j T --cache=ids
        same_as_oracle "-j $j"
    done
    ;;
listed)
    # A warm run over a walked tree answers each file its cache knows from what the folder's
    # listing tells of it: not one file of the tree is opened, and the lines are an uncached
    # run's. A file operand and a file reached through a followed link are still opened; a
    # listing that cannot tell identities leaves every file to be opened, with the same lines.
    mkdir -p T/d
    for i in $(seq 1 12); do head -c $((i * 301)) /dev/urandom >"T/d/f$i"; done
    printf 'top' >T/a
    ln T/d/f5 T/b
    aged T
    oracle T
    for pass in filling warm; do
        run -r T --cache=ids
        same_as_oracle "$pass"
        # One record of 128 bytes for each of the 13 files (two names of one file are one),
        # after the header's 16, kept from what the first run's listings told.
        [ "$(wc -c <ids)" = $((16 + 13 * 128)) ] || fail "$pass: a cache of $(wc -c <ids) bytes"
    done
    # strace follows a native run only: under qemu it would trace the emulator.
    if ! on_windows && [ -z "$emulator" ]; then
        ln -s d/f3 T/link
        strace -f -o trace -e trace=open,openat,openat2 "$exe" -r T --cache=ids >stdout.bin
        cmp -s oracle.out stdout.bin || fail "under strace: $(diff oracle.out stdout.bin | head -5)"
        opened=$(grep -oE '"T/(a|b|d/f[0-9]+)"' trace | sort -u | tr '\n' ' ')
        [ -z "$opened" ] || fail "known files opened: $opened"
        strace -f -o trace -e trace=open,openat,openat2 "$exe" -L -r T T/d/f7 --cache=ids >/dev/null
        opened=$(grep -oE '"T/(a|link|d/f[0-9]+)"' trace | sort -u | tr '\n' ' ')
        [ "$opened" = '"T/d/f7" "T/link" ' ] || fail "-L and an operand: opened $opened"
        rm T/link
    fi
    if [ -n "$fault_exe" ]; then
        QUILLMARK_FAULTS=FileIdBothDirectoryInfo:1:5,FileIdBothDirectoryInfo:2:5 \
            run_exe "$fault_exe" -r T --cache=ids
        same_as_oracle "listings without identities"
    fi
    ;;
unreadable)
    # A file made unreadable after a run kept its record (chmod moves its change time) is
    # opened and refused, as a run without the cache refuses it, whether it was walked or named.
    need_posix "Wine run as root reads any file, and a Windows ACL is not made here"
    mkdir -p T c
    for i in 1 2 3 4; do head -c $((i * 999)) /dev/urandom >"T/f$i"; done
    as_user=()
    if [ "$(id -u)" = 0 ]; then
        # root reads anything: the runs are made as nobody.
        chmod 755 "$work"
        chmod 777 c
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    fi
    as() { timeout 60 "${as_user[@]}" $emulator "$exe" "$@" >stdout.bin 2>stderr.bin; rc=$?; }
    aged T
    as -r T T/f2 --cache=c/ids
    as -r T T/f2 --cache=c/ids
    chmod 000 T/f2 T/f3
    as -r T T/f2
    [ "$rc" = 2 ] || fail "uncached: exit $rc"
    mv stdout.bin want.out
    mv stderr.bin want.err
    aged T
    as -r T T/f2 --cache=c/ids
    [ "$rc" = 2 ] && cmp -s want.out stdout.bin && cmp -s want.err stderr.bin ||
        fail "cached: exit $rc, $(diff want.out stdout.bin) $(diff want.err stderr.bin)"
    grep -q 'T/f3: Permission denied' stderr.bin || fail "$(cat stderr.bin)"
    ;;
write_faults)
    # A full disk or a failed step anywhere in the cache's replace leaves the old cache whole
    # (or, once renamed, the new one), no temporary file behind, and the run's output right.
    need_fault
    mkdir T
    for i in 1 2 3 4 5; do head -c $((i * 999)) /dev/urandom >"T/f$i"; done
    aged T
    oracle T
    run -r T/f1 T/f2 --cache=ids
    cp ids old
    for step in "LockFileEx:1:33|cannot lock the cache: Device or resource busy" \
        "LockFileEx:2:33|cannot lock the cache: Device or resource busy" \
        "WriteFile:1:112|cannot write the cache: No space left on device" \
        "FlushFileBuffers:1:112|cannot write the cache: No space left on device" \
        "MoveFileExW:1:5|cannot write the cache: Permission denied" \
        "MoveFileExW:1:5,DeleteFileW:1:5|cannot write the cache: Permission denied" \
        "ReadFile:9:5|cannot read the cache: Permission denied" \
        "UnlockFileEx:2:6|"; do
        cp old ids
        QUILLMARK_FAULTS=${step%%|*} run_exe "$fault_exe" -j1 -r T --cache=ids
        words=${step#*|}
        [ "$rc" = 0 ] && cmp -s oracle.out stdout.bin || fail "${step%%|*}: exit $rc, $(cat stderr.bin)"
        [ "$(cat stderr.bin)" = "${words:+quillsum: ids: $words$CR}" ] ||
            fail "${step%%|*}: stderr '$(cat stderr.bin)', expected '$words'"
        if [ -n "$words" ]; then
            cmp -s ids old || fail "${step%%|*}: the old cache was not kept"
        fi
        [ ! -e ids.tmp ] || [[ $step == *DeleteFileW* ]] || fail "${step%%|*}: ids.tmp left"
        # The next run replaces it in full (over a temporary file left behind too).
        run -r T --cache=ids
        same_as_oracle "after ${step%%|*}"
        [ ! -e ids.tmp ] || fail "after ${step%%|*}: ids.tmp left"
        reads_nothing -r T --cache=ids
        same_as_oracle "after ${step%%|*}, the new cache"
    done
    # Every open of the run failing in turn: whatever it hit, every line printed is right,
    # every file not printed is named on standard error, and the cache is the old one or a
    # new one that gives the right lines.
    hit_write=0
    for n in $(seq 1 30); do
        cp old ids
        QUILLMARK_FAULTS=CreateFileW:$n:112 run_exe "$fault_exe" -j1 -r T --cache=ids
        grep -qxvFf oracle.out stdout.bin && fail "CreateFileW:$n: a wrong line: $(cat stdout.bin)"
        [ $(($(wc -l <stdout.bin) + $(grep -vc 'the cache' stderr.bin))) = 5 ] ||
            fail "CreateFileW:$n: $(cat stdout.bin stderr.bin)"
        grep -q 'cannot write the cache' stderr.bin && hit_write=1
        [ ! -e ids.tmp ] || fail "CreateFileW:$n: ids.tmp left"
        if ! cmp -s ids old; then
            run -r T --cache=ids
            same_as_oracle "CreateFileW:$n, the new cache"
        fi
    done
    [ $hit_write = 1 ] || fail "no open of the new cache was hit"
    ;;
*)
    fail "no such case"
    ;;
esac
exit 0
