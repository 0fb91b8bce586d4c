// video.cpp - the window, its GL context and the letterboxed viewport.
#include "shell/demostate.h"
#include "shell/shell.h"
#include "st/st_shadowmap.h"

#include <SDL.h>
#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int32_t WINDOWED_WIDTH = 960;
constexpr int32_t WINDOWED_HEIGHT = 540;

bool sdlContextCurrent() { return SDL_GL_GetCurrentContext() != nullptr; }
} // namespace

void fullScreenSize(int32_t *width, int32_t *height) {
    SDL_Rect bounds{};
    if (SDL_GetDisplayBounds(0, &bounds) == 0 && bounds.w > 0 && bounds.h > 0) {
        *width = bounds.w;
        *height = bounds.h;
        return;
    }
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
        *width = mode.w;
        *height = mode.h;
        return;
    }
    *width = WINDOWED_WIDTH;
    *height = WINDOWED_HEIGHT;
}

void initVideo(int32_t mode) {
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (mode > 1) {
        demo.width = WINDOWED_WIDTH;
        demo.height = WINDOWED_HEIGHT;
    } else {
        SDL_ShowCursor(0);
        fullScreenSize(&demo.width, &demo.height);
        flags |= SDL_WINDOW_FULLSCREEN; // a real mode change to the desktop size
    }

    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    demo.window = SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, demo.width,
                                   demo.height, flags);
    if (!demo.window) {
        std::fprintf(stderr, "Video mode set failed: %s\n", SDL_GetError());
        SDL_Quit();
        std::exit(0);
    }

    // A context that could not be made shows up as a loader failure below.
    SDL_GL_CreateContext(demo.window);
    SDL_GL_SetSwapInterval(1);

    if (gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress)) == 0) {
        std::printf("Something went wrong!\n");
        std::exit(-1);
    }
    st::setContextQuery(sdlContextCurrent);
    applyViewport();
}
