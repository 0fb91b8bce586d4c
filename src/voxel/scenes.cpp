// scenes.cpp - the sine landscape, the Julia stack and the blobs.
#include "shell/demostate.h"
#include "voxel/formulas.h"
#include "voxel/voxel.h"

#include <cmath>
#include <cstring>

using namespace voxel_detail;

// ---- sine landscape ------------------------------------------------------------
//
// Height L(x, z) is a sum of nine sines, five of x and t, four of z and t. Each
// sine is taken once per column or row, then added per cell in the fixed order.

void scene_sinescape(int32_t t) {
    const double td = t;
    double xs[GRID_SIDE][5], zs[GRID_SIDE][4];
    for (int32_t i = 0; i < GRID_SIDE; ++i) {
        const double v = i;
        xs[i][0] = std::sin((0.01 * td + v) * 0.13);
        xs[i][1] = std::sin((0.011 * td + v) * 0.12);
        xs[i][2] = std::sin((0.014 * td + 2 * v) * 0.09);
        xs[i][3] = std::sin((0.015 * td + 2 * v) * 0.08);
        xs[i][4] = std::sin((0.018 * td + v) * 0.05);
        zs[i][0] = std::sin((0.012 * td + v) * 0.11);
        zs[i][1] = std::sin((0.013 * td + v) * 0.1);
        zs[i][2] = std::sin((0.016 * td + 2 * v) * 0.07);
        zs[i][3] = std::sin((0.017 * td + 2 * v) * 0.06);
    }
    float *grid = demo.voxels;
    std::memset(grid, 0, GRID_CELLS * sizeof(float));
    for (int32_t x = 0; x < GRID_SIDE; ++x) {
        const double *a = xs[x];
        for (int32_t z = 0; z < GRID_SIDE; ++z) {
            const double *b = zs[z];
            const double level = a[0] + a[1] - b[0] + b[1] - a[2] + a[3] - b[2] + b[3] - a[4];
            const int32_t y = static_cast<int32_t>(2 * level + 18);
            grid[gridIndex(x, y, z)] = 1.0f;
        }
    }
}

// ---- Julia stack ---------------------------------------------------------------------

namespace voxel_detail {
float juliaCr(int32_t t) {
    const double td = t;
    const double v = 0.1 * std::sin(td * 0.0007 * 3) + 1.9 * std::sin(td * 0.0002 * 3);
    const float m = static_cast<float>(v * 26 + 64);
    return (m - 64) * 0.015625f;
}
} // namespace voxel_detail

namespace {
float juliaCi(int32_t z) { return static_cast<float>((8 * z - 256) - 64) * 0.015625f; }
float juliaStartR(int32_t y) { return static_cast<float>(2 * y) * 0.03125f - 2; }
float juliaStartI(int32_t x) { return 2 - static_cast<float>(2 * x) * 0.03125f; }
int32_t juliaValue(int32_t n) { return n >= 5 ? n - 5 : 0; }

bool anyLane(Mask8 m) {
    int32_t any = 0;
    for (int i = 0; i < 8; ++i) any |= m[i];
    return any != 0;
}

// One row (y, z) of the interior, eight x at a time (x = 1..64; 63 and 64 are
// computed and dropped).
VOXEL_SIMD_CLONES void juliaRow(float *row, int32_t y, int32_t z,
                                                              float cr) {
    const float ci = juliaCi(z);
    for (int32_t x0 = 1; x0 <= 62; x0 += 8) {
        Float8 qi, qr = Float8{} + juliaStartR(y);
        for (int i = 0; i < 8; ++i) qi[i] = juliaStartI(x0 + i);
        Mask8 active = Mask8{} - 1, n = Mask8{};
        for (int32_t iteration = 1; iteration <= JULIA_MAX_ITERATIONS; ++iteration) {
            const Float8 magnitude = juliaStep(qr, qi, cr, ci);
            n = active ? Mask8{} + iteration : n;
            active &= magnitude < 4.0f;
            if (!anyLane(active)) break;
        }
        for (int i = 0; i < 8 && x0 + i <= 62; ++i)
            row[x0 + i] = static_cast<float>(juliaValue(n[i]));
    }
}
} // namespace

int32_t juliastack_voxel(int32_t x, int32_t y, int32_t z, int32_t t) {
    const float cr = juliaCr(t), ci = juliaCi(z);
    float qr = juliaStartR(y), qi = juliaStartI(x);
    int32_t n = 0;
    for (;;) {
        ++n;
        const float magnitude = juliaStep(qr, qi, cr, ci);
        if (n == JULIA_MAX_ITERATIONS || !(magnitude < 4)) break;
    }
    return juliaValue(n);
}

void scene_juliastack(int32_t t) {
    const float cr = juliaCr(t);
    float *grid = demo.voxels;
    for (int32_t z = 1; z <= 62; ++z)
        for (int32_t y = 1; y <= 62; ++y) juliaRow(grid + gridIndex(0, y, z), y, z, cr);
}

// ---- blobs -----------------------------------------------------------------------------

namespace {
constexpr int32_t BLOB_COUNT = 5;
// Rates a, b, c of 30 sin(a t) sin(b t) sin(c t) per point: z, y and x coordinate.
constexpr double BLOB_RATES[BLOB_COUNT][3][3] = {
    {{0.0018, 0.0008, 0.00011}, {0.0017, 0.0007, 0.00012}, {0.0014, 0.0004, 0.00013}},
    {{0.0009, 0.0019, 0.00014}, {0.0014, 0.0004, 0.00015}, {0.0013, 0.0003, 0.00016}},
    {{0.0012, 0.0002, 0.00017}, {0.0013, 0.0003, 0.00018}, {0.0011, 0.0001, 0.00019}},
    {{0.0021, 0.0001, 0.0002}, {0.0023, 0.0003, 0.00021}, {0.0027, 0.0007, 0.00022}},
    {{0.0024, 0.0001, 0.00027}, {0.0025, 0.0002, 0.00028}, {0.0026, 0.0003, 0.00029}},
};

// One row of cells: rowSum[k] holds point k's (y and z) part of the squared
// distance, dx[k][x] its x offset. Every cell of the row is written.
VOXEL_SIMD_CLONES void blobRow(float *row,
                                                              const float (*dx)[GRID_SIDE],
                                                              const float *rowSum) {
    float p[GRID_SIDE];
    for (int32_t x = 0; x < GRID_SIDE; ++x) p[x] = std::sqrt(dx[0][x] * dx[0][x] + rowSum[0]) * 0.03125f;
    for (int32_t k = 1; k < BLOB_COUNT; ++k)
        for (int32_t x = 0; x < GRID_SIDE; ++x)
            p[x] = p[x] * (std::sqrt(dx[k][x] * dx[k][x] + rowSum[k]) * 0.03125f);
    // (double)p < 0.05 exactly when p < 0.05f, the float just above 0.05.
    for (int32_t x = 0; x < GRID_SIDE; ++x) row[x] = p[x] < 0.05f ? 1.0f : 0.0f;
}
} // namespace

void scene_blobs(int32_t t) {
    const double td = t;
    float point[BLOB_COUNT][3]; // z, y, x
    for (int32_t k = 0; k < BLOB_COUNT; ++k)
        for (int32_t axis = 0; axis < 3; ++axis) {
            const double *rate = BLOB_RATES[k][axis];
            point[k][axis] = static_cast<float>(
                std::sin(rate[0] * td) * std::sin(rate[1] * td) * std::sin(rate[2] * td) * 30);
        }
    float dx[BLOB_COUNT][GRID_SIDE];
    for (int32_t k = 0; k < BLOB_COUNT; ++k)
        for (int32_t x = 0; x < GRID_SIDE; ++x) dx[k][x] = point[k][2] - static_cast<float>(x - 32);

    float *grid = demo.voxels;
    for (int32_t z = 0; z < GRID_SIDE; ++z) {
        for (int32_t y = 0; y < GRID_SIDE; ++y) {
            float rowSum[BLOB_COUNT];
            for (int32_t k = 0; k < BLOB_COUNT; ++k) {
                const float dy = point[k][1] - static_cast<float>(y - 32);
                const float dz = point[k][0] - static_cast<float>(z - 32);
                rowSum[k] = dy * dy + dz * dz;
            }
            blobRow(grid + gridIndex(0, y, z), dx, rowSum);
        }
    }
}
