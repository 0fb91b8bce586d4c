// make_textures - paints the demo's two textures.
//
//   make_textures OUT_DIR
//
// OUT_DIR/sprite.png (256 x 128): the voxel cubes' atlas, 8 x 4 tiles of
//   32 x 32, one per appearance index (1 -> tile 0, ...). Tiles are light grey
//   bevelled faces with a pattern each; the cube shader tints them by index.
// OUT_DIR/mosaic.png (256 x 256): the flying boxes' face, a glazed mosaic.
// Everything is computed from fixed seeds: the same files every time.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
struct Image {
    int w, h;
    std::vector<uint8_t> px;
    Image(int width, int height) : w(width), h(height), px(static_cast<size_t>(width * height * 4), 255) {}
    void set(int x, int y, float r, float g, float b) {
        uint8_t *p = &px[static_cast<size_t>((y * w + x) * 4)];
        p[0] = static_cast<uint8_t>(std::clamp(r, 0.0f, 1.0f) * 255.0f + 0.5f);
        p[1] = static_cast<uint8_t>(std::clamp(g, 0.0f, 1.0f) * 255.0f + 0.5f);
        p[2] = static_cast<uint8_t>(std::clamp(b, 0.0f, 1.0f) * 255.0f + 0.5f);
        p[3] = 255;
    }
    bool save(const std::string &path) const { return stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4) != 0; }
};

// A small deterministic generator (xorshift32).
struct Random {
    uint32_t s;
    float next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return static_cast<float>(s >> 8) / 16777216.0f;
    }
};

// The pattern of tile k at (u, v) in 0..1: a brightness in 0..1.
float tilePattern(int k, float u, float v) {
    const float cu = u - 0.5f, cv = v - 0.5f;
    const float r = std::sqrt(cu * cu + cv * cv);
    const float edge = std::min(std::min(u, 1 - u), std::min(v, 1 - v));
    switch (k % 8) {
    case 0: return 1.0f;                                                   // plain
    case 1: return edge > 0.22f && edge < 0.3f ? 0.7f : 1.0f;              // inner square
    case 2: return std::fmod(std::floor(u * 4) + std::floor(v * 4), 2.0f) ? 0.86f : 1.0f; // checker
    case 3: return r < 0.22f ? 0.75f : 1.0f;                               // dot
    case 4: return std::fmod(std::floor((u + v) * 5), 2.0f) ? 0.84f : 1.0f; // diagonal stripes
    case 5: return std::fabs(cu) < 0.07f || std::fabs(cv) < 0.07f ? 0.78f : 1.0f; // cross
    case 6: return 0.8f + 0.2f * std::cos(r * 18.0f);                       // rings
    default: return std::fmod(std::floor(u * 3), 2.0f) ? 0.82f : 1.0f;     // bars
    }
}

Image sprite() {
    Image img(256, 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x) {
            const int tile = (y / 32) * 8 + x / 32;
            const float u = (x % 32 + 0.5f) / 32.0f, v = (y % 32 + 0.5f) / 32.0f;
            const float edge = std::min(std::min(u, 1 - u), std::min(v, 1 - v));
            // A bevel: lit from the top left, dark at the rim.
            float bevel = 1.0f;
            if (edge < 0.12f) bevel = (u < v ? (u < 1 - v ? 1.12f : 0.78f) : (v < 1 - u ? 1.12f : 0.78f));
            if (edge < 0.035f) bevel = 0.55f;
            const float shade = 0.78f * bevel * tilePattern(tile + tile / 8, u, v);
            img.set(x, y, shade, shade, shade);
        }
    return img;
}

Image mosaic() {
    Image img(256, 256);
    Random rnd{0x1571u};
    const float palette[6][3] = {{0.93f, 0.55f, 0.18f}, {0.17f, 0.55f, 0.80f}, {0.88f, 0.82f, 0.62f},
                                 {0.62f, 0.22f, 0.35f}, {0.25f, 0.62f, 0.52f}, {0.95f, 0.90f, 0.85f}};
    constexpr int TILES = 6, SIZE = 256 / TILES + 1; // 6 x 6 tiles of 43 pixels: colour survives mipmapping
    float colour[TILES][TILES][3];
    for (auto &row : colour)
        for (auto &c : row) {
            const auto *p = palette[static_cast<int>(rnd.next() * 6) % 6];
            const float jitter = 0.85f + 0.3f * rnd.next();
            for (int i = 0; i < 3; ++i) c[i] = p[i] * jitter;
        }
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int tx = x / SIZE, ty = y / SIZE, lx = x % SIZE, ly = y % SIZE;
            const bool grout = lx < 2 || ly < 2 || lx > SIZE - 3 || ly > SIZE - 3;
            const float *c = colour[ty][tx];
            // A soft glaze highlight toward each tile's upper left.
            const float glaze = 1.0f + 0.22f * std::max(0.0f, 1.0f - (lx + ly) / 30.0f);
            if (grout) img.set(x, y, 0.11f, 0.10f, 0.09f);
            else img.set(x, y, c[0] * glaze, c[1] * glaze, c[2] * glaze);
        }
    return img;
}
} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_textures OUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!sprite().save(dir + "/sprite.png") || !mosaic().save(dir + "/mosaic.png")) {
        std::fprintf(stderr, "make_textures: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
