#!/usr/bin/env bash
# Start-up failures: no display at all, and an X server without GLX.
. "$(dirname "$0")/lib.sh"

# No display: SDL's video start fails. (SDL_VIDEODRIVER=x11, or SDL falls back
# to its invisible offscreen driver.)
out=$(env -u DISPLAY SDL_VIDEODRIVER=x11 timeout 30 "${LAUNCH[@]}" "$DEMO" x 2>&1 >/dev/null); status=$?
check "no display: status 0 (got $status)" test "$status" -eq 0
check "no display: 'Video initialization failed: ' on stderr" \
    grep -q "^Video initialization failed: " <<<"$out"

# No display at all, and no driver chosen (an ssh session, a broken menu
# launch): SDL would fall back to its invisible offscreen window and the demo
# would play music unseen until killed. It says so, opens no sound device and
# ends with 1.
work=$(mktemp -d)
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/sound.raw" \
      timeout 30 "${LAUNCH[@]}" "$DEMO" x 2>&1 >/dev/null); status=$?
check "no display, no driver chosen: status 1, not an invisible run (got $status)" test "$status" -eq 1
check "  saying so ($out)" test "$out" = \
    "vrom2022: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop session, or set SDL_VIDEODRIVER"
check "  with no sound played" test ! -e "$work/sound.raw"
out=$(env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:189 SDL_AUDIODRIVER=dummy \
      timeout 30 "${LAUNCH[@]}" "$DEMO" x 2>&1 >/dev/null); status=$?
check "an X server that is not there: status 1 (got $status)" test "$status" -eq 1
check "  saying so ($out)" grep -q "^vrom2022: no display (neither the X server of DISPLAY nor a Wayland compositor could be reached)" <<<"$out"

# The offscreen driver chosen on purpose runs as before, until it is ended.
# (Under AddressSanitizer, SDL unloads EGL at exit, so a leak of Mesa's EGL
# would show as an unknown module: it is kept loaded too, to be told apart.)
launch=("${LAUNCH[@]}")
if [ -n "${SANITIZER_PRELOAD:-}" ]; then
    egl=$(ls /usr/lib/x86_64-linux-gnu/libEGL.so.1 /usr/lib/x86_64-linux-gnu/libEGL_mesa.so.0 2>/dev/null | tr '\n' ':')
    launch=(env LD_PRELOAD="$SANITIZER_PRELOAD:${egl%:}")
fi
env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "${launch[@]}" "$DEMO" x \
    >/dev/null 2>"$work/offscreen.err" &
pid=$!
sleep 8
running=no; kill -0 "$pid" 2>/dev/null && running=yes
kill -TERM "$pid" 2>/dev/null
wait "$pid"; status=$?
check "SDL_VIDEODRIVER=offscreen on purpose: it runs (running after 8 s: $running) and SIGTERM ends it with 0 (got $status)" \
    test "$running" = yes -a "$status" -eq 0 || tail -n 3 "$work/offscreen.err"
rm -rf "$work"

# An X server without GLX: the OpenGL window cannot be made.
start_xvfb 1280x720 -extension GLX
start_demo x
wait_exit 30
check "no GLX: status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
check "no GLX: 'Video mode set failed: ' on stderr" grep -q "^Video mode set failed: " "$ERR_FILE"
check "no GLX: nothing on stdout" test ! -s "$OUT_FILE"
stop_xvfb

finish
