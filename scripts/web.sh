#!/usr/bin/env bash
# web.sh - installs what is missing, then builds the show for browsers in
# build-web/ with Debian's emscripten. What a visitor downloads, and only
# that, is in build-web/site/: index.html, vrom2022.js, vrom2022.wasm and
# vrom2022.data (the assets), ready to be served as they are:
# python3 -m http.server -d build-web/site
# Also build-web/node/: voxeldump and showmix for node, for the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Debian's emscripten runs its JavaScript tools with the machine's node, which
# finds Debian's acorn only here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -DVROM_PLATFORM=web -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-web -j"$(nproc)"
