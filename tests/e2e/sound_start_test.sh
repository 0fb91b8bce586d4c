#!/usr/bin/env bash
# A show that does not start at 0 has the sound the live show has there: the
# two tracks start with the show and loop seamlessly, so showmix and vromcap
# from show time T give exactly the matching span of a mix from 0, but for the
# first 735-frame block, whose volumes ramp up from silence.
. "$(dirname "$0")/lib.sh"
SHOWMIX=${SHOWMIX:-./build/showmix}
CAP=${VROMCAP:-./build/vromcap}
work=$(mktemp -d)

# The reference: the show's sound from 0 over 124 s, past the tracks' loop
# point at 115.2 s (show time 86400).
"${LAUNCH[@]}" "$SHOWMIX" "$work/from0.raw" --seconds 124; status=$?
check "showmix from 0 over 124 s (status $status)" test "$status" -eq 0

# same_span FILE T [FORMAT]: how FILE (float stereo, or 16-bit with s16)
# compares with the reference from show time T (T * 58.8 frames in):
# "SAMPLES DIFFERING FIRST LAST".
same_span() {
    python3 - "$work/from0.raw" "$1" "$2" "${3:-f32}" <<'PY'
import array, math, sys
ref = array.array('f'); ref.frombytes(open(sys.argv[1], 'rb').read())
got_bytes = open(sys.argv[2], 'rb').read()
t, kind = int(sys.argv[3]), sys.argv[4]
first = t * 588 // 10   # t units of 4/3 ms at 44100 Hz: 58.8 frames each
if kind == 's16':       # a WAV from vromcap: the reference converted as the device would
    got = array.array('h'); got.frombytes(got_bytes[44:])
    ref = [0 if x != x else int(math.trunc(max(-1.0, min(1.0, x)) * 32767.0)) for x in ref[2 * first:2 * first + len(got)]]
    first = 0
else:
    got = array.array('f'); got.frombytes(got_bytes)
differing = [i for i in range(len(got)) if got[i] != ref[2 * first + i]]
print(len(got), len(differing), differing[0] if differing else -1, differing[-1] if differing else -1)
PY
}

# in_first_block "SAMPLES DIFFERING FIRST LAST": nothing differs past the first block.
in_first_block() {
    read -r samples differing first last <<<"$1"
    test "$samples" -eq 176400 -a "$last" -lt $((2 * 735))
}

"${LAUNCH[@]}" "$SHOWMIX" "$work/t0.raw" --seconds 2
result=$(same_span "$work/t0.raw" 0)
check "from T = 0: the reference's first 2 s exactly (samples, differing: $result)" test "${result% * *}" = "176400 0"

for t in 50000 86000 90000; do
    case $t in
        50000) what="in the worms' slot" ;;
        86000) what="across both tracks' loop point (T = 86400)" ;;
        90000) what="after a loop, 3.9 s into the tracks' second time round" ;;
    esac
    "${LAUNCH[@]}" "$SHOWMIX" "$work/t$t.raw" --start $t --seconds 2
    result=$(same_span "$work/t$t.raw" $t)
    check "showmix --start $t, $what: the reference's span but for the first block (samples, differing, first, last: $result)" \
        in_first_block "$result"
done

# vromcap's sound follows --start in the same way (16-bit, 120 frames at 60 fps).
start_xvfb 640x360
"${LAUNCH[@]}" "$CAP" --start 90000 --frames 120 --size 32x18 "$work/cap" >/dev/null 2>"$work/cap.err"; status=$?
check "vromcap --start 90000 captures (status $status)" test "$status" -eq 0 || tail -n 3 "$work/cap.err"
result=$(same_span "$work/cap/audio.wav" 90000 s16)
check "  with the sound of the show at T = 90000 but for the first block ($result)" in_first_block "$result"
stop_xvfb

rm -rf "$work"
finish
