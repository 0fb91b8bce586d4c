// startup.cpp - everything the show loads, once, before the first frame.
//
// Loading is strictly sequential and keeps no record of failures: whatever
// cannot be loaded leaves its field empty and the demo runs on. Missing
// textures and a missing font are silent; a shader that will not link is
// reported by the toolkit (and ends the demo after seven tries).
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "st/st_texture.h"
#include "st/st_vertexbuffer.h"

#include <cstring>

void initDemo() {
    // 1-2. The audio engine and its device, then both music files.
    startAudio();
    loadMusic();
    loadShowAssets();
}

void loadShowAssets() {
    // 3-6. The voxel cube, drawn once per cell, its per-instance array at
    // location 4 being the grid itself (zero-filled: an empty field).
    demo.cubeMesh = st::makeBox(1.0f, 1.0f, 1.0f);
    demo.cubeMesh->instanceCount = VOXEL_CELLS; // before the array is sized from it
    float *grid = demo.cubeMesh->addAttribArray(1, 4, 1);
    std::memset(grid, 0, VOXEL_CELLS * sizeof(float));
    demo.voxels = demo.cubeMesh->attribData(4);

    // 7. The shadow map's framebuffer and 1024 x 1024 depth texture.
    shadowmap.init();

    // 8-9. Textures and the flying box.
    demo.mosaicTexture = st::loadTexture(assetPath("mosaic.png").c_str());
    demo.spriteTexture = st::loadTexture(assetPath("sprite.png").c_str());
    demo.boxMesh = st::makeBox(2.0f, 2.0f, 2.0f);

    // 10. The three programs, in this order.
    demo.texProgram.init(assetPath("tex.vs").c_str(), assetPath("tex.fs").c_str());
    demo.knotProgram.init(assetPath("knot.vs").c_str(), assetPath("knot.fs").c_str());
    demo.shadowpassProgram.init(assetPath("shadowpass.vs").c_str(),
                                assetPath("shadowpass.fs").c_str());

    // 11. The font sheet, decoded into memory as RGBA (kept for the whole run).
    int32_t width = 0, height = 0;
    demo.fontbitmap = st::loadImageRgba(assetPath("fona.png").c_str(), &width, &height);
    demo.fontWidth = width;
    demo.fontHeight = height;
}
