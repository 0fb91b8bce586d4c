// Whole frames of each scene, drawn into an offscreen 960 x 540 framebuffer
// by the demo's own timeline and passes, with the frame statistics of
// VROM_STATS as counters (milliseconds per frame): cpu_scene, cpu_effects,
// cpu_upload, cpu_passes, gpu_shadow, gpu_boxes, gpu_cubes. Run from the
// repository root (the shaders and textures are read from assets/). Without
// a GL context the cases are skipped.
#include "shell/demostate.h"
#include "shell/shell.h"
#include "show/show.h"
#include "show/stats.h"
#include "st/st_rendertarget.h"

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <glad/gl.h>

namespace {
constexpr int32_t WIDTH = 960, HEIGHT = 540;

// One hidden window, context and framebuffer for the whole run.
bool glReady() {
    static const bool ready = [] {
        if (SDL_Init(SDL_INIT_VIDEO) < 0) return false;
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        demo.window = SDL_CreateWindow("vrom_bench", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!demo.window || !SDL_GL_CreateContext(demo.window) ||
            !gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)))
            return false;
        SDL_GL_SetSwapInterval(0);
        // Kept bound until the process ends, as the demo keeps its GL objects.
        auto *target = new st::Rendertarget;
        if (!target->init(WIDTH, HEIGHT)) return false;
        demo.width = WIDTH;
        demo.height = HEIGHT;
        locateAssets();
        loadShowAssets();
        applyViewport();
        return true;
    }();
    return ready;
}

// Argument: the scene slot 0..5. Frames from the middle of its slot, one
// every 12 units of show time (60 frames a second).
void BM_frame(benchmark::State &state) {
    if (!glReady()) {
        state.SkipWithError("no OpenGL context (run under a display or Xvfb)");
        return;
    }
    const auto slot = static_cast<int32_t>(state.range(0));
    int32_t t = INTRO_UNITS + slot * SLOT_UNITS + 6000;
    for (int i = 0; i < 8; ++i) { // the scene's state settles before the timing
        const ShowMoment now = runTimeline(t += 12);
        drawPasses(now.t, now.mix);
    }
    glFinish();
    enableFrameStats(true);
    takeFrameStats();
    for (auto _ : state) {
        const ShowMoment now = runTimeline(t += 12);
        drawPasses(now.t, now.mix);
        endFrameStats();
        glFinish();
    }
    collectFrameStats();
    const FrameStats s = takeFrameStats();
    enableFrameStats(false);
    state.counters["cpu_scene"] = s.sceneMs;
    state.counters["cpu_effects"] = s.effectsMs;
    state.counters["cpu_upload"] = s.uploadMs;
    state.counters["cpu_passes"] = s.passesMs;
    state.counters["gpu_shadow"] = s.shadowGpuMs;
    state.counters["gpu_boxes"] = s.boxesGpuMs;
    state.counters["gpu_cubes"] = s.cubesGpuMs;
}
BENCHMARK(BM_frame)->DenseRange(0, 5)->Iterations(6)->Unit(benchmark::kMillisecond);
} // namespace
