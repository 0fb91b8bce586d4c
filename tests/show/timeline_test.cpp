// The show's clock and schedule as functions of the ticks and of T.
#include "show/show.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdint>

namespace {

float mixAt(int32_t t) {
    const double d = t * 0.0001;
    return static_cast<float>((std::sin(0.17 * d) + std::sin(0.13 * d) + std::sin(0.19 * d)) / 6 + 0.5);
}

TEST(ShowClock, ThreeQuartersOfTheTicksInWrappingUnsignedArithmetic) {
    EXPECT_EQ(showClock(0), 0u);
    EXPECT_EQ(showClock(4), 3u);
    EXPECT_EQ(showClock(1000), 750u);
    EXPECT_EQ(showClock(0xFFFFFFFFu), 0x3FFFFFFFu); // the product wraps first
    EXPECT_EQ(showClock(0x60000000u), 0x08000000u); // 3 * 0x60000000 wraps to 0x20000000
}

TEST(ShowClock, FirstFrameLatchesTheOriginUnlessTheClockReadsZero) {
    int32_t start = 0;
    EXPECT_EQ(showTime(1, &start), 0); // c = 0: nothing latched
    EXPECT_EQ(start, 0);
    EXPECT_EQ(showTime(1000, &start), 0); // latches c = 750
    EXPECT_EQ(start, 750);
    EXPECT_EQ(showTime(2000, &start), 750);
    EXPECT_EQ(start, 750);
}

TEST(ShowClock, WrapOfTheTicksMakesTJump) {
    int32_t start = 0;
    showTime(0xFFFFFF00u, &start); // c = (0xFFFFFF00 * 3 mod 2^32) / 4
    const int32_t before = showTime(0xFFFFFFF0u, &start);
    const int32_t after = showTime(0x00000010u, &start);
    EXPECT_EQ(before, 180); // (0xF0 - 0x00) * 3 / 4
    EXPECT_LT(after, 0);    // c restarts from 12: T = 12 - start wraps negative
    EXPECT_EQ(after, static_cast<int32_t>(12u - static_cast<uint32_t>(start)));
}

TEST(Timeline, FirstFrameIsSilentIntroWithTheWipeAtZero) {
    const TimelineStep s = timelineStep(0);
    EXPECT_EQ(s.meloVolume, 0.0f);
    EXPECT_EQ(s.spaceVolume, 0.0f);
    EXPECT_EQ(s.scene, -1);
    EXPECT_TRUE(s.wipe);
    EXPECT_EQ(s.wipeLevel, 0.0f);
    EXPECT_EQ(s.mix, 0.5f);
}

TEST(Timeline, VolumeRampAndMusicMix) {
    const TimelineStep s = timelineStep(2500);
    const float m = static_cast<float>((std::sin(0.0425) + std::sin(0.0325) + std::sin(0.0475)) / 6 + 0.5);
    EXPECT_EQ(s.mix, m);
    EXPECT_NEAR(m, 0.5204f, 0.0001f);
    EXPECT_EQ(s.ramp, 0.5f);
    EXPECT_EQ(s.meloVolume, 0.5f * m);
    EXPECT_EQ(s.spaceVolume, 0.5f * (1 - m));
    for (int32_t t = 5000; t < 2000000; t += 7919) {
        const TimelineStep a = timelineStep(t);
        EXPECT_EQ(a.ramp, 1.0f);
        EXPECT_EQ(a.mix, mixAt(t));
        EXPECT_GE(a.mix, 0.0f);
        EXPECT_LE(a.mix, 1.0f);
        EXPECT_NEAR(a.meloVolume + a.spaceVolume, 1.0f, 1e-7f) << t;
    }
}

TEST(Timeline, IntroSlotsAndFades) {
    struct Case {
        int32_t t, scene;
        bool wipe;
        float level;
    };
    const Case cases[] = {
        {40000, -1, true, 0.0f},       {40001, 0, true, 0.00025f}, {43999, 0, true, 0.99975f},
        {44000, 0, false, 0},          {56000, 0, false, 0},       {56001, 0, true, 0.99975f},
        {59999, 0, true, 0.00025f},    {60000, 1, true, 0.0f},     {80000, 2, true, 0.0f},
        {100000, 3, true, 0.0f},       {130000, 4, false, 0},      {150000, 5, false, 0},
        {160000, 0, true, 0.0f},       {1000000, (1000000 - 40000) / 20000 % 6, true, 0.0f},
    };
    for (const Case &c : cases) {
        const TimelineStep s = timelineStep(c.t);
        EXPECT_EQ(s.scene, c.scene) << c.t;
        EXPECT_EQ(s.wipe, c.wipe) << c.t;
        if (c.wipe) {
            EXPECT_FLOAT_EQ(s.wipeLevel, c.level) << c.t;
        }
    }
}

TEST(Frame, ClearColourComesUpFromBlackAndFollowsTheMusic) {
    float c[4];
    clearColour(0, 0.3f, c);
    EXPECT_EQ(c[0], 0.0f);
    EXPECT_EQ(c[1], 0.0f);
    EXPECT_EQ(c[2], 0.0f);
    EXPECT_EQ(c[3], 1.0f);
    clearColour(1799, 1.0f, c);
    EXPECT_EQ(c[1], static_cast<float>(35 / 255.0));
    clearColour(1800, 1.0f, c);
    EXPECT_EQ(c[1], static_cast<float>(36 / 255.0));
    clearColour(2400, 1.0f, c); // melody alone: (30, 36, 48)
    EXPECT_EQ(c[0], static_cast<float>(30 / 255.0));
    EXPECT_EQ(c[2], static_cast<float>(48 / 255.0));
    clearColour(100000, 0.0f, c); // space alone: (48, 36, 30)
    EXPECT_EQ(c[0], static_cast<float>(48 / 255.0));
    EXPECT_EQ(c[2], static_cast<float>(30 / 255.0));
}

TEST(Frame, FlyingBoxesAppearOneEvery20Units) {
    EXPECT_EQ(flyingBoxCount(0), 0);
    EXPECT_EQ(flyingBoxCount(19), 0);
    EXPECT_EQ(flyingBoxCount(20), 1);
    EXPECT_EQ(flyingBoxCount(19999), 999);
    EXPECT_EQ(flyingBoxCount(20000), 1000);
    EXPECT_EQ(flyingBoxCount(5000000), 1000);
    EXPECT_EQ(flyingBoxCount(-100), 0);
    float p[3];
    flyingBoxPosition(0, p);
    EXPECT_EQ(p[0], 0.0f);
    EXPECT_EQ(p[1], 0.0f);
    EXPECT_EQ(p[2], 200.0f);
    flyingBoxPosition(59, p); // r = 1003 mod 1000 = 3, S = 201
    EXPECT_EQ(p[0], static_cast<float>(std::sin(0.69) * 201));
    flyingBoxPosition(1, p); // r = 17, S = 200 + 8 = 208
    EXPECT_NEAR(p[0], -144.55812f, 1e-4f);
    EXPECT_NEAR(p[1], -99.06408f, 1e-4f);
    EXPECT_NEAR(p[2], -139.38782f, 1e-4f);
}

TEST(Frame, CameraAtTimeZero) {
    float eye[3];
    cameraEye(0, eye);
    EXPECT_EQ(eye[0], 0.0f);
    EXPECT_NEAR(eye[1], 61.05f, 0.01f);
    EXPECT_NEAR(eye[2], 103.31f, 0.01f);
    for (int32_t t = 0; t < 500000; t += 10007) { // between 100 and 140 from the origin
        cameraEye(t, eye);
        const float d = std::sqrt(eye[0] * eye[0] + eye[1] * eye[1] + eye[2] * eye[2]);
        EXPECT_GE(d, 99.99f);
        EXPECT_LE(d, 140.01f);
    }
}

// The light: (sin(0.0014 T) 60, cos(0.000086 T) 40, cos(0.0015 T) 70, 1).
TEST(Frame, LightPositionAtKnownTimes) {
    float light[4];
    lightPosition(0, light);
    EXPECT_EQ(light[0], 0.0f);
    EXPECT_EQ(light[1], 40.0f);
    EXPECT_EQ(light[2], 70.0f);
    EXPECT_EQ(light[3], 1.0f);
    lightPosition(1000, light); // sin 1.4, cos 0.086, cos 1.5
    EXPECT_NEAR(light[0], 59.12698f, 1e-4f);
    EXPECT_NEAR(light[1], 39.85217f, 1e-4f);
    EXPECT_NEAR(light[2], 4.95160f, 1e-4f);
    lightPosition(-1000, light); // the clock never runs back, but the formula is odd in x
    EXPECT_NEAR(light[0], -59.12698f, 1e-4f);
}

// The projection takes the shape of the letterboxed picture, so any window
// shows the 16:9 picture unstretched inside its bars.
TEST(Frame, ProjectionAspectIsTheDrawnPictures) {
    const float t = std::tan(0.3925f);
    struct Case { int32_t w, h; float aspect; } cases[] = {
        {1920, 1080, 1920.0f / 1080.0f}, {960, 540, 960.0f / 540.0f},
        {1920, 1200, 1920.0f / 1080.0f}, // 16:10: bars above and below
        {1280, 1024, 1280.0f / 720.0f},  // 5:4
        {2560, 1080, 1920.0f / 1080.0f}, // wider than 16:9: bars at the sides
        {1366, 768, 1365.0f / 768.0f},   // the viewport drops one column
    };
    for (const Case &c : cases) {
        float p[16];
        cameraProjection(c.w, c.h, p);
        EXPECT_EQ(p[0], 1.0f / (c.aspect * t)) << c.w << "x" << c.h;
        EXPECT_EQ(p[5], 1.0f / t) << c.w << "x" << c.h;
    }
    float wide[16], tall[16];
    cameraProjection(1280, 720, wide);
    cameraProjection(1280, 1024, tall);
    EXPECT_EQ(0, std::memcmp(wide, tall, sizeof wide));
}
} // namespace
