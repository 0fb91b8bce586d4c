// show.h - the show: its clock, its schedule, and the drawing of one frame
//
// What it does
//   drawFrame runs once per main-loop turn: updateTimeline derives the show
//   time T from the platform's millisecond clock, sets both music volumes (a slow,
//   endless cross-fade), runs the scene of the current slot, fades it in and
//   out with the sphere wipe, writes the scroll text into the grid and uploads
//   it; renderPasses then draws the shadow pass, clears with a colour that
//   follows the music, draws up to 1000 flying boxes and the 262144 voxel
//   cubes and ends the frame (on the desktop: 1 ms sleep, swap; vertical sync
//   paces the loop).
//
// What it does not do
//   It loads nothing (the shell's initDemo did) and keeps no state of its own
//   but demo.startTime.
//
// Schedule, in units of show time (1 unit = 4/3 ms; T runs at 3/4 of real time)
//   0 .. 5000      both music volumes ramp up from 0
//   0 .. 40000     intro: the empty grid and the scroll text
//   then           six scenes of 20000 each, forever; each fades in over the
//                  first 4000 of its slot and out over the last 4000
//
// Threads: main thread, GL context current. Two scenes use OpenMP inside.
//
// The arithmetic is split from the clock read and the GL calls (the functions
// below), so it can be checked as a function of T and the ticks.
#pragma once

#include <cstdint>

// ---- schedule constants (show time units) ------------------------------------------

inline constexpr int32_t VOLUME_RAMP_UNITS = 5000;
inline constexpr int32_t INTRO_UNITS = 40000;
inline constexpr int32_t SLOT_UNITS = 20000;
inline constexpr int32_t SCENE_COUNT = 6;
inline constexpr int32_t FADE_UNITS = 4000;
inline constexpr int32_t MAX_FLYING_BOXES = 1000;
inline constexpr int32_t UNITS_PER_BOX = 20; // one more flying box every 20 units

// ---- the frame -----------------------------------------------------------------------

// The show time of a frame and the music mix at that time.
struct ShowMoment {
    int32_t t;  // show time T
    float mix;  // m: the melody's share of the music
};

void drawFrame();               // updateTimeline, then renderPasses
ShowMoment updateTimeline();    // the clock, then runTimeline
ShowMoment runTimeline(int32_t t); // volumes, scene, wipe, scroller, upload at show time t
void renderPasses(int32_t t, float m); // drawPasses, then the 1 ms sleep and the swap
void drawPasses(int32_t t, float m);   // shadow pass, clear, boxes, cubes (no swap)

// The show's sound from show time `start`, mixed offline (no device; the
// engine's buffers set up, the music playing): first both tracks move to
// where the live show has them at `start` (seekMusic), then for each of `frames` frames at
// `fps` frames a second, the timeline's volume calls for that frame (those
// that drawing it makes), then its share of samples at `rate`, handed to
// `sink` in blocks the engine holds (planar, channel c at c * stride). The
// shares add up to frames / fps seconds exactly.
using SoundSink = void (*)(void *user, const float *planar, uint32_t stride, uint32_t count);
void mixShowSound(int64_t start, int64_t frames, int64_t fps, uint32_t rate, SoundSink sink, void *user);

// ---- the arithmetic ----------------------------------------------------------------------

// c = (ticks * 3) / 4 in unsigned 32-bit arithmetic (the product wraps).
uint32_t showClock(uint32_t ticks);
// T = c - startTime, latching startTime = c on the first frame (while it is 0).
int32_t showTime(uint32_t ticks, int32_t *startTime);

// What one frame of the schedule does at show time T.
struct TimelineStep {
    float ramp;        // r: 0 .. 1 over the first 5000 units
    float mix;         // m: the melody's share of the music, 0 .. 1
    float meloVolume;  // m * r
    float spaceVolume; // (1 - m) * r
    int32_t scene;     // 0..5, or -1 in the intro
    bool wipe;         // whether sphere_wipe runs
    float wipeLevel;   // its level, 0 .. 1
};
TimelineStep timelineStep(int32_t t);

// Runs scene k (0..5) at show time t.
void runScene(int32_t k, int32_t t);

// The camera's eye at show time t; it looks at (0, 20, 0).
void cameraEye(int32_t t, float eye[3]);
// The light position at show time t (w = 1).
void lightPosition(int32_t t, float light[4]);
// The clear colour at show time t with music mix m (RGBA, 0..1).
void clearColour(int32_t t, float m, float rgba[4]);
// How many flying boxes are drawn at show time t (0..1000).
int32_t flyingBoxCount(int32_t t);
// Box i's position before the cloud's rotation about y.
void flyingBoxPosition(int32_t i, float p[3]);
// The camera projection for a width x height window: its aspect is that of
// the letterboxed viewport drawn in it (letterboxViewport), not the window's.
void cameraProjection(int32_t width, int32_t height, float out[16]);
