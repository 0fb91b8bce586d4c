// The capture tool's PNG encoding of a real 1920 x 1080 frame of the show
// (the contact sheet, 1920 x 540, twice): the capture's own encoder against
// stb's writer, time per frame and bytes per frame.
#include "png_encoder.h"

#include <benchmark/benchmark.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>
#include <stb/stb_image.h>

#include <cstring>
#include <vector>

namespace {
constexpr int WIDTH = 1920, HEIGHT = 1080;

const std::vector<uint8_t> &showFrame() {
    static std::vector<uint8_t> frame = [] {
        int w = 0, h = 0, channels = 0;
        uint8_t *sheet = stbi_load("docs/sheet.png", &w, &h, &channels, 3);
        std::vector<uint8_t> rgb(static_cast<size_t>(WIDTH) * HEIGHT * 3, 0);
        if (sheet && w == WIDTH && h == HEIGHT / 2) {
            std::memcpy(rgb.data(), sheet, rgb.size() / 2);
            std::memcpy(rgb.data() + rgb.size() / 2, sheet, rgb.size() / 2);
        }
        stbi_image_free(sheet);
        return rgb;
    }();
    return frame;
}

void BM_png_capture_encoder(benchmark::State &state) {
    const std::vector<uint8_t> &rgb = showFrame();
    if (rgb[0] == 0 && rgb[rgb.size() / 3] == 0) state.SkipWithError("run from the repository root (docs/sheet.png)");
    PngEncoder encoder;
    size_t bytes = 0;
    for (auto _ : state) bytes = encoder.encode(rgb.data(), WIDTH, HEIGHT).size();
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_png_capture_encoder)->Unit(benchmark::kMillisecond);

void BM_png_stb_writer(benchmark::State &state) {
    const std::vector<uint8_t> &rgb = showFrame();
    int bytes = 0;
    for (auto _ : state) {
        unsigned char *png = stbi_write_png_to_mem(rgb.data(), WIDTH * 3, WIDTH, HEIGHT, 3, &bytes);
        benchmark::DoNotOptimize(png);
        STBIW_FREE(png);
    }
    state.counters["bytes"] = bytes;
}
BENCHMARK(BM_png_stb_writer)->Unit(benchmark::kMillisecond);
} // namespace
