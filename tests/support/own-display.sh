#!/usr/bin/env bash
# Runs one test on an X display of its own (Xvfb, 1920x1080x24), so that tests run
# in parallel never take each other's keyboard focus or pointer grab.
set -u
fifo=$(mktemp -u "${TMPDIR:-/tmp}/own-display.XXXXXX")
mkfifo "$fifo" || exit 1
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$fifo"' EXIT
display=
read -r -t 30 display <"$fifo"
if [ -z "$display" ]; then
    echo "own-display: Xvfb did not start" >&2
    exit 1
fi
DISPLAY=":$display" "$@"
status=$?
exit "$status"
