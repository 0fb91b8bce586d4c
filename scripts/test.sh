#!/usr/bin/env bash
# test.sh - installs what is missing, builds, and runs every test:
#   1. the whole suite (unit, GL and end-to-end tests) in build/;
#   2. the audio engine's concurrency tests and the capture pipeline under
#      ThreadSanitizer in build-tsan/;
#   3. the whole suite again under AddressSanitizer + UBSan in build-asan/;
#   4. each libFuzzer target for 60 seconds (scripts/fuzz.sh, clang, build-fuzz/);
#   5. the web build (scripts/web.sh, build-web/): its code under node against
#      the desktop's, and the page in headless Chromium and in Firefox ESR.
# The 10-minute soak run (label soak) is left out: ctest -L soak in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
(cd build && ctest --output-on-failure --timeout 900 -LE soak)

echo "== the audio engine's concurrency and the capture pipeline under ThreadSanitizer"
cmake -S . -B build-tsan -DVROM_SANITIZE=thread -DVROM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan -j"$(nproc)" --target audio_engine_test audio_stream_test capture_pipeline_test
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ./build-tsan/tests/audio_engine_test --gtest_filter='Concurrency.*:VoiceOps.SetVolume*'
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ./build-tsan/tests/audio_stream_test --gtest_filter='Concurrency.*:Start.ShutdownWhileTheDeviceMixes'
TSAN_OPTIONS="halt_on_error=1" ./build-tsan/tests/capture_pipeline_test

echo "== the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DVROM_SANITIZE=address -DVROM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j"$(nproc)"
(cd build-asan && ctest --output-on-failure --timeout 900 -LE soak)

echo "== 60 seconds of fuzzing per target"
scripts/fuzz.sh 60

echo "== the web build: under node against the desktop, and in Chromium and Firefox ESR"
scripts/web.sh
bash tests/web/node_test.sh
bash tests/web/browser_test.sh
