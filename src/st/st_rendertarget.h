// st_rendertarget.h - an offscreen framebuffer with a colour and a depth buffer.
//
// For drawing frames that are read back rather than shown: the capture tool,
// the frame benchmarks and the GL tests. RGBA8 colour, 24-bit depth, W x H.
//
// Threads: main thread, with the GL context current.
#pragma once

#include <cstdint>

namespace st {

class Rendertarget {
public:
    Rendertarget() = default;
    virtual ~Rendertarget(); // deletes its GL objects (a context must be current)
    Rendertarget(const Rendertarget &) = delete;
    Rendertarget &operator=(const Rendertarget &) = delete;

    // Makes the framebuffer and leaves it bound; false when GL calls it incomplete.
    bool init(int32_t aWidth, int32_t aHeight);

    uint32_t framebuffer = 0; // GL framebuffer object, 0 before init
    uint32_t colour = 0;      // GL renderbuffer, RGBA8
    uint32_t depth = 0;       // GL renderbuffer, 24-bit depth
    int32_t width = 0, height = 0; // pixels
};

} // namespace st
