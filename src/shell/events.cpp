// events.cpp - start-up order and the event handling of the main loop.
#include "shell/demostate.h"
#include "shell/shell.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

void startShell(int argc) {
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0) {
        std::fprintf(stderr, "Video initialization failed: %s\n", SDL_GetError());
        SDL_Quit();
        std::exit(0);
    }
    initVideo(argc);
    SDL_SetWindowTitle(demo.window, WINDOW_TITLE);
    locateAssets();
    initDemo();
    startMusic();
}

void handleEvent(const SDL_Event &event) {
    switch (event.type) {
    case SDL_QUIT:
        SDL_Quit();
        std::exit(0);
    case SDL_KEYUP:
        std::exit(0);
    case SDL_WINDOWEVENT:
        // Follow the window's size; the GL context and its objects stay.
        if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && event.window.data1 > 0 &&
            event.window.data2 > 0) {
            demo.width = event.window.data1;
            demo.height = event.window.data2;
            applyViewport();
        }
        break;
    default:
        break;
    }
}

void pumpEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) handleEvent(event);
}
