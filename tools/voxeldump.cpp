// voxeldump - runs one scene generator and writes the resulting voxel field.
//
//   voxeldump SCENE T [FRAMES [STEP]] [--out FILE] [--time]
//
// Starts from a zero-filled field, runs SCENE (worms, quintic, sinescape,
// juliastack, blobs, cubictwist) FRAMES times (default 1) at show times T,
// T + STEP, ... (STEP default 1), then writes the 262144 floats, little-endian,
// to standard output (or FILE) and the number of filled cells to standard
// error. --time adds a second line on standard error: the mean milliseconds
// per frame of the scene. The same program built for WebAssembly (the web
// build, run with node) writes the same bytes; its tests compare the two.
// Bad arguments: a usage line and status 2.
#include "cli.h"
#include "shell/demostate.h"
#include "voxel/voxel.h"

#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
struct Scene {
    const char *name;
    void (*generate)(int32_t);
};
constexpr Scene SCENES[] = {
    {"worms", scene_worms},     {"quintic", scene_quintic},     {"sinescape", scene_sinescape},
    {"juliastack", scene_juliastack}, {"blobs", scene_blobs}, {"cubictwist", scene_cubictwist},
};

int usage() {
    std::fprintf(stderr, "usage: voxeldump worms|quintic|sinescape|juliastack|blobs|cubictwist "
                         "T [FRAMES [STEP]] [--out FILE] [--time]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    const char *out = nullptr;
    bool timed = false;
    std::vector<char *> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) out = argv[++i];
        else if (std::strcmp(argv[i], "--time") == 0) timed = true;
        else args.push_back(argv[i]);
    }
    if (args.size() < 2 || args.size() > 4) return usage();
    const Scene *scene = nullptr;
    for (const Scene &s : SCENES)
        if (std::strcmp(args[0], s.name) == 0) scene = &s;
    int64_t t = 0, frames = 1, step = 1;
    if (!scene || !parseInteger(args[1], INT32_MIN, INT32_MAX, &t) ||
        (args.size() > 2 && !parseInteger(args[2], 1, 1000000, &frames)) ||
        (args.size() > 3 && !parseInteger(args[3], -1000000, 1000000, &step)))
        return usage();

    std::vector<float> field(GRID_CELLS, 0.0f);
    demo.voxels = field.data();
    const auto began = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < frames; ++i) scene->generate(static_cast<int32_t>(t + i * step));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();

    long filled = 0;
    for (float v : field) filled += v != 0.0f;
    // x86-64 and WebAssembly are little-endian: the floats are written as they lie in memory.
    FILE *file = out ? std::fopen(out, "wb") : stdout;
    if (!file) {
        std::fprintf(stderr, "voxeldump: [%s] cannot be written: %s\n", out, std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(field.data(), sizeof(float), field.size(), file) == field.size();
    if ((out && std::fclose(file) != 0) || !written) return 1;
    std::fprintf(stderr, "%ld\n", filled);
    if (timed) std::fprintf(stderr, "%.3f ms per frame\n", ms / static_cast<double>(frames));
    return 0;
}
