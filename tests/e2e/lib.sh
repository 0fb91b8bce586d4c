# lib.sh - helpers for end-to-end tests of the real executables.
# Sourced by the tests; each test runs from the repository root.
set -u

DEMO=${DEMO:-./build/vrom2022}
failures=0
# Programs under test start through LAUNCH. In the AddressSanitizer run it
# keeps Mesa's driver loaded after SDL_Quit (SANITIZER_PRELOAD), so that the
# leak report can tell the driver's allocations from the demo's own.
LAUNCH=(env ${SANITIZER_PRELOAD:+LD_PRELOAD=$SANITIZER_PRELOAD})

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() { # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@"; then pass "$what"; else fail "$what"; return 1; fi
}

# start_xvfb WIDTHxHEIGHT [extra Xvfb arguments]: starts a private X server and
# exports DISPLAY. It is stopped when the test exits.
start_xvfb() {
    local size=$1; shift
    local n
    for n in $(seq 90 190); do
        [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || break
    done
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp "$@" >${XVFB_LOG:-/dev/null} 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    trap 'stop_xvfb' EXIT
    local i
    for i in $(seq 1 100); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not start"; exit 1
}
stop_xvfb() {
    [ -n "${DEMO_PID:-}" ] && kill -9 "$DEMO_PID" 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    return 0
}

# start_demo [--in DIR] [--wait SECONDS] [NAME=VALUE ...] [--] [ARGS...]:
# starts the demo from DIR (default: here) with the given environment, in the
# background (DEMO_PID), its standard output and error in $OUT_FILE and
# $ERR_FILE. Returns once its window is mapped (its id in WINDOW) or the demo
# has ended (WINDOW empty), waiting at most SECONDS (default 60).
#
# Xvfb now and then resets a connection that opens while it is still closing
# another one (a demo that just ended, the tests' own X tools). SDL would then
# fall back to its invisible offscreen driver and the demo would run unseen.
# So the demo is started with SDL_VIDEODRIVER=x11: a refused connection ends
# it at once with "Video initialization failed", and that start is retried,
# three attempts in all.
start_demo() {
    local dir=. seconds=60 envs=()
    while [ $# -gt 0 ]; do
        case "$1" in
            --in) dir=$2; shift 2 ;;
            --wait) seconds=$2; shift 2 ;;
            --) shift; break ;;
            *=*) envs+=("$1"); shift ;;
            *) break ;;
        esac
    done
    OUT_FILE=$(mktemp); ERR_FILE=$(mktemp)
    local attempt demo
    demo=$(realpath "$DEMO")
    for attempt in 1 2 3; do
        ( cd "$dir" && exec env SDL_VIDEODRIVER=x11 "${envs[@]}" "${LAUNCH[@]}" "$demo" "$@" \
              >"$OUT_FILE" 2>"$ERR_FILE" ) &
        DEMO_PID=$!
        WINDOW=$(wait_window "vROm 2022" "$seconds")
        [ -n "$WINDOW" ] && return 0
        alive && return 0
        grep -q "^Video initialization failed: " "$ERR_FILE" || return 0
        echo "note: the X server refused the demo's connection (attempt $attempt)" >&2
        sleep 0.5
    done
}

# wait_window TITLE-PATTERN [seconds]: prints the window id once it is mapped,
# nothing when the demo ends first or the time runs out. A window that takes
# longer than 10 s is reported on standard error.
wait_window() {
    local i id start=$SECONDS
    for i in $(seq 1 $((${2:-60} * 10))); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then
            [ $((SECONDS - start)) -le 10 ] ||
                echo "note: window '$1' appeared after $((SECONDS - start)) s" >&2
            echo "$id"; return 0
        fi
        kill -0 "$DEMO_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# x_diagnostics: what the X server shows, for a failure report.
x_diagnostics() {
    echo "--- top-level windows:"
    xwininfo -root -children 2>&1 | sed -n 's/^ *\(0x[0-9a-f]*\) /    \1 /p'
}

# wait_exit [seconds]: waits for the demo; sets DEMO_STATUS (124 on time-out).
wait_exit() {
    local i
    for i in $(seq 1 $((${1:-60} * 10))); do
        if ! kill -0 "$DEMO_PID" 2>/dev/null; then
            wait "$DEMO_PID"; DEMO_STATUS=$?; DEMO_PID=; return 0
        fi
        sleep 0.1
    done
    DEMO_STATUS=124
}

alive() { kill -0 "$DEMO_PID" 2>/dev/null; }

# Prints "ID NAME" for every named top-level window other than the demo's
# (SDL's message boxes are among them; xdotool's search does not see them).
other_windows() {
    xwininfo -root -children 2>/dev/null |
        sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": .*/\1 \2/p' | grep -v ' vROm 2022 - '
}

# gold_pixels PNG: counts the pixels near the scroll text's gold.
gold_pixels() {
    convert "$1" -format %c histogram:info:- 2>/dev/null | awk '
        { split($0, a, "("); split(a[2], c, ","); n = $1 + 0
          r = c[1] + 0; g = c[2] + 0; b = c[3] + 0
          if (r > 120 && g > 90 && b < 0.75 * r && r > b + 50) s += n }
        END { print s + 0 }'
}

# require_message_boxes: shows one box through box_probe and dismisses it, once
# per test. Where no box can be shown (SDL's X11 boxes need the X core fonts),
# the test ends here with one line that says why, rather than with counts of
# boxes that never came.
require_message_boxes() {
    [ -n "${BOXES_CHECKED:-}" ] && return 0
    local probe=${BOX_PROBE:-./build/tests/box_probe} err pid line i attempt status=1
    err=$(mktemp)
    for attempt in 1 2 3; do
        ASAN_OPTIONS=detect_leaks=0 SDL_VIDEODRIVER=x11 "$probe" 2>"$err" &
        pid=$!
        for i in $(seq 1 300); do
            kill -0 "$pid" 2>/dev/null || break
            line=$(other_windows | grep ' vrom box probe$' | head -n 1)
            [ -n "$line" ] && xdotool key --window "${line%% *}" Return 2>/dev/null
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
        wait "$pid"; status=$?
        # Any failure is tried again: the X server may reset a connection
        # (see start_demo), and once in a test command's run SDL's own box
        # failed where the next one showed (it then fell back on zenity,
        # which died with the probe). A machine that cannot show boxes fails
        # all three.
        [ "$status" -eq 0 ] && break
        sleep 0.5
    done
    if [ "$status" -ne 0 ]; then
        local why
        why=$(tr '\n' ' ' <"$err" | cut -c1-160)
        # SDL's X11 box draws with the core font set below; SDL reports only
        # its last fallback's error (zenity), so the fonts are asked directly.
        if ! xlsfonts -fn '-*-*-medium-r-normal--*-120-*-*-*-*-*-*' 2>/dev/null | grep -q .; then
            echo "FAIL: SDL cannot show message boxes: the X server has no core fonts for them; install package xfonts-base (scripts/deps.sh does)"
        else
            echo "FAIL: SDL cannot show message boxes (status $status: ${why:-no reason given})"
        fi
        rm -f "$err"
        exit 1
    fi
    rm -f "$err"
    BOXES_CHECKED=1
}

# watch_boxes: starts recording the X server's window maps; call it before
# starting the demo, then dismiss_boxes. Checks first that boxes can be shown.
watch_boxes() {
    require_message_boxes
    MAP_LOG=$(mktemp)
    xev -root -event substructure >"$MAP_LOG" 2>&1 &
    XEV_PID=$!
    sleep 0.3
}

# dismiss_boxes: while the demo runs, presses Return on every message box it
# shows. Then sets DISMISSED to the number of boxes that were mapped (X reuses
# a box's window id for the next one, so maps are counted, not ids) and
# CAPTIONS to the distinct captions seen, "[caption][caption]...".
dismiss_boxes() {
    local i line ids=""
    local captions=""
    for i in $(seq 1 3000); do
        line=$(other_windows | head -n 1)
        if [ -n "$line" ]; then
            case " $ids " in *" ${line%% *} "*) ;; *) ids="$ids ${line%% *}" ;; esac
            case "$captions" in *"[${line#* }]"*) ;; *) captions="$captions[${line#* }]" ;; esac
            xdotool key --window "${line%% *}" Return 2>/dev/null
        fi
        alive || break
        sleep 0.05
    done
    sleep 0.2
    kill "$XEV_PID" 2>/dev/null
    wait "$XEV_PID" 2>/dev/null
    DISMISSED=0
    local id
    for id in $ids; do
        DISMISSED=$((DISMISSED + $(grep -A1 '^MapNotify' "$MAP_LOG" | grep -c "window $id,")))
    done
    CAPTIONS=$captions
    rm -f "$MAP_LOG"
}

finish() {
    if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
    echo "all checks passed"; exit 0
}
