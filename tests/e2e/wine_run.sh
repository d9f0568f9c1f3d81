#!/usr/bin/env bash
# wine_run.sh <wine> <program.exe> [<args>...]: runs the program under Wine, as the
# end-to-end scripts do, and tells a run that Wine never started from the program's verdict.
# Wine can fail before the program runs (no server, a DLL it cannot load, a prefix it
# refuses), printing a message of its own or, with its debug channels off, nothing, and
# exit 1: a status that says nothing of ours. Wine's loaddll channel is turned on to tell:
# the program ran only if Wine loaded its image and printed no failure of its own (a line
# "wine: ...", "wineserver: ..." or "wine client error..."). Those trace lines are taken out of standard
# error; everything else passes as it came. A run that never started is tried again, up to
# three times in all; if Wine never starts the program, this prints
# "wine failed to start: <Wine's message>", appends it to $QUILLMARK_WINE_FAILED when that
# is set, and exits 125, a status our programs never give. Each run that Wine did not start
# is also noted in $QUILLMARK_WINE_RETRIES when that is set, retried or not. A crash inside
# the program ("wine: Unhandled page fault ...") is the program's own failure, passed on.
set -u
wine=$1
shift
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$err"' EXIT
export WINEDEBUG="${WINEDEBUG:+$WINEDEBUG,}+loaddll"
trace='^[0-9a-f]{4,}:trace:loaddll:'
image="$trace.*Loaded L\".*[\\\\/]${1##*/}\" at "

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
    # Started: its image was loaded, and Wine did not then give up with a message of its own
    # (a DLL it could not load, its server gone) before the program could say a word.
    if grep -q -E -i "$image" "$err" &&
        { [ "$rc" = 0 ] || ! grep -v -E "$trace" "$err" | grep -q -E '^(wine(server)?: |wine client error)' ||
            grep -q -E '^wine: Unhandled' "$err"; }; then
        grep -v -E "$trace" "$err" >&"$((same == 1 ? 1 : 2))"
        exit "$rc"
    fi
    message=$(grep -v -E "$trace" "$err" | tr '\n' ' ' | sed 's/ *$//')
    message=${message:-"nothing said, exit $rc"}
    echo "Wine did not start ${1##*/} (attempt $attempt, exit $rc): $message" |
        tee -a "${QUILLMARK_WINE_FAILED:-/dev/null}" >>"${QUILLMARK_WINE_RETRIES:-/dev/null}"
done
echo "wine failed to start: $message" | tee -a "${QUILLMARK_WINE_FAILED:-/dev/null}" >&2
exit 125
