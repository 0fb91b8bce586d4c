// Per-frame cost of each scene generator, the wipe and the scroller.
// Targets on the 2-core reference machine (median per frame): every scene
// <= 3 ms; sphere_wipe plus scroller_draw <= 0.3 ms.
#include "shell/demostate.h"
#include "voxel/voxel.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {
std::vector<float> field(GRID_CELLS, 0.0f);
std::vector<uint8_t> font(256 * 128 * 4, 0xFF);

void useField() {
    demo.voxels = field.data();
    demo.fontbitmap = font.data();
    demo.fontWidth = 256;
    demo.fontHeight = 128;
}

template <void (*Scene)(int32_t)>
void BM_scene(benchmark::State &state) {
    useField();
    const auto t = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        Scene(t);
        benchmark::DoNotOptimize(field.data());
    }
}

void BM_sphere_wipe(benchmark::State &state) {
    useField();
    const float h = static_cast<float>(state.range(0)) / 100.0f;
    for (auto _ : state) {
        sphere_wipe(h);
        benchmark::DoNotOptimize(field.data());
    }
}

void BM_scroller_draw(benchmark::State &state) {
    useField();
    int32_t t = 100000;
    for (auto _ : state) {
        scroller_draw(t);
        t += 31 * 8; // a new glyph every frame: the heaviest case
        benchmark::DoNotOptimize(field.data());
    }
}

// Show times: a few points of the cycle; before them, for the scenes whose
// cost varies, the heaviest times found by scanning a whole cycle in steps of
// 500 (the quintic map does the same work at every time).
#define SCENE_TIMES ->Arg(0)->Arg(41000)->Arg(50000)->Arg(95000)->Arg(150000)

BENCHMARK(BM_scene<scene_worms>)->Name("scene_worms") SCENE_TIMES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scene<scene_quintic>)->Name("scene_quintic")->Arg(72000) SCENE_TIMES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scene<scene_sinescape>)->Name("scene_sinescape") SCENE_TIMES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scene<scene_juliastack>)->Name("scene_juliastack")->Arg(68000) SCENE_TIMES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scene<scene_blobs>)->Name("scene_blobs") SCENE_TIMES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scene<scene_cubictwist>)->Name("scene_cubictwist")->Arg(101500)->Arg(103500) SCENE_TIMES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sphere_wipe)->Arg(0)->Arg(50)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_scroller_draw)->Unit(benchmark::kMicrosecond);
} // namespace
