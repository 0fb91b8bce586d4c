#!/usr/bin/env bash
# vromcap: frames and sound of any stretch of the show, frame-exact and repeatable.
. "$(dirname "$0")/lib.sh"
CAP=${VROMCAP:-./build/vromcap}
work=$(mktemp -d)

# wav_stats FILE: prints "frames peak rms" of a 16-bit stereo WAV.
wav_stats() {
    python3 - "$1" <<'PY'
import array, math, sys
data = open(sys.argv[1], 'rb').read()
assert data[:4] == b'RIFF' and data[8:12] == b'WAVE'
samples = array.array('h'); samples.frombytes(data[44:])
peak = max((abs(s) for s in samples), default=0) / 32767
rms = math.sqrt(sum(s * s for s in samples) / max(1, len(samples))) / 32767
print(len(samples) // 2, f"{peak:.5f}", f"{rms:.5f}")
PY
}
size_of() { identify -format '%wx%h' "$1" 2>/dev/null; }

start_xvfb 1280x720

"$CAP" --start 45000 --frames 6 --size 320x180 "$work/a" 2>"$work/a.err"; status=$?
check "a capture from T = 45000 succeeds (status $status)" test "$status" -eq 0
check "six frames" test "$(ls "$work/a"/frame_*.png | wc -l)" -eq 6
check "of 320x180" test "$(size_of "$work/a/frame_000005.png")" = 320x180
check "no partial file is left" test -z "$(ls "$work/a" | grep partial)"
read -r frames peak rms <<<"$(wav_stats "$work/a/audio.wav")"
check "the sound has exactly 6 / 60 s of frames ($frames)" test "$frames" -eq 4410
check "and is not silent after the ramp (rms $rms)" python3 -c "import sys; sys.exit(not $rms > 0.005)"
check "the ffmpeg command is printed" grep -q "ffmpeg -framerate 60 -i" "$work/a.err"

"$CAP" --start 45000 --frames 6 --size 320x180 "$work/b" 2>/dev/null
same=yes
for f in "$work"/a/*; do cmp -s "$f" "$work/b/$(basename "$f")" || same=no; done
check "two runs give byte-identical files" test "$same" = yes

"$CAP" --start 45000 --frames 6 --size 320x180 --jobs 3 "$work/j" 2>"$work/j.err"
same=yes
for f in "$work"/a/*; do cmp -s "$f" "$work/j/$(basename "$f")" || same=no; done
check "three encoder jobs give the same files as the default" test "$same" = yes
check "the progress line counts drawing and writing apart" grep -q "draw [0-9.]* fps  write [0-9.]* fps" "$work/j.err"

"$CAP" --start 45000 --frames 6 --size 320x180 --dry-run 2>"$work/dry.err" >"$work/dry.out"; status=$?
check "--dry-run renders every frame (status $status)" grep -q "6/6 frames" "$work/dry.err"
check "  and writes nothing" test ! -s "$work/dry.out" -a ! -e "$work/dry"

"$CAP" --start 45000 --frames 6 --size 320x180 --pipe "$work/p" >"$work/p.rgb" 2>/dev/null; status=$?
check "--pipe writes 6 raw frames of 320x180x3 bytes (status $status, $(stat -c %s "$work/p.rgb") bytes)" \
    test "$(stat -c %s "$work/p.rgb")" -eq $((6 * 320 * 180 * 3))
check "  and the same sound as the PNG capture" cmp -s "$work/a/audio.wav" "$work/p/audio.wav"
convert -size 320x180 -depth 8 "rgb:$work/p.rgb[5]" "$work/p5.png" 2>/dev/null
check "  whose last frame is the PNG capture's last frame" \
    test "$(compare -metric AE "$work/a/frame_000005.png" "$work/p5.png" null: 2>&1)" = 0

"$CAP" --start 45000 --frames 30 --size 320x180 --video "$work/v.mp4" 2>"$work/v.err"; status=$?
check "--video makes an MP4 (status $status)" test "$status" -eq 0 -a -s "$work/v.mp4"
streams=$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$work/v.mp4" 2>/dev/null | tr '\n' ' ')
check "  with H.264 at 320x180 and AAC ($streams)" test "$streams" = "h264,320,180 aac "
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/v.mp4" 2>/dev/null)
check "  lasting half a second ($duration s)" python3 -c "import sys; sys.exit(not abs($duration - 0.5) < 0.05)"
check "  and nothing else is left beside it" test "$(ls -A "$work" | grep -c partial)" -eq 0
mkdir -p "$work/nopath"
PATH="$work/nopath" "$CAP" --frames 2 --size 320x180 --video "$work/w.mp4" 2>"$work/w.err"; status=$?
check "without ffmpeg --video fails with status 1 (got $status)" test "$status" -eq 1
check "  naming the package to install" grep -q "Debian package ffmpeg" "$work/w.err"

"$CAP" --start 0 --frames 6 --fps 30 --size 320x180 "$work/c" 2>/dev/null
read -r frames peak rms <<<"$(wav_stats "$work/c/audio.wav")"
check "at 30 fps six frames are 8820 sound frames ($frames)" test "$frames" -eq 8820
check "at T = 0 the ramp keeps it silent (peak $peak)" python3 -c "import sys; sys.exit(not $peak < 0.02)"

"$CAP" --start 105000 --frames 1 --size 320x180 "$work/d" 2>/dev/null
check "frames of different scene slots differ" \
    bash -c "! cmp -s '$work/a/frame_000000.png' '$work/d/frame_000000.png'"

# Every screen shape shows the same 16:9 picture inside its bars: a 1280x1024
# frame, cut to its 1280x720 viewport, matches the 1280x720 frame.
"$CAP" --start 70000 --frames 1 --size 1280x720 "$work/wide" 2>/dev/null
"$CAP" --start 70000 --frames 1 --size 1280x1024 "$work/tall" 2>/dev/null
convert "$work/tall/frame_000000.png" -crop 1280x720+0+152 +repage "$work/cut.png"
# The software rasteriser's tiles fall differently against a shifted viewport,
# which moves a few hundred shading values by a step or two; a stretched
# picture would differ nearly everywhere.
differ=$(compare -metric AE -fuzz 4% "$work/wide/frame_000000.png" "$work/cut.png" null: 2>&1)
check "the 5:4 frame's picture is the 16:9 frame's ($differ pixels differ by over 4 %)" test "${differ%%.*}" -le 90
bars=$(convert "$work/tall/frame_000000.png" -crop 1280x152+0+0 +repage -format %k info:)
check "with black bars above and below ($bars colour)" test "$bars" -eq 1

"$CAP" --sheet "$work/sheet.png" --size 160x90 2>/dev/null; status=$?
check "a sheet is made (status $status)" test "$status" -eq 0
check "of 4 x 2 cells" test "$(size_of "$work/sheet.png")" = 640x180

for args in "--size -5x3 $work/e" "--size 99999x10 $work/e" "--frames 0 $work/e" "--fps 0 $work/e" \
            "--start -1 $work/e" "" "/proc/no/such/dir" "--bogus $work/e" "--jobs 0 $work/e" \
            "--dry-run $work/e" "--video $work/e.mp4 $work/e" "--pipe --dry-run" "--video /no/such/dir/v.mp4"; do
    # shellcheck disable=SC2086
    "$CAP" $args >/dev/null 2>"$work/err"; status=$?
    check "'$args' is refused with status 2 (got $status)" test "$status" -eq 2
    check "  with a usage line" grep -q "^usage: vromcap" "$work/err"
done

# With no display at all (a server that makes videos): rendered through EGL
# with no window, to the very frames an X server's window gives.
SDL_VIDEODRIVER=x11 "$CAP" --start 70000 --frames 3 --size 320x180 "$work/x11" 2>/dev/null
stop_xvfb
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$CAP" --start 70000 --frames 3 --size 320x180 "$work/headless" \
    2>"$work/headless.err"; status=$?
check "with no display vromcap still captures (status $status)" test "$status" -eq 0 || tail -n 3 "$work/headless.err"
same=yes
for f in frame_000000.png frame_000001.png frame_000002.png audio.wav; do
    cmp -s "$work/x11/$f" "$work/headless/$f" || same=no
done
check "  the same files, byte for byte, as under an X server" test "$same" = yes

rm -rf "$work"
finish
