// events.cpp - start-up order and the event handling of the main loop.
#include "shell/demostate.h"
#include "shell/shell.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {
bool set(const char *aVariable) {
    const char *value = std::getenv(aVariable);
    return value && *value;
}

// True when nothing SDL could show a window on is there at all: no X
// server named, no Wayland display named or at its default place. (Asking SDL
// would make its Wayland driver complain about the runtime folder first.)
bool nothingToShowOn() {
    if (set("SDL_VIDEODRIVER") || set("DISPLAY") || set("WAYLAND_DISPLAY") || set("WAYLAND_SOCKET")) return false;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat status {};
    return !(runtime && *runtime && stat((std::string(runtime) + "/wayland-0").c_str(), &status) == 0);
}
} // namespace

const char *noDisplayReason(const char *aVideoDriver) {
    if (set("SDL_VIDEODRIVER") || !aVideoDriver) return nullptr; // the user chose the driver
    if (std::strcmp(aVideoDriver, "offscreen") != 0 && std::strcmp(aVideoDriver, "dummy") != 0) return nullptr;
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return "DISPLAY and WAYLAND_DISPLAY are unset";
    return "neither the X server of DISPLAY nor a Wayland compositor could be reached";
}

void startShell(int argc) {
    if (nothingToShowOn()) {
        std::fprintf(stderr, "vrom2022: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop "
                             "session, or set SDL_VIDEODRIVER\n");
        std::exit(1);
    }
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0) {
        std::fprintf(stderr, "Video initialization failed: %s\n", SDL_GetError());
        SDL_Quit();
        std::exit(0);
    }
    // With no display SDL falls back to a window nobody sees, and the demo
    // would play its music unseen until killed: say so and end instead.
    if (const char *reason = noDisplayReason(SDL_GetCurrentVideoDriver())) {
        std::fprintf(stderr, "vrom2022: no display (%s); start it from a desktop session, or set SDL_VIDEODRIVER\n",
                     reason);
        SDL_Quit();
        std::exit(1);
    }
    initVideo(argc);
    SDL_SetWindowTitle(demo.window, WINDOW_TITLE);
    locateAssets();
    // How sound servers and their mixers name the demo's stream (a user's own
    // SDL_AUDIO_DEVICE_APP_NAME or SDL_AUDIO_DEVICE_STREAM_NAME still wins).
    SDL_SetHintWithPriority(SDL_HINT_AUDIO_DEVICE_APP_NAME, "vROm 2022", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Music", SDL_HINT_DEFAULT);
    // SDL asks PulseAudio for a total latency of one device buffer, of which
    // the client keeps a small part, and pipewire-pulse makes a 512-frame
    // quantum of it (11.6 ms), which a busy machine misses: a gap. 140 ms of
    // total latency gives pipewire-pulse a quantum just over the 2048-frame
    // buffer the demo asks for, and PulseAudio 90 ms of buffer instead of 35.
    // (libpulse reads the variable; a user's own value stays.)
    setenv("PULSE_LATENCY_MSEC", "140", 0);
    initDemo();
    startMusic(true);
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
