// The four main-thread scenes against their formulas and edge cases.
#include "field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

TEST(Grid, IndexIsZTimes4096PlusYTimes64PlusX) {
    EXPECT_EQ(gridIndex(1, 2, 3), 12417);
    EXPECT_EQ(gridIndex(63, 63, 63), GRID_CELLS - 1);
}

// ---- worms -----------------------------------------------------------------------

class Worms : public ::testing::Test {
protected:
    WormRng savedRng;
    Worm savedWorms[WORM_COUNT];
    void SetUp() override { // every test starts from the initial state
        savedRng = wormrng;
        std::memcpy(savedWorms, wormset, sizeof savedWorms);
    }
    void TearDown() override {
        wormrng = savedRng;
        std::memcpy(wormset, savedWorms, sizeof savedWorms);
    }
};

TEST_F(Worms, FirstWell512ValueAndWalkerZeroAfterTheFirstCall) {
    WormRng rng = wormrng;
    EXPECT_EQ(wellNext(rng), 0xD035C5D6u);
    EXPECT_EQ((0xD035C5D6u >> 1) % 6, 3u);
    Field field;
    scene_worms(0);
    // Walker 0 turned to +x but stands at x = 63: it did not move.
    EXPECT_EQ(wormset[0].z, 32);
    EXPECT_EQ(wormset[0].y, 32);
    EXPECT_EQ(wormset[0].x, 63);
    EXPECT_EQ(wormset[0].dir, 2);
    // Exactly the 32 draws of pass 0 were committed.
    WormRng expected = savedRng;
    for (int i = 0; i < WORM_COUNT; ++i) wellNext(expected);
    EXPECT_EQ(std::memcmp(expected.s, wormrng.s, sizeof expected.s), 0);
    EXPECT_EQ(expected.i, wormrng.i);
}

TEST_F(Worms, SameTimeTwiceDiffersAndWalkersNeverReturnToTheShell) {
    Field a, b;
    demo.voxels = a.cells.data();
    scene_worms(100);
    demo.voxels = b.cells.data();
    scene_worms(100);
    EXPECT_NE(a.cells, b.cells);
    bool left[WORM_COUNT] = {};
    for (int frame = 0; frame < 400; ++frame) {
        scene_worms(frame);
        for (int k = 0; k < WORM_COUNT; ++k) {
            const Worm &w = wormset[k];
            if (w.x != 63) left[k] = true;
            if (left[k]) {
                EXPECT_FALSE(inShell(w.x, w.y, w.z)) << "walker " << k << " frame " << frame;
            }
            EXPECT_NE(w.dir, -1);
        }
    }
    for (int i = 0; i < GRID_CELLS; ++i) { // values 5..12 only
        const float v = b.cells[static_cast<size_t>(i)];
        EXPECT_TRUE(v == 0.0f || (v >= 5.0f && v <= 12.0f && v == std::floor(v))) << i;
    }
}

TEST(WormTurn, NeverReversesAndKeepsDirectionTwiceInSix) {
    for (int d = 0; d < 6; ++d) {
        int keeps = 0;
        for (int c = 0; c < 6; ++c) {
            EXPECT_NE(wormturn[d][c], (d + 3) % 6);
            keeps += wormturn[d][c] == d;
        }
        EXPECT_EQ(keeps, 2);
    }
}

// ---- sine landscape ----------------------------------------------------------------

int sineHeight(int x, int z, int t) { // the nine terms, straight from the formula
    const double T = t, X = x, Z = z;
    const double L = std::sin((0.01 * T + X) * 0.13) + std::sin((0.011 * T + X) * 0.12) -
                     std::sin((0.012 * T + Z) * 0.11) + std::sin((0.013 * T + Z) * 0.1) -
                     std::sin((0.014 * T + 2 * X) * 0.09) + std::sin((0.015 * T + 2 * X) * 0.08) -
                     std::sin((0.016 * T + 2 * Z) * 0.07) + std::sin((0.017 * T + 2 * Z) * 0.06) -
                     std::sin((0.018 * T + X) * 0.05);
    return static_cast<int>(2 * L + 18);
}

TEST(Sinescape, OneCellPerColumnAtTheFormulasHeight) {
    Field field;
    std::fill(field.cells.begin(), field.cells.end(), 7.0f); // cleared first
    for (int t : {0, 1, 999, 40017, 123457, -5000}) {
        scene_sinescape(t);
        EXPECT_EQ(field.filled(), 4096);
        for (int x = 0; x < 64; ++x)
            for (int z = 0; z < 64; ++z) ASSERT_EQ(field.at(x, sineHeight(x, z, t), z), 1.0f) << t;
    }
    scene_sinescape(0);
    for (int y = 0; y < 64; ++y) EXPECT_EQ(field.at(0, y, 0), y == 18 ? 1.0f : 0.0f);
}

// ---- Julia stack -----------------------------------------------------------------------

int juliaReference(int x, int y, int z, int t) {
    const double v = 0.1 * std::sin(t * 0.0007 * 3) + 1.9 * std::sin(t * 0.0002 * 3);
    const float m = static_cast<float>(v * 26 + 64);
    const float cr = (m - 64) * 0.015625f;
    const float ci = static_cast<float>((8 * z - 256) - 64) * 0.015625f;
    float qr = static_cast<float>(2 * y) * 0.03125f - 2, qi = 2 - static_cast<float>(2 * x) * 0.03125f;
    int n = 0;
    for (;;) {
        ++n;
        const float nr = qr * qr - qi * qi + cr;
        const float ni = 2 * qr * qi + ci;
        qr = nr;
        qi = ni;
        if (n == 31) break;
        if (!(qi * qi + qr * qr < 4)) break;
    }
    return n >= 5 ? n - 5 : 0;
}

TEST(Juliastack, LayerFortyAtTimeZeroIsTheDiscOfRadiusSixteen) {
    // c = 0 there: q <- q^2. Inside the unit circle (radius 16 cells) nothing
    // escapes: 26. From |q| >= 2^(1/16) everything escapes within 4 steps: 0.
    // The thin ring between escapes slowly and keeps small values.
    Field field;
    scene_juliastack(0);
    const double escapeFast = 16 * std::pow(2.0, 1.0 / 16);
    int ring = 0;
    for (int y = 1; y <= 62; ++y)
        for (int x = 1; x <= 62; ++x) {
            const int r2 = (y - 32) * (y - 32) + (32 - x) * (32 - x);
            const float v = field.at(x, y, 40);
            if (r2 <= 256) {
                EXPECT_EQ(v, 26.0f) << x << "," << y;
            } else if (r2 >= escapeFast * escapeFast) {
                EXPECT_EQ(v, 0.0f) << x << "," << y;
            } else {
                EXPECT_LT(v, 26.0f) << x << "," << y;
                ring += v != 0.0f;
            }
            EXPECT_EQ(field.at(x, y, 1), 0.0f); // c = -4.875i: everything escapes by step 3
        }
    EXPECT_GT(ring, 0);
}

TEST(Juliastack, FastPathEqualsThePlainFormulaAndLeavesTheShell) {
    Field field;
    std::fill(field.cells.begin(), field.cells.end(), 3.0f);
    for (int t : {0, 1234, 41000, 77777, 150001}) {
        scene_juliastack(t);
        ASSERT_NO_FATAL_FAILURE(checkShellVisitInterior(field, 3.0f, [&](int x, int y, int z, float v) {
            ASSERT_EQ(v, static_cast<float>(juliaReference(x, y, z, t)))
                << x << "," << y << "," << z << " t=" << t;
        }));
        EXPECT_EQ(juliastack_voxel(32, 32, 40, t), juliaReference(32, 32, 40, t));
    }
}

// ---- blobs --------------------------------------------------------------------------------

TEST(Blobs, AtTimeZeroExactlyTheBallOfSquaredRadius308) {
    Field field;
    scene_blobs(0);
    EXPECT_EQ(field.filled(), 22743);
    for (int z = 0; z < 64; ++z)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const int d2 = (x - 32) * (x - 32) + (y - 32) * (y - 32) + (z - 32) * (z - 32);
                ASSERT_EQ(field.at(x, y, z), d2 <= 308 ? 1.0f : 0.0f);
            }
}

TEST(Blobs, FastPathEqualsThePlainFormula) {
    const double rates[5][3][3] = {
        {{0.0018, 0.0008, 0.00011}, {0.0017, 0.0007, 0.00012}, {0.0014, 0.0004, 0.00013}},
        {{0.0009, 0.0019, 0.00014}, {0.0014, 0.0004, 0.00015}, {0.0013, 0.0003, 0.00016}},
        {{0.0012, 0.0002, 0.00017}, {0.0013, 0.0003, 0.00018}, {0.0011, 0.0001, 0.00019}},
        {{0.0021, 0.0001, 0.0002}, {0.0023, 0.0003, 0.00021}, {0.0027, 0.0007, 0.00022}},
        {{0.0024, 0.0001, 0.00027}, {0.0025, 0.0002, 0.00028}, {0.0026, 0.0003, 0.00029}},
    };
    Field field;
    for (int t : {1, 3000, 45678, 99999}) {
        scene_blobs(t);
        float c[5][3];
        for (int k = 0; k < 5; ++k)
            for (int a = 0; a < 3; ++a)
                c[k][a] = static_cast<float>(30 * (std::sin(rates[k][a][0] * t) * std::sin(rates[k][a][1] * t) *
                                                   std::sin(rates[k][a][2] * t)));
        int filled = 0;
        for (int z = 0; z < 64; ++z)
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    float p = 1;
                    for (int k = 0; k < 5; ++k) {
                        const float dx = c[k][2] - static_cast<float>(x - 32);
                        const float dy = c[k][1] - static_cast<float>(y - 32);
                        const float dz = c[k][0] - static_cast<float>(z - 32);
                        const float s = std::sqrt(dx * dx + (dy * dy + dz * dz)) * 0.03125f;
                        p = k == 0 ? s : p * s;
                    }
                    const float expected = static_cast<double>(p) < 0.05 ? 1.0f : 0.0f;
                    filled += expected != 0.0f;
                    ASSERT_EQ(field.at(x, y, z), expected) << x << "," << y << "," << z << " t=" << t;
                }
        EXPECT_GT(filled, 0) << t;
    }
}
} // namespace
