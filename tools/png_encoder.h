// png_encoder.h - lossless RGB PNG files, fast, for the capture tool.
//
// Each row is filtered with whichever of None, Sub and Up gives the smallest
// sum of absolute values (the usual heuristic, on three filters instead of
// five), and the rows are compressed as one zlib stream by libdeflate at a
// low level. The output is a plain 8-bit RGB PNG that any decoder reads back
// to the same pixels; the same pixels always give the same bytes.
//
// Threads: one PngEncoder per thread (it owns a libdeflate compressor).
// Units: sizes in pixels, rows top first, 3 bytes a pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

class PngEncoder {
public:
    static constexpr int LEVEL = 2; // libdeflate's levels run 1 (fastest) .. 12
    PngEncoder();
    ~PngEncoder();
    PngEncoder(const PngEncoder &) = delete;
    PngEncoder &operator=(const PngEncoder &) = delete;

    // The whole file. rgb holds height rows of width * 3 bytes, top row first.
    std::vector<uint8_t> encode(const uint8_t *rgb, int32_t width, int32_t height);

private:
    libdeflate_compressor *mCompressor;
    std::vector<uint8_t> mFiltered; // height * (1 + width * 3) bytes
};
