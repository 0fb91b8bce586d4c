// st_texture.cpp - textures from image files, and the box mesh.
#include "st/st_texture.h"

#include "st/st_vertexbuffer.h"

#include <glad/gl.h>
#include <stb/stb_image.h>

#include <cstdio>

namespace st {

uint8_t *decodeImageRgba(FILE *file, int32_t *width, int32_t *height) {
    *width = *height = 0;
    int w = 0, h = 0, channels = 0;
    // The header is checked first: stb_image has known overflows on huge sizes.
    const long start = std::ftell(file);
    if (!stbi_info_from_file(file, &w, &h, &channels) || w <= 0 || h <= 0 || w > MAX_IMAGE_SIDE_PIXELS ||
        h > MAX_IMAGE_SIDE_PIXELS)
        return nullptr;
    if (start >= 0) std::fseek(file, start, SEEK_SET);
    uint8_t *pixels = stbi_load_from_file(file, &w, &h, &channels, 4);
    if (pixels) {
        *width = w;
        *height = h;
    }
    return pixels;
}

uint8_t *loadImageRgba(const char *path, int32_t *width, int32_t *height) {
    *width = *height = 0;
    FILE *file = std::fopen(path, "rb");
    if (!file) return nullptr;
    uint8_t *pixels = decodeImageRgba(file, width, height);
    std::fclose(file);
    return pixels;
}

void freeImage(uint8_t *pixels) { stbi_image_free(pixels); }

uint32_t loadTexture(const char *path) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    int32_t width = 0, height = 0;
    uint8_t *pixels = loadImageRgba(path, &width, &height);
    if (pixels) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        freeImage(pixels);
    } else {
        // One neutral texel: a complete texture, no GL error, no mipmaps to make.
        static const uint8_t white[4] = {255, 255, 255, 255};
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
    }
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLfloat>(GL_REPEAT));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLfloat>(GL_REPEAT));
    if (pixels) glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return texture;
}

namespace {
// Corner signs (x, y, z) of the 24 vertices, four per face: +z, -y, -z, +y, -x, +x.
constexpr signed char BOX_CORNERS[24][3] = {
    {-1, +1, +1}, {+1, +1, +1}, {-1, -1, +1}, {+1, -1, +1}, // +z
    {+1, -1, +1}, {-1, -1, +1}, {+1, -1, -1}, {-1, -1, -1}, // -y
    {-1, -1, -1}, {+1, -1, -1}, {-1, +1, -1}, {+1, +1, -1}, // -z
    {+1, +1, -1}, {-1, +1, -1}, {+1, +1, +1}, {-1, +1, +1}, // +y
    {-1, +1, +1}, {-1, -1, +1}, {-1, +1, -1}, {-1, -1, -1}, // -x
    {+1, -1, -1}, {+1, -1, +1}, {+1, +1, -1}, {+1, +1, +1}, // +x
};
constexpr uint32_t BOX_INDICES[36] = {
    0,  2,  1,  1,  2,  3,  // +z
    5,  7,  4,  4,  7,  6,  // -y
    8,  10, 9,  9,  10, 11, // -z
    12, 13, 14, 13, 15, 14, // +y
    16, 18, 17, 17, 18, 19, // -x
    20, 22, 21, 21, 22, 23, // +x
};
// Every face gives its four vertices these coordinates, in vertex order.
constexpr float FACE_TEXCOORDS[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
} // namespace

Vertexbuffer *makeBox(float x, float y, float z) {
    auto *box = new Vertexbuffer(24, 36);
    for (int i = 0; i < 36; ++i) box->indices[i] = BOX_INDICES[i];

    const float halfExtent[3] = {x, y, z};
    float *positions = box->addAttribArray(3, 1, 0);
    for (int v = 0; v < 24; ++v)
        for (int c = 0; c < 3; ++c)
            positions[3 * v + c] = BOX_CORNERS[v][c] > 0 ? halfExtent[c] : -halfExtent[c];

    const float invSqrt3 = 0.57735026f;
    float *normals = box->addAttribArray(3, 2, 0);
    for (int v = 0; v < 24; ++v)
        for (int c = 0; c < 3; ++c) normals[3 * v + c] = BOX_CORNERS[v][c] * invSqrt3;

    float *texcoords = box->addAttribArray(2, 3, 0);
    for (int v = 0; v < 24; ++v) {
        texcoords[2 * v + 0] = FACE_TEXCOORDS[v % 4][0];
        texcoords[2 * v + 1] = FACE_TEXCOORDS[v % 4][1];
    }
    return box;
}

} // namespace st
