// make_font - renders the scroller's font sheet, assets/fona.png.
//
//   make_font FONT.ttf OUT.png
//
// The sheet is 256 x 128 RGBA: 16 x 16-pixel cells in character-code order
// (code c at column 16 (c mod 16), row 16 (c div 16)), codes 32..126. The
// scroller samples every second column, so each glyph is drawn at 8 x 16
// pixels and every column doubled. Glyph pixels are white with alpha 255 (the
// alpha bit of value 4 set), the rest transparent black: the text is 1 bit.
// The demo's sheet is rendered from Debian's DejaVu Sans Mono Bold.
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr int SHEET_W = 256, SHEET_H = 128, CELL = 16, GLYPH_W = 8, GLYPH_H = 16;
constexpr int OVERSAMPLE = 4; // coverage is measured on a 4 x 4 finer grid

std::vector<unsigned char> readFile(const char *path) {
    std::vector<unsigned char> bytes;
    FILE *f = std::fopen(path, "rb");
    if (!f) return bytes;
    unsigned char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}
} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_font FONT.ttf OUT.png\n");
        return 2;
    }
    const std::vector<unsigned char> ttf = readFile(argv[1]);
    stbtt_fontinfo font;
    if (ttf.empty() || !stbtt_InitFont(&font, ttf.data(), 0)) {
        std::fprintf(stderr, "make_font: cannot read %s\n", argv[1]);
        return 1;
    }
    // Cap height and descenders inside 16 rows, one empty row at the top and
    // the baseline three rows above the bottom; the advance squeezed into 8.
    int ascent = 0, descent = 0, gap = 0, advance = 0, bearing = 0;
    stbtt_GetFontVMetrics(&font, &ascent, &descent, &gap);
    stbtt_GetCodepointHMetrics(&font, 'M', &advance, &bearing);
    const float scaleY = stbtt_ScaleForPixelHeight(&font, 15.0f * OVERSAMPLE);
    // The advance squeezed into 7 columns: the 8th stays empty between letters.
    const float scaleX = static_cast<float>((GLYPH_W - 1) * OVERSAMPLE) / static_cast<float>(advance);
    const int baseline = (GLYPH_H - 3) * OVERSAMPLE;

    std::vector<unsigned char> sheet(SHEET_W * SHEET_H * 4, 0);
    const int fineW = GLYPH_W * OVERSAMPLE, fineH = GLYPH_H * OVERSAMPLE;
    std::vector<unsigned char> fine(static_cast<size_t>(fineW * fineH));
    for (int c = 33; c < 127; ++c) {
        std::fill(fine.begin(), fine.end(), 0);
        int x0, y0, x1, y1;
        stbtt_GetCodepointBitmapBox(&font, c, scaleX, scaleY, &x0, &y0, &x1, &y1);
        int cAdvance, cBearing;
        stbtt_GetCodepointHMetrics(&font, c, &cAdvance, &cBearing);
        const int left = static_cast<int>(std::lround(cBearing * scaleX));
        const int w = x1 - x0, h = y1 - y0;
        std::vector<unsigned char> glyph(static_cast<size_t>(std::max(w, 1) * std::max(h, 1)), 0);
        if (w > 0 && h > 0) stbtt_MakeCodepointBitmap(&font, glyph.data(), w, h, w, scaleX, scaleY, c);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int fx = left + x, fy = baseline + y0 + y;
                if (fx >= 0 && fx < fineW && fy >= 0 && fy < fineH) fine[fy * fineW + fx] = glyph[y * w + x];
            }
        // Down to 8 x 16: a pixel is set when its 4 x 4 block is over 40% covered.
        const int cellX = CELL * (c % 16), cellY = CELL * (c / 16);
        for (int gy = 0; gy < GLYPH_H; ++gy)
            for (int gx = 0; gx < GLYPH_W; ++gx) {
                int sum = 0;
                for (int sy = 0; sy < OVERSAMPLE; ++sy)
                    for (int sx = 0; sx < OVERSAMPLE; ++sx)
                        sum += fine[(gy * OVERSAMPLE + sy) * fineW + gx * OVERSAMPLE + sx];
                if (sum <= 255 * OVERSAMPLE * OVERSAMPLE * 2 / 5) continue;
                for (int dx = 0; dx < 2; ++dx) {
                    unsigned char *px = &sheet[((cellY + gy) * SHEET_W + cellX + 2 * gx + dx) * 4];
                    px[0] = px[1] = px[2] = px[3] = 255;
                }
            }
    }
    if (!stbi_write_png(argv[2], SHEET_W, SHEET_H, 4, sheet.data(), SHEET_W * 4)) {
        std::fprintf(stderr, "make_font: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
