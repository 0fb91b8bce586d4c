#!/usr/bin/env bash
# The web build in Debian's headless Chromium (software WebGL), served on
# loopback: the page loads without a console error, a real click starts the
# show and its sound, a screenshot some seconds in shows the scroll text over
# the clear colour, one started at show time 70000 shows a scene, and Web
# Audio runs with the engine's blocks. Run after scripts/web.sh.
. "$(dirname "$0")/../e2e/lib.sh"
WEB=${WEB_DIR:-build-web}/site
work=$(mktemp -d)
# The folder to serve holds what a visitor downloads, and nothing else.
check "the site folder holds the page, its code and its data only ($(ls "$WEB" | tr '\n' ' '))" \
    test "$(ls -A "$WEB" | tr '\n' ' ')" = "index.html vrom2022.data vrom2022.js vrom2022.wasm "
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 "$port" -d "$WEB" >"$work/http.log" 2>&1 &
HTTP_PID=$!
chromium --headless=new --no-sandbox --disable-gpu --use-angle=swiftshader --enable-unsafe-swiftshader \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync --disable-quic \
    --user-data-dir="$work/profile" --remote-debugging-port=0 about:blank >"$work/chromium.log" 2>&1 &
CHROME_PID=$!
trap 'kill $HTTP_PID $CHROME_PID 2>/dev/null; wait 2>/dev/null' EXIT
page="http://127.0.0.1:$port/index.html"

# Software WebGL draws a frame of 262144 cubes in seconds, so the waits are long.
cat >"$work/steps" <<STEPS
viewport 960 540
wait-ready
eval overlay document.getElementById('start').textContent
eval idle vromStatus()
click 480 270
sleep 12
screenshot intro
eval status ({show: vromStatus(), audio: AL.currentCtx ? AL.currentCtx.audioCtx.state : 'none', rate: AL.currentCtx ? AL.currentCtx.audioCtx.sampleRate : 0, time: performance.now()})
sleep 10
eval later ({show: vromStatus(), time: performance.now()})
key
eval paused vromStatus()
sleep 8
eval stillPaused vromStatus()
key
sleep 8
eval resumed vromStatus()
dblclick 480 270
sleep 2
eval fullscreen ({element: document.fullscreenElement ? document.fullscreenElement.id : 'none', outcome: window.vromFullscreen || 'not asked'})
navigate $page?start=70000
wait-ready
click 480 270
sleep 12
screenshot scene
navigate $page?autostart
wait-ready
sleep 3
eval autostart ({show: vromStatus(), autoplay: window.vromAutoplay || 'undecided', overlay: getComputedStyle(document.getElementById('start')).display + ' ' + document.getElementById('start').textContent})
click 480 270
sleep 8
eval autostartClick ({show: vromStatus(), audio: AL.currentCtx ? AL.currentCtx.audioCtx.state : 'none'})
STEPS
timeout 600 python3 "$(dirname "$0")/cdp.py" "$work/profile/DevToolsActivePort" "$page" "$work/steps" "$work"
check "the browser ran every step (status $?)" test -s "$work/scene.png" -a -s "$work/autostartClick.json"
errors=$(cat "$work/errors.txt" 2>/dev/null)
check "the page logs no console error${errors:+: $errors}" test -z "$errors"
check "it waits behind \"click to start\" ($(cat "$work/overlay.json" 2>/dev/null))" grep -q '"click to start"' "$work/overlay.json"
check "  with the show not started before the click" grep -q '"started": false' "$work/idle.json"
field() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, d))" "$@"; }
check "the click starts the show ($(field "$work/status.json" "show['frames']") frames)" \
    test "$(field "$work/status.json" "show['started'] and show['frames'] > 0")" = True
check "the AudioContext is running ($(field "$work/status.json" "audio"), $(field "$work/status.json" "rate") Hz)" \
    test "$(field "$work/status.json" "audio")" = running
check "and the engine has mixed blocks for it ($(field "$work/later.json" "show['blocksMixed']"))" \
    test "$(field "$work/later.json" "show['blocksMixed'] > 4")" = True
check "a key release pauses the show (paused $(field "$work/paused.json" "paused"))" \
    test "$(field "$work/paused.json" "paused")" = True
check "  and its clock and frames stand still ($(field "$work/paused.json" "frames") then $(field "$work/stillPaused.json" "frames") frames)" \
    test "$(field "$work/paused.json" "(frames, showTime)")" = "$(field "$work/stillPaused.json" "(frames, showTime)")"
check "another resumes it ($(field "$work/resumed.json" "frames") frames)" \
    test "$(field "$work/resumed.json" "not paused and frames > $(field "$work/stillPaused.json" "frames")")" = True
# Headless Chromium refuses full screen ("Permissions check failed"); the page
# must have asked for it, and a refusal must leave the show running.
check "a double click asks for the canvas in full screen ($(cat "$work/fullscreen.json"))" \
    test "$(field "$work/fullscreen.json" "element == 'canvas' or outcome.startswith('refused')")" = True
gold=$(gold_pixels "$work/intro.png")
check "a screenshot shows the scroll text ($gold gold pixels)" test "${gold:-0}" -gt 200
background=$(convert "$work/intro.png" -format "%[pixel:p{5,270}]" info: 2>/dev/null)
check "  over the clear colour ($background)" bash -c "[[ '$background' != 'srgb(0,0,0)' && '$background' != 'black' ]]"
colours=$(convert "$work/scene.png" -format %k info: 2>/dev/null)
check "started at show time 70000 it shows a scene ($colours colours)" test "${colours:-0}" -gt 300
# ?autostart with the browser's own autoplay policy: where it refuses sound
# without a gesture the page still says "click to start" and the click starts
# show and sound; where it allows it, the show starts with its sound.
autoplay=$(field "$work/autostart.json" "autoplay")
echo "note: headless Chromium's autoplay policy: $autoplay"
if [ "$autoplay" = refused ]; then
    check "?autostart refused: the page says \"click to start\" ($(field "$work/autostart.json" "overlay"))" \
        test "$(field "$work/autostart.json" "overlay == 'flex click to start' and not show['started']")" = True
    check "  and the click starts the show and its sound ($(field "$work/autostartClick.json" "audio"))" \
        test "$(field "$work/autostartClick.json" "show['started'] and audio == 'running' and show['blocksMixed'] > 0")" = True
else
    check "?autostart allowed: the show starts with its sound ($autoplay, $(field "$work/autostartClick.json" "audio"))" \
        test "$(field "$work/autostartClick.json" "'$autoplay' == 'allowed' and show['started'] and audio == 'running'")" = True
fi
fps=$(python3 -c "
import json; a = json.load(open('$work/status.json')); b = json.load(open('$work/later.json'))
print('%.2f' % ((b['show']['frames'] - a['show']['frames']) * 1000 / (b['time'] - a['time'])))")
echo "note: headless Chromium with software WebGL draws $fps frames a second at 960 x 540"
[ "$failures" -eq 0 ] && rm -rf "$work" || echo "screenshots and logs kept in $work"
finish
