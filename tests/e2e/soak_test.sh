#!/usr/bin/env bash
# Soak: the demo runs 10 minutes (SOAK_SECONDS) under Xvfb with the disk
# audio driver. It must keep running, its resident memory must grow by less
# than 2 MB after the first minute, and the sound must have no gap.
. "$(dirname "$0")/lib.sh"
seconds=${SOAK_SECONDS:-600}
work=$(mktemp -d)
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$DEMO_PID/status" 2>/dev/null; }

start_xvfb 1280x720
start_demo SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/sound.raw" x
began=$(date +%s)
# Resident memory every 5 s. Mesa's per-frame working set depends on the
# scene (its heap swings by some 15 MB within one 160-second cycle of the show
# and is given back), so like is compared with like: the lowest value over the
# first whole cycle after the first minute against the lowest over the last
# cycle. A leak raises that floor.
CYCLE=160
log="$work/rss.log"
while [ $(( $(date +%s) - began )) -lt "$seconds" ] && alive; do
    echo "$(( $(date +%s) - began )) $(rss_kb)" >>"$log"
    sleep 5
done
elapsed=$(( $(date +%s) - began ))
check "still running after ${elapsed} s" alive
kill -TERM "$DEMO_PID"
wait_exit 60
check "ends with status 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
read -r first_floor last_floor at_minute at_end low high <<<"$(awk -v c=$CYCLE -v e=$elapsed '
    $2 == "" { next }
    $1 >= 60 && $1 < 60 + c { if (f == "" || $2 < f) f = $2 }
    $1 >= e - c { if (l == "" || $2 < l) l = $2 }
    $1 >= 60 && m == "" { m = $2 }
    { last = $2; if (lo == "" || $2 < lo) lo = $2; if ($2 > hi) hi = $2 }
    END { print f, l, m, last, lo, hi }' "$log")"
echo "   resident memory (kB): ${at_minute} after a minute, ${at_end} at the end, ${low}..${high} over the run"
echo "   lowest over the first cycle after a minute: ${first_floor}; over the last cycle: ${last_floor}"
check "memory grew by less than 2 MB after the first minute (floor to floor)" \
    test $(( last_floor - first_floor )) -lt 2048

# No gap: as many seconds of sound as of running, and never 50 ms of exact
# silence after the volume ramp (the music never falls silent).
read -r sound longest <<<"$(python3 - "$work/sound.raw" <<'PY'
import array, sys
a = array.array('f')
with open(sys.argv[1], 'rb') as f:
    a.frombytes(f.read())
frames = len(a) // 2
longest = run = 0
for i in range(44100 * 2 * 10, len(a), 2):  # after the first 10 s
    if a[i] == 0.0 and a[i + 1] == 0.0:
        run += 1; longest = max(longest, run)
    else:
        run = 0
print(f"{frames / 44100:.1f}", longest)
PY
)"
echo "   sound: ${sound} s written; longest run of silence ${longest} frames"
check "the sound kept pace with the run" python3 -c "import sys; sys.exit(not $sound >= $elapsed - 5)"
check "the sound has no gap" test "$longest" -lt 2205
stop_xvfb
rm -rf "$work"
finish
