#include "gl_context.h"

#include "platform/platform.h"

#include <SDL.h>
#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>

namespace {
std::vector<CapturedBox> boxes;
void captureBox(const char *caption, const char *text) { boxes.push_back({caption, text}); }
SDL_Window *window = nullptr;
} // namespace

std::vector<CapturedBox> &capturedBoxes() { return boxes; }
SDL_Window *testWindow() { return window; }
void clearBoxes() { boxes.clear(); }

std::vector<unsigned> drainGlErrors() {
    std::vector<unsigned> errors;
    for (GLenum e; (e = glGetError()) != GL_NO_ERROR && errors.size() < 64;) errors.push_back(e);
    return errors;
}

void GlTest::SetUpTestSuite() {
    platform::setMessageBoxHook(captureBox);
    if (window) return;
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        std::exit(1);
    }
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    window = SDL_CreateWindow("gl test", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window || !SDL_GL_CreateContext(window) ||
        !gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress))) {
        std::fprintf(stderr, "no GL context: %s\n", SDL_GetError());
        std::exit(1);
    }
}

void GlTest::SetUp() {
    clearBoxes();
    drainGlErrors();
}

void GlTest::TearDown() {
    EXPECT_TRUE(drainGlErrors().empty()) << "a GL error was left pending";
}
