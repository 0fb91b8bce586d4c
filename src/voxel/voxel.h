// voxel.h - the 64 x 64 x 64 voxel field and everything that fills it
//
// What it does
//   Six scene generators, the sphere wipe (the show's fade) and the scroll
//   text overlay, all writing the field through demo.voxels:
//     cell (x, y, z) is voxels[z*4096 + y*64 + x], each coordinate 0..63, y up;
//     0.0 is an empty cell, any other value a small whole number: the
//     appearance index the cube shader turns into a look.
//   The interior is every cell with all coordinates in 1..62; the rest is the
//   shell. Quintic, Julia stack and twisted cubic write only the interior.
//
// What it does not do
//   No GL, no allocation, no clearing between frames: a cell keeps its value
//   until a writer changes it. The frame decides which generator runs (show).
//
// Threads
//   Main thread, inside the frame. scene_quintic and scene_cubictwist open
//   one OpenMP region each; its threads write disjoint z-slabs and have all
//   finished when the call returns.
//
// Units
//   t is show time: signed 32-bit units of 4/3 ms since the first frame.
//
// Exactness
//   Boundary cells depend on rounding, so every formula is evaluated in the
//   stated precision and order, without contraction. The fast paths (vectors
//   across x, hoisting what depends only on the row and the time) use the very
//   same expressions as the plain per-cell functions below, and the tests
//   check them against those, cell for cell.
#pragma once

#include <cstdint>

// ---- the field ---------------------------------------------------------------

inline constexpr int32_t GRID_SIDE = 64;
inline constexpr int32_t GRID_CELLS = GRID_SIDE * GRID_SIDE * GRID_SIDE; // 262144
inline constexpr int32_t gridIndex(int32_t x, int32_t y, int32_t z) { return z * 4096 + y * 64 + x; }

// ---- scene generators ------------------------------------------------------

void scene_worms(int32_t t);       // 32 random walkers, 64 steps ahead; t unused
void scene_quintic(int32_t t);     // quintic map fractal, OpenMP over z (interior)
void scene_sinescape(int32_t t);   // one-cell surface of nine travelling sines
void scene_juliastack(int32_t t);  // 62 Julia layers along z (interior)
void scene_blobs(int32_t t);       // five moving points, product of distances
void scene_cubictwist(int32_t t);  // twisted cubic map fractal, OpenMP over z (interior)

// The value of one interior cell of the quintic fractal (0, or 1..15) for the
// coefficients k1 = 50 sin(0.0001 t), k3, k5, k7 (0.0003, 0.0005, 0.0007).
int32_t quintic_voxel(int32_t x, int32_t y, int32_t z, double k1, double k3, double k5, double k7);

// The plain per-cell evaluations that the fast paths must equal.
int32_t cubictwist_voxel(int32_t x, int32_t y, int32_t z, int32_t t); // 0..26
int32_t juliastack_voxel(int32_t x, int32_t y, int32_t z, int32_t t); // 0..26

// ---- Worms state (process-global, committed once per call) ------------------

struct WormRng {
    uint32_t s[16]; // WELL512 state words
    int32_t i;      // index of the current word
};
struct Worm {
    int32_t z, y, x; // grid cell
    int32_t dir;     // last step: 0 +z, 1 +y, 2 +x, 3 -z, 4 -y, 5 -x
};
inline constexpr int32_t WORM_COUNT = 32;
inline constexpr int32_t WORM_STEPS = 64; // steps shown ahead per frame

extern WormRng wormrng;
extern Worm wormset[WORM_COUNT];
extern const int32_t wormturn[6][6]; // new dir from [old dir][choice 0..5]

// The next WELL512 value of a generator.
uint32_t wellNext(WormRng &rng);

// ---- fade and overlay -------------------------------------------------------

// Empties every cell whose squared distance from (32, 32, 32) exceeds
// trunc(h * 100)^2. h = 0 leaves only the centre cell, h = 1 changes nothing.
void sphere_wipe(float h);

// Advances the scroll text to t (one column per 31 units) and writes its
// wavy 62 x 16 sheet into the field, with 4 empty cells on each side along z.
void scroller_draw(int32_t t);

inline constexpr int32_t SCROLL_ROWS = 16;
inline constexpr int32_t SCROLL_COLUMNS = 128;
inline constexpr int32_t SCROLL_STEP_UNITS = 31; // show time per column
inline constexpr int32_t FONT_SHEET_WIDTH = 256; // pixels; glyphs are 16 x 16 cells

extern int32_t scrollring[SCROLL_ROWS][SCROLL_COLUMNS]; // 0 or 4; row 0 = glyph bottom
extern int32_t scrollcolumn; // scroll steps taken since start
extern int32_t scrolltime;   // show time up to which steps were taken
extern int32_t scrollpos;    // index of the next character of scrolltext
// The scroll text: printable ASCII, shown in a loop. Points at the show's
// own text; tests may point it elsewhere.
extern const char *scrolltext;
