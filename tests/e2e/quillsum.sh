#!/usr/bin/env bash
# End-to-end cases of quillsum: run the built program and compare its exact standard output
# and standard error bytes and its exit code. Identifiers come from sha256sum and the
# length, never from our own code. Usage: quillsum.sh <case> <quillsum> [<quillsum_fault>]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=e2e_lib.sh
source "$here/e2e_lib.sh" quillsum "$@"

abc_id=0300000000000000BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD

case "$case_name" in
operands)
    # In the order given, errors in their place, and the run goes on after each.
    printf abc >abc
    : >empty
    head -c 70000 /dev/urandom >big
    mkdir dir
    run abc missing empty dir big abc
    L abc; L empty; L big; L abc
    E 'missing: No such file or directory'; E 'dir: Is a directory'
    expect 2
    # Both streams into one file: each message keeps its place among the lines.
    invoke abc missing empty >stdout.bin 2>&1
    rc=$?
    : >stderr.bin
    L abc; T "quillsum: missing: No such file or directory$EOL"; L empty
    expect 2
    run < <(printf abc)
    T "$abc_id  -$EOL"
    expect 0
    run - empty < <(printf abc)
    T "$abc_id  -$EOL"; L empty
    expect 0
    # A folder as standard input (a Linux shell opens one) cannot be read: trouble.
    if ! on_windows; then
        run <dir
        E '-: Is a directory'
        expect 2
    fi
    ;;
standard_input_binary)
    # Read as bytes on every system: CR LF and a NUL arrive as they are.
    printf 'a\r\nb\0c\r\n' >crlf
    run <crlf
    L crlf -
    expect 0
    ;;
escaped_names)
    need_posix "a name cannot hold a line feed, a carriage return or a backslash there"
    for name in 'back\slash' $'new\nline' $'carriage\rreturn' '-dash' 'plain'; do
        printf '%s' "$name" >"$name"
    done
    run -- 'back\slash' $'new\nline' $'carriage\rreturn' -dash plain
    L 'back\slash'; L $'new\nline'; L $'carriage\rreturn'; L -dash; L plain
    expect 0
    # With -z nothing is escaped and each line ends in NUL.
    run -z -- $'new\nline' 'back\slash'
    expect_nul 0 $'new\nline' 'back\slash'
    # A message names the file on one line, quoted as sha256sum quotes it.
    run $'no\nsuch' 'with space'
    E "'no'\$'\\n''such': No such file or directory"
    E "'with space': No such file or directory"
    expect 2
    # Quoted as sha256sum quotes them, row by row: brackets, DEL, a quote with a control
    # character (and sha256sum's odd start when such a name ends in one), escapes in a
    # row, a C1 control, four-byte UTF-8, a quote inside quotes, a lone brace.
    names=('[x]' 'a]' $'d\x7f' $'q\'\n' $'it\'s\t\tx' $'\t\'\t' $'a\xc2\x85b' $'\xf0\x9f\x98\x80'
        "a'b c" "a'b=c" '#a' "~a'b" '{')
    run -- "${names[@]}"
    LC_ALL=C.UTF-8 sha256sum -- "${names[@]}" 2>&1 >/dev/null | sed 's/^sha256sum: /quillsum: /' >want_err.txt
    want_err=$(cat want_err.txt)$'\n'
    expect 2
    ;;
tree_order)
    # Depth first, each folder's entries in the byte order of their UTF-8 names, files and
    # folders alike; the folder operand as typed, joined with one '/'.
    mkdir -p T/a/deep T/b "T/with space"
    for f in T/B T/a/deep/x T/a/z T/a.txt T/b/1 "T/with space/s" T/-dash T/$'\xc3\xa9t\xc3\xa9' T/Zed \
        T/..hidden; do
        printf '%s' "$f" >"$f"
    done
    : >T/a/empty
    # A name of dots alone is a name, not the folder or its parent (Windows drops the
    # trailing dots of such a folder's name).
    on_windows || { mkdir T/... && printf dots >T/.../x; }
    order() {
        L T/-dash; on_windows || L T/.../x; L T/..hidden
        L T/B; L T/Zed; L T/a/deep/x; L T/a/empty; L T/a/z; L T/a.txt; L T/b/1
        L "T/with space/s"; L T/$'\xc3\xa9t\xc3\xa9'
    }
    run -r T
    order
    expect 0
    run -r T/
    order
    expect 0
    run --recursive ./T/b T/a/z
    L T/b/1 ./T/b/1; L T/a/z
    expect 0
    if on_windows; then
        # A backslash in an operand is a separator there, printed as '/'.
        run -r 'T\b'
        L T/b/1
        expect 0
    fi
    # Without -r a folder is an error, with or without a trailing separator.
    run T/
    E 'T/: Is a directory'
    expect 2
    ;;
tree_special_entries)
    need_posix "Wine shows FIFOs and POSIX symbolic links as what they lead to"
    mkdir -p T/sub
    printf abc >T/sub/f
    printf 1 >T/one
    mkfifo T/fifo
    ln -s sub T/link-dir
    ln -s one T/link-file
    ln -s nowhere T/link-dangling
    # Not followed and not listed; the FIFO is never opened and only noted.
    run -r T
    L T/one; L T/sub/f
    E 'T/fifo: not a regular file; skipped'
    expect 0
    # Followed with -L: the dangling link is an error, the rest is walked.
    run -r -L T
    L T/sub/f T/link-dir/f; L T/one T/link-file; L T/one; L T/sub/f
    E 'T/fifo: not a regular file; skipped'; E 'T/link-dangling: No such file or directory'
    expect 2
    # A FIFO named on the command line is read, as sha256sum reads it. Its writer is open
    # before quillsum starts (else the read could find no writer and an empty file), and
    # holds back the rest until quillsum waits in a read: that read must wait for it, not
    # fail for want of data.
    exec 3<>T/fifo
    printf a >&3
    (run T/fifo; exit "$rc") 3>&- &
    reader=$!
    wait_until 60 "read of T/fifo waiting for its writer" eval 'waits_in_read T/fifo || ! kill -0 $reader 2>/dev/null'
    printf bc >&3
    exec 3>&-
    wait "$reader"
    rc=$?
    T "$abc_id  T/fifo$EOL"
    expect 0
    ;;
links_and_descriptors)
    need_posix "Wine shows FIFOs and POSIX symbolic links as what they lead to, and has no ulimit of its own"
    # With -L a link to a FIFO or a device is noted and never opened: no hang on
    # /dev/zero, nor on a FIFO without a writer.
    mkdir T
    printf abc >T/f
    mkfifo fifo
    ln -s ../fifo T/to-fifo
    ln -s /dev/zero T/to-zero
    run -rL T
    L T/f
    E 'T/to-fifo: not a regular file; skipped'; E 'T/to-zero: not a regular file; skipped'
    expect 0
    # A folder's descriptor is closed before the next is opened: thousands of folders walk
    # within 32 descriptors, links followed or not, on one thread and on four.
    mkdir U
    (cd U && seq -f 'd%g/e' 2000 | xargs mkdir -p && printf abc >d1999/e/f && ln -s d1999 link)
    for args in -r -rL "-rL -j4"; do
        rm -f rc.txt
        # shellcheck disable=SC2086
        (ulimit -n 32 && run $args U && echo "$rc" >rc.txt)
        rc=$(cat rc.txt)
        L U/d1999/e/f
        [[ $args == *L* ]] && L U/d1999/e/f U/link/e/f
        expect 0
    done
    ;;
faults)
    # What a real file cannot be made to show, through the stand-in's fault seam.
    [ -n "$fault_exe" ] || skip_because "here: the stand-in's fault seam exists only in the Linux test build"
    exe=$fault_exe
    printf abc >abc
    head -c 100000 /dev/urandom >big
    # A read of standard input that fails part-way is trouble, never an identifier.
    QUILLMARK_FAULTS=ReadFile:2:23 run <big
    E '-: Input/output error'
    expect 2
    # A list whose second block cannot be read is named with its reason. The first block
    # ends inside a line naming abc: that cut record is never checked. big is listed with
    # abc's length, so it fails unread and takes no read of its own.
    id=$(identifier_of abc)
    {
        printf '%s  big\n' "$id"
        printf '#%065363d\n' 0
        printf '%s  abc' "$id"
        printf 'def\n'
    } >LIST
    [ "$(head -c 65536 LIST | tail -c 5)" = "  abc" ] || fail "the first block ends elsewhere"
    QUILLMARK_FAULTS=ReadFile:2:23 run -c LIST
    T "big: FAILED$EOL"
    E 'LIST: Input/output error'
    expect 2
    ;;
tree_loop)
    # A folder already on the current path is a loop: one error, and the walk goes on.
    mkdir -p T/a
    printf abc >T/a/f
    ln -s .. T/a/up
    run -rL T
    L T/a/f
    E 'T/a/up: File system loop detected; not followed'
    expect 2
    ;;
not_utf8)
    need_posix "every name is UTF-16 there"
    mkdir T
    printf abc >T/$'caf\xe9'
    printf abc >$'caf\xef\xbf\xbd' # what the name would become through U+FFFD
    printf abc >T/$'caf\xef\xbf\xbd'
    run $'caf\xe9'
    E "'caf'\$'\\351': Invalid or incomplete multibyte or wide character"
    expect 2
    run -r T
    L T/$'caf\xef\xbf\xbd'
    E $'T/caf\xef\xbf\xbd: Invalid or incomplete multibyte or wide character'
    expect 2
    # A folder operand whose name is not UTF-8 is not walked as its U+FFFD twin.
    mkdir $'D\xef\xbf\xbd' && printf g >$'D\xef\xbf\xbd/g' && mkdir $'D\xe9'
    run -r $'D\xe9'
    E "'D'\$'\\351': Invalid or incomplete multibyte or wide character"
    expect 2
    # Nor is a listed name checked against its twin.
    printf '%s  caf\xe9\n' "$(identifier_of $'caf\xef\xbf\xbd')" >LIST
    run -c LIST
    T $'caf\xe9: FAILED open or read'"$EOL"
    E "'caf'\$'\\351': Invalid or incomplete multibyte or wide character"
    E 'WARNING: 1 listed file could not be read'
    expect 2
    ;;
jobs_same_bytes)
    # Every -j gives the same bytes: many small files and a few large ones, nested.
    for d in 1 2 3; do
        mkdir -p "T/d$d/e"
        for i in $(seq 1 60); do
            head -c $(((i * 37 + d) % 3000)) /dev/urandom >"T/d$d/f$i"
        done
        head -c 300000 /dev/urandom >"T/d$d/e/large"
    done
    run -r -j1 T
    cp stdout.bin j1.bin
    [ "$rc" = 0 ] || fail "-j1: exit code $rc"
    [ "$(wc -l <j1.bin)" = 183 ] || fail "-j1: $(wc -l <j1.bin) lines"
    for j in 2 4 7; do
        run -r -j "$j" T
        [ "$rc" = 0 ] || fail "-j $j: exit code $rc"
        cmp -s j1.bin stdout.bin || fail "-j $j differs from -j1"
    done
    # And each line is the identifier of its file.
    tr -d '\r' <j1.bin | cut -c83- | tr '\n' '\0' >names0
    paste -d ' ' <(identifiers_of0 names0) <(tr '\0' '\n' <names0) | sed 's/ /  /' >want.txt
    tr -d '\r' <j1.bin | cmp -s - want.txt || fail "wrong lines: $(tr -d '\r' <j1.bin | diff - want.txt | head -3)"
    ;;
pool_race)
    # Messages in the window beside slow files, then more than a window of files behind
    # them: every -j gives the -j1 bytes and status, run after run. A message (a FIFO met in
    # a walk, an empty name in a list of names, a malformed line in a list to check) needs
    # no worker, and its place in the window is taken again while a worker still reads the
    # large file after it.
    rounds=3
    [ -z "$emulator" ] || rounds=1
    mkdir -p T/c
    pairs=$(seq 0 7)  # one for each worker at -j8
    for i in $pairs; do
        on_windows || mkfifo "T/a$i-fifo"
        head -c $((4 << 20)) /dev/urandom >"T/a$i-z-big"
    done
    for i in $(seq -w 1 2200); do printf %s "$i" >"T/c/c$i"; done
    { for i in $pairs; do printf '\0%s\0' "T/a$i-z-big"; done; printf '%s\0' T/c/c*; } >names0
    run -j1 --files0-from=names0
    [ "$rc" = 2 ] && [ "$(wc -l <stdout.bin)" = 2208 ] || fail "-j1 list of names: $rc"
    # The same files as a list to check, a malformed line after each large file.
    tr -d '\r' <stdout.bin | sed '/-z-big$/a not an identifier line' >check.txt
    for mode in "-r T" "--files0-from=names0" "-c --quiet check.txt"; do
        # shellcheck disable=SC2086
        run -j1 $mode
        mv stdout.bin j1.out
        mv stderr.bin j1.err
        j1_rc=$rc
        for j in 2 3 4 8; do
            for _ in $(seq $rounds); do
                # shellcheck disable=SC2086
                run -j $j $mode
                [ "$rc" = "$j1_rc" ] && cmp -s j1.out stdout.bin && cmp -s j1.err stderr.bin ||
                    fail "$mode -j $j: exit $rc (-j1: $j1_rc); $(cmp j1.out stdout.bin)"
            done
        done
    done
    # The list check holds: nothing differs, eight lines are malformed.
    [ "$j1_rc" = 0 ] && [ ! -s j1.out ] &&
        [ "$(tr -d '\r' <j1.err)" = "quillsum: WARNING: 8 lines are improperly formatted" ] ||
        fail "the check: exit $j1_rc, $(cat -A j1.out j1.err)"
    ;;
fault_read_under_jobs)
    # A read fails part-way through one file among hundreds while four workers read: the
    # error takes that file's place among the lines, every other line is right, and the
    # status is 2; in compute mode and in -c alike. Which file it hits is the threads'
    # choice: the message names it.
    [ -n "$fault_exe" ] || skip_because "without the fault seam (a build over the real Win32)"
    mkdir T
    for i in $(seq -w 1 240); do head -c $((70000 + 10#$i)) /dev/urandom >"T/f$i"; done
    printf 'T/f%s\0' $(seq -w 1 240) >names0
    identifiers_of0 names0 | paste -d ' ' - <(tr '\0' '\n' <names0) | sed 's/ /  /' >list
    for mode in compute check; do
        if [ $mode = compute ]; then args=(-r T); else args=(-c list); fi
        QUILLMARK_FAULTS=ReadFile:301:30 timeout 60 $emulator "$fault_exe" -j4 "${args[@]}" \
            >both.txt 2>&1
        rc=$?
        tr -d '\r' <both.txt >both
        bad=$(sed -n 's/^quillsum: \(T\/f[0-9]*\): Input\/output error$/\1/p' both)
        [ "$rc" = 2 ] && [ "$(printf %s "$bad" | grep -c .)" = 1 ] ||
            fail "$mode: exit $rc, $(grep -c 'quillsum:' both) messages"
        if [ $mode = compute ]; then
            sed "s|^[0-9A-F]*  $bad\$|quillsum: $bad: Input/output error|" list >want.txt
        else
            sed -e "s|^[0-9A-F]*  $bad\$|quillsum: $bad: Input/output error\n$bad: FAILED open or read|" \
                -e 's|^[0-9A-F]*  \(T/.*\)$|\1: OK|' list >want.txt
            echo 'quillsum: WARNING: 1 listed file could not be read' >>want.txt
        fi
        cmp -s both want.txt || fail "$mode: $(diff want.txt both | head -5)"
    done
    ;;
files0_from)
    printf abc >abc
    printf 'x y' >'x y'
    mkdir -p T
    printf 1 >T/1
    printf 'abc\0x y\0T\0' >list
    run -r --files0-from=list
    L abc; L 'x y'; L T/1
    expect 0
    run --files0-from=- < <(printf 'abc\0\0missing')
    L abc
    E '-:2: invalid zero-length file name'; E 'missing: No such file or directory'
    expect 2
    # A list that cannot be opened, in coreutils' words; a folder is one.
    run --files0-from=nolist
    E "cannot open 'nolist' for reading: No such file or directory"
    expect 2
    run --files0-from=T
    E "cannot open 'T' for reading: Is a directory"
    expect 2
    # A name - in a list that is not standard input is standard input.
    printf 'abc\0-\0' >dash
    run --files0-from=dash < <(printf 'x y')
    L abc; L 'x y' -
    expect 0
    run --files0-from=list abc
    E "extra operand 'abc'"
    want_err+="file operands cannot be combined with --files0-from$EOL"
    want_err+="Try 'quillsum --help' for more information.$EOL"
    expect 2
    ;;
options)
    printf abc >abc
    run --help
    [ "$rc" = 0 ] && grep -q '^Usage: quillsum \[OPTION\]... \[FILE\]...' stdout.bin || fail "--help"
    run --version
    [ "$rc" = 0 ] && grep -q '^quillsum (quillmark) [0-9]' stdout.bin || fail "--version"
    for c in "-x|invalid option -- 'x'" "--bogus|unrecognized option '--bogus'" \
        "-j|option requires an argument -- 'j'" \
        "-j0|invalid number of jobs: '0' (1 to 1024)" \
        "--jobs=x|invalid number of jobs: 'x' (1 to 1024)" \
        "--zero=1|option '--zero' doesn't allow an argument" \
        "-j1025|invalid number of jobs: '1025' (1 to 1024)" \
        "--s|option '--s' is ambiguous; possibilities: '--status' '--strict' '--summary'" \
        "-cr|the --recursive option cannot be combined with --check; --tree=DIR walks a tree" \
        "-c --files0-from=abc|the --files0-from option cannot be combined with --check" \
        "-c --cache=ids|the --cache option cannot be combined with --check; a check reads every byte" \
        "--cache=|invalid cache file name: ''"; do
        # shellcheck disable=SC2086 # the options are words
        run abc ${c%%|*}
        E "${c#*|}"
        want_err+="Try 'quillsum --help' for more information.$EOL"
        expect 2
    done
    # What only checking means, without -c.
    for option in quiet status strict warn ignore-missing tree; do
        [ $option = tree ] && arg=--tree=T || arg=--$option
        [ $option = warn ] && arg=-w
        run abc "$arg"
        E "the --$option option is meaningful only when verifying identifiers"
        want_err+="Try 'quillsum --help' for more information.$EOL"
        expect 2
    done
    # --help wins over --version wherever either stands, and --help that cannot be
    # written is trouble.
    for args in "--version --help" "--help --version" "-c --vers abc --he"; do
        # shellcheck disable=SC2086
        run $args
        [ "$rc" = 0 ] && grep -q '^Usage: quillsum' stdout.bin || fail "$args: $(head -1 stdout.bin)"
    done
    invoke --help >/dev/full 2>stderr.bin
    rc=$?
    : >stdout.bin
    E 'write error'
    expect 2
    run -j1024 abc
    L abc
    expect 0
    # Bundled, joined and separate values, abbreviations, options after operands.
    run -zj2 abc --rec
    expect_nul 0 abc
    run abc --jobs 3 -- -j
    T "$abc_id  abc$EOL"
    E '-j: No such file or directory'
    expect 2
    ;;
output_refused)
    # A line that could not be written is never a success.
    printf abc >abc
    invoke abc >/dev/full 2>stderr.bin
    rc=$?
    : >stdout.bin
    E 'write error'
    expect 2
    ;;
pseudo_files)
    need_posix "it has no /proc"
    # Read until a read gives nothing: the true content, not the size of 0 procfs reports.
    cat /proc/version >version
    run /proc/version
    L version /proc/version
    expect 0
    # A pipe is read as any file named on the command line.
    run <(printf abc)
    [ "$rc" = 0 ] && grep -q "^$abc_id  /dev/fd/" stdout.bin || fail "pipe: $(cat stdout.bin)"
    ;;
long_paths)
    # Past MAX_PATH (260) in a walk and named directly.
    deep=$(printf 'd%.0s' $(seq 120))/$(printf 'e%.0s' $(seq 120))
    mkdir -p "T/$deep"
    name="T/$deep/$(printf 'f%.0s' $(seq 60)).txt"
    printf abc >"$name"
    [ ${#name} -gt 260 ] || fail "the path is only ${#name} characters"
    run -r T
    T "$abc_id  $name$EOL"
    expect 0
    run "$name"
    T "$abc_id  $name$EOL"
    expect 0
    ;;
readme_tree)
    # The README's tree line as printed there; a name that is escaped keeps its place in
    # the byte order of names.
    mkdir -p D/sub D/x
    for f in D/a.txt D/sub/b.txt; do printf same >"$f"; done
    for f in D/sub/c D/x/copy; do printf other >"$f"; done
    printf unique >D/unique
    on_windows || printf same >'D/back\slash'
    run -r D
    L D/a.txt; on_windows || L 'D/back\slash'
    L D/sub/b.txt; L D/sub/c; L D/unique; L D/x/copy
    expect 0
    ;;
readme_duplicates)
    # The README's duplicates example, each command as printed there, and its output.
    mkdir -p photos/2024 photos/2025 photos/backup
    printf 'sand and sea' >photos/2024/beach.jpg
    printf 'ridges of sand' >photos/2024/dunes.jpg
    printf 'white' >photos/2025/snow.jpg
    ln photos/2025/snow.jpg photos/2025/snow-link.jpg
    cp photos/2024/beach.jpg photos/backup/beach.jpg
    cp photos/2024/dunes.jpg photos/backup/dunes-copy.jpg
    beach=0C00000000000000EAE84268D40ED3B7A1A18DC2B65AA79F97384B681054097F61EFED022AC0E058
    dunes=0E0000000000000097E7B62D36D9D03C57A7C85B27869D8D7A6BCEDBD32F456F737DC657BCD198EE
    [ "$(identifier_of photos/backup/beach.jpg)" = "$beach" ] &&
        [ "$(identifier_of photos/backup/dunes-copy.jpg)" = "$dunes" ] ||
        fail "the README's identifiers are not the files'"
    run --duplicates photos
    Lid "$beach" photos/2024/beach.jpg; Lid "$beach" photos/backup/beach.jpg; T "$EOL"
    Lid "$dunes" photos/2024/dunes.jpg; Lid "$dunes" photos/backup/dunes-copy.jpg
    expect 0
    invoke --duplicates photos >dups.list 2>stderr.bin &&
        invoke -c --quiet dups.list >stdout.bin 2>>stderr.bin &&
        echo unchanged >>stdout.bin
    rc=$?
    T "unchanged"$'\n'
    expect 0
    if command -v jq >/dev/null; then
        invoke --duplicates --json photos 2>stderr.bin |
            jq -r '.names[1:][]' >stdout.bin
        rc=$?
        T "photos/backup/beach.jpg"$'\n'"photos/backup/dunes-copy.jpg"$'\n'
        expect 0
    fi
    run --duplicates --summary photos
    Lid "$beach" photos/2024/beach.jpg; Lid "$beach" photos/backup/beach.jpg; T "$EOL"
    Lid "$dunes" photos/2024/dunes.jpg; Lid "$dunes" photos/backup/dunes-copy.jpg
    E "5 files compared, 2 groups of duplicates, 2 duplicate files, 26 bytes in copies beyond the first of each group"
    expect 0
    # The cache's example: the list of the tree, then the same groups from the cache. A file
    # changed in the last seconds is never kept, so the photos are let age first.
    aged photos
    run -r photos --cache=photos.qsc
    for f in 2024/beach.jpg 2024/dunes.jpg 2025/snow-link.jpg 2025/snow.jpg backup/beach.jpg \
        backup/dunes-copy.jpg; do L "photos/$f"; done
    expect 0
    run --duplicates photos --cache=photos.qsc
    Lid "$beach" photos/2024/beach.jpg; Lid "$beach" photos/backup/beach.jpg; T "$EOL"
    Lid "$dunes" photos/2024/dunes.jpg; Lid "$dunes" photos/backup/dunes-copy.jpg
    expect 0
    [ -s photos.qsc ] || fail "no cache written"
    command -v jq >/dev/null || skip_because "no jq (Debian package jq) for the JSON line"
    ;;
readme_find_files0)
    # The README's find recipe: exactly the files find selects, in its order, whatever
    # their names hold.
    mkdir -p 'D/with space' D/-dash
    for f in 'D/with space/a b.iso' D/-dash/-x.iso D/$'\xc3\xa9t\xc3\xa9.iso' D/notes.txt; do
        printf '%s' "$f" >"$f"
    done
    n=3
    on_windows || { printf nl >D/$'new\nline.iso' && n=4; }
    find D -name '*.iso' -print0 >names.bin
    [ "$(tr -cd '\0' <names.bin | wc -c)" = $n ] || fail "find selected: $(tr '\0' '|' <names.bin)"
    find D -name '*.iso' -print0 |
        invoke --files0-from=- >stdout.bin 2>stderr.bin
    rc=$?
    while IFS= read -r -d '' f; do L "$f"; done <names.bin
    expect 0
    ;;
readme_windows_tree)
    # The README's PowerShell line, `quillsum.exe -r C:\Data > list.txt`, on the work
    # folder's full path in Wine's Z: drive, typed with backslashes. PowerShell itself
    # cannot run here, so what it does to the bytes is not seen.
    on_windows || skip_because "on Linux: a backslash is a byte of a name there"
    mkdir -p Data/sub
    printf abc >Data/a.txt
    printf 'x y' >Data/sub/file.txt
    run -r "Z:${work//\//\\}\\Data"
    L Data/a.txt "Z:$work/Data/a.txt"; L Data/sub/file.txt "Z:$work/Data/sub/file.txt"
    expect 0
    run -r "Z:$work/Data"
    L Data/a.txt "Z:$work/Data/a.txt"; L Data/sub/file.txt "Z:$work/Data/sub/file.txt"
    expect 0
    ;;
many_hosts_parallel)
    # The README's many-hosts recipe with -S : (this machine, without ssh: no other host
    # is reached from here). parallel starts `quillsum` by name, so the built binary's
    # folder goes first on the PATH.
    on_windows && skip_because "under Wine: parallel starts quillsum by name, as a Linux program"
    [ -z "$emulator" ] || skip_because "under qemu: parallel starts quillsum by name, without qemu"
    parallel --version 2>/dev/null | grep '^GNU parallel' >/dev/null ||
        skip_because "GNU parallel is missing (Debian: parallel; tests/install_deps.sh installs it)"
    [ "${exe##*/}" = quillsum ] || fail "parallel needs the program named quillsum: ${exe##*/}"
    # parallel keeps its files in the work folder, and its citation notice is silenced.
    mkdir parallel tmp
    export PATH="${exe%/*}:$PATH" PARALLEL_HOME="$work/parallel" TMPDIR="$work/tmp"
    export PARALLEL=--will-cite
    # 4,504 files, so that three chunks are made, with awkward names among them.
    for d in a 'with space' -dash; do
        mkdir -p "T/$d"
        for i in $(seq 1500); do printf '%s' "$i" >"T/$d/$i"; done
    done
    for f in T/-lead T/$'\xc3\xa9t\xc3\xa9' 'T/sp ace' T/$'new\nline'; do
        printf '%s' "$f" >"$f"
    done
    # A full path, as the README asks: over ssh a host would start in its login folder.
    dir="$work/T"
    find "$dir" -type f -print0 >names.bin
    n=$(tr -cd '\0' <names.bin | wc -c)
    [ "$n" = 4504 ] || fail "find lists $n files"
    find "$dir" -type f -print0 | parallel --pipe --recend '\0' -N 2000 -k -S : \
        'quillsum --files0-from=-' >stdout.bin 2>stderr.bin
    rc=$?
    # One line per file, in find's order; compared here, as expect's message would print
    # all of them.
    identifiers_of0 names.bin >ids
    exec 3<ids
    while IFS= read -r -d '' f; do IFS= read -r id <&3 && Lid "$id" "$f"; done <names.bin
    printf %s "$want" >want.txt
    [ "$rc" = 0 ] && [ ! -s stderr.bin ] || fail "exit code $rc; stderr: $(head -3 stderr.bin)"
    cmp -s stdout.bin want.txt || fail "the list differs: $(diff want.txt stdout.bin | head -5)"
    mv stdout.bin list
    # It checks clean: every line `NAME: OK`, as sha256sum -c prints them for the same
    # list without the lengths.
    sed -E 's/^(\\?)[0-9A-F]{16}/\1/' list | sha256sum -c - >oracle.txt ||
        fail "sha256sum -c: $(grep -v ': OK$' oracle.txt | head -3)"
    run -c list
    [ "$rc" = 0 ] && [ ! -s stderr.bin ] || fail "-c: exit code $rc; stderr: $(head -3 stderr.bin)"
    cmp -s stdout.bin oracle.txt || fail "-c differs: $(diff oracle.txt stdout.bin | head -5)"
    ;;
progress)
    # --progress draws only where standard error is a terminal: not into files.
    printf abc >abc
    run --progress - <abc
    T "$abc_id  -$EOL"
    expect 0
    # In real terminals (tmux panes), runs reading FIFOs whose writers this script holds:
    # each run stays in its read until the script lets it go, and the script waits for what
    # the runs show, never for a time. The line shows the files done, the bytes read so far
    # and the rate, then the end of the name being read, one column short of the width
    # (80 where the width is unknown); a message erases it first; it is gone at the end.
    # Runs without --progress, or whose standard error is a file, draw nothing while
    # another run is seen drawing again and again.
    need_posix "the terminal is a tmux pane on Linux"
    [ -z "$emulator" ] || skip_because "under an emulator: tmux runs the build machine's programs"
    command -v tmux >/dev/null || skip_because "no tmux (Debian package tmux)"
    export TMUX_TMPDIR=$work
    tmux new-session -d -s progress -x 50 -y 10 || fail "tmux did not start"
    trap 'tmux kill-server 2>/dev/null; rm -rf "$work" "$work.jobs"' EXIT
    tmux new-window -d -t progress -n plain && tmux new-window -d -t progress -n err-file &&
        tmux new-session -d -s wide -x 100 -y 10 || fail "tmux windows"
    long_a=slow-$(printf 'a%.0s' $(seq 60))
    long_b=slow-$(printf 'b%.0s' $(seq 60))
    long_f=slow-$(printf 'f%.0s' $(seq 60))
    mkfifo "$long_a" "$long_b" C D E "$long_f"
    # Opened after tmux started, so that no pane inherits a writer of its own FIFO.
    exec 3<>"$long_a" 4<>"$long_b" 5<>C 6<>D 7<>E 8<>"$long_f"
    # The end marker is typed as "E""ND-": a long command wraps in the pane, and its echo
    # must never pass for the marker at a line's start.
    pane() { tmux send-keys -t "$1" "cd '$work' && $2; echo \"E\"\"ND-\$?\"" Enter; }
    pane progress:0 "'$exe' --progress -j1 '$long_a' '$long_b' missing >out 2>/dev/tty"
    pane progress:plain "'$exe' -j1 C"
    pane progress:err-file "'$exe' --progress -j1 E missing 2>e.err"
    pane wide:0 "stty cols 0 && '$exe' --progress -j1 '$long_f'"
    # It waits for the script's writes, whose waits may add up to minutes on a busy machine:
    # its deadline is for a hang only.
    timeout 600 "$exe" --progress -j1 D missing >d.out 2>d.err 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- &
    files_run=$!
    # 64 KiB, which a pipe holds whole: a write never waits for its reader.
    chunk() { head -c 65536 /dev/zero >&"$1"; }
    for fd in 3 5 6 7 8; do chunk $fd; done
    all_wait() { for f; do waits_in_read "$f" || return 1; done; }
    wait_until 60 "run of each FIFO waiting for more" all_wait "$long_a" C D E "$long_f"
    rate='[0-9.]+ (B|KiB|MiB|GiB)/s'
    screen() { tmux capture-pane -t "$1" -p -J | sed 's/ *$//' | grep -v '^$'; }
    line() { screen "$1" | grep -E "$2" | head -1; }
    shows() { [ -n "$(line "$@")" ]; }
    # The bytes are counted as they are read, the file still open; the width is kept.
    for kib in 64 128 192; do
        [ "$kib" = 64 ] || chunk 3
        seen="^0 files, $kib.0 KiB, $rate  \.\.\.a+\$"
        wait_until 60 "line of $kib KiB" shows progress:0 "$seen"
        [ "$(line progress:0 "$seen" | wc -L)" = 49 ] ||
            fail "not one column short of the pane's 50: '$(line progress:0 "$seen")'"
    done
    seen="^0 files, 64.0 KiB, $rate  \.\.\.f+\$"
    wait_until 60 "line where the width is unknown" shows wide:0 "$seen"
    [ "$(line wide:0 "$seen" | wc -L)" = 79 ] || fail "unknown width: '$(line wide:0 "$seen")'"
    ! screen progress:plain | grep -q 'files, ' || fail "drawn without --progress: $(screen progress:plain)"
    exec 5>&- 6>&- 7>&- 8>&-
    head -c 65536 /dev/zero >zeros
    wait "$files_run"
    rc=$?
    [ "$rc" = 2 ] && cmp -s d.err <(printf 'quillsum: missing: No such file or directory\n') &&
        cmp -s d.out <(printf '%s  D\n' "$(identifier_of zeros)") ||
        fail "into files: exit code $rc, '$(cat -A d.out d.err)'"
    for w in plain err-file; do wait_until 60 "end in $w" eval "screen progress:$w | grep -q '^END-'"; done
    [ "$(screen progress:plain | grep -B1 '^END-')" = "$(identifier_of zeros)  C"$'\n'"END-0" ] ||
        fail "without --progress: '$(screen progress:plain)'"
    cmp -s e.err <(printf 'quillsum: missing: No such file or directory\n') ||
        fail "standard error into a file: '$(cat -A e.err)'"
    # The name of the file being read, the first one done.
    exec 3>&-
    chunk 4
    wait_until 60 "line of the second file" shows progress:0 "^1 files, 256.0 KiB, $rate  \.\.\.b+\$"
    exec 4>&-
    wait_until 60 "end of the run" eval "screen progress:0 | grep -q '^END-'"
    [ "$(screen progress:0 | grep -B1 '^END-')" = "quillsum: missing: No such file or directory"$'\n'"END-2" ] ||
        fail "the end of the screen: '$(screen progress:0)'"
    ;;
cache_files)
    # A damaged, cut, torn, foreign or newer cache never changes the output or the status;
    # one that is no cache of ours is named once and left as it is.
    mkdir T
    for i in $(seq 1 12); do head -c $((i * 1000)) /dev/urandom >"T/f$i"; done
    aged T
    run -r T
    mv stdout.bin plain.out
    run -r T --cache=ids
    cmp -s plain.out stdout.bin || fail "filling"
    [ "$(stat -c %s ids)" = $((16 + 12 * 128)) ] || fail "12 records: $(stat -c %s ids) bytes"
    cp ids good
    flip() {  # flip <offset>: one byte of ids changed
        printf "\\x$(printf %02x $((0x$(od -An -tx1 -j "$1" -N1 ids | tr -d ' ') ^ 0x10)))" |
            dd of=ids bs=1 seek="$1" conv=notrunc status=none
    }
    for damage in "flip 16" "flip 500" "flip 1000" "truncate -s -77 ids" "truncate -s 600 ids" \
        "dd if=good of=ids bs=1 skip=16 seek=208 count=64 conv=notrunc status=none"; do
        cp good ids
        $damage
        run -r T --cache=ids
        [ "$rc" = 0 ] && [ ! -s stderr.bin ] && cmp -s plain.out stdout.bin ||
            fail "$damage: exit $rc, $(cat stderr.bin)"
    done
    for other in "not a cache|not a quillsum cache; not used, left as it is" \
        "QUILLSUMCACH\x02\x00\x00\x00|a cache of format version 2, which this quillsum does not know; not used, left as it is" \
        "QUILLSUM|not a quillsum cache; not used, left as it is"; do
        printf "${other%%|*}" >ids
        cp ids before
        run -r T --cache=ids
        [ "$rc" = 0 ] && cmp -s plain.out stdout.bin && cmp -s ids before &&
            [ "$(tr -d '\r' <stderr.bin)" = "quillsum: ids: ${other#*|}" ] ||
            fail "${other%%|*}: exit $rc, '$(cat stderr.bin)'"
    done
    # A folder where the cache should be cannot be read: named once, and the run goes on.
    rm ids
    mkdir ids
    run -r T --cache=ids
    [ "$rc" = 0 ] && cmp -s plain.out stdout.bin &&
        [ "$(tr -d '\r' <stderr.bin)" = "quillsum: ids: cannot read the cache: Is a directory" ] ||
        fail "a folder: exit $rc, '$(cat stderr.bin)'"
    ;;
*)
    fail "no such case"
    ;;
esac
exit 0
