// viewport.cpp - the letterboxed 16:9 viewport, the same on every back end.
#include "shell/demostate.h"
#include "shell/shell.h"

#include <glad/gl.h>

namespace {
constexpr float WIDESCREEN = 1.7777778f; // the float nearest 16 / 9
} // namespace

Viewport letterboxViewport(int32_t width, int32_t height) {
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    if (w / h > WIDESCREEN) {
        return {static_cast<int32_t>((w - h * WIDESCREEN) * 0.5f), 0,
                static_cast<int32_t>(h * WIDESCREEN), height};
    }
    return {0, static_cast<int32_t>((h - w / WIDESCREEN) * 0.5f), width,
            static_cast<int32_t>(w / WIDESCREEN)};
}

void applyViewport() {
    const Viewport v = letterboxViewport(demo.width, demo.height);
    glViewport(v.x, v.y, v.width, v.height);
}
