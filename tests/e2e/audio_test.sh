#!/usr/bin/env bash
# The sound a listener gets, through SDL's disk audio driver (what the device
# would play: 32-bit float stereo at 44100 Hz).
. "$(dirname "$0")/lib.sh"
ROOT=$(pwd)
work=$(mktemp -d)

# stats FILE: prints "seconds rms_last_3s peak near_limit_fraction first_0.2s_peak"
stats() {
    python3 - "$1" <<'PY'
import array, math, sys
a = array.array('f')
with open(sys.argv[1], 'rb') as f:
    a.frombytes(f.read())
n = len(a) // 2
tail = a[max(0, len(a) - 2 * 44100 * 3):]
rms = math.sqrt(sum(x * x for x in tail) / max(1, len(tail)))
peak = max((abs(x) for x in a), default=0.0)
limit = 0.9862875 * 0.95
near = sum(1 for x in a if abs(x) >= limit * 0.999) / max(1, len(a))
head = max((abs(x) for x in a[:2 * 8820]), default=0.0)
print(f"{n / 44100:.2f} {rms:.5f} {peak:.5f} {near:.6f} {head:.6f}")
PY
}

# run_demo DIR OUT: runs the demo from DIR for about 14 s with the disk driver.
run_demo() {
    start_demo --in "$1" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$2" x
    sleep 14
    kill -TERM "$DEMO_PID"
    wait_exit 30
}

# A folder like the repository's, with one music file left out.
assets_without() {
    local dir="$work/without_$1"
    mkdir -p "$dir/assets"
    for f in "$ROOT"/assets/*; do
        [ "$(basename "$f")" = "$1" ] || ln -s "$f" "$dir/assets/"
    done
    echo "$dir"
}

start_xvfb 1280x720

run_demo "$ROOT" "$work/both.raw"
check "status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
read -r seconds rms peak near head <<<"$(stats "$work/both.raw")"
echo "   both tracks: ${seconds}s written, rms(last 3 s) $rms, peak $peak, at the limit $near, peak of the first 0.2 s $head"
check "the device was fed for most of the run" python3 -c "import sys; sys.exit(not $seconds > 8)"
check "it starts from silence (the volume ramp)" python3 -c "import sys; sys.exit(not $head < 0.01)"
check "after the ramp it is not silent" python3 -c "import sys; sys.exit(not $rms > 0.02)"
check "it never sits at the clipper's limit" python3 -c "import sys; sys.exit(not $near < 0.0005)"

for missing in vrom2022_space.ogg vrom2022_melo.ogg; do
    run_demo "$(assets_without $missing)" "$work/$missing.raw"
    read -r seconds rms peak near head <<<"$(stats "$work/$missing.raw")"
    check "without $missing the other track still plays (rms $rms, status $DEMO_STATUS)" \
        python3 -c "import sys; sys.exit(not ($rms > 0.005 and $DEMO_STATUS == 0))"
done

# No audio device at all: the demo runs silently.
start_demo --in "$ROOT" SDL_AUDIODRIVER=no-such-driver x
win=$WINDOW
check "without an audio device the window still opens" test -n "$win"
sleep 3
check "and the demo keeps running" alive
kill -TERM "$DEMO_PID"
wait_exit 30
check "status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0

stop_xvfb
rm -rf "$work"
finish
