// box_probe - shows one SDL message box, the way the demo shows its reports.
//
// The end-to-end tests run it once before they rely on message boxes: a box
// that cannot be shown (on X11, usually for want of the X core fonts) makes
// SDL_ShowSimpleMessageBox fail at once. Status 0: the box was shown and
// dismissed; 1: it could not be shown, SDL's reason on standard error.
#include <SDL.h>

#include <cstdio>

int main() {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "vrom box probe",
                                 "Can message boxes be shown?", nullptr) != 0) {
        std::fprintf(stderr, "%s\n", SDL_GetError());
        return 1;
    }
    return 0;
}
