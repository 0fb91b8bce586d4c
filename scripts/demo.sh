#!/usr/bin/env bash
# demo.sh [x] - installs what is missing, builds, and starts the demo from the
# repository root (it reads assets/ from there). Any argument: a 960 x 540
# window; none: full screen.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
exec ./build/vrom2022 "$@"
