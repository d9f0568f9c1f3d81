#!/usr/bin/env bash
# End-to-end cases: run the built quillmark and compare exact stdout bytes, an empty
# stderr and the exit code. Usage: e2e.sh <case> <quillmark> [<quillmark_fault>]
# QUILLMARK_EMULATOR, when set, is put before the executable (Wine for the Windows build);
# there every line ends in CR LF. Exit 77 marks a case that cannot run here.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

case_name=$1
exe=$2
fault_exe=${3:-}
emulator=${QUILLMARK_EMULATOR:-}
skip=77

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

on_windows() { [ -n "$emulator" ]; }
# Every line ends in LF, or in CR LF where the runtime writes text mode (Windows).
if on_windows; then EOL=$'\r\n'; else EOL=$'\n'; fi

# shellcheck source=e2e_lib.sh
source "$here/e2e_lib.sh"
run() { run_exe "$exe" "$@"; }

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

need_posix() { on_windows && exit $skip; }
need_fault() { [ -n "$fault_exe" ] || exit $skip; }

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
    [ "${out:0:32}" = "$(hex_of 0000010000000000)" ] || fail "65536 bytes: $(cat stdout.bin)"
    expect_identifier b64k
    head -c 65537 /dev/urandom >b64k1
    run b64k1
    [ "${out:0:32}" = "$(hex_of 0100010000000000)" ] || fail "65537 bytes: $(cat stdout.bin)"
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
    need_posix
    name=$(printf 'caf\xe9.txt')
    printf abc >"$name" 2>/dev/null || exit $skip
    run "$name"
    expect 2 "Failed to open file '$name'$EOL"
    ;;
output_refused)
    need_posix
    printf abc >abc
    "$exe" abc >/dev/full 2>stderr.txt
    rc=$?
    [ "$rc" = 4 ] || fail "exit code $rc writing to /dev/full, expected 4"
    [ ! -s stderr.txt ] || fail "stderr not empty: $(cat stderr.txt)"
    ;;
pipe)
    need_posix
    printf abc >abc
    exec 3< <(cat abc)
    run /dev/fd/3
    exec 3<&-
    expect 3 "Failed to read file '/dev/fd/3'$EOL"
    ;;
character_device)
    need_posix
    run /dev/zero
    expect 3 "Failed to read file '/dev/zero'$EOL"
    ;;
fifo_without_writer)
    need_posix
    mkfifo fifo
    run fifo
    [ "$rc" != 124 ] || fail "hung on a FIFO with no writer"
    expect 3 "Failed to read file 'fifo'$EOL"
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
many_files_recipe)
    # The README's one-line recipe for a whole tree, run as written, with this build as
    # the quillmark on PATH: one line per file, each the file's identifier (sha256sum and
    # the length) and its path, whatever the name and however xargs splits the work.
    need_posix
    recipe=$(sed -n '/^## Identify many files/,/^## /p' "$here/../../README.md" | grep '^find ')
    [ "$(wc -l <<<"$recipe")" = 1 ] || fail "no single find recipe in the README: $recipe"
    mkdir bin tree
    ln -s "$exe" bin/quillmark
    names=(plain 'with space' '-dash' "it's" '100%' 'caf\xc3\xa9' 'sub/a b/deep' 'sub/"q"')
    for ((i = 0; i < 100; i++)); do names+=("many/f$i"); done
    : >expected
    for name in "${names[@]}"; do
        name=$(printf %b "$name")
        mkdir -p "tree/$(dirname -- "$name")"
        head -c $((RANDOM % 3000)) /dev/urandom >"tree/$name"
        printf '%s  ./%s\n' "$(identifier_of "tree/$name")" "$name" >>expected
    done
    : >tree/empty
    head -c 65537 /dev/urandom >tree/block_and_one
    for name in empty block_and_one; do
        printf '%s  ./%s\n' "$(identifier_of "tree/$name")" "$name" >>expected
    done
    (cd tree && PATH=$work/bin:$PATH bash -c "$recipe") >got 2>stderr.txt ||
        fail "the recipe failed: $(cat stderr.txt)"
    [ ! -s stderr.txt ] || fail "stderr not empty: $(cat stderr.txt)"
    diff <(LC_ALL=C sort expected) <(LC_ALL=C sort got) >diff.txt ||
        fail "lines differ (expected <, got >): $(head -n 20 diff.txt)"
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
    run big
    wait
    [ "${out:0:32}" = "$(hex_of 0300000001000000)" ] || fail "count field: $(head -c 16 stdout.bin)"
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
