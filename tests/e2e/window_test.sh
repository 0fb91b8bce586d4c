#!/usr/bin/env bash
# The demo's window and exits, as a person meets them.
. "$(dirname "$0")/lib.sh"

# With an argument: a centred 960 x 540 window. A key press alone changes
# nothing; the release ends the demo with status 0.
start_xvfb 1920x1080
start_demo x
win=$WINDOW
check "windowed demo opens a window" test -n "$win"
geometry=$(xdotool getwindowgeometry "$win" 2>/dev/null)
check "window is 960x540" grep -q "Geometry: 960x540" <<<"$geometry"
check "window is centred" grep -q "Position: 480,270" <<<"$geometry"
check "title names the demo" grep -q "^vROm 2022 - " <<<"$(xdotool getwindowname "$win")"
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool keydown --window "$win" space
sleep 2
check "a key press alone does not end the demo" alive
xdotool keyup --window "$win" space
wait_exit 30
check "a key release ends it with status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
stop_xvfb

# Without arguments: full screen at the screen's size; SIGTERM (SDL's quit
# event) ends it with status 0.
start_xvfb 1280x720
start_demo
win=$WINDOW
check "full-screen demo opens a window" test -n "$win"
check "window covers the 1280x720 screen" \
    grep -q "Geometry: 1280x720" <<<"$(xdotool getwindowgeometry "$win" 2>/dev/null)"
sleep 1
kill -TERM "$DEMO_PID"
wait_exit 30
check "SIGTERM ends it with status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
stop_xvfb

finish
