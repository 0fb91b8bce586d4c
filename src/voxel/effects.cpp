// effects.cpp - the sphere wipe and the scroll text.
#include "shell/demostate.h"
#include "voxel/voxel.h"

#include <cmath>

// ---- sphere wipe ---------------------------------------------------------------------

void sphere_wipe(float h) {
    const int32_t radius = static_cast<int32_t>(h * 100.0f);
    const int32_t radius2 = radius * radius;
    float *grid = demo.voxels;
    for (int32_t z = 0; z < GRID_SIDE; ++z) {
        for (int32_t y = 0; y < GRID_SIDE; ++y) {
            // Along a row the kept cells are |x - 32| <= w, with w the integer
            // square root of what the row leaves of R2; the runs outside go.
            float *row = grid + gridIndex(0, y, z);
            const int32_t room = radius2 - ((y - 32) * (y - 32) + (z - 32) * (z - 32));
            if (room >= 32 * 32) continue; // the whole row is kept
            int32_t w = -1;                // nothing kept when room < 0
            if (room >= 0) {
                w = static_cast<int32_t>(std::sqrt(static_cast<double>(room)));
                while (w * w > room) --w;
                while ((w + 1) * (w + 1) <= room) ++w;
            }
            for (int32_t x = 0; x < 32 - w; ++x) row[x] = 0.0f;
            for (int32_t x = 33 + w; x < GRID_SIDE; ++x) row[x] = 0.0f;
        }
    }
}

// ---- scroller ------------------------------------------------------------------------------

int32_t scrollring[SCROLL_ROWS][SCROLL_COLUMNS];
int32_t scrollcolumn;
int32_t scrolltime;
int32_t scrollpos;

namespace {
constexpr int32_t GLYPH_CELL_PIXELS = 16;
constexpr int32_t RING_AHEAD_COLUMNS = 112; // new glyphs go this far ahead of the window
constexpr int32_t SHEET_BASE_Y = 24;
constexpr int32_t SHEET_BASE_Z = 43;
constexpr int32_t SLOT_CELLS = 4; // emptied on each side of the sheet along z

// The bit of value 4 of the alpha byte of a font pixel; 0 outside the image or
// without a font (the scroller never reads outside the decoded sheet).
int32_t fontBit(int32_t px, int32_t py) {
    if (!demo.fontbitmap || demo.fontWidth < FONT_SHEET_WIDTH || px < 0 || py < 0 ||
        px >= demo.fontWidth || py >= demo.fontHeight)
        return 0;
    const size_t offset = (static_cast<size_t>(py) * static_cast<size_t>(demo.fontWidth) +
                           static_cast<size_t>(px)) * 4 + 3;
    return demo.fontbitmap[offset] & 4;
}

// Takes the next character of the text and draws its glyph, sampled at every
// second pixel across, into the 8 ring columns ahead of the visible window.
void drawNextGlyph() {
    if (!scrolltext || scrolltext[0] == '\0') return;
    if (scrolltext[scrollpos] == '\0') scrollpos = 0;
    const auto ch = static_cast<unsigned char>(scrolltext[scrollpos]);
    ++scrollpos;
    if (scrolltext[scrollpos] == '\0') scrollpos = 0;
    const int32_t cellX = GLYPH_CELL_PIXELS * (ch % 16);
    const int32_t cellY = GLYPH_CELL_PIXELS * (ch / 16);
    for (int32_t k = 0; k < 8; ++k) {
        const int32_t column = (scrollcolumn + RING_AHEAD_COLUMNS + k) % SCROLL_COLUMNS;
        for (int32_t r = 0; r < SCROLL_ROWS; ++r)
            scrollring[r][column] = fontBit(cellX + 2 * k, cellY + 15 - r);
    }
}
} // namespace

void scroller_draw(int32_t t) {
    // Advance: one column per 31 units of show time, a glyph every 8 columns.
    int32_t pending = t - scrolltime;
    while (pending > SCROLL_STEP_UNITS) {
        scrolltime += SCROLL_STEP_UNITS;
        pending -= SCROLL_STEP_UNITS;
        ++scrollcolumn;
        if (scrollcolumn % 8 == 0) drawNextGlyph();
    }

    // Draw: the ring's visible window as a wavy sheet across x = 1..62.
    float *grid = demo.voxels;
    const double td = t;
    for (int32_t x = 1; x <= 62; ++x) {
        const auto w = static_cast<int32_t>(-4 * std::sin(static_cast<double>(t + 10 * x) * 0.0013));
        const int32_t column = (scrollcolumn + x) % SCROLL_COLUMNS;
        for (int32_t r = 0; r < SCROLL_ROWS; ++r) {
            const double rd = r, xd = x;
            const auto u = static_cast<int32_t>(16 * std::sin(rd * 0.04 + td * 0.001 + xd * 0.03) +
                                                4 * std::sin(rd * 0.1 - td * 0.003 + xd * 0.2));
            const int32_t z = SHEET_BASE_Z + u;
            const int32_t y = SHEET_BASE_Y + r - w;
            grid[gridIndex(x, y, z)] = static_cast<float>(scrollring[r][column]);
            for (int32_t k = 1; k <= SLOT_CELLS; ++k) grid[gridIndex(x, y, z - k)] = 0.0f;
            for (int32_t k = 1; k <= SLOT_CELLS && z + k <= 63; ++k) grid[gridIndex(x, y, z + k)] = 0.0f;
        }
    }
}
