// Textures from image files, and the box mesh.
#include "gl_context.h"
#include "st/st.h"

#include <glad/gl.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <array>
#include <filesystem>
#include <memory>
#include <set>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
namespace fs = std::filesystem;

class Textures : public GlTest {
protected:
    fs::path dir;
    void SetUp() override {
        GlTest::SetUp();
        dir = fs::temp_directory_path() / ("st_texture_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        GlTest::TearDown();
    }
    std::string png(const char *name, int w, int h, int channels, const std::vector<uint8_t> &px) {
        const std::string path = (dir / name).string();
        stbi_write_png(path.c_str(), w, h, channels, px.data(), w * channels);
        return path;
    }
    static std::vector<uint8_t> readBack(GLuint texture, GLint *w, GLint *h) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, h);
        std::vector<uint8_t> px(static_cast<size_t>(*w * *h * 4));
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        return px;
    }
};

TEST_F(Textures, TopFileRowIsTextureRowZeroAndRgbGetsOpaqueAlpha) {
    // 2 x 2 RGB: top row red, bottom row blue.
    const std::string path = png("rgb.png", 2, 2, 3, {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255});
    const GLuint texture = st::loadTexture(path.c_str());
    GLint w = 0, h = 0;
    const std::vector<uint8_t> px = readBack(texture, &w, &h);
    ASSERT_EQ(w, 2);
    ASSERT_EQ(h, 2);
    EXPECT_EQ((std::array<uint8_t, 4>{px[0], px[1], px[2], px[3]}),
              (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ((std::array<uint8_t, 4>{px[8], px[9], px[10], px[11]}),
              (std::array<uint8_t, 4>{0, 0, 255, 255}));
    GLint wrap = 0, minFilter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(wrap, GL_REPEAT);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
    GLint level1 = 0; // mipmaps were made
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
    EXPECT_EQ(level1, 1);
}

TEST_F(Textures, GreyImageBecomesGreyRgba) {
    const std::string path = png("grey.png", 1, 1, 1, {77});
    GLint w = 0, h = 0;
    const std::vector<uint8_t> px = readBack(st::loadTexture(path.c_str()), &w, &h);
    EXPECT_EQ((std::array<uint8_t, 4>{px[0], px[1], px[2], px[3]}),
              (std::array<uint8_t, 4>{77, 77, 77, 255}));
}

TEST_F(Textures, MissingGarbageOrHugeFilesGiveOneWhiteTexelAndNoGlError) {
    const std::string garbage = (dir / "garbage.png").string();
    std::FILE *f = std::fopen(garbage.c_str(), "wb");
    std::fputs("\x89PNG not really", f);
    std::fclose(f);
    const std::string huge = png("huge.png", 8193, 1, 1, std::vector<uint8_t>(8193, 9));
    for (const std::string &path : {(dir / "missing.png").string(), garbage, huge}) {
        GLint w = 0, h = 0;
        const std::vector<uint8_t> px = readBack(st::loadTexture(path.c_str()), &w, &h);
        EXPECT_EQ(w, 1) << path;
        EXPECT_EQ(px, (std::vector<uint8_t>{255, 255, 255, 255})) << path;
        EXPECT_TRUE(drainGlErrors().empty()) << path;
    }
    EXPECT_TRUE(capturedBoxes().empty());
    int32_t w = -1, h = -1;
    EXPECT_EQ(st::loadImageRgba(huge.c_str(), &w, &h), nullptr);
    EXPECT_EQ(w, 0);
}

using Boxes = GlTest;

TEST_F(Boxes, CountsExtentsAndArraysAtLocationsOneTwoThree) {
    std::unique_ptr<st::Vertexbuffer> small(st::makeBox(1, 1, 1));
    std::unique_ptr<st::Vertexbuffer> big(st::makeBox(2, 2, 2));
    for (auto *box : {small.get(), big.get()}) {
        EXPECT_EQ(box->vertexCount, 24);
        EXPECT_EQ(box->indexCount, 36);
        EXPECT_EQ(box->instanceCount, 0);
        EXPECT_EQ(box->dirty, 1);
        ASSERT_NE(box->attribData(1), nullptr);
        EXPECT_EQ(box->attribs->location, 3u); // head of the list: the last added
        for (int i = 0; i < 36; ++i) EXPECT_LT(box->indices[i], 24u);
    }
    const float *p1 = small->attribData(1), *p2 = big->attribData(1);
    for (int i = 0; i < 72; ++i) {
        EXPECT_EQ(std::abs(p1[i]), 1.0f);
        EXPECT_EQ(p2[i], 2 * p1[i]);
    }
    EXPECT_EQ(p1[0], -1.0f); // vertex 0 is (-x, +y, +z)
    EXPECT_EQ(p1[1], 1.0f);
    for (int loc : {2, 3}) {
        const auto *a = small->attribData(loc), *b = big->attribData(loc);
        for (int i = 0; i < (loc == 2 ? 72 : 48); ++i) EXPECT_EQ(a[i], b[i]);
    }
    for (int i = 0; i < 36; ++i) EXPECT_EQ(small->indices[i], big->indices[i]);
    const float *n = small->attribData(2);
    for (int i = 0; i < 72; ++i) EXPECT_EQ(n[i], p1[i] * 0.57735026f);
    const float *t = small->attribData(3);
    for (int v = 0; v < 24; ++v) {
        const float expected[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        EXPECT_EQ(t[2 * v], expected[v % 4][0]);
        EXPECT_EQ(t[2 * v + 1], expected[v % 4][1]);
    }
}

// Every corner of every face, as signs of the half extents: with the fixed
// texture coordinates (0,0) (1,0) (0,1) (1,1) per face, this is what decides
// which way up each face's texture shows.
TEST_F(Boxes, EveryVertexSitsAtItsCornerSoEachFaceIsTexturedTheRightWayUp) {
    const char *corners[24] = {
        "-++", "+++", "--+", "+-+", // +z
        "+-+", "--+", "+--", "---", // -y
        "---", "+--", "-+-", "++-", // -z
        "++-", "-+-", "+++", "-++", // +y
        "-++", "--+", "-+-", "---", // -x
        "+--", "+-+", "++-", "+++", // +x
    };
    std::unique_ptr<st::Vertexbuffer> box(st::makeBox(1, 2, 3));
    const float *p = box->attribData(1);
    const float half[3] = {1, 2, 3};
    for (int v = 0; v < 24; ++v)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(p[3 * v + c], corners[v][c] == '+' ? half[c] : -half[c]) << "vertex " << v << " axis " << c;
}

TEST_F(Boxes, EveryTriangleIsCounterClockwiseFromOutside) {
    std::unique_ptr<st::Vertexbuffer> box(st::makeBox(1, 2, 3));
    const float *p = box->attribData(1);
    for (int tri = 0; tri < 12; ++tri) {
        const float *a = p + 3 * box->indices[3 * tri];
        const float *b = p + 3 * box->indices[3 * tri + 1];
        const float *c = p + 3 * box->indices[3 * tri + 2];
        const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const float normal[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                 u[0] * v[1] - u[1] * v[0]};
        const float centroid[3] = {a[0] + b[0] + c[0], a[1] + b[1] + c[1], a[2] + b[2] + c[2]};
        EXPECT_GT(normal[0] * centroid[0] + normal[1] * centroid[1] + normal[2] * centroid[2], 0)
            << "triangle " << tri;
    }
}

TEST_F(Boxes, EachFacesTrianglesShareTheExpectedEdge) {
    std::unique_ptr<st::Vertexbuffer> box(st::makeBox(1, 1, 1));
    for (int face = 0; face < 6; ++face) {
        const uint32_t *i = box->indices + 6 * face;
        const std::set<uint32_t> first{i[0], i[1], i[2]}, second{i[3], i[4], i[5]};
        std::set<uint32_t> shared;
        for (uint32_t v : first)
            if (second.count(v)) shared.insert(v);
        const uint32_t base = 4 * static_cast<uint32_t>(face);
        const std::set<uint32_t> expected =
            face == 1 ? std::set<uint32_t>{base, base + 3} : std::set<uint32_t>{base + 1, base + 2};
        EXPECT_EQ(shared, expected) << "face " << face;
    }
}
} // namespace
