// platform_sdl.cpp - the Linux desktop back end: SDL's message box, clock
// and buffer swap.
#include "platform/platform.h"

#include <SDL.h>

namespace platform {

bool showBackendBox(const char *caption, const char *text) {
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption, text, nullptr) == 0;
}

uint32_t ticksMs() { return SDL_GetTicks(); }

void presentFrame() {
    SDL_Delay(1);
    SDL_GL_SwapWindow(SDL_GL_GetCurrentWindow()); // waits for vertical sync
}

} // namespace platform
