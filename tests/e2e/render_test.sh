#!/usr/bin/env bash
# murmelrender: any file the engine reads, played offline at any device rate
# into a WAV, with the arguments and failures a user meets.
. "$(dirname "$0")/lib.sh"
RENDER=${MURMELRENDER:-./build/murmelrender}
work=$(mktemp -d)

# A 16-bit mono WAV of a 997 Hz tone at 44100 Hz, 22050 frames (0.5 s).
python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], 'wb') as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b''.join(struct.pack('<h', int(16000 * math.sin(2 * math.pi * 997 * i / 44100)))
                           for i in range(22050)))
PY

# wav_info FILE: "format channels rate bits frames left_peak right_peak" of a
# PCM (1) or float (3) WAV.
wav_info() {
    python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
assert d[:4] == b'RIFF' and d[8:12] == b'WAVE'
at, fmt, data = 12, None, None
while at + 8 <= len(d):
    tag, size = d[at:at + 4], struct.unpack('<I', d[at + 4:at + 8])[0]
    if tag == b'fmt ': fmt = struct.unpack('<HHIIHH', d[at + 8:at + 24])
    if tag == b'data': data = d[at + 8:at + 8 + size]
    at += 8 + size + (size & 1)
kind, channels, rate, _, align, bits = fmt
code = '<%d%s' % (len(data) // (bits // 8), 'f' if kind == 3 else 'h')
s = struct.unpack(code, data)
scale = 1.0 if kind == 3 else 32767.0
left = max((abs(x) for x in s[0::2]), default=0) / scale
right = max((abs(x) for x in s[1::2]), default=0) / scale
print(kind, channels, rate, bits, len(s) // channels, f"{left:.4f}", f"{right:.4f}")
PY
}

"$RENDER" "$work/tone.wav" "$work/a.wav" --rate 48000 2>"$work/err"; status=$?
check "a WAV at 48000 Hz renders (status $status)" test "$status" -eq 0
read -r kind channels rate bits frames left right <<<"$(wav_info "$work/a.wav")"
check "as stereo 32-bit float at 48000 Hz ($kind $channels $rate $bits)" test "$kind $channels $rate $bits" = "3 2 48000 32"
# 22050 source frames at 44100 Hz last 24000 output frames, and one more
# reaches the last source frame.
check "until the source's end: 24001 frames ($frames)" test "$frames" -eq 24001
check "centred: both sides alike ($left, $right)" test "$left" = "$right"
check "and audible" python3 -c "import sys; sys.exit(not $left > 0.2)"
check "no partial file is left" test ! -e "$work/a.wav.partial"

"$RENDER" "$work/tone.wav" "$work/b.wav" --rate 48000 2>/dev/null
check "two renders are byte-identical" cmp -s "$work/a.wav" "$work/b.wav"

"$RENDER" "$work/tone.wav" "$work/c.wav" --rate 22050 --s16 --pan -1 --volume 0.5 --speed 2 2>/dev/null
read -r kind channels rate bits frames left right <<<"$(wav_info "$work/c.wav")"
check "--s16 gives 16-bit PCM at 22050 Hz ($kind $bits $rate)" test "$kind $bits $rate" = "1 16 22050"
check "--speed 2 at 22050 Hz plays four source frames a frame (5514 frames: $frames)" test "$frames" -eq 5514
check "--pan -1 leaves the right side silent ($right)" test "$right" = 0.0000
check "--volume 0.5 is quieter than 1 ($left < $(wav_info "$work/a.wav" | cut -d' ' -f6))" \
    python3 -c "import sys; sys.exit(not $left < 0.75 * $(wav_info "$work/a.wav" | cut -d' ' -f6))"

"$RENDER" "$work/tone.wav" "$work/d.wav" --loop --seconds 2 --rate 96000 2>/dev/null
read -r kind channels rate bits frames left right <<<"$(wav_info "$work/d.wav")"
check "--loop --seconds 2 at 96000 Hz gives 192000 frames ($frames)" test "$frames" -eq 192000

# A header that claims 50 MHz: silence, and the render ends.
python3 - "$work/tone.wav" "$work/fast.wav" <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read()); d[24:28] = struct.pack('<I', 50000000)
open(sys.argv[2], 'wb').write(d)
PY
timeout 60 "$RENDER" "$work/fast.wav" "$work/fast_out.wav" --seconds 1 2>/dev/null; status=$?
read -r kind channels rate bits frames left right <<<"$(wav_info "$work/fast_out.wav")"
check "a header claiming 50 MHz renders a silent second and ends (status $status, $frames frames, peak $left)" \
    test "$status" -eq 0 -a "$frames" -eq 44100 -a "$left" = 0.0000

# Played slowly, a sound keeps its tail: at --speed 0.01 a 0.1 s tone lasts
# 10 s, up to the output frame that reaches its last source frame (441001),
# and the last of it is the tone, not silence.
python3 - "$work/short.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], 'wb') as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b''.join(struct.pack('<h', int(16000 * math.sin(2 * math.pi * 997 * i / 44100)))
                           for i in range(4410)))
PY
"$RENDER" "$work/short.wav" "$work/slow_out.wav" --speed 0.01 2>/dev/null; status=$?
read -r kind channels rate bits frames left right <<<"$(wav_info "$work/slow_out.wav")"
check "--speed 0.01 renders to the last source frame (status $status, $frames frames of 441001)" \
    test "$status" -eq 0 -a "$frames" -eq 441001
tail_rms=$(python3 - "$work/slow_out.wav" <<'PY'
import array, math, sys
d = open(sys.argv[1], 'rb').read()
s = array.array('f'); s.frombytes(d[d.find(b'data') + 8:])
left = s[0::2][430000:440000]  # source frames 4300 .. 4400, the end of the tone
print(f"{math.sqrt(sum(x * x for x in left) / len(left)):.3f}")
PY
)
check "  and it ends with the tone, not silence (rms $tail_rms)" python3 -c "import sys; sys.exit(not $tail_rms > 0.15)"

# Headers that claim 1 Hz make a 2.3 s file last 28 hours: refused unless
# --seconds says how much to render (before, it filled the disk).
python3 - "$work" <<'PY'
import math, struct, sys, wave
work = sys.argv[1]
with wave.open(work + '/long.wav', 'wb') as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b''.join(struct.pack('<h', int(16000 * math.sin(2 * math.pi * 997 * i / 44100)))
                           for i in range(100000)))
d = bytearray(open(work + '/long.wav', 'rb').read())
d[24:32] = struct.pack('<II', 1, 2)  # 1 Hz, 2 bytes a second
open(work + '/slow.wav', 'wb').write(d)
PY
oggenc -Q -q 0 -o "$work/long.ogg" "$work/long.wav"
python3 - "$work/long.ogg" "$work/slow.ogg" <<'PY'
import struct, sys
def crc(data):  # the Ogg page checksum: CRC-32, polynomial 0x04C11DB7, not reflected
    c = 0
    for b in data:
        c ^= b << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if c & 0x80000000 else (c << 1) & 0xFFFFFFFF
    return c
d = bytearray(open(sys.argv[1], 'rb').read())
segments = d[26]; body = 27 + segments
assert d[:4] == b'OggS' and d[body:body + 7] == b'\x01vorbis'
d[body + 12:body + 16] = struct.pack('<I', 1)  # the identification header's rate
d[22:26] = bytes(4)
d[22:26] = struct.pack('<I', crc(d[:body + sum(d[27:body])]))
open(sys.argv[2], 'wb').write(d)
PY
for f in slow.wav slow.ogg; do
    timeout 60 "$RENDER" "$work/$f" "$work/slow_$f.out.wav" 2>"$work/err"; status=$?
    check "$f claiming 1 Hz is refused with status 1 (got $status)" test "$status" -eq 1
    check "  saying why ($(cat "$work/err"))" \
        grep -qx "murmelrender: $work/$f would render 28 h (more than 24 h); give --seconds" "$work/err"
    check "  and writes nothing" test ! -e "$work/slow_$f.out.wav" -a ! -e "$work/slow_$f.out.wav.partial"
    timeout 60 "$RENDER" "$work/$f" "$work/slow_$f.out.wav" --seconds 1 2>/dev/null; status=$?
    read -r kind channels rate bits frames left right <<<"$(wav_info "$work/slow_$f.out.wav")"
    check "  with --seconds 1 it renders one second (status $status, $frames frames)" test "$status" -eq 0 -a "$frames" -eq 44100
done

# Past 4 GiB the output is RF64: 12200 s of float stereo is 4.3 GB, whose
# sizes a RIFF header would wrap (before: a header claiming 26 s). Written
# only in the plain build: under the sanitizers it would take minutes.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    echo "note: the 4 GiB render runs in the plain build only"
elif [ "$(df --output=avail -B1G "$work" | tail -n 1)" -lt 6 ]; then
    fail "the 4 GiB render needs 6 GB free in $work"
else
    "$RENDER" "$work/tone.wav" "$work/big.wav" --loop --seconds 12200 2>"$work/err"; status=$?
    check "a 12200 s render succeeds (status $status)" test "$status" -eq 0 || cat "$work/err"
    header=$(python3 - "$work/big.wav" <<'PY'
import os, struct, sys
d = open(sys.argv[1], 'rb').read(60)
riff, data, frames = struct.unpack('<QQQ', d[20:44])
print(d[:4].decode(), d[12:16].decode(), riff == os.path.getsize(sys.argv[1]) - 8, data, frames)
PY
)
    check "  as RF64 whose ds64 holds the 64-bit sizes ($header)" test "$header" = "RF64 ds64 True 4304160000 538020000"
    duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/big.wav" 2>/dev/null)
    check "  which ffprobe reads as 12200 s ($duration)" test "${duration%%.*}" = 12200
    rm -f "$work/big.wav"
fi

"$RENDER" "$work/missing.ogg" "$work/e.wav" 2>"$work/err"; status=$?
check "a missing file gives status 1 (got $status)" test "$status" -eq 1
check "  and names FileMissing ($(cat "$work/err"))" grep -q "FileMissing" "$work/err"
head -c 3000 /dev/urandom >"$work/noise.ogg"
"$RENDER" "$work/noise.ogg" "$work/e.wav" 2>"$work/err"; status=$?
check "a file the engine refuses gives status 1 (got $status)" test "$status" -eq 1
check "  and names FileUnreadable ($(cat "$work/err"))" grep -q "FileUnreadable" "$work/err"
check "  and writes nothing" test ! -e "$work/e.wav"

for args in "" "$work/tone.wav" "$work/tone.wav $work/f.wav --rate 10" "$work/tone.wav $work/f.wav --loop" \
            "$work/tone.wav $work/f.wav --speed 0" "$work/tone.wav $work/f.wav --pan 2" \
            "$work/tone.wav $work/f.wav --volume nan" "$work/tone.wav $work/f.wav --bogus" \
            "$work/tone.wav $work/f.wav extra"; do
    # shellcheck disable=SC2086
    "$RENDER" $args >/dev/null 2>"$work/err"; status=$?
    check "'${args//$work\//}' is refused with status 2 (got $status)" test "$status" -eq 2
    check "  with a usage line" grep -q "^usage: murmelrender" "$work/err"
done

rm -rf "$work"
finish
