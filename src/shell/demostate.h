// demostate.h - the one record of program-wide demo state
//
// `demo` is zero before main runs and lives for the whole process. Each field
// is written once at start-up by the code named beside it and read on the main
// thread only (the scene generators may write *voxels from OpenMP workers
// inside a frame). Header-only, so that every subsystem can read it without
// linking the shell.
#pragma once

#include "st/st_shader.h"

#include <cstdint>

struct SDL_Window;
namespace st {
class Vertexbuffer;
}

// Names one start of a voice of the audio engine (0 never names a voice).
using VoiceHandle = uint32_t;

struct Demostate {
    SDL_Window *window;            // the demo window (initVideo)
    int32_t width;                 // window width in pixels (initVideo, resizes)
    int32_t height;                // window height in pixels (initVideo, resizes)
    st::Vertexbuffer *cubeMesh;    // voxel cube, half extents 1, 262144 instances (initDemo)
    float *voxels;                 // the 64 x 64 x 64 grid: cubeMesh's array at location 4
    st::Vertexbuffer *boxMesh;     // flying box, half extents 2, not instanced (initDemo)
    uint32_t mosaicTexture;        // GL texture of the flying boxes (initDemo)
    uint32_t spriteTexture;        // GL texture of the voxel cubes (initDemo)
    st::Shader texProgram;         // flying boxes (initDemo)
    st::Shader knotProgram;        // voxel cubes, main pass (initDemo)
    st::Shader shadowpassProgram;  // voxel cubes, shadow pass (initDemo)
    const uint8_t *fontbitmap;     // font sheet as 8-bit RGBA, top row first; null if unloaded
    int32_t fontWidth;             // decoded font sheet width in pixels (0 without a font)
    int32_t fontHeight;            // decoded font sheet height in pixels (0 without a font)
    VoiceHandle meloVoice;         // the playing melody track (startShell)
    VoiceHandle spaceVoice;        // the playing space track (startShell)
    int32_t startTime;             // show clock origin; 0 until the first frame latches it
};

inline Demostate demo;

// Cells of the voxel grid: 64 x 64 x 64.
inline constexpr int32_t VOXEL_CELLS = 64 * 64 * 64;
