#include "show/show.h"

#include "shell/demostate.h"

#include <SDL.h>
#include <glad/gl.h>

void drawFrame() {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SDL_Delay(1);
    SDL_GL_SwapWindow(demo.window);
}
