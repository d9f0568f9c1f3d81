#!/usr/bin/env bash
# End-to-end cases of quillsum --duplicates. The groups come from jdupes (it confirms byte
# for byte; its defaults leave empty files out and count a file's names once), compared as
# sets of files by device and inode; the exact bytes from those groups, sha256sum's digests
# and the walk order (duplicates_oracle.py). Usage: quillsum_duplicates.sh <case> <quillsum>
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=e2e_lib.sh
source "$here/e2e_lib.sh" quillsum "$@"

command -v jdupes >/dev/null ||
    skip_because "without jdupes (Debian: jdupes; tests/install_deps.sh installs it)"
oracle() { /usr/bin/python3 "$here/duplicates_oracle.py" "$@"; }
if on_windows; then ending=crlf; else ending=lf; fi

# same_as_jdupes <quillsum's options> -- <jdupes's options> -- <operand>...: the groups of
# quillsum -z, by device and inode, are jdupes's; stdout is, byte for byte, what the oracle
# makes of jdupes's groups, with -z and for each -j of $jobs (1 2 4 unless set); exit 0 and
# nothing on stderr. The last run's list is left in list.txt.
same_as_jdupes() {
    local ours=() peer=() j
    while [ "$1" != -- ]; do ours+=("$1"); shift; done
    shift
    while [ "$1" != -- ]; do peer+=("$1"); shift; done
    shift
    jdupes -r -0 -q "${peer[@]}" "$@" >peer.bin 2>peer.err ||
        fail "jdupes: $(head -3 peer.err)"
    run -D -z "${ours[@]}" "$@"
    [ "$rc" = 0 ] && [ ! -s stderr.bin ] || fail "-z: exit $rc: $(head -3 stderr.bin)"
    oracle groups ours stdout.bin >ours.groups 2>ours.err || fail "groups of ours: $(head -3 ours.err)"
    oracle groups peer peer.bin >peer.groups
    cmp -s ours.groups peer.groups ||
        fail "not jdupes's groups (by inode, < jdupes, > ours): $(diff peer.groups ours.groups | head -5)"
    oracle expect nul peer.bin "$@" >want.bin
    cmp -s stdout.bin want.bin || fail "-z bytes differ: $(cmp stdout.bin want.bin)"
    oracle expect $ending peer.bin "$@" >want.bin
    for j in ${jobs:-1 2 4}; do
        run -D -j$j "${ours[@]}" "$@"
        [ "$rc" = 0 ] && [ ! -s stderr.bin ] || fail "-j$j: exit $rc: $(head -3 stderr.bin)"
        cmp -s stdout.bin want.bin ||
            fail "-j$j bytes differ: $(diff <(cat -A want.bin) <(cat -A stdout.bin) | head -5)"
    done
    mv stdout.bin list.txt
}

# checks_clean <list>: quillsum -c finds every file of the list as it is.
checks_clean() {
    run -c "$1"
    [ "$rc" = 0 ] && [ ! -s stderr.bin ] && ! grep -v ': OK.\?$' stdout.bin >/dev/null ||
        fail "-c $1: exit $rc: $(grep -v ': OK.\?$' stdout.bin | head -3) $(head -3 stderr.bin)"
}

# awkward <root>: a tree of what a duplicate finder can get wrong, within what the system
# can name (on Windows a name holds no line feed, carriage return or backslash).
awkward() {
    local r=$1
    mkdir -p "$r/a/deep" "$r/b" "$r/many"
    head -c 3000 /dev/urandom >"$r/a/h"
    cp "$r/a/h" "$r/b/h-copy"
    # Hard links: a later name of a group's file, the first name of another in a folder
    # before it, and a file whose two names are all its copies: no group.
    ln "$r/a/h" "$r/b/h-link"
    ln "$r/b/h-copy" "$r/0-first"
    head -c 2000 /dev/urandom >"$r/solo"
    ln "$r/solo" "$r/b/solo-link"
    # Empty files, only compared with --min-size=0.
    : >"$r/e1"; : >"$r/a/e2"; : >"$r/b/e3"
    # One length, 100,000 bytes, larger than any first block: a different first byte; one
    # at 40,000, past a first block of a few KiB; the last byte; and the same bytes.
    head -c 100000 /dev/urandom >ref
    { printf A; tail -c +2 ref; } >"$r/first-a"
    { printf B; tail -c +2 ref; } >"$r/first-b"
    { head -c 40000 ref; printf M; tail -c +40002 ref; } >"$r/a/mid"
    { head -c 40000 ref; printf N; tail -c +40002 ref; } >"$r/b/mid"
    { head -c 99999 ref; printf T; } >"$r/tail-t"
    { head -c 99999 ref; printf U; } >"$r/tail-u"
    cp "$r/tail-t" "$r/b/tail-t-copy"
    cp ref "$r/b/ref"
    # Larger than several reads.
    head -c 300000 /dev/urandom >"$r/a/deep/big"
    cp "$r/a/deep/big" "$r/big-copy"
    # Many files of one length: 1,100 of 1,000 bytes from 400 contents, two or three of each,
    # more than a size's job hands on by copying, and more bytes than it holds at once to set
    # against each other (a MiB): the files read past that are hashed as they come.
    /usr/bin/python3 -c '
import os, sys
blocks = os.urandom(400000)
for i in range(1100):
    with open(f"{sys.argv[1]}/many/f{i}", "wb") as f:
        f.write(blocks[i % 400 * 1000:][:1000])
' "$r"
    # Names: non-ASCII everywhere, and where the system allows, the escaped ones.
    printf 'named copy' >"$r/$(printf 'caf\xc3\xa9')"
    printf 'named copy' >"$r/b/$(printf '\xe6\x97\xa5\xe6\x9c\xac')"
    printf 'named copy' >"$r/b/plain"
    if ! on_windows; then
        printf 'named copy' >"$r/"$'new\nline'
        printf 'named copy' >"$r/"$'carriage\rreturn'
        printf 'named copy' >"$r/back\\slash"
    fi
    printf x >"$r/x1"
    printf x >"$r/a/x2"
}

case "$case_name" in
format)
    # The groups' lines in walk order, an empty line between groups, groups in the walk
    # order of their first files; a lone file, a lone length and empty files in no group; a
    # second name of a file is not shown. The folder's operand as typed, without its last '/'.
    mkdir -p F/b
    printf other >F/a; printf same >F/b/one; printf same >F/c; printf other >F/d
    printf same >F/e; printf alone >F/lone; printf 'not alone' >F/long; : >F/z1; : >F/z2
    ln F/b/one F/b/one-link
    groups() { L F/a; L F/d; T "$EOL"; L F/b/one; L F/c; L F/e; }
    run --duplicates F/
    groups
    expect 0
    mv stdout.bin list.txt
    checks_clean list.txt
    # -z: every line ends in NUL, and every group with one more.
    run -D -z F
    for f in F/a F/d '' F/b/one F/c F/e ''; do
        if [ -n "$f" ]; then printf '%s  %s\0' "$(identifier_of $f)" $f; else printf '\0'; fi
    done >want.bin
    [ "$rc" = 0 ] && cmp -s stdout.bin want.bin && [ ! -s stderr.bin ] ||
        fail "-z: exit $rc, '$(cat -A stdout.bin)'"
    # --min-size: empty files are a group of their own with 0, and 5 leaves out 'same'.
    run -D --min-size=0 F
    groups; T "$EOL"; L F/z1; L F/z2
    expect 0
    run -D --min-size=5 F
    L F/a; L F/d
    expect 0
    # --summary: files compared (a file once, whatever its names), groups, duplicate
    # files, bytes in copies beyond the first.
    run -D --summary F
    groups
    beyond="in copies beyond the first of each group"
    E "7 files compared, 2 groups of duplicates, 3 duplicate files, 13 bytes $beyond"
    expect 0
    run -D --summary --min-size=6 F
    E "1 file compared, 0 groups of duplicates, 0 duplicate files, 0 bytes $beyond"
    expect 0
    # --json: one object a group on a line of its own, read back by jq into the lines.
    run -D --json F
    [ "$(tr -d '\r' <stdout.bin | jq -r .length | tr '\n' ' ')" = "5 4 " ] ||
        fail "--json: not two objects of lengths 5 and 4: $(cat -A stdout.bin)"
    tr -d '\r' <stdout.bin | jq -s -j --arg eol "$EOL" \
        'map(.identifier as $id | .names | map("\($id)  \(.)\($eol)") | add) | join($eol)' >json.txt
    [ "$(wc -l <stdout.bin)" = 2 ] && mv json.txt stdout.bin
    groups
    expect 0
    ;;
exit_codes)
    # Exit 0 with or without duplicates; 2 on trouble, with the groups still printed.
    mkdir -p F
    printf abc >F/a
    printf abcd >F/b
    run -D F
    expect 0
    printf abc >F/c
    run -D F missing F/a
    L F/a; L F/c
    E 'missing: No such file or directory'
    expect 2
    # Options refused, before anything is read.
    # shellcheck disable=SC2089,SC2090 # the quotes are the message's
    for c in "-D --min-size=x F|invalid minimum size: 'x'" \
        "-D|missing operand: --duplicates compares the files and folders it is given" \
        "--json F|the --json option is meaningful only when finding duplicates" \
        "-D -c F|the --duplicates option cannot be combined with --check"; do
        # shellcheck disable=SC2086 # the options are words
        run ${c%%|*}
        E "${c#*|}"
        want_err+="Try 'quillsum --help' for more information.$EOL"
        expect 2
    done
    ;;
awkward_trees)
    # jdupes's groups, and the oracle's bytes for every -j, with -z, with --min-size; a tree
    # named twice is no duplicate of itself.
    awkward T
    same_as_jdupes -- -- T
    checks_clean list.txt
    if ! on_windows; then
        # sha256sum -c agrees with the list, the lengths taken out of its identifiers.
        grep -v '^$' list.txt | sed -E 's/^(\\?)[0-9A-F]{16}/\1/' | sha256sum -c --quiet - ||
            fail "sha256sum -c"
    fi
    jobs=4
    same_as_jdupes --min-size=0 -- -z -- T
    same_as_jdupes --min-size=3000 -- -X size+=:3000 -- T
    same_as_jdupes -- -- T/ T/a T/b/h-link
    ;;
real_tree)
    # The machine's own /usr/share against jdupes, natively: a few seconds for each.
    [ -z "$emulator" ] || skip_because "under an emulator: the real tree is compared natively"
    tree=/usr/share
    [ -d $tree ] || skip_because "without $tree"
    jobs=$(nproc)
    same_as_jdupes -- -- $tree
    ;;
growing_file)
    # A file that grows after the walk saw its length is grouped by the bytes read: two
    # files of one length, longer than a first block, that both grow when opened are one
    # group with their new identifier, and a third of their old bytes is in no group.
    # grow_on_open.py appends to each when quillsum opens it, and the open waits for that.
    head -c 100000 /dev/urandom >T
    mkdir G
    cp T G/grows-1; cp T G/grows-2; cp T G/stays
    /usr/bin/python3 "$here/grow_on_open.py" ready "appended" G/grows-1 G/grows-2 &
    grower=$!
    wait_until 30 "watch on the opens" eval 'test -e ready || ! kill -0 $grower 2>/dev/null'
    if [ ! -e ready ]; then
        wait $grower
        [ $? = 77 ] && skip_because "without fanotify's permission events (root only)"
        fail "grow_on_open.py failed"
    fi
    run -D G
    # Each open waited for the growth: whatever was opened has grown by now.
    [ "$(stat -c %s G/grows-1 G/grows-2)" = $'100008\n100008' ] || {
        kill $grower
        fail "not both opened: $(stat -c %s G/grows-1 G/grows-2 | tr '\n' ' ')bytes"
    }
    wait $grower || fail "grow_on_open.py failed"
    L G/grows-1; L G/grows-2
    expect 0
    ;;
link_loop)
    # With -L a folder on the current path is a loop: one error, the walk and the groups go
    # on; a link to a file is one more name of it.
    mkdir -p T/a T/b
    printf abc >T/a/f
    printf abc >T/b/g
    ln -s .. T/a/up
    ln -s ../a/f T/b/to-f
    run -D -L T
    L T/a/f; L T/b/g
    E 'T/a/up: File system loop detected; not followed'
    expect 2
    ;;
unreadable)
    # A file that cannot be read is named, the status is 2, and the groups of the others
    # are printed, as jdupes finds them from the same user. One whose length no other file
    # has is never opened: no trouble.
    need_posix "Wine run as root reads any file, and a Windows ACL is not made here"
    awkward T
    cp T/b/h-copy T/b/unreadable
    head -c 12345 /dev/urandom >T/b/unreadable-lone
    chmod 000 T/b/unreadable T/b/unreadable-lone
    as_user=()
    if [ "$(id -u)" = 0 ]; then
        # root reads anything: the runs are made as nobody.
        chmod 755 "$work"
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    fi
    "${as_user[@]}" jdupes -r -0 -q T >peer.bin 2>/dev/null
    oracle expect $ending peer.bin T >want.txt
    E 'T/b/unreadable: Permission denied'
    timeout 60 "${as_user[@]}" $emulator "$exe" -D T >stdout.bin 2>stderr.bin
    rc=$?
    expect 2 "$(cat want.txt)$EOL"
    ;;
*)
    fail "no such case"
    ;;
esac
exit 0
