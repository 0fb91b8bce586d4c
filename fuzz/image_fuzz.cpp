// Fuzzes the image path of the textures and the font sheet: the size check,
// then stb_image's decoding to RGBA, from a stdio stream as the demo reads it.
#include "st/st_texture.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!file) return 0;
    int32_t w = 0, h = 0;
    uint8_t *pixels = st::decodeImageRgba(file, &w, &h);
    if (pixels) {
        volatile uint8_t last = pixels[static_cast<size_t>(w) * static_cast<size_t>(h) * 4 - 1];
        (void)last;
        st::freeImage(pixels);
    }
    std::fclose(file);
    return 0;
}
