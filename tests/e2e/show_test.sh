#!/usr/bin/env bash
# The show as a person sees it: pictures, and what happens without assets.
. "$(dirname "$0")/lib.sh"
SHOT=${SHOT_DIR:-$(mktemp -d)}

# With every asset: a window that shows the scroller over the clear colour.
start_xvfb 1920x1080
start_demo VROM_STATS=1 x
win=$WINDOW
check "the demo opens its window" test -n "$win"
sleep 15 # about 3 frames a second under llvmpipe: some 40 frames
import -window root "$SHOT/show.png"
check "the demo is still running" alive
colours=$(convert "$SHOT/show.png" -format %k info: 2>/dev/null)
check "the picture is not blank ($colours colours)" test "${colours:-0}" -gt 20
gold=$(gold_pixels "$SHOT/show.png")
check "the scroll text is visible ($gold gold pixels)" test "${gold:-0}" -gt 200
boxes=$(other_windows)
check "no message box appeared${boxes:+: $boxes}" test -z "$boxes"
kill -TERM "$DEMO_PID"
wait_exit 30
check "SIGTERM ends it with status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
stats=$(grep -c "^stats: [0-9.]* fps | cpu ms/frame: scene [0-9.]*, wipe+text [0-9.]*, upload [0-9.]*, passes [0-9.]* | gpu ms/frame: shadow [0-9.]*, boxes [0-9.]*, cubes [0-9.]*$" "$ERR_FILE")
check "VROM_STATS=1 prints a line a second ($stats lines in 15 s)" test "$stats" -ge 8 -a "$stats" -le 17
stop_xvfb

# Without the demo's assets anywhere (the demo copied to a folder with none
# beside it; the "assets" folders there are another project's and an empty
# one, which do not count): one line names the places searched, the textures
# are missing silently, then texProgram cannot link: seven "Shader link
# failed" boxes, each dismissed, then status 255.
start_xvfb 1280x720
empty=$(mktemp -d)
mkdir "$empty/bin" && cp "$DEMO" "$empty/bin/vrom2022"
mkdir "$empty/assets" "$empty/bin/assets"
echo 'body { margin: 0 }' >"$empty/assets/style.css"
echo 'not the demo'"'"'s shader' >"$empty/assets/knot.vs"
watch_boxes
DEMO="$empty/bin/vrom2022" start_demo --in "$empty" x
dismiss_boxes
wait_exit 30
check "seven boxes were shown and dismissed (got $DISMISSED: $CAPTIONS)" test "$DISMISSED" -eq 7
check "every box is a link failure ($CAPTIONS)" test "$CAPTIONS" = "[Shader link failed]"
check "status 255 after the seventh (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 255
searched="assets: not found (looked in: assets, $empty/bin/assets, $empty/assets, $empty/share/vrom2022/assets, "
check "one line names the places searched ($(head -n 1 "$ERR_FILE"))" grep -qF "$searched" "$ERR_FILE"
rm -rf "$empty"
stop_xvfb

finish
