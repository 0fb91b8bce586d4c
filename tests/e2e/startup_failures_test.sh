#!/usr/bin/env bash
# Start-up failures: no display at all, and an X server without GLX.
. "$(dirname "$0")/lib.sh"

# No display: SDL's video start fails. (SDL_VIDEODRIVER=x11, or SDL falls back
# to its invisible offscreen driver.)
out=$(env -u DISPLAY SDL_VIDEODRIVER=x11 timeout 30 "${LAUNCH[@]}" "$DEMO" x 2>&1 >/dev/null); status=$?
check "no display: status 0 (got $status)" test "$status" -eq 0
check "no display: 'Video initialization failed: ' on stderr" \
    grep -q "^Video initialization failed: " <<<"$out"

# An X server without GLX: the OpenGL window cannot be made.
start_xvfb 1280x720 -extension GLX
start_demo x
wait_exit 30
check "no GLX: status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
check "no GLX: 'Video mode set failed: ' on stderr" grep -q "^Video mode set failed: " "$ERR_FILE"
check "no GLX: nothing on stdout" test ! -s "$OUT_FILE"
stop_xvfb

finish
