#!/usr/bin/env bash
# make_icon.sh [SHOW_TIME] - makes packaging/vrom2022.png, the 256 x 256 icon,
# from one frame of the show: vromcap renders a 16:9 frame 256 pixels high and
# the middle 256 columns are kept (ImageMagick). Run from the repository root
# after building; under Xvfb when there is no display. The same build, show
# time and driver give the same icon.
set -euo pipefail
cd "$(dirname "$0")/.."
t=${1:-150000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/vromcap --start "$t" --frames 1 --size 455x256 "$work" 2>/dev/null
convert "$work/frame_000000.png" -gravity center -crop 256x256+0+0 +repage -strip packaging/vrom2022.png
echo "packaging/vrom2022.png from show time $t"
