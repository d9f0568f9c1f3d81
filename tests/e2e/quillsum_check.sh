#!/usr/bin/env bash
# End-to-end cases of quillsum -c. The differential runs sha256sum -c and quillsum -c on
# the same files, with the same change made to them, and requires the same standard output
# byte for byte, the same standard error once sha256sum's words are changed to ours, and
# the exit status by our rule (0 matched; 1 the files differ; 2 trouble). sha256sum is the
# oracle for every message. Usage: quillsum_check.sh <case> <quillsum> [<quillsum_fault>]
# On Windows quillsum's lines end in CR LF; they are compared without the CR.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=e2e_lib.sh
source "$here/e2e_lib.sh" quillsum "$@"
export LC_ALL=C.UTF-8  # sha256sum quotes names by the locale's rules

strip_cr() { if on_windows; then tr -d '\r'; else cat; fi; }
# listed <files...>: quillsum's list of the files; a run that failed is no list to check.
listed() {
    invoke -- "$@" >list.raw 2>list.err ||
        fail "making the list: exit code $?, '$(cat list.err)'"
    strip_cr <list.raw
}
# sha256sum's words become ours: the program's name, and "checksum" becomes "identifier".
our_words() {
    sed -e 's/^sha256sum: /quillsum: /' -e 's/SHA256 checksum/identifier/g' \
        -e 's/checksums/identifiers/g' -e 's/checksum/identifier/g'
}

# Files every row starts from, and their two lists: sha256sum's and quillsum's.
fresh_files() {
    rm -rf f && mkdir f && (
        cd f || exit 1
        printf abc >a
        head -c 100000 /dev/urandom >big
        printf 'two words' >'x y'
        printf quote >"it's"
        : >empty
        mkdir -p sub && printf deep >sub/d
    )
}
names=(f/a f/big 'f/x y' "f/it's" f/empty f/sub/d)

# differ <row> <quillsum status> <setup command> [options...]: one row of the table. The
# setup runs after both lists are made (the change to the files, or to the lists: it sees
# them as S and Q and must treat both alike).
differ() {
    local row=$1 want=$2 setup=$3
    shift 3
    fresh_files
    sha256sum -- "${names[@]}" >S
    listed "${names[@]}" >Q
    eval "$setup" || fail "$row: setup failed"
    cp S LIST
    sha256sum -c "$@" LIST >s.out 2>s.err </dev/null
    local src=$?
    cp Q LIST
    invoke -c "$@" LIST >q.raw 2>q.eraw </dev/null
    local qrc=$?
    strip_cr <q.raw >q.out
    strip_cr <q.eraw >q.err
    our_words <s.err >s.words
    cmp -s s.out q.out || fail "$row: stdout differs: sha256sum '$(cat -A s.out)', quillsum '$(cat -A q.out)'"
    cmp -s s.words q.err || fail "$row: stderr differs: sha256sum '$(cat -A s.words)', quillsum '$(cat -A q.err)'"
    [ "$qrc" = "$want" ] ||
        fail "$row: exit code $qrc, expected $want; without options: $(invoke -c LIST 2>&1 | tr '\n' '|')"
    { [ "$src" = 0 ] && [ "$qrc" = 0 ]; } || { [ "$src" != 0 ] && [ "$qrc" != 0 ]; } ||
        fail "$row: sha256sum exit code $src against ours $qrc"
}

both() { sed -i "$1" S Q; }                       # the same edit on both lists
junk() { printf '%s\n' "$@" | tee -a S >>Q; }   # the same lines added to both

# The differential comes in four parts, each a test of its own, so that no one of them
# runs long under an emulator: what changes in the files, the options, how the lines are
# written, and several lists.
case "$case_name" in
differential_files)
    differ all_match 0 ':'
    differ same_length_changed 1 'printf abd >f/a'
    differ length_changed 1 'printf more >>f/big'
    differ one_missing 1 'rm "f/x y"'
    differ two_missing 1 'rm f/a "f/it'"'"'s"'
    differ directory_listed 2 'rm f/a && mkdir f/a'
    differ missing_and_changed 1 'rm f/a && printf x >>f/big'
    differ malformed_lines 0 'junk "not a line" "$(printf "%080d" 0)"'
    differ malformed_strict 2 'junk garbage' --strict
    differ malformed_warn 0 'junk garbage "  "' --warn
    differ only_malformed 2 'echo junk >S && echo junk >Q'
    differ comments_and_blank 0 'junk "# a comment" ""'
    ;;
differential_options)
    differ quiet 1 'printf abd >f/a' --quiet
    differ quiet_all_match 0 ':' --quiet
    differ status 1 'printf abd >f/a; rm f/empty' --status
    differ quiet_then_warn 0 'junk garbage' --quiet --warn
    differ warn_then_status 0 'junk garbage' --warn --status
    differ status_then_quiet 1 'printf abd >f/a' --status --quiet
    differ warn_then_quiet 0 'junk garbage' -w --quiet
    differ status_then_warn 0 'junk garbage' --status --warn
    differ quiet_then_status 1 'printf abd >f/a' --quiet --status
    differ ignore_missing 0 'rm f/a f/big' --ignore-missing
    differ ignore_missing_none_verified 2 'rm f/a f/big "f/x y" "f/it'"'"'s" f/empty f/sub/d' --ignore-missing
    differ ignore_missing_only_failed 2 'sed -i "/x y\|it.s\|empty\|sub\|big/d" S Q; printf abd >f/a' --ignore-missing
    ;;
differential_lines)
    differ crlf_list 0 'both "s/\$/\r/"'
    differ star_and_two_spaces 0 'both "1s/  / */"'
    differ one_space 0 'both "s/  / /"'
    differ two_spaces_then_one_space 0 'both "2,\$s/  / /"'
    differ plain_first_then_modes 1 'both "1s/  / /"'
    differ tab_parting 0 'both "s/  /\t/"'
    differ lower_case_digits 0 'sed -i "s/^[0-9A-F]*/\L&/" Q'
    differ leading_blanks 0 'both "s/^/ \t/"'
    # A listed "-" is standard input (here empty, as every row's).
    differ dash_is_standard_input 0 'sha256sum - >>S </dev/null && invoke - </dev/null | strip_cr >>Q'
    if ! on_windows; then
        differ escaped_names 0 'printf n >$'"'"'f/new\nline'"'"' && printf b >"f/back\\slash" &&
            printf nb >$'"'"'f/b\\oth\n'"'"' &&
            sha256sum -- $'"'"'f/new\nline'"'"' "f/back\\slash" $'"'"'f/b\\oth\n'"'"' >>S &&
            listed $'"'"'f/new\nline'"'"' "f/back\\slash" $'"'"'f/b\\oth\n'"'"' >>Q'
        differ escaped_name_missing 1 'printf n >$'"'"'f/new\nline'"'"' &&
            sha256sum -- $'"'"'f/new\nline'"'"' >>S && invoke -- $'"'"'f/new\nline'"'"' >>Q &&
            rm $'"'"'f/new\nline'"'"''
    fi
    ;;
differential_lists)
    # Several lists: each gets its own summary, in order.
    fresh_files
    sha256sum f/a f/big >S1 && sha256sum 'f/x y' >S2
    listed f/a f/big >Q1 && listed 'f/x y' >Q2
    echo junk >>S1 && echo junk >>Q1
    printf abd >f/a
    rm 'f/x y'
    cp S1 L1 && cp S2 L2
    sha256sum -c L1 L2 >s.out 2>s.err
    cp Q1 L1 && cp Q2 L2
    invoke -c L1 L2 >q.raw 2>q.eraw
    rc=$?
    strip_cr <q.raw >q.out && strip_cr <q.eraw >q.err && our_words <s.err >s.words
    cmp -s s.out q.out && cmp -s s.words q.err && [ "$rc" = 1 ] ||
        fail "two lists: '$(cat q.out q.err)' against '$(cat s.out s.words)', exit code $rc"
    # A list on standard input, and one that cannot be opened.
    echo junk | sha256sum -c - nolist >s.out 2>s.err
    echo junk | invoke -c - nolist >q.raw 2>q.eraw
    rc=$?
    strip_cr <q.raw >q.out && strip_cr <q.eraw >q.err && our_words <s.err >s.words
    cmp -s s.out q.out && cmp -s s.words q.err && [ "$rc" = 2 ] ||
        fail "standard input: '$(cat q.err)' against '$(cat s.words)', exit code $rc"
    # --warn names a list as sha256sum quotes it; and with both streams in one file, each
    # message comes after the verdicts printed before it.
    fresh_files
    sha256sum f/a 'f/x y' f/big >'my list' && echo junk >>'my list'
    cp 'my list' S
    invoke f/a 'f/x y' f/big | strip_cr >Q && echo junk >>Q
    rm 'f/x y'
    sha256sum -c -w 'my list' >s.out 2>&1
    cp Q 'my list'
    invoke -c -w 'my list' >q.raw 2>&1
    rc=$?
    strip_cr <q.raw >q.out && our_words <s.out >s.words
    cmp -s s.words q.out && [ "$rc" = 1 ] ||
        fail "one stream: '$(cat -A q.out)' against '$(cat -A s.words)', exit code $rc"
    ;;
tree)
    # --tree names every file under the tree that no list names, as -r would name it.
    mkdir -p data/sub data/old
    printf abc >data/a
    printf keep >data/sub/k
    printf gone >data/old/g
    invoke -r data >LIST
    printf new >data/new
    printf new >data/sub/z-new
    rm data/old/g
    printf abd >data/a
    for tree in data data/; do
        invoke -c LIST --tree="$tree" >out.raw 2>err.raw
        rc=$?
        strip_cr <out.raw >out && strip_cr <err.raw >err
        printf 'data/a: FAILED\ndata/old/g: FAILED open or read\ndata/sub/k: OK\ndata/new: NEW\ndata/sub/z-new: NEW\n' >want
        printf '%s\n' 'quillsum: data/old/g: No such file or directory' \
            'quillsum: WARNING: 1 listed file could not be read' \
            'quillsum: WARNING: 1 computed identifier did NOT match' \
            'quillsum: WARNING: 2 files in the tree are not listed' >want_err
        cmp -s want out || fail "--tree=$tree: stdout '$(cat -A out)'"
        cmp -s want_err err || fail "--tree=$tree: stderr '$(cat -A err)'"
        [ "$rc" = 1 ] || fail "--tree=$tree: exit code $rc"
    done
    # A tree with nothing new and everything matching is a success; --status says nothing.
    invoke -r data >LIST
    invoke -c --status LIST --tree=data >out 2>err
    rc=$?
    [ "$rc" = 0 ] && [ ! -s out ] && [ ! -s err ] || fail "clean tree: exit code $rc, '$(cat out err)'"
    # One file no list names makes the status 1, every listed file matching.
    printf new >data/newer
    invoke -c LIST --tree=data >out.raw 2>err.raw
    rc=$?
    strip_cr <out.raw | grep -v ': OK$' >out
    strip_cr <err.raw >err
    [ "$rc" = 1 ] && [ "$(cat out)" = "data/newer: NEW" ] &&
        [ "$(cat err)" = "quillsum: WARNING: 1 file in the tree is not listed" ] ||
        fail "one new file: exit code $rc, '$(cat out err)'"
    for tree in missing data/a; do
        invoke -c LIST --tree=$tree >out 2>err.raw
        rc=$?
        strip_cr <err.raw >err
        reason='No such file or directory' && [ $tree = missing ] || reason='Not a directory'
        [ "$rc" = 2 ] && [ "$(grep -v WARNING err)" = "quillsum: $tree: $reason" ] ||
            fail "--tree=$tree: exit code $rc, '$(cat err)'"
    done
    # With -L, what links under the tree lead to is walked, under the links' names.
    on_windows && exit 0
    ln -s ../../outside/o data/sub/link-file && ln -s ../outside data/link-dir
    mkdir outside && printf o >outside/o
    invoke -r data >LIST
    invoke -c LIST --tree=data -L >out.raw 2>err
    rc=$?
    printf '%s\n' data/link-dir/o data/sub/link-file >want
    grep -v ': OK$' out.raw | sed 's/: NEW$//' | diff - want >/dev/null && [ "$rc" = 1 ] ||
        fail "-L: exit code $rc, '$(cat out.raw)'"
    ;;
zero)
    # -c -z reads NUL-ended records and prints NUL-ended lines, nothing escaped.
    mkdir -p d
    printf abc >d/a
    # A name may end in CR there: it is the name's, not a line's end.
    if on_windows; then odd='d/odd name'; else odd=$'d/new\nline\\' && printf cr >d/$'cr\r'; fi
    printf odd >"$odd"
    invoke -r -z d >LIST
    printf x >>d/a
    invoke -c -z LIST >out 2>err
    rc=$?
    printf 'd/a: FAILED\0' >want
    on_windows || printf 'd/cr\r: OK\0' >>want
    printf '%s: OK\0' "$odd" >>want
    cmp -s want out || fail "stdout '$(cat -A out)'"
    [ "$rc" = 1 ] || fail "exit code $rc"
    ;;
list_troubles)
    # A list that cannot be read is named with its reason, and the status is 2.
    printf abc >abc
    mkdir folder
    id=$(identifier_of abc)
    invoke -c folder >out 2>err.raw
    rc=$?
    strip_cr <err.raw >err
    [ "$rc" = 2 ] && [ ! -s out ] && [ "$(cat err)" = "quillsum: folder: Is a directory" ] ||
        fail "-c folder: exit code $rc, '$(cat out err)'"
    if ! on_windows; then
        invoke -c - <folder >out 2>err
        rc=$?
        [ "$rc" = 2 ] && [ ! -s out ] && [ "$(cat err)" = "quillsum: 'standard input': Is a directory" ] ||
            fail "-c - <folder: exit code $rc, '$(cat out err)'"
    fi
    # A line past the record limit (256 KiB) is improperly formatted, however well it
    # reads; so is a name holding NUL, which is never cut there and checked as abc.
    { printf '%s  %0300000d\n' "$id" 0 && printf '%s  abc\0x\n' "$id" && printf '%s  abc\n' "$id"; } >LIST
    invoke -c -w LIST >out.raw 2>err.raw
    rc=$?
    strip_cr <out.raw >out && strip_cr <err.raw >err
    printf '%s\n' 'quillsum: LIST: 1: improperly formatted identifier line' \
        'quillsum: LIST: 2: improperly formatted identifier line' \
        'quillsum: WARNING: 2 lines are improperly formatted' >want_err
    [ "$rc" = 0 ] && [ "$(cat out)" = "abc: OK" ] && cmp -s want_err err ||
        fail "long line and NUL: exit code $rc, '$(head -c 300 out)' '$(head -c 300 err)'"
    ;;
size_first)
    # A file whose size already differs from its listed length fails without a byte of it
    # being read: a 3 GiB file listed as one byte shorter fails at once.
    if on_windows || [ -n "$emulator" ]; then
        echo "skipped: strace would follow the emulator's own calls"
        exit $skip
    fi
    command -v strace >/dev/null || { echo "skipped: no strace"; exit $skip; }
    truncate -s 3G big || exit $skip
    printf abc >small
    # The length 3 GiB - 1, little-endian, and any digest.
    printf 'FFFFFFBF00000000%s  big\n' "$(printf '%064d' 0)" >LIST
    printf '%s  small\n' "$(identifier_of small | sed 's/^03/04/')" >>LIST
    strace -f -e trace=openat,read,close -o trace "$exe" -c -j1 LIST >out 2>err
    rc=$?
    [ "$rc" = 1 ] || fail "exit code $rc"
    printf 'big: FAILED\nsmall: FAILED\n' >want
    cmp -s want out || fail "stdout '$(cat out)'"
    for f in big small; do
        fd=$(sed -n "s/.*openat(.*\"$f\", .*= \([0-9]*\)\$/\1/p" trace | head -1)
        [ -n "$fd" ] || fail "no openat of $f in the trace"
        awk -v fd="$fd" -v f="$f" '
            index($0, "\"" f "\"") && /openat/ { open = 1; next }
            open && $0 ~ ("read\\(" fd ",") { print; exit 1 }
            open && $0 ~ ("close\\(" fd "\\)") { exit 0 }' trace ||
            fail "$f was read although its size differs from the list"
    done
    # The same length with other bytes is read, and fails.
    printf abd >small2
    printf '%s  small2\n' "$(identifier_of small)" >LIST2
    strace -f -e trace=openat,read -o trace2 "$exe" -c -j1 LIST2 >out 2>err
    grep -q 'read([0-9]*, "abd"' trace2 || fail "a file of the listed length was not read"
    ;;
jobs)
    # Every -j gives the same bytes on both streams.
    mkdir -p d
    for i in $(seq 1 150); do head -c $((i * 13)) /dev/urandom >"d/f$i"; done
    invoke -r d >LIST
    echo junk >>LIST
    for i in 3 50 77 149; do printf x >>"d/f$i"; done
    rm d/f20 d/f120
    invoke -c -j1 LIST >one.out 2>one.err
    rc1=$?
    for j in 2 5; do
        invoke -c -j "$j" LIST >many.out 2>many.err
        rc=$?
        cmp -s one.out many.out && cmp -s one.err many.err && [ "$rc" = "$rc1" ] ||
            fail "-j $j differs from -j1"
    done
    [ "$rc1" = 1 ] || fail "exit code $rc1"
    ;;
other_system_lists)
    # A list with LF line ends (as Linux writes it) and one with CR LF (as Windows writes
    # it), both with '/' in names, check alike on either system.
    mkdir -p d/sub
    printf abc >d/sub/a
    printf '%s  d/sub/a\n' "$(identifier_of d/sub/a)" >lf
    printf '%s  d/sub/a\r\n' "$(identifier_of d/sub/a)" >crlf
    for list in lf crlf; do
        invoke -c "$list" >out.raw 2>err
        rc=$?
        strip_cr <out.raw >out
        [ "$rc" = 0 ] && [ "$(cat out)" = "d/sub/a: OK" ] && [ ! -s err ] ||
            fail "$list: exit code $rc, '$(cat out err)'"
    done
    ;;
readme_check_example)
    # The README's worked example, with a home and a backup folder of the test's own in
    # place of ~ and /media/backup.
    mkdir -p home media/backup
    cd home || exit 1
    mkdir -p photos/2024 photos/2025
    printf 'sand and sea' >photos/2024/beach.jpg
    printf 'ridges of sand' >photos/2024/dunes.jpg
    printf 'white' >photos/2025/snow.jpg
    invoke -r photos > photos.list
    cp -r photos ../media/backup/
    cd ../media/backup && printf 'ridges of sane' >photos/2024/dunes.jpg &&
        printf 'melt' >photos/2025/thaw.jpg || exit 1
    invoke -c ../../home/photos.list --tree=photos >out.raw 2>err.raw
    rc=$?
    strip_cr <out.raw >out && strip_cr <err.raw >err
    printf '%s\n' 'photos/2024/beach.jpg: OK' 'photos/2024/dunes.jpg: FAILED' \
        'photos/2025/snow.jpg: OK' 'photos/2025/thaw.jpg: NEW' >want
    printf '%s\n' 'quillsum: WARNING: 1 computed identifier did NOT match' \
        'quillsum: WARNING: 1 file in the tree is not listed' >want_err
    cmp -s want out || fail "stdout '$(cat out)'"
    cmp -s want_err err || fail "stderr '$(cat err)'"
    [ "$rc" = 1 ] || fail "exit code $rc"
    ;;
*)
    fail "no such case"
    ;;
esac
exit 0
