// formulas.h - the per-cell formulas of the iterated scenes, written once.
//
// Each function is a template over the number type: the plain per-cell
// evaluation instantiates it with double or float, the fast paths with GCC
// vectors of 4 doubles or 8 floats (one lane per x). Every lane therefore goes
// through exactly the same operations, in the same order, as the scalar code;
// with contraction off the results are identical bit for bit.
#pragma once

#include <cstdint>

// The row functions of the fast paths are built twice on x86-64, for AVX2
// and for any x86-64, and the loader picks one; elsewhere (WebAssembly, with
// its 128-bit SIMD) once.
#if defined(__x86_64__)
#define VOXEL_SIMD_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VOXEL_SIMD_CLONES
#endif

namespace voxel_detail {

// Vectors of lanes across x (GCC vector extensions).
typedef double Double4 __attribute__((vector_size(32)));
typedef float Float8 __attribute__((vector_size(32)));
typedef int64_t Mask4 __attribute__((vector_size(32)));  // lanes of Double4 compares
typedef int32_t Mask8 __attribute__((vector_size(32)));  // lanes of Float8 compares

// The lanes of the double-precision fast paths: 4 with AVX2 (and on other
// x86-64, where GCC splits them), 2 with WebAssembly's 128-bit SIMD, whose
// code for 256-bit vectors is slow.
#if defined(__wasm_simd128__)
typedef double DoubleV __attribute__((vector_size(16)));
typedef int64_t MaskV __attribute__((vector_size(16)));
#else
typedef Double4 DoubleV;
typedef Mask4 MaskV;
#endif
inline constexpr int DOUBLE_LANES = static_cast<int>(sizeof(DoubleV) / sizeof(double));

// Escape iterations stop at these counts.
inline constexpr int32_t JULIA_MAX_ITERATIONS = 31;
inline constexpr int32_t CUBIC_MAX_ITERATIONS = 32;

// The quintic map's component G(c; a, b):
//   c^5 - 10 c^3 (a^2 + b^2 + k1 a b)
//       + 5 c (a^4 + b^4 + k3 (a^3 b + a b^3) + k5 a^2 b^2) + k7 c^2 a b (a + b)
// with c^5 = c^3 c^2, a^3 = a^2 a, a^4 = a^2 a^2, products left to right.
template <class V>
[[gnu::always_inline]] inline V quinticG(V c, V a, V b, double k1, double k3, double k5, double k7) {
    const V a2 = a * a, b2 = b * b, c2 = c * c, c3 = c2 * c;
    return c3 * c2 - 10.0 * c3 * (a2 + b2 + k1 * a * b) +
           5.0 * c * (a2 * a2 + b2 * b2 + k3 * (a2 * a * b + a * (b2 * b)) + k5 * a2 * b2) +
           k7 * c2 * a * b * (a + b);
}

// Three simultaneous iterations from (x0, y0, z0); returns X + Y + Z.
template <class V>
[[gnu::always_inline]] inline V quinticSum(V x0, V y0, V z0, double k1, double k3, double k5,
                                           double k7) {
    V x = x0, y = y0, z = z0;
    for (int i = 0; i < 3; ++i) {
        const V nx = quinticG(x, y, z, k1, k3, k5, k7) + x0;
        const V ny = quinticG(y, x, z, k1, k3, k5, k7) + y0;
        const V nz = quinticG(z, x, y, k1, k3, k5, k7) + z0;
        x = nx;
        y = ny;
        z = nz;
    }
    return x + y + z;
}

// One step of the twisted cubic map; returns s = (P' + R') + Q'.
template <class V>
[[gnu::always_inline]] inline V cubicStep(V &p, V &q, V &r, V x0, V y0, V z0) {
    const V np = (((3.0 * p) * r) * r - (p * p) * p) - (q * p) * q + x0;
    const V nq = ((q * q) * q - ((3.0 * q) * r) * r) + (q * p) * p + z0;
    const V nr = (r * r) * r - ((p * p + r) + r) * (3.0 * r) + y0;
    p = np;
    q = nq;
    r = nr;
    return (np + nr) + nq;
}

// One step of q <- q^2 + c; returns |q|^2 as qi^2 + qr^2.
template <class V>
[[gnu::always_inline]] inline V juliaStep(V &qr, V &qi, float cr, float ci) {
    const V nr = qr * qr - qi * qi + cr;
    const V ni = 2.0f * qr * qi + ci;
    qr = nr;
    qi = ni;
    return qi * qi + qr * qr;
}

// The twisted cubic's row values, which depend on y and t only.
struct CubicRow {
    double e;   // sin((t + 100 y) * 0.001), rounded to float and back
    double k;   // e * 0.02 + 0.2
    double ce;  // cos(e)
    double se;  // sin(e)
};
CubicRow cubicRow(int32_t y, int32_t t);

// Julia stack's per-frame real part of c.
float juliaCr(int32_t t);

} // namespace voxel_detail
