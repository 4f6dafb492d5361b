#!/usr/bin/env bash
# Runs one test on an X display of its own (Xvfb, 1920x1080x24), so that tests run
# in parallel never take each other's keyboard focus or pointer grab. A test that
# fails says whether its display was still there, with what Xvfb printed: a test
# program exits with status 1 by itself when its X connection breaks.
set -u
fifo=$(mktemp -u "${TMPDIR:-/tmp}/own-display.XXXXXX")
xlog=$(mktemp "${TMPDIR:-/tmp}/own-display-log.XXXXXX") || exit 1
mkfifo "$fifo" || exit 1
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" 2>"$xlog" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$fifo" "$xlog"' EXIT
display=
read -r -t 30 display <"$fifo"
if [ -z "$display" ]; then
    echo "own-display: Xvfb did not start" >&2
    tail -n 20 "$xlog" >&2
    exit 1
fi
DISPLAY=":$display" "$@"
status=$?
if [ "$status" -ne 0 ]; then
    if kill -0 "$xvfb" 2>/dev/null; then
        echo "own-display: the test exited with status $status; its display :$display is still up" >&2
    else
        wait "$xvfb"
        echo "own-display: the test exited with status $status; Xvfb on :$display had exited (status $?):" >&2
        tail -n 20 "$xlog" >&2
    fi
fi
exit "$status"
