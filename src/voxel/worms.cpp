// worms.cpp - thirty-two random walkers, shown 64 steps ahead.
#include "shell/demostate.h"
#include "voxel/voxel.h"

#include <cstring>

WormRng wormrng = {{0x00001571, 0x4D98EE96, 0xAF25F095, 0xAFD9BA96, 0x6FCBD068, 0x2CD06A72,
                    0x384F0100, 0x85B46507, 0x295E8801, 0x0D1B316E, 0x7B305E70, 0xBDB6BBA0,
                    0x1CEFB8F6, 0x8B499F1B, 0x3FDF25EB, 0xCBC1B8C6},
                   0};

Worm wormset[WORM_COUNT] = {
    {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0},
    {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0},
    {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0},
    {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0},
    {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0},
    {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0}, {32, 32, 63, 0},
    {32, 32, 63, 0}, {32, 32, 63, 0},
};

// Row d: d, d, d+1, d+2, d+4, d+5 (mod 6). Never d+3, the reverse of d.
const int32_t wormturn[6][6] = {
    {0, 0, 1, 2, 4, 5}, {1, 1, 2, 3, 5, 0}, {2, 2, 3, 4, 0, 1},
    {3, 3, 4, 5, 1, 2}, {4, 4, 5, 0, 2, 3}, {5, 5, 0, 1, 3, 4},
};

uint32_t wellNext(WormRng &rng) {
    uint32_t *s = rng.s;
    const int32_t i = rng.i;
    uint32_t a = s[i];
    uint32_t c = s[(i + 13) & 15];
    const uint32_t b = a ^ c ^ (a << 16) ^ (c << 15);
    c = s[(i + 9) & 15];
    c ^= c >> 11;
    a = s[i] = b ^ c;
    const uint32_t d = a ^ ((a & 0xFED22169u) << 5);
    rng.i = (i + 15) & 15;
    a = s[rng.i];
    s[rng.i] = a ^ b ^ d ^ (a << 2) ^ (b << 18) ^ (c << 28);
    return s[rng.i];
}

namespace {
// One step in direction dir, staying within 1..62 on every axis.
void step(Worm &w) {
    switch (w.dir) {
    case 0: if (w.z < 62) ++w.z; break;
    case 1: if (w.y < 62) ++w.y; break;
    case 2: if (w.x < 62) ++w.x; break;
    case 3: if (w.z > 1) --w.z; break;
    case 4: if (w.y > 1) --w.y; break;
    default: if (w.x > 1) --w.x; break;
    }
}
} // namespace

void scene_worms(int32_t) {
    WormRng rng = wormrng;
    Worm worms[WORM_COUNT];
    std::memcpy(worms, wormset, sizeof worms);
    float *grid = demo.voxels;
    std::memset(grid, 0, GRID_CELLS * sizeof(float));

    for (int32_t pass = 0; pass < WORM_STEPS; ++pass) {
        if (pass == 1) { // the first step becomes the committed state
            wormrng = rng;
            std::memcpy(wormset, worms, sizeof worms);
        }
        for (int32_t k = 0; k < WORM_COUNT; ++k) {
            Worm &w = worms[k];
            const uint32_t choice = (wellNext(rng) >> 1) % 6;
            w.dir = wormturn[w.dir][choice];
            step(w);
            grid[gridIndex(w.x, w.y, w.z)] = static_cast<float>(k % 8 + 5);
        }
    }
}
