// Column-major matrix helpers: products, look-at, rotation, perspective, light.
#include "math/mat4.h"
#include "st/st_shadowmap.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

namespace {
void expectMatrix(const float *actual, const float (&expected)[16], float tolerance = 0.0f) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

TEST(Mat4Mul, IdentityOnEitherSideReturnsTheOtherFactor) {
    float id[16], m[16], out[16];
    mat4_identity(id);
    for (int i = 0; i < 16; ++i) m[i] = static_cast<float>(i * 3 - 7);
    EXPECT_EQ(mat4_mul(out, id, m), out);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], m[i]);
    mat4_mul(out, m, id);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], m[i]);
}

TEST(Mat4Mul, RightFactorActsFirst) {
    float t[16], s[16] = {}, out[16];
    mat4_translation(t, 1, 2, 3);
    s[0] = s[5] = s[10] = 2;
    s[15] = 1;
    mat4_mul(out, t, s);
    expectMatrix(out, {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1});
    mat4_mul(out, s, t); // now the translation is scaled too
    expectMatrix(out, {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 2, 4, 6, 1});
}

TEST(Mat4Lookat, CameraOnPositiveZIsATranslation) {
    const float eye[3] = {0, 0, 5}, center[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    float out[16];
    mat4_lookat(out, eye, center, up);
    expectMatrix(out, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1});
}

TEST(Mat4Lookat, ElementFourteenIsPlusFDotEye) {
    // Looking down -x from (3, 0, 0): f = (-1, 0, 0), f . eye = -3.
    const float eye[3] = {3, 0, 0}, center[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    float out[16];
    mat4_lookat(out, eye, center, up);
    EXPECT_FLOAT_EQ(out[14], -3.0f);
    EXPECT_FLOAT_EQ(out[2], 1.0f); // -f.x in column 0
    EXPECT_FLOAT_EQ(out[8], -1.0f); // s.z, with s = f x up = (0, 0, -1)
}

TEST(Mat4Rotate, QuarterTurnAboutZSendsXToY) {
    float id[16], out[16];
    mat4_identity(id);
    const float axis[3] = {0, 0, 2}; // not unit length
    const float angle = static_cast<float>(M_PI / 2);
    mat4_rotate(out, id, angle, axis);
    EXPECT_EQ(out[0], std::cos(angle));
    EXPECT_EQ(out[1], std::sin(angle));
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_NEAR(out[4], -1.0f, 1e-7f);
    EXPECT_FLOAT_EQ(out[10], 1.0f);
    for (int i = 12; i < 15; ++i) EXPECT_EQ(out[i], 0.0f);
}

TEST(Mat4Rotate, KeepsTheTranslationColumnOfM) {
    float m[16], out[16];
    mat4_translation(m, 4, 5, 6);
    const float axis[3] = {0, 1, 0};
    mat4_rotate(out, m, 0.3f, axis);
    EXPECT_EQ(out[12], 4.0f);
    EXPECT_EQ(out[13], 5.0f);
    EXPECT_EQ(out[14], 6.0f);
    EXPECT_EQ(out[15], 1.0f);
}

TEST(Mat4Perspective, StoresTheDepthConstantsBitForBit) {
    float p[16];
    mat4_perspective(p, std::tan(0.3925f), 16.0f / 9.0f);
    EXPECT_EQ(std::bit_cast<uint32_t>(p[10]), 0xBF80419Au);
    EXPECT_EQ(std::bit_cast<uint32_t>(p[14]), 0xC00020CDu);
    EXPECT_EQ(p[11], -1.0f);
    EXPECT_EQ(p[5], 1.0f / std::tan(0.3925f));
    EXPECT_EQ(p[0], 1.0f / ((16.0f / 9.0f) * std::tan(0.3925f)));
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15}) EXPECT_EQ(p[i], 0.0f) << i;
}

TEST(Mat4Perspective, MapsNearAndFarPlanesToMinusOneAndOne) {
    float p[16];
    mat4_perspective(p, 1.0f, 1.0f);
    for (float z : {-1.0f, -1000.0f}) {
        const float clipZ = p[10] * z + p[14];
        const float clipW = p[11] * z;
        EXPECT_NEAR(clipZ / clipW, z == -1.0f ? -1.0f : 1.0f, 1e-5f);
    }
}

TEST(Setlight, IdentityProjectionGivesBiasTimesView) {
    st::Shadowmap map; // never initialised: setlight needs no GL
    float id[16];
    mat4_identity(id);
    const float eye[3] = {0, 0, 5}, center[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    map.setlight(eye, center, up, id);
    expectMatrix(map.projection, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    expectMatrix(map.view, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1});
    expectMatrix(map.shadowmatrix, {0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0.5f, -2, 1});
}
} // namespace
