# The one harness of the end-to-end scripts. A script starts with
#   source "$here/e2e_lib.sh" <program> "$@"
# where its own arguments are <case> <executable> [<the executable over the fault seam>]
# and <program> is the name the executable gives itself in its messages. The library
# makes a scratch folder and works in it, runs the executable, and compares exact bytes:
#   run ARGS...            runs the executable: stdout.bin, stderr.bin and $rc
#   run_exe EXE ARGS...    the same for another executable (the fault build)
#   invoke ARGS...         the executable with the timeout and emulator, streams untouched
#   L, Lid, E, T           add an identifier line, a message or text to what is expected
#   expect RC [TEXT]       both streams exactly as expected (TEXT is added to stdout's), and
#                          the exit code; then nothing is expected again
# QUILLMARK_EMULATOR, when set, is put before the executable (Wine for the Windows build,
# qemu for a Linux cross build). On Windows, told by the .exe, every line ends in CR LF.
# Exit 77 marks a case that cannot run here.

program=$1
case_name=$2
exe=$3
fault_exe=${4:-}
emulator=${QUILLMARK_EMULATOR:-}
skip=77

work=$(mktemp -d "${TMPDIR:-/tmp}/$program-e2e.XXXXXX")
# Cases make folders unreadable; they must go all the same.
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work" "$work.jobs"' EXIT
cd "$work" || exit 1

on_windows() { [[ $exe == *.exe ]]; }
# Every line ends in LF, or in CR LF where the runtime writes text mode (Windows).
if on_windows; then EOL=$'\r\n'; else EOL=$'\n'; fi
# need_posix <why>: the case shows what cannot exist on Windows.
need_posix() { on_windows && { echo "skipped on Windows: $1"; exit $skip; }; }
skip_because() { echo "skipped $1"; exit $skip; }
need_fault() {
    [ -n "$fault_exe" ] && return
    skip_because "here: the stand-in's fault seam exists only in the Linux test build"
}

fail() {
    echo "FAIL [$case_name]: $*"
    # Runs that Wine never started (see wine_run.sh) are named: their status is not ours.
    [ ! -s "${QUILLMARK_WINE_FAILED:-}" ] || sed 's/^/  /' "$QUILLMARK_WINE_FAILED"
    exit 1
}

# A run that takes more than $run_timeout seconds (60 unless the caller sets it) has hung.
invoke() { timeout "${run_timeout:-60}" $emulator "$exe" "$@"; }
run_exe() {
    local bin=$1
    shift
    timeout "${run_timeout:-60}" $emulator "$bin" "$@" >stdout.bin 2>stderr.bin
    rc=$?
}
run() { run_exe "$exe" "$@"; }

# What the next expect wants, gathered here because command substitution would drop the
# final line ends.
want=''
want_err=''
L() {  # L <file> [<name>]: the line for file, printed under name, escaped as sha256sum does
    Lid "$(identifier_of "$1")" "${2-$1}"
}
Lid() {  # Lid <identifier> <name>: the same line, for an identifier found already
    local name=$2 mark='' b='\'
    if [[ $name == *[$'\\\n\r']* ]]; then
        mark=$b
        name=${name//"$b"/"$b$b"}
        name=${name//$'\n'/"${b}n"}
        name=${name//$'\r'/"${b}r"}
    fi
    want+="$mark$1  $name$EOL"
}
E() { want_err+="$program: $1$EOL"; }
T() { want+="$1"; }

expect() {  # expect <rc> [<more stdout text>]
    want+=${2-}
    [ "$rc" = "$1" ] ||
        fail "exit code $rc, expected $1; stdout: '$(cat -A stdout.bin)', stderr: '$(cat stderr.bin)'"
    cmp -s stdout.bin <(printf %s "$want") ||
        fail "stdout differs: got '$(cat -A stdout.bin)', expected '$(printf %s "$want" | cat -A)'"
    cmp -s stderr.bin <(printf %s "$want_err") ||
        fail "stderr differs: got '$(cat -A stderr.bin)', expected '$(printf %s "$want_err" | cat -A)'"
    want=''
    want_err=''
}

# expect_nul <rc> <file>...: lines ended by NUL, names as they are, nothing on stderr.
expect_nul() {
    local code=$1 f
    shift
    for f; do printf '%s  %s\0' "$(identifier_of "$f")" "$f"; done >want.bin
    [ "$rc" = "$code" ] || fail "exit code $rc, expected $code; stderr: $(cat stderr.bin)"
    cmp -s stdout.bin want.bin || fail "stdout differs: got '$(cat -A stdout.bin)'"
    [ ! -s stderr.bin ] || fail "stderr not empty: $(cat stderr.bin)"
}

# The identifier from an oracle none of us wrote: the count, little-endian, then sha256sum,
# with bash's own arithmetic and case between them: scripts ask for hundreds.
identifier_of() {
    local n i byte le='' digest
    n=$(stat -c %s -- "$1")
    for ((i = 0; i < 8; i++)); do
        printf -v byte %02X $(((n >> (8 * i)) & 255))
        le+=$byte
    done
    # From standard input: sha256sum marks a line whose name it escapes with a backslash.
    read -r digest _ < <(sha256sum <"$1")
    printf '%s%s\n' "$le" "${digest^^}"
}

# identifiers_of0 <list>: the same, one line each for the files of a NUL-ended list, in its
# order, from one stat and one sha256sum run over them all (an escaped line's digest too).
identifiers_of0() {
    paste -d '\0' \
        <(xargs -0 stat --printf '%s\n' -- <"$1" | xargs printf '%016X\n' |
            sed -E 's/(..)(..)(..)(..)(..)(..)(..)(..)/\8\7\6\5\4\3\2\1/') \
        <(xargs -0 sha256sum -- <"$1" | sed -E 's/^\\?([0-9a-f]{64}) .*/\1/' | tr a-f A-F)
}

# wait_until <seconds> <what> <command...>: runs the command until it succeeds, at first
# every 10 ms, then less often as the wait grows long. The deadline is for a real hang only:
# the event is waited for, never a fixed time.
wait_until() {
    local limit=$1 what=$2 nap=0.01
    local deadline=$((SECONDS + limit))
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what within $limit s"
        sleep $nap
        case $nap in 0.01) nap=0.02 ;; 0.02) nap=0.05 ;; 0.05) nap=0.1 ;; 0.1) nap=0.2 ;; esac
    done
}

# aged <path>...: waits until every time under the paths is older than a cache's step (3 s)
# by 0.2 s more, so that a run may keep their records: sleeps until the clock has passed that
# moment, as often as it takes.
aged() {
    local newest whole fraction until left
    newest=$(find "$@" -printf '%C@\n%T@\n' | sort -n | tail -1)
    whole=${newest%.*} fraction=${newest#*.}000000
    until=$((whole * 1000000 + 10#${fraction:0:6} + 3200000))  # microseconds
    while left=$((until - ${EPOCHREALTIME/./})) && [ $left -ge 0 ]; do
        [ $left -lt 30000000 ] || fail "times in the future under $*"
        printf -v left '%d.%06d' $((left / 1000000)) $((left % 1000000))
        sleep "$left"
    done
}

# waits_in_read <fifo>: a process that has the FIFO open for reading only (the writers a
# script holds are read-write, and so are its subshells' copies) has a thread asleep in a
# read of a pipe: whatever was written has been taken, and the reader waits for more.
waits_in_read() {
    local target fd flags task
    target=$(readlink -f -- "$1")
    for fd in $(find /proc/[0-9]*/fd -maxdepth 1 -lname "$target" 2>/dev/null); do
        flags=$(sed -n 's/^flags:[[:space:]]*//p' "${fd%/fd/*}/fdinfo/${fd##*/}" 2>/dev/null)
        [ -n "$flags" ] && [ $((8#$flags & 3)) = 0 ] || continue
        for task in "${fd%/fd/*}"/task/*; do
            case $(cat "$task/wchan" 2>/dev/null) in *pipe_read* | *pipe_wait*) return 0 ;; esac
        done
    done
    return 1
}

# Under Wine every run goes through wine_run.sh, which tells a run that Wine never started
# from a status of ours; what it found lands in $QUILLMARK_WINE_FAILED, named by fail.
case ${emulator##*/} in
wine*)
    emulator="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine_run.sh $emulator"
    export QUILLMARK_WINE_FAILED=$PWD/wine-failed.txt
    ;;
esac

# With QUILLSUM_TEST_JOBS set (the ThreadSanitizer run sets 4), every run of $exe takes
# that many workers, whatever the machine has: the cases then drive the pool's threads.
if [ -n "${QUILLSUM_TEST_JOBS:-}" ] && [ "$program" = quillsum ] && ! on_windows; then
    # Beside the case's folder, so that no walk of it sees it, and named as the program is.
    mkdir -p "$work.jobs"
    jobs_wrapper=$work.jobs/${exe##*/}
    printf '#!/bin/sh\nexec %q -j %q "$@"\n' "$exe" "$QUILLSUM_TEST_JOBS" >"$jobs_wrapper"
    chmod +x "$jobs_wrapper"
    exe=$jobs_wrapper
fi
