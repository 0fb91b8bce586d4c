// stats.h - what a frame costs, for the demo's VROM_STATS=1 and the benchmarks
//
// What it does
//   While enabled, the frame's own code measures itself: CPU milliseconds of
//   the scene, of the wipe and scroller, of the grid upload, and of the GL
//   calls of the render passes (everything before the 1 ms sleep and the
//   swap); and GPU milliseconds of the shadow pass, the flying boxes and the
//   voxel cubes, with GL timer queries that are read back several frames
//   late, and only once their results are there, so the pipeline never
//   stalls on them. takeFrameStats hands out the averages since the last call.
//   The demo enables it when VROM_STATS=1 is set in its environment and then
//   prints one line a second on standard error.
//
// What it does not do
//   Nothing at all while disabled: no clock read, no GL query.
//
// Threads: main thread, GL context current. Units: milliseconds per frame.
#pragma once

#include <cstdint>
#include <cstdio>

struct FrameStats {
    int32_t frames = 0;      // frames measured
    double seconds = 0;      // wall-clock seconds they took
    double sceneMs = 0;      // CPU: the scene generator
    double effectsMs = 0;    // CPU: the sphere wipe and the scroller
    double uploadMs = 0;     // CPU: the grid's upload call
    double passesMs = 0;     // CPU: the GL calls of the render passes
    int32_t gpuFrames = 0;   // frames whose GPU times have arrived
    double shadowGpuMs = 0;  // GPU: the shadow pass
    double boxesGpuMs = 0;   // GPU: the flying boxes
    double cubesGpuMs = 0;   // GPU: the voxel cubes
};

// Turns the measurements on (the demo: when VROM_STATS is "1").
void enableFrameStats(bool aOn);
bool frameStatsEnabled();
// Averages per frame since the last call (or since enabling), then starts over.
FrameStats takeFrameStats();
// Prints one line of takeFrameStats to aOut when a second has passed since
// the last line. Called once per frame by drawFrame while enabled.
void reportFrameStatsEachSecond(FILE *aOut);

// ---- the frame's hooks ---------------------------------------------------------------------

enum class CpuPart { Scene, Effects, Upload, Passes };
enum class GpuPass { Shadow, Boxes, Cubes };

// CPU time of one part: construct before it, destroy after (no-op when off).
class CpuTimer {
public:
    explicit CpuTimer(CpuPart aPart);
    ~CpuTimer();
    CpuTimer(const CpuTimer &) = delete;
    CpuTimer &operator=(const CpuTimer &) = delete;

private:
    CpuPart mPart;
    int64_t mStartNs; // -1 when off
};

// GPU time of one pass (a GL_TIME_ELAPSED query around it; no-op when off).
void beginGpuPass(GpuPass aPass);
void endGpuPass(GpuPass aPass);
// Marks the end of a frame's measurements (counts the frame, collects the
// query results that have arrived).
void endFrameStats();
// Waits for every query still in flight and adds its results: for benchmarks
// at the end of a run (the demo never waits on a query).
void collectFrameStats();
