// Column-major matrix helpers: products, look-at, rotation, perspective, light.
#include "math/mat4.h"
#include "st/st_shadowmap.h"

#include <gtest/gtest.h>

#include <array>
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

// (R v) for a column-major matrix and a 3-vector with w = 0.
void applyTo(const float *m, const float (&v)[3], float (&out)[3]) {
    for (int r = 0; r < 3; ++r) out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2];
}

TEST(Mat4Rotate, QuarterTurnsAboutXAndYFollowTheRightHand) {
    float id[16], out[16], v[3];
    mat4_identity(id);
    const float angle = static_cast<float>(M_PI / 2);
    const float xAxis[3] = {3, 0, 0}, yAxis[3] = {0, 0.5f, 0};
    mat4_rotate(out, id, angle, xAxis); // y to z, z to -y
    applyTo(out, {0, 1, 0}, v);
    EXPECT_NEAR(v[0], 0, 1e-6f);
    EXPECT_NEAR(v[1], 0, 1e-6f);
    EXPECT_NEAR(v[2], 1, 1e-6f);
    applyTo(out, {0, 0, 1}, v);
    EXPECT_NEAR(v[1], -1, 1e-6f);
    mat4_rotate(out, id, angle, yAxis); // z to x, x to -z
    applyTo(out, {0, 0, 1}, v);
    EXPECT_NEAR(v[0], 1, 1e-6f);
    EXPECT_NEAR(v[2], 0, 1e-6f);
    applyTo(out, {1, 0, 0}, v);
    EXPECT_NEAR(v[0], 0, 1e-6f);
    EXPECT_NEAR(v[2], -1, 1e-6f);
}

// Any axis: the matrix turns vectors as Rodrigues' formula does,
// v cos a + (k x v) sin a + k (k . v)(1 - cos a), computed here in double.
TEST(Mat4Rotate, AnyAxisTurnsVectorsAsRodriguesFormulaDoes) {
    float id[16], out[16];
    mat4_identity(id);
    const float axis[3] = {1, -2, 0.5f};
    const double len = std::sqrt(1.0 + 4.0 + 0.25), k[3] = {1 / len, -2 / len, 0.5 / len};
    for (const float angle : {0.3f, -1.1f, 2.5f}) {
        mat4_rotate(out, id, angle, axis);
        for (const auto &v : {std::array<float, 3>{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.3f, -0.7f, 2}}) {
            const double c = std::cos(angle), s = std::sin(angle);
            const double dot = k[0] * v[0] + k[1] * v[1] + k[2] * v[2];
            const double cross[3] = {k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2], k[0] * v[1] - k[1] * v[0]};
            float got[3];
            applyTo(out, {v[0], v[1], v[2]}, got);
            for (int r = 0; r < 3; ++r)
                EXPECT_NEAR(got[r], v[r] * c + cross[r] * s + k[r] * dot * (1 - c), 1e-5) << "angle " << angle << " row " << r;
        }
    }
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
// The shadow matrix takes a world point to the light's texture space:
// B x P x V, projection after view. A point of the light's own axis lands in
// the middle of the map; one off the axis lands where the perspective puts it.
TEST(Setlight, ShadowMatrixProjectsAfterTheView) {
    st::Shadowmap map;
    float p[16];
    mat4_perspective(p, 1.0f, 1.0f); // 90 degrees
    const float eye[3] = {0, 0, 10}, center[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    map.setlight(eye, center, up, p);
    auto toTexture = [&](float x, float y, float z, float (&t)[3]) {
        float h[4];
        for (int r = 0; r < 4; ++r)
            h[r] = map.shadowmatrix[r] * x + map.shadowmatrix[4 + r] * y + map.shadowmatrix[8 + r] * z + map.shadowmatrix[12 + r];
        for (int r = 0; r < 3; ++r) t[r] = h[r] / h[3];
    };
    float t[3];
    toTexture(0, 0, 0, t);
    EXPECT_NEAR(t[0], 0.5f, 1e-6f);
    EXPECT_NEAR(t[1], 0.5f, 1e-6f);
    // 10 units from the light: NDC depth (1001 * 10 - 2000) / (999 * 10).
    const double depth = 0.5 * ((1001.0 * 10 - 2000) / (999.0 * 10)) + 0.5;
    EXPECT_NEAR(t[2], depth, 1e-5);
    toTexture(2, 1, 0, t); // x / 10 and y / 10 in NDC
    EXPECT_NEAR(t[0], 0.6f, 1e-6f);
    EXPECT_NEAR(t[1], 0.55f, 1e-6f);
    toTexture(0, 0, 5, t); // 5 units from the light: nearer, so smaller depth
    EXPECT_LT(t[2], depth);
}
} // namespace
