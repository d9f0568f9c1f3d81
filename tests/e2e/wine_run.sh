#!/usr/bin/env bash
# wine_run.sh <wine> <program.exe> [<args>...]: runs the program under Wine, as the
# end-to-end scripts do, and tells a run that Wine never started from the program's verdict.
# When Wine itself fails (no server, a DLL it cannot load, a prefix it refuses) it prints a
# line of its own ("wine: ...", "wineserver: ...", "wine client error...") and exits 1
# before our program runs; the status then says nothing of ours. Such a run is tried again,
# up to three times in all; if Wine never starts the program, this prints
# "wine failed to start: <Wine's message>", appends it to $QUILLMARK_WINE_FAILED when that
# is set, and exits 125, a status our programs never give.
# A crash inside the program ("wine: Unhandled page fault ...") is the program's own
# failure and is passed on as it is, like every other status.
set -u
wine=$1
shift
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$err"' EXIT

# Standard error is held back until the run is over, to be looked at; when both streams go
# to one file, both are, so that each message keeps its place among the lines.
same=0
[ /dev/fd/1 -ef /dev/fd/2 ] && same=1

for attempt in 1 2 3; do
    if [ "$same" = 1 ]; then
        "$wine" "$@" >"$err" 2>&1
    else
        "$wine" "$@" 2>"$err"
    fi
    rc=$?
    message=$(grep -E -m1 '^(wine(server)?: |wine client error)' "$err" | grep -v -E 'Unhandled|exception')
    if [ "$rc" = 0 ] || [ -z "$message" ]; then
        cat "$err" >&"$((same == 1 ? 1 : 2))"
        exit "$rc"
    fi
    echo "Wine did not start ${1##*/} (attempt $attempt, exit $rc): $message" >>"${QUILLMARK_WINE_FAILED:-/dev/null}"
done
echo "wine failed to start: $message" | tee -a "${QUILLMARK_WINE_FAILED:-/dev/null}" >&2
exit 125
