// render.cpp - the four drawing steps of a frame (after the camera, the
// projection and the light are set up), and its presentation.
#include "math/mat4.h"
#include "platform/platform.h"
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"
#include "show/stats.h"
#include "st/st_shader.h"
#include "st/st_vertexbuffer.h"

#include <glad/gl.h>

#include <algorithm>
#include <cmath>

namespace {
const float LOOK_AT[3] = {0.0f, 20.0f, 0.0f};  // the camera's centre
const float GRID_OFFSET_Y = 25.0f;              // the model matrix lifts the grid
const float CAMERA_TAN_HALF_FOV = std::tan(0.3925f);
const float LIGHT_TAN_HALF_FOV = std::tan(0.7853982f);

void drawVoxelCubes() {
    demo.cubeMesh->bind();
    demo.cubeMesh->draw();
    demo.cubeMesh->unbind();
}
} // namespace

void cameraEye(int32_t t, float eye[3]) {
    const double td = t;
    const auto cx = static_cast<float>(std::sin(0.00012 * td) * 80);
    const auto cy = static_cast<float>(std::cos(0.00013 * td) * 40 + 90);
    const auto cz = static_cast<float>(std::cos(0.0001 * td) * 20 + 200);
    const double distance = std::sin(0.00007 * td) * 20 + 120;
    const float length = std::sqrt(cy * cy + cx * cx + cz * cz);
    const auto s = static_cast<float>(distance / length);
    eye[0] = s * cx;
    eye[1] = s * cy;
    eye[2] = s * cz;
}

void lightPosition(int32_t t, float light[4]) {
    const double td = t;
    light[0] = static_cast<float>(std::sin(0.0014 * td) * 60);
    light[1] = static_cast<float>(std::cos(0.000086 * td) * 40);
    light[2] = static_cast<float>(std::cos(0.0015 * td) * 70);
    light[3] = 1.0f;
}

void clearColour(int32_t t, float m, float rgba[4]) {
    const int32_t g = t / 50; // comes up from black over the first 2400 units
    const float red = std::min(48 * (1 - m) + 30 * m, static_cast<float>(g));
    const float blue = std::min(30 * (1 - m) + 48 * m, static_cast<float>(g));
    rgba[0] = static_cast<float>(red / 255.0);
    rgba[1] = static_cast<float>(std::min(g, 36) / 255.0);
    rgba[2] = static_cast<float>(blue / 255.0);
    rgba[3] = 1.0f;
}

int32_t flyingBoxCount(int32_t t) { return std::clamp(t / UNITS_PER_BOX, 0, MAX_FLYING_BOXES); }

void flyingBoxPosition(int32_t i, float p[3]) {
    const int32_t r = (17 * i) % 1000; // 17 and 1000 share no factor: each r once
    const double spread = 200 + r / 2;
    p[0] = static_cast<float>(std::sin(0.23 * r) * spread);
    p[1] = static_cast<float>(std::sin(0.214 * r) * spread);
    p[2] = static_cast<float>(std::cos(0.234 * r) * spread);
}

void cameraProjection(int32_t width, int32_t height, float out[16]) {
    // The aspect of the letterboxed picture actually drawn, not of the window:
    // on a 16:10 or 5:4 screen the picture keeps its shape inside its bars.
    const Viewport drawn = letterboxViewport(width, height);
    mat4_perspective(out, CAMERA_TAN_HALF_FOV,
                     static_cast<float>(drawn.width) / static_cast<float>(drawn.height));
}

void renderPasses(int32_t t, float m) {
    drawPasses(t, m);
    endFrameStats();
    // 9. Present: on the desktop a 1 ms sleep and the swap, which waits for
    // vertical sync.
    platform::presentFrame();
}

void drawPasses(int32_t t, float m) {
    const CpuTimer timer(CpuPart::Passes);
    // 1-2. Camera, projection, model.
    float eye[3];
    cameraEye(t, eye);
    const double td = t;
    const float up[3] = {static_cast<float>(std::sin(0.00001 * td) * 0.2), 1.0f,
                         static_cast<float>(std::cos(0.00001 * td) * 0.2)};
    float view[16], projection[16], model[16], projectionView[16], mvp[16];
    mat4_lookat(view, eye, LOOK_AT, up);
    cameraProjection(demo.width, demo.height, projection);
    mat4_translation(model, 0.0f, GRID_OFFSET_Y, 0.0f);
    mat4_mul(projectionView, projection, view);
    mat4_mul(mvp, projectionView, model);

    // 3. Light.
    float light[4];
    lightPosition(t, light);
    float lightProjection[16];
    mat4_perspective(lightProjection, LIGHT_TAN_HALF_FOV, 1.0f);

    // 4. Shadow pass: the voxel cubes' depth as the light sees them.
    beginGpuPass(GpuPass::Shadow);
    shadowmap.begin();
    demo.shadowpassProgram.bind();
    const float origin[3] = {0.0f, 0.0f, 0.0f}, yUp[3] = {0.0f, 1.0f, 0.0f};
    shadowmap.setlight(light, origin, yUp, lightProjection);
    float lightViewProjection[16], lightMvp[16];
    mat4_mul(lightViewProjection, shadowmap.projection, shadowmap.view);
    mat4_mul(lightMvp, lightViewProjection, model);
    demo.shadowpassProgram.setMat4("mvp", lightMvp);
    glCullFace(GL_BACK);
    drawVoxelCubes();
    demo.shadowpassProgram.unbind();
    shadowmap.end();
    endGpuPass(GpuPass::Shadow);

    // 5-6. Clear with the colour of the music.
    float clear[4];
    clearColour(t, m, clear);
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);

    // 7. Flying boxes: one more every 20 units, the cloud turning about y.
    beginGpuPass(GpuPass::Boxes);
    demo.texProgram.bind();
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, demo.mosaicTexture);
    demo.boxMesh->bind();
    const int32_t boxes = flyingBoxCount(t);
    const float angle = static_cast<float>(t) * 0.000015f;
    float identity[16];
    mat4_identity(identity);
    for (int32_t i = 0; i < boxes; ++i) {
        const float axis[3] = {0.0f, static_cast<float>(1 + i / 100.0), 0.0f};
        float rotation[16], translation[16], rotated[16], boxMvp[16];
        mat4_rotate(rotation, identity, angle, axis);
        float p[3];
        flyingBoxPosition(i, p);
        mat4_translation(translation, p[0], p[1], p[2]);
        mat4_mul(rotated, projectionView, rotation);
        mat4_mul(boxMvp, rotated, translation);
        demo.texProgram.setMat4("mvp", boxMvp);
        demo.boxMesh->draw();
    }
    demo.boxMesh->unbind();
    demo.texProgram.unbind();
    endGpuPass(GpuPass::Boxes);

    // 8. Voxel cubes, lit and shadowed.
    beginGpuPass(GpuPass::Cubes);
    demo.knotProgram.bind();
    demo.knotProgram.setMat4("mvp", mvp);
    demo.knotProgram.setMat4("model", model);
    demo.knotProgram.setMat4("shadowmatrix", shadowmap.shadowmatrix);
    demo.knotProgram.setInt("tex", 0);
    demo.knotProgram.setInt("shadowmap", 3);
    demo.knotProgram.setVec4("lightpos", light);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, demo.spriteTexture);
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, shadowmap.depthTexture);
    glCullFace(GL_BACK);
    drawVoxelCubes();
    demo.knotProgram.unbind();
    endGpuPass(GpuPass::Cubes);
}
