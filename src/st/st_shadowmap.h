// st_shadowmap.h - the depth map that the light sees, and its pass.
#pragma once

#include <cstdint>

namespace st {

// A static-storage object: all fields are 0 until init. Not copied.
class Shadowmap {
public:
    Shadowmap() = default;
    // Deletes the depth texture and the framebuffer, but only while a GL
    // context is current: at exit after SDL_Quit there is none, and then no GL
    // call is made. A map whose init never ran makes no GL call either.
    virtual ~Shadowmap();
    Shadowmap(const Shadowmap &) = delete;
    Shadowmap &operator=(const Shadowmap &) = delete;

    // size = 1024; makes the depth texture and its framebuffer. Leaves the
    // framebuffer binding as found and the depth texture bound on unit 0.
    void init();
    // Saves viewport and framebuffer, binds the shadow framebuffer with a
    // size x size viewport, clears its depth to 1.0.
    void begin();
    // Restores the viewport and framebuffer saved by the last begin.
    void end();
    // projection = proj; view = look-at(eye, center, up);
    // shadowmatrix = B * projection * view, B mapping clip space [-1, 1] to
    // texture space [0, 1] on x, y and z.
    void setlight(const float *eye, const float *center, const float *up, const float *proj);

    float shadowmatrix[16] = {};   // B * projection * view, column-major
    float view[16] = {};           // the light's look-at matrix
    float projection[16] = {};     // the light's projection
    int32_t savedFramebuffer = 0;  // binding saved by init and by begin
    int32_t savedViewport[4] = {}; // x, y, width, height saved by begin
    uint32_t framebuffer = 0;      // GL framebuffer object, 0 until made
    uint32_t depthTexture = 0;     // GL depth texture, 0 until made
    int32_t size = 0;              // edge of the depth texture in texels
};

// Answers whether a GL context is current on this thread, so that exit-time
// tear-down makes GL calls only while one is. The shell installs the real
// question (SDL's current context); without one, no context is assumed.
using ContextQuery = bool (*)();
void setContextQuery(ContextQuery query);

} // namespace st
