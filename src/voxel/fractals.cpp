// fractals.cpp - the quintic and twisted cubic fractals, in parallel over z.
#include "shell/demostate.h"
#include "voxel/formulas.h"
#include "voxel/voxel.h"

#include <cmath>

using namespace voxel_detail;

namespace {
bool anyLane(MaskV m) {
    int64_t any = 0;
    for (int i = 0; i < DOUBLE_LANES; ++i) any |= m[i];
    return any != 0;
}

// ---- quintic -----------------------------------------------------------------------

struct QuinticCoefficients {
    double k1, k3, k5, k7;
};

QuinticCoefficients quinticCoefficients(int32_t t) {
    const double td = t;
    return {50 * std::sin(0.0001 * td), 50 * std::sin(0.0003 * td), 50 * std::sin(0.0005 * td),
            50 * std::sin(0.0007 * td)};
}

// A filled cell's value (1..15), from its place.
int32_t quinticFill(int32_t x, int32_t y, int32_t z) { return (9 * z + 3 * y + 7 * x) % 15 + 1; }

int32_t quinticValue(double sum, int32_t x, int32_t y, int32_t z) {
    return std::fabs(sum) > 0.1 ? 0 : quinticFill(x, y, z);
}

double quinticStart(int32_t c) { return (c - 32) * 0.04; }

// One row (y, z) of the interior, DOUBLE_LANES x at a time (x = 1..62, and
// with four lanes 63 and 64 too, computed and dropped).
VOXEL_SIMD_CLONES void quinticRow(float *row, int32_t y, int32_t z, const QuinticCoefficients &k) {
    const DoubleV y0 = DoubleV{} + quinticStart(y), z0 = DoubleV{} + quinticStart(z);
    for (int32_t x0 = 1; x0 <= 62; x0 += DOUBLE_LANES) {
        DoubleV xs;
        for (int i = 0; i < DOUBLE_LANES; ++i) xs[i] = quinticStart(x0 + i);
        const DoubleV sum = quinticSum(xs, y0, z0, k.k1, k.k3, k.k5, k.k7);
        for (int i = 0; i < DOUBLE_LANES && x0 + i <= 62; ++i)
            row[x0 + i] = static_cast<float>(quinticValue(sum[i], x0 + i, y, z));
    }
}

// Column x = 1 of plane z from row firstY to 62, DOUBLE_LANES y at a time
// (the rows past 62 computed and dropped).
VOXEL_SIMD_CLONES void quinticColumn(float *grid, int32_t firstY, int32_t z, const QuinticCoefficients &k) {
    const DoubleV x0 = DoubleV{} + quinticStart(1), z0 = DoubleV{} + quinticStart(z);
    for (int32_t y = firstY; y <= 62; y += DOUBLE_LANES) {
        DoubleV ys;
        for (int i = 0; i < DOUBLE_LANES; ++i) ys[i] = quinticStart(y + i);
        const DoubleV sum = quinticSum(x0, ys, z0, k.k1, k.k3, k.k5, k.k7);
        for (int i = 0; i < DOUBLE_LANES && y + i <= 62; ++i)
            grid[gridIndex(1, y + i, z)] = static_cast<float>(quinticValue(sum[i], 1, y + i, z));
    }
}

// ---- twisted cubic ------------------------------------------------------------------

// A cell whose orbit stops within CUBIC_EMPTY_STEPS steps is empty.
constexpr int32_t CUBIC_EMPTY_STEPS = 6;
int32_t cubicValue(int64_t n) { return n > CUBIC_EMPTY_STEPS ? static_cast<int32_t>(n - CUBIC_EMPTY_STEPS) : 0; }

// Vectors of a row taken side by side: three of WebAssembly's two lanes
// (6 cells; four would no longer fit its engines' registers), two of AVX2's
// four (8 cells, the row's 62 and two more).
constexpr int CUBIC_VECTORS = DOUBLE_LANES == 2 ? 3 : 2;

// A vector of DOUBLE_LANES cells of a row, from its first x (x0).
struct CubicLanes {
    DoubleV xs, p, q, r;
    MaskV active;
    [[gnu::always_inline]] void start(int32_t x0, double z0, DoubleV ys, const CubicRow &c) {
        for (int i = 0; i < DOUBLE_LANES; ++i) xs[i] = (x0 + i - 32) * c.k;
        p = c.ce * xs - c.se * z0;
        q = c.ce * z0 + c.se * xs;
        r = ys;
        active = MaskV{} - 1;
    }
    [[gnu::always_inline]] void step(DoubleV ys, DoubleV zs) {
        const DoubleV s = cubicStep(p, q, r, xs, ys, zs);
        active &= (s > 0.1) | (s < -0.1); // |s| > 0.1; false for NaN
    }
    // The counts of the lanes still going on after the first steps.
    [[gnu::always_inline]] MaskV count(DoubleV ys, DoubleV zs) {
        MaskV n = MaskV{} + CUBIC_EMPTY_STEPS;
        if (!anyLane(active)) return n;
        for (int32_t iteration = CUBIC_EMPTY_STEPS + 1; iteration <= CUBIC_MAX_ITERATIONS; ++iteration) {
            n -= active; // the lanes active as this step begins
            step(ys, zs);
            if (!anyLane(active)) break;
        }
        return n;
    }
};

// One row (y, z) of the interior, CUBIC_VECTORS vectors of DOUBLE_LANES x at
// a time (cells past x = 62 computed and dropped). Almost every orbit stops
// at its sixth step (its values overflow to a NaN), and a stop within six
// steps makes an empty cell, whichever step it was: so the first six steps
// are taken without a branch, the vectors' chains of dependent multiplies
// side by side, and only lanes still going on are counted further. Lanes
// that have stopped keep computing (to infinities and NaNs) but their count
// no longer moves: an active lane's mask is all ones (-1), so n - active
// counts the steps it was active for.
VOXEL_SIMD_CLONES void cubicRowValues(float *row, int32_t y, int32_t z, const CubicRow &c) {
    constexpr int VECTORS = CUBIC_VECTORS, CELLS = VECTORS * DOUBLE_LANES;
    const double y0 = (y - 32) * c.k, z0 = (z - 32) * c.k;
    const DoubleV ys = DoubleV{} + y0, zs = DoubleV{} + z0;
    for (int32_t x0 = 1; x0 <= 62; x0 += CELLS) {
        CubicLanes v[VECTORS] = {};
        for (int k = 0; k < VECTORS; ++k) v[k].start(x0 + k * DOUBLE_LANES, z0, ys, c);
        for (int32_t step = 1; step <= CUBIC_EMPTY_STEPS; ++step)
            for (int k = 0; k < VECTORS; ++k) v[k].step(ys, zs);
        for (int k = 0; k < VECTORS; ++k) {
            const MaskV n = v[k].count(ys, zs);
            for (int i = 0; i < DOUBLE_LANES; ++i)
                if (x0 + k * DOUBLE_LANES + i <= 62) row[x0 + k * DOUBLE_LANES + i] = static_cast<float>(cubicValue(n[i]));
        }
    }
}
} // namespace

namespace voxel_detail {
CubicRow cubicRow(int32_t y, int32_t t) {
    const double e = static_cast<float>(std::sin(static_cast<double>(t + 100 * y) * 0.001));
    return {e, e * 0.02 + 0.2, std::cos(e), std::sin(e)};
}
} // namespace voxel_detail

int32_t quintic_voxel(int32_t x, int32_t y, int32_t z, double k1, double k3, double k5, double k7) {
    const double sum = quinticSum(quinticStart(x), quinticStart(y), quinticStart(z), k1, k3, k5, k7);
    return quinticValue(sum, x, y, z);
}

int32_t cubictwist_voxel(int32_t x, int32_t y, int32_t z, int32_t t) {
    const CubicRow c = cubicRow(y, t);
    const double x0 = (x - 32) * c.k, y0 = (y - 32) * c.k, z0 = (z - 32) * c.k;
    double p = c.ce * x0 - c.se * z0, q = c.ce * z0 + c.se * x0, r = y0;
    int32_t n = 0;
    for (;;) {
        ++n;
        const double s = cubicStep(p, q, r, x0, y0, z0);
        if (!(std::fabs(s) > 0.1) || n == CUBIC_MAX_ITERATIONS) break;
    }
    return cubicValue(n);
}

// The quintic map is odd: G(-c; -a, -b) = -G(c; a, b) holds exactly in IEEE
// arithmetic, since negation commutes with every rounding (a zero result may
// differ in sign only, and no later step can tell), and the start values are
// odd about cell 32. So cell (x, y, z) is filled exactly when (64 - x, 64 - y,
// 64 - z) is: planes 1..31 are computed, and so are rows 1..32 of plane 32;
// its rows 33..62 and planes 33..62 take each cell's emptiness from its
// mirror, all but row y = 1 of planes 33..62 and column x = 1, whose mirrors
// (coordinate 63) lie in the shell.
namespace {
// Plane z: rows 1..computedRows computed, the rest from their mirrors.
void quinticPlane(float *grid, int32_t z, int32_t computedRows, const QuinticCoefficients &k) {
    for (int32_t y = 1; y <= computedRows; ++y) quinticRow(grid + gridIndex(0, y, z), y, z, k);
    if (computedRows == 62) return;
    quinticColumn(grid, computedRows + 1, z, k);
    for (int32_t y = computedRows + 1; y <= 62; ++y) {
        float *row = grid + gridIndex(0, y, z);
        const float *mirror = grid + gridIndex(0, 64 - y, 64 - z);
        for (int32_t x = 2; x <= 62; ++x)
            row[x] = mirror[64 - x] != 0.0f ? static_cast<float>(quinticFill(x, y, z)) : 0.0f;
    }
}
} // namespace

void scene_quintic(int32_t t) {
    const int32_t *time = &t;
    float *grid = demo.voxels;
#pragma omp parallel default(none) shared(time, grid)
    {
        const QuinticCoefficients k = quinticCoefficients(*time);
#pragma omp for schedule(static)
        for (int32_t z = 1; z <= 32; ++z) quinticPlane(grid, z, z < 32 ? 62 : 32, k);
#pragma omp for schedule(static) // after the planes it mirrors
        for (int32_t z = 33; z <= 62; ++z) quinticPlane(grid, z, 1, k);
    }
}

void scene_cubictwist(int32_t t) {
    const int32_t *time = &t;
    float *grid = demo.voxels;
#pragma omp parallel default(none) shared(time, grid)
    {
        CubicRow rows[GRID_SIDE];
        for (int32_t y = 1; y <= 62; ++y) rows[y] = cubicRow(y, *time);
#pragma omp for schedule(static)
        for (int32_t z = 1; z <= 62; ++z)
            for (int32_t y = 1; y <= 62; ++y) cubicRowValues(grid + gridIndex(0, y, z), y, z, rows[y]);
    }
}
