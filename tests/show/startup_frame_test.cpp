// Start-up loading and whole frames, in a real GL context, from the
// repository root (where assets/ lies).
#include "gl_context.h"
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"
#include "show/stats.h"
#include "st/st.h"
#include "voxel/voxel.h"

#include <glad/gl.h>

#include <cstring>
#include <vector>

namespace {
class Show : public GlTest {
protected:
    static void SetUpTestSuite() {
        GlTest::SetUpTestSuite();
        demo.window = testWindow();
        demo.width = 64;
        demo.height = 36;
        clearBoxes();
        initDemo();
        startupBoxes = capturedBoxes(); // SetUp clears them before each test
    }
    static inline std::vector<CapturedBox> startupBoxes;
};

TEST_F(Show, StartUpBuildsTheGridMeshesProgramsAndFont) {
    EXPECT_TRUE(startupBoxes.empty()) << startupBoxes.front().caption << ": " << startupBoxes.front().text;
    ASSERT_NE(demo.cubeMesh, nullptr);
    EXPECT_EQ(demo.cubeMesh->instanceCount, 262144);
    const st::Vertexbuffer::Attribarray *grid = demo.cubeMesh->attribs;
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->location, 4u);
    EXPECT_EQ(grid->count, 262144);
    EXPECT_EQ(grid->divisor, 1);
    EXPECT_EQ(demo.voxels, grid->data);
    for (int i = 0; i < GRID_CELLS; ++i) ASSERT_EQ(demo.voxels[i], 0.0f);
    ASSERT_NE(demo.boxMesh, nullptr);
    EXPECT_EQ(demo.boxMesh->instanceCount, 0);
    EXPECT_NE(demo.texProgram.program, 0u);
    EXPECT_NE(demo.knotProgram.program, 0u);
    EXPECT_NE(demo.shadowpassProgram.program, 0u);
    EXPECT_NE(shadowmap.framebuffer, 0u);
    GLint w = 0;
    glBindTexture(GL_TEXTURE_2D, demo.spriteTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    EXPECT_EQ(w, 256);
}

TEST_F(Show, FontSheetHasEveryGlyphOfTheScrollText) {
    ASSERT_NE(demo.fontbitmap, nullptr);
    EXPECT_EQ(demo.fontWidth, 256);
    EXPECT_GE(demo.fontHeight, 128);
    for (int c = 33; c <= 122; ++c) { // every visible glyph has bit-4 pixels
        int lit = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; x += 2)
                lit += demo.fontbitmap[((16 * (c / 16) + y) * 256 + 16 * (c % 16) + x) * 4 + 3] & 4;
        EXPECT_GT(lit, 0) << "glyph " << c;
    }
    const size_t length = std::strlen(scrolltext);
    EXPECT_EQ(length, 2035u);
    for (size_t i = 0; i < length; ++i) {
        EXPECT_GE(scrolltext[i], 32);
        EXPECT_LE(scrolltext[i], 122);
    }
}

// A 64 x 36 framebuffer of our own that frames are drawn into: the window's
// back buffer is undefined after renderPasses swaps it, this one is not.
struct Offscreen : st::Rendertarget {
    Offscreen() {
        init(64, 36);
        glViewport(0, 0, 64, 36);
    }
    ~Offscreen() override { glBindFramebuffer(GL_FRAMEBUFFER, 0); }
    bool complete() const { return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE; }
    std::vector<uint8_t> read() const {
        std::vector<uint8_t> px(64 * 36 * 4);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glReadPixels(0, 0, 64, 36, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        return px;
    }
};

TEST_F(Show, AGridWrittenByHandShowsUpAsCubes) {
    Offscreen target;
    ASSERT_TRUE(target.complete());
    std::memset(demo.voxels, 0, GRID_CELLS * sizeof(float));
    demo.cubeMesh->upload();
    renderPasses(0, 0.5f); // first frame: culling and depth test come on here
    renderPasses(0, 0.5f);
    std::vector<uint8_t> empty = target.read();
    for (int z = 24; z < 40; ++z)
        for (int y = 24; y < 40; ++y)
            for (int x = 24; x < 40; ++x) demo.voxels[gridIndex(x, y, z)] = 7.0f;
    demo.cubeMesh->upload();
    renderPasses(0, 0.5f);
    std::vector<uint8_t> full = target.read();
    // At T = 0 the clear colour is black and no box flies yet: every lit pixel
    // is a cube. The 16-cell block (22 units across) seen from about 110 units
    // with a 45-degree field of view is some 9 of the 36 rows high and as
    // wide, near the middle of the picture.
    int lit = 0, sumX = 0, sumY = 0;
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint8_t *p = &full[static_cast<size_t>(y * 64 + x) * 4];
            if (p[0] + p[1] + p[2] <= 30) continue;
            ++lit;
            sumX += x;
            sumY += y;
        }
    for (size_t i = 0; i < empty.size(); i += 4) ASSERT_EQ(empty[i] + empty[i + 1] + empty[i + 2], 0) << i / 4;
    EXPECT_GT(lit, 60) << "a 16-cube block should cover part of the view";
    EXPECT_LT(lit, 250);
    if (lit > 0) {
        EXPECT_NEAR(sumX / lit, 32, 6);
        EXPECT_NEAR(sumY / lit, 18, 6);
    }
    EXPECT_TRUE(capturedBoxes().empty());
    GLint program = -1, vao = -1, active = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vao);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(program, 0);
    EXPECT_EQ(vao, 0);
    EXPECT_EQ(active, GL_TEXTURE3);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 64); // restored after the shadow pass
    EXPECT_EQ(viewport[3], 36);
}

// The frame's own timeline, in its order: the music volumes (melody first),
// the scene, the wipe, then the scroll text (so the wipe never cuts it), then
// the upload of the whole grid.
TEST_F(Show, RunTimelineSetsTheVolumesThenWipesThenWritesTheTextThenUploads) {
    startMusic();
    const int32_t t = 30000; // the intro: no scene, the wipe at level 0 every frame
    for (int i = 0; i < GRID_CELLS; ++i) demo.voxels[i] = 1.0f; // leftovers of a scene
    const ShowMoment moment = runTimeline(t);
    const TimelineStep step = timelineStep(t);
    EXPECT_EQ(moment.t, t);
    EXPECT_EQ(moment.mix, step.mix);
    audioEngine.lockMixer();
    const int32_t melo = audioEngine.voiceFromHandle(demo.meloVoice);
    const int32_t space = audioEngine.voiceFromHandle(demo.spaceVoice);
    ASSERT_GE(melo, 0);
    ASSERT_GE(space, 0);
    ASSERT_NE(step.meloVolume, step.spaceVolume);
    EXPECT_EQ(audioEngine.mVoices[melo]->mRequestedVolume, step.meloVolume);
    EXPECT_EQ(audioEngine.mVoices[space]->mRequestedVolume, step.spaceVolume);
    audioEngine.unlockMixer();

    int leftovers = 0, text = 0;
    for (int i = 0; i < GRID_CELLS; ++i) {
        leftovers += demo.voxels[i] == 1.0f;
        text += demo.voxels[i] == 4.0f;
    }
    EXPECT_LE(leftovers, 1) << "the wipe at level 0 keeps at most the centre cell";
    EXPECT_GT(text, 50) << "the text is written after the wipe";

    std::vector<float> uploaded(GRID_CELLS);
    glBindBuffer(GL_ARRAY_BUFFER, demo.cubeMesh->attribs->buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, GRID_CELLS * sizeof(float), uploaded.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(0, std::memcmp(uploaded.data(), demo.voxels, GRID_CELLS * sizeof(float)))
        << "the GPU holds the grid as it is after the text";
}

// VROM_STATS: off, a frame makes no GL query and counts nothing; on, every
// frame is counted and the GPU times of all but the first arrive.
TEST_F(Show, FrameStatsMeasureOnlyWhenEnabled) {
    Offscreen target;
    auto frame = [](int32_t t) {
        const ShowMoment now = runTimeline(t);
        drawPasses(now.t, now.mix);
        endFrameStats();
    };
    frame(50000);
    frame(50012);
    collectFrameStats();
    EXPECT_EQ(takeFrameStats().frames, 0);
    for (GLuint id = 1; id < 100; ++id) ASSERT_FALSE(glIsQuery(id)) << "query " << id << " while off";

    enableFrameStats(true);
    for (int32_t k = 0; k < 4; ++k) frame(50024 + 12 * k);
    collectFrameStats();
    const FrameStats s = takeFrameStats();
    enableFrameStats(false);
    EXPECT_EQ(s.frames, 4);
    EXPECT_EQ(s.gpuFrames, 3);
    EXPECT_GT(s.passesMs, 0.0);
    EXPECT_GT(s.shadowGpuMs, 0.0);
    EXPECT_GT(s.cubesGpuMs, 0.0);
    EXPECT_GT(s.seconds, 0.0);
}

TEST_F(Show, WholeFramesAcrossTheScheduleRaiseNoReport) {
    for (int32_t t : {0, 20, 30000, 40001, 61000, 81000, 101000, 121000, 141000, 160000}) {
        const ShowMoment now = runTimeline(t);
        renderPasses(now.t, now.mix);
    }
    EXPECT_TRUE(capturedBoxes().empty());
}
} // namespace
