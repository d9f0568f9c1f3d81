#!/usr/bin/env bash
# End-to-end cases that only the Windows build can show, run against quillmark.exe under
# the emulator (Wine) with the real Win32 calls behind it: files held by another process,
# named pipes, names Windows refuses, CR LF line ends, UTF-8 names.
# Usage: win32_e2e.sh <case> <quillmark.exe> <hold_file.exe>; QUILLMARK_EMULATOR names the
# emulator (empty on Windows itself).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# shellcheck source=../e2e/e2e_lib.sh
source "$here/../e2e/e2e_lib.sh" quillmark "$1" "$2"
hold_exe=$3

holder_pid=
cleanup() {
    : >"$work/release" 2>/dev/null
    [ -z "$holder_pid" ] || wait "$holder_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

crlf=$'\r\n'
abc_line=0300000000000000BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD

# hold <mode> <path>: hold_file.exe takes <path> as <mode> says, in the background, and
# this returns once it has.
hold() {
    rm -f held.marker release
    timeout 110 $emulator "$hold_exe" "$1" "$2" held.marker release &
    holder_pid=$!
    wait_until 50 "hold of $2 by hold_file $1" eval '[ -e held.marker ] || ! kill -0 "$holder_pid" 2>/dev/null'
    [ -e held.marker ] || fail "hold_file $1 ended before it held $2"
}
# let_go: hold_file lets go and must end well.
let_go() {
    : >release
    wait "$holder_pid"
    local holder_rc=$?
    holder_pid=
    [ "$holder_rc" = 0 ] || fail "hold_file exited $holder_rc"
}

case "$case_name" in
held_by_another_process)
    # Share mode 0: the open fails, exit 2, and once it lets go the same path is identified.
    # A writer that shares reading is no obstacle: what it holds is identified. DELETE
    # access, even sharing everything, keeps us out: we share reading and writing, not
    # deletion, so that nobody deletes or renames the file while it is read.
    printf abc >held
    hold exclusive held
    run held
    expect 2 "Failed to open file 'held'$crlf"
    let_go
    run held
    expect 0 "$abc_line$crlf"
    hold writer held
    run held
    expect 0 "$abc_line$crlf"
    let_go
    hold delete held
    run held
    expect 2 "Failed to open file 'held'$crlf"
    let_go
    ;;
named_pipe)
    # A pipe is no file: exit 3, whether its server writes or idles, and no read that could
    # wait for it. Such a read would not end before the run's own time limit: the writing
    # server keeps writing, and the idle one holds the pipe until its release, which comes
    # after the run. No clock is read here, so a busy machine cannot fail the case.
    for mode in pipe-write pipe-idle; do
        pipe="\\\\.\\pipe\\quillmark-e2e-$$-$mode"
        hold "$mode" "$pipe"
        run "$pipe"
        expect 3 "Failed to read file '$pipe'$crlf"
        let_go
    done
    ;;
refused_names)
    # Characters no Windows name may hold: the open fails, although Linux has such files.
    for name in 'a?b' 'a*b' 'a<b' $'a\001b'; do
        printf abc >"$name"
        run "$name"
        expect 2 "Failed to open file '$name'$crlf"
    done
    ;;
crlf_line_ends)
    # Standard output stays in text mode: each line feed of a template leaves as CR LF,
    # and no line feed goes out bare.
    run
    expect 1 "Corvantis Sentrel Content Quillmark Tool${crlf}USAGE: quillmark <input_file>$crlf"
    printf abc >abc
    run abc
    expect 0 "$abc_line$crlf"
    [ "$(stat -c %s stdout.bin)" = 82 ] || fail "the line is not 80 digits and CR LF"
    run missing
    expect 2 "Failed to open file 'missing'$crlf"
    ;;
utf8_names)
    # The manifest makes UTF-8 the process code page, so main gets the arguments in UTF-8
    # and names outside any ANSI code page open; messages show the bytes as typed.
    for name in $'caf\xc3\xa9.txt' $'\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e' \
        $'\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82' $'\xf0\x9f\x98\x80 emoji' \
        $'mixed \xce\xb1\xce\xb2\xce\xb3 {1} %s'; do
        head -c 1000 /dev/urandom >"$name"
        run "$name"
        expect 0 "$(identifier_of "$name")$crlf"
        run "missing $name"
        expect 2 "Failed to open file 'missing $name'$crlf"
    done
    ;;
*)
    fail "unknown case"
    ;;
esac
exit 0
