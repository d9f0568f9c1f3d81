# Shared by the end-to-end scripts: run an executable, then compare its exact stdout bytes,
# an empty stderr and its exit code. The caller sets case_name, and emulator (empty to run
# the executable directly, Wine for the Windows build, qemu for a Linux cross build).

fail() {
    echo "FAIL [$case_name]: $*"
    # Runs that Wine never started (see wine_run.sh) are named: their status is not ours.
    [ ! -s "${QUILLMARK_WINE_FAILED:-}" ] || sed 's/^/  /' "$QUILLMARK_WINE_FAILED"
    exit 1
}

# run_exe <exe> <args...>: fills $out (exact stdout, as hex), $err (stderr) and $rc.
# A run that takes more than $run_timeout seconds (60 unless the caller sets it) has hung.
run_exe() {
    local bin=$1
    shift
    timeout "${run_timeout:-60}" $emulator "$bin" "$@" >stdout.bin 2>stderr.txt
    rc=$?
    out=$(od -An -v -tx1 stdout.bin | tr -d ' \n')
    err=$(cat stderr.txt)
}

hex_of() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

expect() {  # expect <rc> <exact stdout text>
    [ "$rc" = "$1" ] || fail "exit code $rc, expected $1; stdout: $(cat stdout.bin)"
    [ -z "$err" ] || fail "stderr not empty: $err"
    [ "$out" = "$(hex_of "$2")" ] || fail "stdout differs: got '$(cat -A stdout.bin)', expected '$2'"
}

# The identifier from an oracle none of us wrote: the count, little-endian, then sha256sum.
identifier_of() {
    printf '%016X' "$(stat -c %s -- "$1")" | sed -E 's/(..)(..)(..)(..)(..)(..)(..)(..)/\8\7\6\5\4\3\2\1/'
    # From standard input: sha256sum marks a line whose name it escapes with a backslash.
    sha256sum <"$1" | cut -c1-64 | tr a-f A-F
}

# identifiers_of0 <list>: the same, one line each for the files of a NUL-ended list, in its
# order, from one stat and one sha256sum run over them all (an escaped line's digest too).
identifiers_of0() {
    paste -d '\0' \
        <(xargs -0 stat --printf '%s\n' -- <"$1" | xargs printf '%016X\n' |
            sed -E 's/(..)(..)(..)(..)(..)(..)(..)(..)/\8\7\6\5\4\3\2\1/') \
        <(xargs -0 sha256sum -- <"$1" | sed -E 's/^\\?([0-9a-f]{64}) .*/\1/' | tr a-f A-F)
}

# wait_until <seconds> <what> <command...>: runs the command until it succeeds. The deadline
# is for a real hang only: the event is waited for, never a fixed time.
wait_until() {
    local limit=$1 what=$2
    local deadline=$((SECONDS + limit))
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what within $limit s"
        sleep 0.02
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
if [ -n "${QUILLSUM_TEST_JOBS:-}" ] && [[ $exe != *.exe ]]; then
    # Beside the case's folder, so that no walk of it sees it, and named as the program is.
    mkdir -p "$work.jobs"
    jobs_wrapper=$work.jobs/${exe##*/}
    printf '#!/bin/sh\nexec %q -j %q "$@"\n' "$exe" "$QUILLSUM_TEST_JOBS" >"$jobs_wrapper"
    chmod +x "$jobs_wrapper"
    exe=$jobs_wrapper
fi
