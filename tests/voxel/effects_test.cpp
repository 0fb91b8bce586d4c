// The sphere wipe and the scroll text.
#include "field.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

int distance2(int x, int y, int z) { return (x - 32) * (x - 32) + (y - 32) * (y - 32) + (z - 32) * (z - 32); }

TEST(SphereWipe, KeepsExactlyTheCellsWithinTheRadius) {
    Field field;
    for (float h : {0.0f, 0.5f, 0.99975f, 1.0f}) {
        std::fill(field.cells.begin(), field.cells.end(), 1.0f);
        sphere_wipe(h);
        const int radius = static_cast<int>(h * 100.0f);
        int kept = 0;
        for (int z = 0; z < 64; ++z)
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const bool keep = distance2(x, y, z) <= radius * radius;
                    ASSERT_EQ(field.at(x, y, z), keep ? 1.0f : 0.0f) << h;
                    kept += keep;
                }
        if (h == 0.0f) {
            EXPECT_EQ(kept, 1); // only the centre
        } else if (h >= 0.99975f) {
            EXPECT_EQ(kept, GRID_CELLS);
        }
    }
}

TEST(SphereWipe, BoundaryAtSquaredRadius2500) {
    Field field;
    std::fill(field.cells.begin(), field.cells.end(), 1.0f);
    sphere_wipe(0.5f); // R = 50
    EXPECT_EQ(distance2(0, 2, 8), 2500);
    EXPECT_EQ(field.at(0, 2, 8), 1.0f); // at R2 exactly: kept
    EXPECT_EQ(distance2(0, 2, 7), 2549);
    EXPECT_EQ(field.at(0, 2, 7), 0.0f);
    EXPECT_EQ(distance2(1, 2, 7), 2486);
    EXPECT_EQ(field.at(1, 2, 7), 1.0f);
}

// ---- scroller -------------------------------------------------------------------------------

// A font sheet whose glyph for 'A' has every pixel's alpha bit 4 set in its
// left half, and 'B' in its bottom row only.
struct Font {
    std::vector<uint8_t> pixels;
    explicit Font(int width = 256, int height = 128) : pixels(static_cast<size_t>(width * height * 4), 0) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 8; ++x) alpha(width, 'A', x, y) = 0xFF;
        for (int x = 0; x < 16; ++x) alpha(width, 'B', x, 15) = 4;
        demo.fontbitmap = pixels.data();
        demo.fontWidth = width;
        demo.fontHeight = height;
    }
    uint8_t &alpha(int width, int ch, int x, int y) {
        const int px = 16 * (ch % 16) + x, py = 16 * (ch / 16) + y;
        return pixels[static_cast<size_t>((py * width + px) * 4 + 3)];
    }
    ~Font() {
        demo.fontbitmap = nullptr;
        demo.fontWidth = demo.fontHeight = 0;
    }
};

class Scroller : public ::testing::Test {
protected:
    const char *savedText = scrolltext;
    void SetUp() override { reset(); }
    void TearDown() override {
        reset();
        scrolltext = savedText;
    }
    static void reset() {
        std::memset(scrollring, 0, sizeof scrollring);
        scrollcolumn = scrolltime = scrollpos = 0;
    }
    static int ringColumnSum(int column) {
        int sum = 0;
        for (int r = 0; r < SCROLL_ROWS; ++r) sum += scrollring[r][column];
        return sum;
    }
};

TEST_F(Scroller, StepsOnlyWhenMoreThan31UnitsArePending) {
    Field field;
    scroller_draw(31);
    EXPECT_EQ(scrollcolumn, 0);
    scroller_draw(32);
    EXPECT_EQ(scrollcolumn, 1);
    EXPECT_EQ(scrolltime, 31); // 1 unit stays pending
    scroller_draw(31 * 9 + 1);
    EXPECT_EQ(scrollcolumn, 9);
}

TEST_F(Scroller, GlyphsGoAheadOfTheWindowAndTheTextWraps) {
    Field field;
    Font font;
    scrolltext = "AB";
    scroller_draw(8 * 31 + 1); // 8 steps: 'A' into columns 120..127
    EXPECT_EQ(scrollcolumn, 8);
    EXPECT_EQ(scrollpos, 1);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(ringColumnSum(120 + k), k < 4 ? 16 * 4 : 0) << k;
    scroller_draw(16 * 31 + 1); // 'B' into 0..7 (128 wraps): bottom row only
    EXPECT_EQ(scrollpos, 0);    // wrapped to the first character, never the NUL
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(scrollring[0][k], 4);
        EXPECT_EQ(ringColumnSum(k), 4);
    }
    scroller_draw(24 * 31 + 1); // 'A' again
    EXPECT_EQ(ringColumnSum(8), 64);
}

TEST_F(Scroller, SheetAtTimeZero) {
    Field field;
    std::fill(field.cells.begin(), field.cells.end(), 9.0f);
    scrollring[0][1] = 4; // ring row 0 shown at x = 1
    scrollring[15][62] = 4;
    scroller_draw(0);
    EXPECT_EQ(field.at(1, 24, 44), 4.0f);
    for (int z = 40; z <= 48; ++z) {
        if (z != 44) {
            EXPECT_EQ(field.at(1, 24, z), 0.0f) << z;
        }
    }
    EXPECT_EQ(field.at(1, 24, 39), 9.0f);
    EXPECT_EQ(field.at(1, 24, 49), 9.0f);
    EXPECT_EQ(field.at(62, 41, 56), 4.0f);
    for (int z = 0; z < 64; ++z) EXPECT_EQ(field.at(0, 24, z), 9.0f); // x = 0 untouched
}

TEST_F(Scroller, MissingNarrowOrShortFontsLeaveTheRingEmpty) {
    Field field;
    scrolltext = "zzzz";
    scroller_draw(40 * 31 + 1); // no font at all
    for (int c = 0; c < SCROLL_COLUMNS; ++c) ASSERT_EQ(ringColumnSum(c), 0);
    for (auto [w, h] : {std::pair{128, 128}, std::pair{256, 100}}) {
        reset();
        std::vector<uint8_t> sheet(static_cast<size_t>(w * h * 4), 0xFF); // every bit set
        demo.fontbitmap = sheet.data();
        demo.fontWidth = w;
        demo.fontHeight = h;
        scroller_draw(40 * 31 + 1); // 'z' (122) lies in rows 112..127
        for (int c = 0; c < SCROLL_COLUMNS; ++c) ASSERT_EQ(ringColumnSum(c), 0) << w << "x" << h;
    }
    demo.fontbitmap = nullptr;
    demo.fontWidth = demo.fontHeight = 0;
}
} // namespace
