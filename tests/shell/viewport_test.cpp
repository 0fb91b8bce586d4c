// The letterboxed 16:9 viewport for the window sizes people have.
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {
struct Case {
    int32_t width, height;
    Viewport expected;
};

TEST(Viewport, LetterboxesEverySizeWithSinglePrecisionTruncation) {
    const Case cases[] = {
        {960, 540, {0, 0, 960, 540}},     // the window
        {1920, 1080, {0, 0, 1920, 1080}}, // exact 16:9 takes the whole window
        {3840, 2160, {0, 0, 3840, 2160}},
        {1920, 1200, {0, 60, 1920, 1080}}, // 16:10, bars top and bottom
        {2560, 1080, {320, 0, 1920, 1080}}, // wide, bars left and right
        {1366, 768, {0, 0, 1365, 768}},    // H*k just above 1365: one column left out
        {1280, 1024, {0, 152, 1280, 720}},
        {1000, 1000, {0, 218, 1000, 562}},  // the offset 218.75 and the height 562.49998 truncate
        {2001, 1000, {111, 0, 1777, 1000}}, // the offset 111.61 truncates
        {800, 600, {0, 75, 800, 450}},
        {1, 1, {0, 0, 1, 0}},
    };
    for (const Case &c : cases) {
        const Viewport v = letterboxViewport(c.width, c.height);
        EXPECT_EQ(v.x, c.expected.x) << c.width << "x" << c.height;
        EXPECT_EQ(v.y, c.expected.y) << c.width << "x" << c.height;
        EXPECT_EQ(v.width, c.expected.width) << c.width << "x" << c.height;
        EXPECT_EQ(v.height, c.expected.height) << c.width << "x" << c.height;
    }
}

TEST(Viewport, ZeroHeightGivesAnEmptyViewportWithoutTrapping) {
    const Viewport v = letterboxViewport(960, 0);
    EXPECT_EQ(v.height, 0);
    EXPECT_EQ(v.width, 0);
}
} // namespace

namespace {
// With no display to ask (SDL's video not started), full screen falls back to
// the windowed size, width first.
TEST(FullScreen, WithoutADisplayTheWindowedSizeIsUsed) {
    int32_t width = 0, height = 0;
    fullScreenSize(&width, &height);
    EXPECT_EQ(width, 960);
    EXPECT_EQ(height, 540);
}
} // namespace

namespace {
// Which of SDL's video drivers count as no display: its offscreen and dummy
// ones when SDL fell back to them, never a driver the user chose.
TEST(NoDisplay, OnlyAFallbackToAnInvisibleDriverCounts) {
    const char *keep[] = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"};
    std::string saved[3];
    bool had[3];
    for (int i = 0; i < 3; ++i) {
        const char *v = std::getenv(keep[i]);
        had[i] = v != nullptr;
        saved[i] = v ? v : "";
        unsetenv(keep[i]);
    }
    EXPECT_STREQ(noDisplayReason("offscreen"), "DISPLAY and WAYLAND_DISPLAY are unset");
    EXPECT_STREQ(noDisplayReason("dummy"), "DISPLAY and WAYLAND_DISPLAY are unset");
    EXPECT_EQ(noDisplayReason("x11"), nullptr);
    EXPECT_EQ(noDisplayReason("wayland"), nullptr);
    EXPECT_EQ(noDisplayReason(nullptr), nullptr);
    setenv("DISPLAY", "", 1); // set but empty is unset
    EXPECT_STREQ(noDisplayReason("offscreen"), "DISPLAY and WAYLAND_DISPLAY are unset");
    setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    EXPECT_STREQ(noDisplayReason("offscreen"), "neither the X server of DISPLAY nor a Wayland compositor could be reached");
    setenv("SDL_VIDEODRIVER", "offscreen", 1); // chosen on purpose
    EXPECT_EQ(noDisplayReason("offscreen"), nullptr);
    for (int i = 0; i < 3; ++i) {
        if (had[i]) setenv(keep[i], saved[i].c_str(), 1);
        else unsetenv(keep[i]);
    }
}
} // namespace
