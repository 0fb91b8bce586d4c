// png_encoder.cpp - see png_encoder.h.
#include "png_encoder.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
void put32(std::vector<uint8_t> &out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// A chunk: length, type, data, and the CRC of type and data.
void chunk(std::vector<uint8_t> &out, const char *type, const uint8_t *data, size_t bytes) {
    put32(out, static_cast<uint32_t>(bytes));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + bytes);
    put32(out, libdeflate_crc32(0, out.data() + start, bytes + 4));
}

uint32_t cost(const uint8_t *row, size_t bytes) { // sum of the filtered bytes as signed values
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum += row[i] < 128 ? row[i] : 256 - row[i];
    return sum;
}
} // namespace

PngEncoder::PngEncoder() : mCompressor(libdeflate_alloc_compressor(LEVEL)) {
    if (!mCompressor) throw std::bad_alloc();
}

PngEncoder::~PngEncoder() { libdeflate_free_compressor(mCompressor); }

std::vector<uint8_t> PngEncoder::encode(const uint8_t *rgb, int32_t width, int32_t height) {
    const size_t stride = static_cast<size_t>(width) * 3, line = stride + 1;
    mFiltered.resize(line * static_cast<size_t>(height));
    std::vector<uint8_t> sub(stride), up(stride);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t *row = rgb + static_cast<size_t>(y) * stride;
        const uint8_t *above = y > 0 ? row - stride : nullptr;
        for (size_t i = 0; i < stride; ++i) {
            sub[i] = static_cast<uint8_t>(row[i] - (i >= 3 ? row[i - 3] : 0));
            up[i] = static_cast<uint8_t>(row[i] - (above ? above[i] : 0));
        }
        const uint32_t none = cost(row, stride), bySub = cost(sub.data(), stride), byUp = cost(up.data(), stride);
        uint8_t *out = &mFiltered[static_cast<size_t>(y) * line];
        if (none <= bySub && none <= byUp) {
            out[0] = 0;
            std::memcpy(out + 1, row, stride);
        } else if (bySub <= byUp) {
            out[0] = 1;
            std::memcpy(out + 1, sub.data(), stride);
        } else {
            out[0] = 2;
            std::memcpy(out + 1, up.data(), stride);
        }
    }

    std::vector<uint8_t> compressed(libdeflate_zlib_compress_bound(mCompressor, mFiltered.size()));
    compressed.resize(libdeflate_zlib_compress(mCompressor, mFiltered.data(), mFiltered.size(), compressed.data(),
                                               compressed.size()));
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.reserve(compressed.size() + 64);
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, deflate, adaptive filters, no interlace
    chunk(png, "IHDR", header.data(), header.size());
    chunk(png, "IDAT", compressed.data(), compressed.size());
    chunk(png, "IEND", nullptr, 0);
    return png;
}
