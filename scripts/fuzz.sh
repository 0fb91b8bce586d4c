#!/usr/bin/env bash
# fuzz.sh [SECONDS] - builds the libFuzzer targets with clang (build-fuzz/) and
# runs each for SECONDS (default 60) from a copy of its committed seed corpus.
# For a longer local run: scripts/fuzz.sh 3600 (new inputs found stay in
# build-fuzz/corpus/; crashes are written to build-fuzz/artifacts/).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVROM_FUZZ=ON -DVROM_TESTS=OFF -DVROM_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target wavstream_fuzz play_fuzz image_fuzz shader_fuzz
mkdir -p build-fuzz/artifacts
for target in wavstream play image shader; do
    corpus=build-fuzz/corpus/$target
    mkdir -p "$corpus"
    cp -n fuzz/corpus/$target/* "$corpus"/ 2>/dev/null || true
    echo "== $target: $seconds s"
    status=0
    # -timeout: an input that takes over 10 s (a mix that never returns) is a finding.
    UBSAN_OPTIONS=print_stacktrace=1 ./build-fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -seed=1 -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/$target- \
        "$corpus" >build-fuzz/$target.log 2>&1 || status=$?
    grep -E "^(Done|stat::number_of_executed_units)" build-fuzz/$target.log || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 build-fuzz/$target.log
        echo "fuzzing $target failed (status $status)"
        exit 1
    fi
done
