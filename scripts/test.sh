#!/usr/bin/env bash
# test.sh - installs what is missing, builds, and runs every test:
#   1. the whole suite (unit, GL and end-to-end tests) in build/;
#   2. the audio engine's concurrency test under ThreadSanitizer in build-tsan/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
(cd build && ctest --output-on-failure --timeout 900)

echo "== the audio engine's concurrency under ThreadSanitizer"
cmake -S . -B build-tsan -DVROM_SANITIZE=thread -DVROM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan -j"$(nproc)" --target audio_engine_test
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ./build-tsan/tests/audio_engine_test --gtest_filter='Concurrency.*:VoiceOps.SetVolume*'
