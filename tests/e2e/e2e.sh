#!/usr/bin/env bash
# End-to-end cases: run the built quillmark and compare exact stdout bytes, an empty
# stderr and the exit code. Usage: e2e.sh <case> <quillmark> [<quillmark_fault>]
# QUILLMARK_EMULATOR, when set, is put before the executable (Wine for the Windows build,
# qemu for a Linux cross build). On Windows, told by the .exe, every line ends in CR LF.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=e2e_lib.sh
source "$here/e2e_lib.sh" quillmark "$@"

expect_identifier() {  # expect_identifier <file> [<args>...]: runs on <file> (or <args>)
    local file=$1
    shift
    [ $# -gt 0 ] || set -- "$file"
    run "$@"
    expect 0 "$(identifier_of "$file")$EOL"
}

banner="Corvantis Sentrel Content Quillmark Tool"
usage="USAGE: quillmark <input_file>"
empty_line=0000000000000000E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855
abc_line=0300000000000000BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD

case "$case_name" in
no_argument)
    run
    expect 1 "$banner$EOL$usage$EOL"
    ;;
extra_arguments_ignored)
    printf abc >abc
    run abc missing-file another
    expect 0 "$abc_line$EOL"
    ;;
empty_file)
    : >empty
    run empty
    expect 0 "$empty_line$EOL"
    ;;
abc)
    printf abc >abc
    run abc
    expect 0 "$abc_line$EOL"
    ;;
block_boundaries)
    head -c 65536 /dev/urandom >b64k
    run b64k
    [ "$(head -c 16 stdout.bin)" = 0000010000000000 ] || fail "65536 bytes: $(cat stdout.bin)"
    expect_identifier b64k
    head -c 65537 /dev/urandom >b64k1
    run b64k1
    [ "$(head -c 16 stdout.bin)" = 0100010000000000 ] || fail "65537 bytes: $(cat stdout.bin)"
    expect_identifier b64k1
    ;;
random_sizes_match_sha256sum)
    for size in 1 55 56 63 64 65 1000 65535 131072 131073 200001 1048583; do
        head -c "$size" /dev/urandom >"r$size"
        expect_identifier "r$size"
    done
    ;;
missing_file)
    run does-not-exist
    expect 2 "Failed to open file 'does-not-exist'$EOL"
    ;;
directory)
    mkdir dir
    run dir
    expect 2 "Failed to open file 'dir'$EOL"
    ;;
empty_path)
    run ""
    expect 2 "Failed to open file ''$EOL"
    ;;
unusual_names)
    for name in 'a{1}b{{c}' '{}' '100%.txt' 'with space' '-dash' "it's"; do
        printf abc >"$name"
        expect_identifier "$name"
        run "missing $name"
        expect 2 "Failed to open file 'missing $name'$EOL"
    done
    ;;
utf8_name)
    name=$(printf 'caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80.txt')
    printf abc >"$name"
    expect_identifier "$name"
    ;;
non_utf8_name)
    # Latin-1 bytes are not UTF-8: the conversion turns them into U+FFFD, which names
    # another file. The message still shows the bytes exactly as they were passed.
    # Not on Windows: names there are UTF-16, and with the UTF-8 code page the runtime
    # never hands main bytes that are not UTF-8 (Wine turns this argument into U+FFFD,
    # and finds the Latin-1 file by it).
    need_posix "every name is UTF-16 there"
    name=$(printf 'caf\xe9.txt')
    printf abc >"$name" 2>/dev/null || exit $skip
    run "$name"
    expect 2 "Failed to open file '$name'$EOL"
    ;;
output_refused)
    # A line that could not be written is no success (4); a failure keeps its own code
    # when its message is refused too. Standard output full, and closed.
    printf abc >abc
    for c in "4 abc" "2 missing" "1"; do
        read -r want arg <<<"$c"
        invoke ${arg:+"$arg"} >/dev/full 2>stderr.bin
        rc=$?
        [ "$rc" = "$want" ] || fail "'$arg' to /dev/full: exit code $rc, expected $want"
        [ ! -s stderr.bin ] || fail "stderr not empty: $(cat stderr.bin)"
    done
    invoke abc >&- 2>stderr.bin
    rc=$?
    [ "$rc" = 4 ] || fail "closed standard output: exit code $rc, expected 4"
    [ ! -s stderr.bin ] || fail "stderr not empty: $(cat stderr.bin)"
    # A pipe whose reader has gone (quillmark f | head -c0, without the race): SIGPIPE
    # ends the process on Linux, as it does sha256sum; Windows has no such signal, and the
    # refused write gives 4.
    mkfifo gone
    exec 4<>gone 5>gone 4<&-
    invoke abc >&5 2>stderr.bin
    rc=$?
    exec 5>&-
    if on_windows; then want=4; else want=$((128 + 13)); fi
    [ "$rc" = "$want" ] || fail "reader gone: exit code $rc, expected $want"
    [ ! -s stderr.bin ] || fail "stderr not empty: $(cat stderr.bin)"
    ;;
pipe)
    # Windows has no pipe that a path in this shell can name; its named pipes are served by
    # a process of their own in win32_e2e.sh (named_pipe).
    on_windows && { echo "skipped: POSIX pipe; see win32_e2e.sh named_pipe"; exit $skip; }
    printf abc >abc
    exec 3< <(cat abc)
    run /dev/fd/3
    exec 3<&-
    expect 3 "Failed to read file '/dev/fd/3'$EOL"
    ;;
character_device)
    # A device is no file, however it is named: never read, never an identifier. On
    # Windows NUL answers the size query with 0, so it would pass for an empty file, and
    # a device name is one in any folder and with any extension.
    if on_windows; then
        mkdir folder
        devices=(NUL '\\.\NUL' 'folder\NUL.txt' nul.txt)
    else
        devices=(/dev/zero /dev/null)
    fi
    for device in "${devices[@]}"; do
        run "$device"
        expect 3 "Failed to read file '$device'$EOL"
    done
    ;;
appended_while_read)
    # Another process appends while the file is read: the line is that of a prefix of
    # what the file finally holds, as long as the count says.
    head -c 3000000 /dev/urandom >grows
    (for _ in $(seq 40); do
        dd if=/dev/urandom bs=65536 count=1 oflag=append conv=notrunc of=grows status=none
        sleep 0.01
    done) &
    appender=$!
    run grows
    wait "$appender"
    [ "$rc" = 0 ] || fail "exit code $rc"
    count=$((16#$(head -c 16 stdout.bin | sed -E 's/(..)(..)(..)(..)(..)(..)(..)(..)/\8\7\6\5\4\3\2\1/')))
    [ "$count" -ge 3000000 ] && [ "$count" -le "$(stat -c %s grows)" ] ||
        fail "count $count outside 3000000 to $(stat -c %s grows)"
    head -c "$count" grows >prefix
    expect 0 "$(identifier_of prefix)$EOL"
    ;;
long_path)
    # Past MAX_PATH (260), as typed and in the \\?\ form of its full path.
    dirs=$(printf 'd%.0s' $(seq 120))/$(printf 'e%.0s' $(seq 120))
    mkdir -p "$dirs"
    name="$dirs/$(printf 'f%.0s' $(seq 60)).txt"
    printf abc >"$name"
    [ ${#name} -gt 260 ] || fail "the path is only ${#name} characters"
    run "$name"
    expect 0 "$abc_line$EOL"
    if on_windows; then
        verbatim="\\\\?\\Z:$(printf '%s' "$PWD/$name" | tr / '\\')"
    else
        verbatim="\\\\?\\$PWD/$name"
    fi
    run "$verbatim"
    expect 0 "$abc_line$EOL"
    run "$name.missing"
    expect 2 "Failed to open file '$name.missing'$EOL"
    ;;
pseudo_files)
    # procfs says 0 bytes for files that hold text: no identifier of an empty file for
    # them. sysfs says 4096 and delivers fewer, which a short read ends truly.
    need_posix "it has no /proc or /sys"
    for f in /proc/version /proc/self/status; do
        run "$f"
        expect 3 "Failed to read file '$f'$EOL"
    done
    f=/sys/kernel/mm/transparent_hugepage/enabled
    if [ -r "$f" ] && cat "$f" >copy 2>/dev/null; then
        run "$f"
        expect 0 "$(identifier_of copy)$EOL"
    fi
    ;;
wine_start_failure)
    # Every run under Wine goes through wine_run.sh. Against a stand-in for Wine that fails
    # as Wine does when it cannot start a program (its own message or none, exit 1, the
    # program never run) the first few times: the run is tried again and is then the program's own;
    # if Wine never starts it, that is said, and the status is none of ours (125). A
    # program's crash and its own exit 1 are passed on as they are, never tried again.
    cat >fake-wine <<EOF
#!/usr/bin/env bash
n=\$(cat tries 2>/dev/null || echo 0)
echo \$((n + 1)) >tries
# What Wine's loaddll channel says once it has loaded the program's image.
loaded() { echo "0024:trace:loaddll:build_module Loaded L\"Z:\\\\x\\\\\${1##*/}\" at 0000000140000000: native" >&2; }
if [ "\$n" -lt "\$FAKE_FAILURES" ]; then
    [ -z "\${FAKE_LOADED:-}" ] || loaded "\$1"
    echo "\$FAKE_MESSAGE" >&2
    exit \${FAKE_STATUS:-1}
fi
loaded "\$1"
exec ${QUILLMARK_EMULATOR:-} "\$@"
EOF
    chmod +x fake-wine
    printf abc >abc
    fake() {  # fake <failures> <message> <args...>
        rm -f tries wine-failed.txt
        FAKE_FAILURES=$1 FAKE_MESSAGE=$2 QUILLMARK_WINE_FAILED=$PWD/wine-failed.txt QUILLMARK_WINE_RETRIES= \
            "$here/wine_run.sh" ./fake-wine "$exe" "${@:3}" >stdout.bin 2>stderr.bin
        rc=$?
        out=$(od -An -v -tx1 stdout.bin | tr -d ' \n')
        err=$(cat stderr.bin)
    }
    tries() { [ "$(cat tries)" = "$1" ] || fail "$2: $(cat tries) tries"; }
    no_start='wine: could not load kernel32.dll, status c0000135'
    fake 2 '' abc  # Wine may say nothing at all
    expect 0 "$abc_line$EOL"
    tries 3 silent
    FAKE_LOADED=1 fake 1 "$no_start" abc  # or give up after the image
    expect 0 "$abc_line$EOL"
    tries 2 "after the image"
    fake 9 "$no_start" abc
    [ "$rc" = 125 ] && [ ! -s stdout.bin ] && [ "$err" = "wine failed to start: $no_start" ] ||
        fail "never started: exit code $rc, '$err'"
    tries 3 "never started"
    [ "$(grep -c "^Wine did not start .*: $no_start\$" wine-failed.txt)" = 3 ] ||
        fail "the record: $(cat wine-failed.txt)"
    FAKE_LOADED=1 FAKE_STATUS=5 fake 1 'wine: Unhandled page fault on read access to 00000000' abc
    [ "$rc" = 5 ] && [ "$err" = 'wine: Unhandled page fault on read access to 00000000' ] ||
        fail "a crash: exit code $rc, '$err'"
    tries 1 "a crash"
    fake 0 ''  # exit 1 of ours: the banner
    expect 1 "$banner$EOL$usage$EOL"
    tries 1 "exit 1 of ours"
    ;;
fifo_without_writer)
    need_posix "it has no FIFOs"
    mkfifo fifo
    run fifo
    [ "$rc" != 124 ] || fail "hung on a FIFO with no writer"
    expect 3 "Failed to read file 'fifo'$EOL"
    ;;
calls_per_block)
    # What the run asks of the file's descriptor, counted by strace from the first
    # position query to the close: a position and a size query before each read, no
    # zero-byte read, and the end test plus its confirmation at the end. An empty file is
    # never read. Not under an emulator, whose own calls strace would see.
    need_posix "strace counts the calls of a native run"
    [ -z "$emulator" ] || { echo "skipped: strace counts the calls of a native run"; exit $skip; }
    command -v strace >/dev/null || { echo "skipped: no strace"; exit $skip; }
    : >empty
    head -c 65536 /dev/urandom >b64k
    head -c 65537 /dev/urandom >b64k1
    head -c 1048576 /dev/urandom >m1
    loop() { printf 'lseek fstat read=%s ' "$@"; }
    end='lseek fstat lseek fstat close'
    for f in empty b64k b64k1 m1; do
        case $f in
        empty) want=$end ;;
        b64k) want="$(loop 65536)$end" ;;
        b64k1) want="$(loop 65536 1)$end" ;;
        m1) want="$(loop $(yes 65536 | head -n 16))$end" ;;
        esac
        # LeakSanitizer cannot run under ptrace.
        ASAN_OPTIONS=detect_leaks=0 strace -qq -e trace=%desc -o trace.txt "$exe" "$f" \
            >stdout.bin 2>stderr.bin || fail "$f: exit code $?"
        got=$(awk -v path="\"$f\"" '
            fd == "" && index($0, path ",") && match($0, /= [0-9]+$/) { fd = substr($0, RSTART + 2); next }
            fd == "" { next }
            { name = $0; sub(/\(.*/, "", name); args = substr($0, length(name) + 2) }
            index(args, fd ",") != 1 && args != fd ")" && index(args, fd ")") != 1 { next }
            name == "newfstatat" || name == "fstat64" { name = "fstat" }
            seen == 0 && name != "lseek" { next }
            { seen = 1 }
            name == "read" { sub(/.*= /, ""); name = "read=" $0 }
            { printf "%s%s", sep, name; sep = " " }
            name == "close" { exit }' trace.txt)
        [ "$got" = "$want" ] || fail "$f: calls on the file were '$got', expected '$want'"
    done
    ;;
input_untouched)
    head -c 100000 /dev/urandom >data
    touch -d '2001-02-03 04:05:06' data
    before=$(stat -c '%s %Y' data)
    sum=$(sha256sum data)
    expect_identifier data
    [ "$(stat -c '%s %Y' data)" = "$before" ] || fail "size or modification time changed"
    [ "$(sha256sum data)" = "$sum" ] || fail "content changed"
    ;;
fault_read_fails_midway)
    need_fault
    head -c 200000 /dev/urandom >data
    QUILLMARK_FAULTS=ReadFile:2:5 run_exe "$fault_exe" data
    expect 3 "Failed to read file 'data'$EOL"
    ;;
fault_size_fails_before_first_read)
    # The end test and the driver's second look both fail: no size, no identifier.
    need_fault
    printf abc >abc
    QUILLMARK_FAULTS=GetFileSizeEx:1:6,GetFileSizeEx:2:6 run_exe "$fault_exe" abc
    expect 3 "Failed to read file 'abc'$EOL"
    ;;
fault_size_fails_midway)
    need_fault
    head -c 200000 /dev/urandom >data
    QUILLMARK_FAULTS=GetFileSizeEx:2:6,GetFileSizeEx:3:6 run_exe "$fault_exe" data
    expect 3 "Failed to read file 'data'$EOL"
    ;;
fault_size_fails_once)
    # A query that fails once and then answers again is no end of the file: the whole
    # content is read and identified.
    need_fault
    head -c 200000 /dev/urandom >data
    QUILLMARK_FAULTS=GetFileSizeEx:2:6 run_exe "$fault_exe" data
    expect 0 "$(identifier_of data)$EOL"
    ;;
fault_position_fails)
    need_fault
    head -c 200000 /dev/urandom >data
    QUILLMARK_FAULTS=SetFilePointerEx:3:6,SetFilePointerEx:4:6 run_exe "$fault_exe" data
    expect 3 "Failed to read file 'data'$EOL"
    ;;
fault_file_shrinks)
    # The second read finds nothing more: the bytes fed so far are the content.
    need_fault
    head -c 200000 /dev/urandom >data
    head -c 65536 data >first
    QUILLMARK_FAULTS=ReadFile:2:empty run_exe "$fault_exe" data
    expect 0 "$(identifier_of first)$EOL"
    ;;
fault_open_fails)
    need_fault
    printf abc >abc
    QUILLMARK_FAULTS=CreateFileW:1:32 run_exe "$fault_exe" abc
    expect 2 "Failed to open file 'abc'$EOL"
    ;;
fault_no_hash_context)
    need_fault
    printf abc >abc
    QUILLMARK_FAIL_NOTHROW_NEW=1 run_exe "$fault_exe" abc
    expect 4 ""
    ;;
huge_sparse_file)
    # Just past 4 GiB, nearly all of it a hole: sizes, positions and the count are 64-bit,
    # so the count field shows 4 GiB + 3 and the digest is sha256sum's. sha256sum runs
    # alongside, to keep the case near the time of one pass.
    # Under AddressSanitizer the 4 GiB take minutes: the case is for optimised builds.
    grep -qa __asan_init "$exe" && { echo "skipped: sanitizer build"; exit $skip; }
    truncate -s 4G big 2>/dev/null || exit $skip
    printf abc >>big
    [ "$(stat -c %s big)" = 4294967299 ] || exit $skip
    identifier_of big >expected &
    # Under qemu the 4 GiB take minutes (s390x: about three).
    run_timeout=540
    run big
    wait
    [ "$(head -c 16 stdout.bin)" = 0300000001000000 ] || fail "count field: $(head -c 16 stdout.bin)"
    expect 0 "$(cat expected)$EOL"
    ;;
fault_file_grows_while_read)
    # The size is asked again before every read, so bytes that have arrived by then are
    # read. The first three end tests see the file as it grows, one block at a time, and
    # only the fourth sees all of it: the line is that of the whole file.
    need_fault
    head -c 200000 /dev/urandom >data
    QUILLMARK_FAULTS=GetFileSizeEx:1:size-134464,GetFileSizeEx:2:size-68928,GetFileSizeEx:3:size-3392 \
        run_exe "$fault_exe" data
    expect 0 "$(identifier_of data)$EOL"
    ;;
fault_file_grows_after_end)
    # Bytes that arrive only after the end has been found and confirmed are not part of the
    # run: the line is that of the block read before it.
    need_fault
    head -c 65636 /dev/urandom >data
    head -c 65536 data >first
    QUILLMARK_FAULTS=GetFileSizeEx:2:size-100,GetFileSizeEx:3:size-100 run_exe "$fault_exe" data
    expect 0 "$(identifier_of first)$EOL"
    ;;
fault_file_grows_while_end_confirmed)
    # Bytes that arrive between the end test and the driver's second look at position and
    # size are read too: the file is identified as it stands when the end is confirmed.
    need_fault
    head -c 65636 /dev/urandom >data
    QUILLMARK_FAULTS=GetFileSizeEx:2:size-100 run_exe "$fault_exe" data
    expect 0 "$(identifier_of data)$EOL"
    ;;
*)
    fail "unknown case"
    ;;
esac
exit 0
