// The parallel fractal scenes: edge cases, and the fast paths against the
// formulas written out plainly, with one and with two OpenMP threads.
#include "field.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>

namespace {

double G(double c, double a, double b, double k1, double k3, double k5, double k7) {
    return c * c * c * c * c - 10 * c * c * c * (a * a + b * b + k1 * a * b) +
           5 * c * (a * a * a * a + b * b * b * b + k3 * (a * a * a * b + a * b * b * b) + k5 * a * a * b * b) +
           k7 * c * c * a * b * (a + b);
}

// The quintic cell from the formula, with its own association of the powers:
// it may differ from the demo's in the last bits, so it is compared only where
// the sum is far from the 0.1 boundary.
double quinticSumReference(int x, int y, int z, int t) {
    const double k1 = 50 * std::sin(0.0001 * t), k3 = 50 * std::sin(0.0003 * t),
                 k5 = 50 * std::sin(0.0005 * t), k7 = 50 * std::sin(0.0007 * t);
    const double x0 = (x - 32) * 0.04, y0 = (y - 32) * 0.04, z0 = (z - 32) * 0.04;
    double X = x0, Y = y0, Z = z0;
    for (int i = 0; i < 3; ++i) {
        const double nx = G(X, Y, Z, k1, k3, k5, k7) + x0;
        const double ny = G(Y, X, Z, k1, k3, k5, k7) + y0;
        const double nz = G(Z, X, Y, k1, k3, k5, k7) + z0;
        X = nx, Y = ny, Z = nz;
    }
    return X + Y + Z;
}

int cubicReference(int x, int y, int z, int t) { // exactly as the formula is written
    const double e = static_cast<float>(std::sin(static_cast<double>(t + 100 * y) * 0.001));
    const double k = e * 0.02 + 0.2;
    const double X0 = (x - 32) * k, Y0 = (y - 32) * k, Z0 = (z - 32) * k;
    double P = std::cos(e) * X0 - std::sin(e) * Z0;
    double Q = std::cos(e) * Z0 + std::sin(e) * X0;
    double R = Y0;
    int n = 0;
    for (;;) {
        ++n;
        const double nP = (((3 * P) * R) * R - (P * P) * P) - (Q * P) * Q + X0;
        const double nQ = ((Q * Q) * Q - ((3 * Q) * R) * R) + (Q * P) * P + Z0;
        const double nR = (R * R) * R - ((P * P + R) + R) * (3 * R) + Y0;
        P = nP, Q = nQ, R = nR;
        const double s = (nP + nR) + nQ;
        if (!(std::fabs(s) > 0.1)) break;
        if (n == 32) break;
    }
    return n >= 7 ? n - 6 : 0;
}

const int TIMES[] = {0, 1, 777, 40001, 61234, 99999, 140000, 1000003, -20000};

class Fractals : public ::testing::TestWithParam<int> { // parameter: OpenMP threads
protected:
    void SetUp() override { omp_set_num_threads(GetParam()); }
    void TearDown() override { omp_set_num_threads(omp_get_num_procs()); }
};

TEST_P(Fractals, QuinticFastPathEqualsPerCellEvaluationAndLeavesTheShell) {
    Field field;
    std::fill(field.cells.begin(), field.cells.end(), 2.0f);
    for (int t : TIMES) {
        scene_quintic(t);
        const double k1 = 50 * std::sin(0.0001 * t), k3 = 50 * std::sin(0.0003 * t),
                     k5 = 50 * std::sin(0.0005 * t), k7 = 50 * std::sin(0.0007 * t);
        int filled = 0;
        ASSERT_NO_FATAL_FAILURE(checkShellVisitInterior(field, 2.0f, [&](int x, int y, int z, float v) {
            ASSERT_EQ(v, static_cast<float>(quintic_voxel(x, y, z, k1, k3, k5, k7)))
                << x << "," << y << "," << z << " t=" << t;
            filled += v != 0.0f;
            const double sum = quinticSumReference(x, y, z, t);
            if (std::isfinite(sum) && std::fabs(std::fabs(sum) - 0.1) > 1e-9) {
                ASSERT_EQ(v != 0.0f, std::fabs(sum) <= 0.1) << x << "," << y << "," << z;
            }
        }));
        EXPECT_GT(filled, 62 * 3) << t;
    }
}

TEST_P(Fractals, QuinticCentreAndDiagonalsAreFilledAtAnyTime) {
    Field field;
    for (int t : TIMES) {
        scene_quintic(t);
        EXPECT_EQ(field.at(32, 32, 32), 9.0f);
        for (int a = 2; a <= 62; ++a) {
            ASSERT_EQ(field.at(a, 64 - a, 32), static_cast<float>((4 * a) % 15 + 1)) << a << " t=" << t;
            ASSERT_NE(field.at(a, 32, 64 - a), 0.0f);
            ASSERT_NE(field.at(32, a, 64 - a), 0.0f);
        }
        EXPECT_EQ(field.at(2, 62, 32), 9.0f);
        EXPECT_EQ(field.at(10, 54, 32), 11.0f);
    }
}

TEST_P(Fractals, CubicTwistFastPathEqualsTheFormulaAndLeavesTheShell) {
    Field field;
    std::fill(field.cells.begin(), field.cells.end(), 5.0f);
    for (int t : TIMES) {
        scene_cubictwist(t);
        int filled = 0;
        ASSERT_NO_FATAL_FAILURE(checkShellVisitInterior(field, 5.0f, [&](int x, int y, int z, float v) {
            ASSERT_EQ(v, static_cast<float>(cubicReference(x, y, z, t)))
                << x << "," << y << "," << z << " t=" << t;
            filled += v != 0.0f;
        }));
        EXPECT_GT(filled, 1000) << t;
        EXPECT_EQ(field.at(32, 32, 32), 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, Fractals, ::testing::Values(1, 2));

TEST(CubicTwist, CellAboveTheCentreAtTimeZeroOverflowsToNaNAtIterationEight) {
    EXPECT_EQ(cubictwist_voxel(32, 40, 32, 0), 2);
    EXPECT_EQ(cubictwist_voxel(32, 32, 32, 0), 0);
    EXPECT_EQ(cubictwist_voxel(32, 32, 32, 123456), 0);
}

TEST(Quintic, CentreIsNineAndExactNegativesSumToZero) {
    EXPECT_EQ(quintic_voxel(32, 32, 32, 1, 2, 3, 4), 9);
    // x0 = -y0 and z0 = 0: X and Y stay exact negatives, Z stays 0, the sum is
    // exactly 0 and the value depends on the position only.
    EXPECT_EQ(quintic_voxel(31, 33, 32, 0, 0, 0, 0), (9 * 32 + 3 * 33 + 7 * 31) % 15 + 1);
    // Far from the centre the map runs away: empty.
    EXPECT_EQ(quintic_voxel(1, 1, 1, 50, 50, 50, 50), 0);
}
} // namespace
