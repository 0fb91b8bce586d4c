// shell.h - process start, window and GL context, events, start-up loading
//
// What it does
//   startShell brings the demo up, in this order: SDL video
//   (SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE), initVideo (the window, its GL
//   context, the GL entry points and the letterboxed 16:9 viewport), the window
//   title, locateAssets (the assets folder: the working directory's, else the
//   one beside the executable or installed with it), initDemo (everything
//   read from there), and the two music tracks,
//   started together, looping, at volume 0. pumpEvents drains the event queue
//   once per frame: releasing any key ends the process with status 0 at once;
//   closing the window calls SDL_Quit and ends it with status 0; a window size
//   change takes the new size and recomputes the viewport; everything else is
//   ignored.
//
// What it does not do
//   It draws nothing (the show does) and never unloads anything. Failures while
//   loading assets are not reported here: each loader decides (see initDemo).
//
// Exit statuses
//   0   normal end, SDL start failure ("Video initialization failed: ...") and
//       window failure ("Video mode set failed: ...", both on standard error);
//   1   no display: SDL found neither X11 nor Wayland and would fall back to
//       an invisible window ("vrom2022: no display (...); start it from a
//       desktop session, or set SDL_VIDEODRIVER"); with SDL_VIDEODRIVER set,
//       whatever driver it names is used as it is (offscreen on purpose, say);
//   255 (-1) no GL version found ("Something went wrong!" on standard output)
//       or a shader that failed to link seven times in a row.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

union SDL_Event;

// The program-lifetime objects (built before main, torn down at exit in the
// order shadow map, space stream, melody stream, audio engine) live in
// shell/lifetime.h.

// Everything before the first frame: SDL, initVideo(argc), title, initDemo,
// music. Ends the process on the start-up failures listed above.
void startShell(int argc);

// Why SDL's video driver aVideoDriver is no display a person can see (its
// offscreen or dummy driver, chosen by SDL as a fallback, not by the user
// through SDL_VIDEODRIVER), or null when it is one.
const char *noDisplayReason(const char *aVideoDriver);

// The window title: "vROm 2022 - " and the project's home page.
inline constexpr const char *WINDOW_TITLE = "vROm 2022 - https://vrom2022.example.org";

// Opens the window: mode > 1 gives a centred 960 x 540 window with the cursor
// visible, otherwise full screen at display 0's size with the cursor hidden.
void initVideo(int32_t mode);

// ---- where assets/ is found ----

// The folders searched for the assets, in order: "assets" in the working
// directory; then, for an executable in executableDir, executableDir/assets,
// its parent's assets, ../share/vrom2022/assets, and the data folder this
// build installs to. No folder is named twice.
std::vector<std::string> assetSearchPath(const std::string &executableDir);
// The file that marks a folder as the demo's assets folder; every build
// installs it with the assets.
inline constexpr const char *ASSET_MARKER = "vrom2022-assets.txt";
// The first of places that is the demo's assets folder (it holds
// ASSET_MARKER); empty when none is.
std::string findAssetDir(const std::vector<std::string> &places);
// Chooses the assets folder for this run (startShell and vromcap call it once,
// before loading). When no place has one, writes "assets: not found (looked
// in: ...)" on standard error and keeps "assets": every file is then missing.
void locateAssets();
// "FOLDER/name" in the chosen folder: "assets/name" when the working directory
// has the assets.
std::string assetPath(const char *name);

// Loads every asset and device of the show: startAudio, loadMusic, then
// loadShowAssets (see startup.cpp for the order).
void initDemo();
// Everything but the audio: meshes and grid, shadow map, textures, programs,
// font sheet (GL context current).
void loadShowAssets();

// Starts the audio engine at 44100 Hz with 2048-frame buffers (the device
// opens if there is one; without one the demo runs silent).
void startAudio();
// Loads "assets/vrom2022_melo.ogg" and "assets/vrom2022_space.ogg" (streamed
// while they play). A file that is missing or damaged leaves its track silent.
void loadMusic();
// Starts both music tracks, looping, at volume 0; stores their voice handles.
// aHoldUntilAudible (the desktop show): the tracks wait, paused, until the
// first frame that gives them a volume above 0, and start from their first
// sample then. The fade-in starts at 0, and at a few frames a second (a
// software renderer's) the tracks would otherwise play unheard through the
// whole first frame; a device that starts late would do the same. The
// offline mixes (vromcap, showmix) do not hold: their tracks start at T.
void startMusic(bool aHoldUntilAudible = false);
// Moves both playing tracks to where the live show has them at show time t:
// they start with the show and loop seamlessly, so each is at source frame
// floor(t * 4/3 ms * its rate) modulo its length. For a show that does not
// start at 0 (vromcap --start, showmix --start, the page's ?start=T).
void seekMusic(int32_t t);
// The source frame seekMusic moves a track of `frames` frames at `rate` to.
int64_t musicFrameAt(int32_t t, uint32_t rate, uint32_t frames);
// Sets the volumes of the two playing tracks (the frame calls it every frame).
void setMusicVolumes(float melo, float space);
// Where another engine plays the music (the page's audio worklet mixes on its
// own): startMusic, seekMusic and setMusicVolumes go to the relay instead of
// the demo's engine. nullptr (the default) plays it here again.
struct MusicRelay {
    void (*start)(bool aHoldUntilAudible);
    void (*seek)(int32_t t);
    void (*setVolumes)(float melo, float space);
};
void relayMusic(const MusicRelay *aRelay);

// Drains all pending events; may end the process (see above).
void pumpEvents();
// Handles one event as pumpEvents does.
void handleEvent(const SDL_Event &event);

// A viewport rectangle in window pixels (origin bottom left).
struct Viewport {
    int32_t x, y, width, height;
};

// The largest 16:9 rectangle centred in a width x height window, with the
// demo's single-precision arithmetic and truncations.
Viewport letterboxViewport(int32_t width, int32_t height);

// glViewport with letterboxViewport(demo.width, demo.height).
void applyViewport();

// The size used for full screen: display 0's bounds, else the desktop mode,
// else 960 x 540. Never 0 x 0.
void fullScreenSize(int32_t *width, int32_t *height);
