// voxeldump - runs one scene generator and writes the resulting voxel field.
//
//   voxeldump SCENE T [FRAMES [STEP]]
//
// Starts from a zero-filled field, runs SCENE (worms, quintic, sinescape,
// juliastack, blobs, cubictwist) FRAMES times (default 1) at show times T,
// T + STEP, ... (STEP default 1), then writes the 262144 floats, little-endian,
// to standard output and the number of filled cells to standard error.
// Bad arguments: a usage line and status 2.
#include "shell/demostate.h"
#include "voxel/voxel.h"

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
                         "T [FRAMES [STEP]]\n");
    return 2;
}

bool parseInt(const char *text, long lo, long hi, long *out) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}
} // namespace

int main(int argc, char **argv) {
    if (argc < 3 || argc > 5) return usage();
    const Scene *scene = nullptr;
    for (const Scene &s : SCENES)
        if (std::strcmp(argv[1], s.name) == 0) scene = &s;
    long t = 0, frames = 1, step = 1;
    if (!scene || !parseInt(argv[2], INT32_MIN, INT32_MAX, &t) ||
        (argc > 3 && !parseInt(argv[3], 1, 1000000, &frames)) ||
        (argc > 4 && !parseInt(argv[4], -1000000, 1000000, &step)))
        return usage();

    std::vector<float> field(GRID_CELLS, 0.0f);
    demo.voxels = field.data();
    for (long i = 0; i < frames; ++i) scene->generate(static_cast<int32_t>(t + i * step));

    long filled = 0;
    for (float v : field) filled += v != 0.0f;
    // x86-64 is little-endian: the floats are written as they lie in memory.
    if (std::fwrite(field.data(), sizeof(float), field.size(), stdout) != field.size()) return 1;
    std::fprintf(stderr, "%ld\n", filled);
    return 0;
}
