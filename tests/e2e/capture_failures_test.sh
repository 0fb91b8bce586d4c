#!/usr/bin/env bash
# vromcap on the paths beside the happy one: a full disk, a full or closed
# pipe, ffmpeg refusing its output or the size, a folder with an earlier
# capture in it, and paths with spaces. Every failure says what and why,
# exits 1 (2 for bad arguments), and leaves the folder as it was.
. "$(dirname "$0")/lib.sh"
CAP=${VROMCAP:-./build/vromcap}
work=$(mktemp -d)
disk=$work/disk
cap() { "${LAUNCH[@]}" "$CAP" "$@"; }
listing() { (cd "$1" && find . -mindepth 1 | sort | tr '\n' ' '); }

# A small disk of its own (tmpfs; the tests run as root).
mkdir -p "$disk"
small_disk() { # small_disk SIZE: a fresh, empty disk of SIZE at $disk
    umount "$disk" 2>/dev/null
    mount -t tmpfs -o size="$1" tmpfs "$disk"
}
trap 'umount "$disk" 2>/dev/null; stop_xvfb' EXIT
small_disk 64k || { fail "a tmpfs cannot be mounted here (the test needs root)"; finish; }

start_xvfb 1280x720
trap 'umount "$disk" 2>/dev/null; stop_xvfb' EXIT

# ---- standard output -------------------------------------------------------------------------
cap --size 16x16 --frames 2 --pipe "$work/full" >/dev/full 2>"$work/err"; status=$?
check "--pipe to a full device fails with status 1 (got $status)" test "$status" -eq 1
check "  saying so ($(tail -n 1 "$work/err"))" grep -q "vromcap: \[standard output\] write failed: No space left on device" "$work/err"
check "  and removes the folder it made" test ! -e "$work/full"

cap --size 320x180 --frames 6 --pipe "$work/closed" 2>"$work/err" | head -c 1000 >/dev/null
status=${PIPESTATUS[0]}
check "--pipe to a reader that goes away fails with status 1, not SIGPIPE (got $status)" test "$status" -eq 1
check "  saying so" grep -q "write to the pipe failed: Broken pipe" "$work/err"

# ---- ffmpeg ------------------------------------------------------------------------------------
mkdir -p "$work/v"
cap --size 320x180 --frames 6 --video "$work/v/out.xyz" 2>"$work/err"; status=$?
check "--video to a format ffmpeg does not know fails with status 1, not SIGPIPE (got $status)" test "$status" -eq 1
line=$(tail -n 1 "$work/err")
check "  quoting ffmpeg's last line ($line)" \
    grep -qE "^vromcap: ffmpeg ended early \(status [0-9]+\): .*out\.xyz: Invalid argument$" <<<"$line"
check "  naming the file the user asked for" bash -c "! grep -q partial <<<'$line'"
check "  and leaves nothing behind ($(listing "$work/v"))" test -z "$(listing "$work/v")"

cap --size 17x17 --frames 2 --video "$work/v/odd.mp4" 2>"$work/err"; status=$?
check "--video with an odd size is refused before rendering (status $status)" test "$status" -eq 2
check "  saying why" grep -q "even width and height" "$work/err"
check "  and makes nothing" test -z "$(listing "$work/v")"

small_disk 100k
cap --size 320x180 --frames 30 --video "$disk/out.mp4" 2>"$work/err"; status=$?
check "--video onto a full disk fails with status 1 (got $status)" test "$status" -eq 1
check "  saying so ($(tail -n 1 "$work/err"))" grep -q "No space left on device" "$work/err"
check "  and leaves nothing behind ($(listing "$disk"))" test -z "$(listing "$disk")"

# ---- PNG frames on a full disk -----------------------------------------------------------------
# An earlier capture's files are in the folder; the new one fills the disk.
small_disk 160k
mkdir "$disk/out"
echo "an earlier frame" >"$disk/out/frame_000000.png"
echo "an earlier sound" >"$disk/out/audio.wav"
before=$(listing "$disk")
cap --start 70000 --size 320x180 --frames 40 "$disk/out" 2>"$work/err"; status=$?
check "frames onto a full disk fail with status 1 (got $status)" test "$status" -eq 1
check "  naming the frame ($(tail -n 1 "$work/err"))" \
    grep -qE "capture: \[frame_[0-9]{6}\.png\] write failed: No space left on device" "$work/err"
check "  leaving the folder as it was ($(listing "$disk"))" test "$(listing "$disk")" = "$before"
check "  with the earlier files untouched" \
    test "$(cat "$disk/out/frame_000000.png") $(cat "$disk/out/audio.wav")" = "an earlier frame an earlier sound"

small_disk 16k
cap --size 320x180 --frames 60 "$disk/new" 2>"$work/err"; status=$?
check "a sound too large for the disk fails with status 1 (got $status)" test "$status" -eq 1
check "  naming the file ($(tail -n 1 "$work/err"))" grep -q "audio.wav\] write failed: No space left on device" "$work/err"
check "  and removes the folder it made ($(listing "$disk"))" test -z "$(listing "$disk")"
umount "$disk"

# ---- paths with spaces -------------------------------------------------------------------------
out="$work/my captures/it's here"
cap --start 45000 --size 320x180 --frames 6 "$out" 2>"$work/err"; status=$?
check "a capture into a folder with spaces and a quote (status $status)" test "$status" -eq 0
command=$(grep -A1 "^To make a video:" "$work/err" | tail -n 1)
check "  prints an ffmpeg command that runs as printed" bash -c "cd '$work' && $command -loglevel error -y </dev/null"
check "  and makes the video there" test -s "$out/vrom2022.mp4"

rm -rf "$work"
finish
