// web_main.cpp - vROm 2022 in a browser: the page's canvas, its events and
// the animation-frame loop, in place of the desktop's SDL window (main.cpp,
// video.cpp, events.cpp). Everything else is the desktop's code.
//
// The canvas fills the page and the picture is letterboxed 16:9 inside it, as
// on the desktop. Browsers start sound only after a gesture, so the show waits
// behind a "click to start" overlay; the click opens Web Audio, and the show
// and its music start together once the audio worklet is ready to play (or
// has failed: then without sound). The worklet mixes on its own engine, so the
// music's start, seek and volumes are relayed to it. A double click toggles
// full screen. A key release pauses and resumes picture and sound (a page
// cannot end itself).
//
// Threads: the page's one thread. The two parallel scenes run on it too.
#include "audio/murmel.h"
#include "platform/platform.h"
#include "platform/web.h"
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"

#include <emscripten.h>
#include <emscripten/html5.h>
#include <glad/gl.h>

#include <cstdio>
#include <string>

namespace {
bool starting = false;  // the start click (or vrom_start) has come
bool started = false;   // and the show has begun
int64_t framesDrawn = 0;
int32_t firstShowTime = 0; // where the show starts, 0 or vrom_start's

// The canvas's drawing buffer follows its size on the page, in device pixels.
void fitCanvas() {
    double cssWidth = 0, cssHeight = 0;
    emscripten_get_element_css_size("#canvas", &cssWidth, &cssHeight);
    const double ratio = emscripten_get_device_pixel_ratio();
    const auto width = static_cast<int32_t>(cssWidth * ratio), height = static_cast<int32_t>(cssHeight * ratio);
    if (width <= 0 || height <= 0 || (width == demo.width && height == demo.height)) return;
    emscripten_set_canvas_element_size("#canvas", width, height);
    demo.width = width;
    demo.height = height;
    applyViewport();
}

EM_BOOL onResize(int, const EmscriptenUiEvent *, void *) {
    fitCanvas();
    return EM_FALSE;
}

// The show's music, posted to the audio worklet (audio_page.js).
const MusicRelay workletMusic = {
    [](bool hold) { EM_ASM({ vromAudio.post({op: 'start', hold: !!$0}); }, hold); },
    [](int32_t t) { EM_ASM({ vromAudio.post({op: 'seek', t: $0}); }, t); },
    [](float melo, float space) { EM_ASM({ vromAudio.post({op: 'volumes', melo: $0, space: $1}); }, melo, space); },
};

// The show begins: with the worklet playing (or without sound, when it failed).
void begin() {
    started = true;
    startMusic(true); // the tracks wait for the first audible frame
    if (firstShowTime > 0) { // the clock's origin so that the first frame shows firstShowTime
        seekMusic(firstShowTime); // and the music where the show has it then
        demo.startTime = static_cast<int32_t>(showClock(platform::ticksMs())) - firstShowTime;
    }
    EM_ASM({ if (typeof vromStarted === 'function') vromStarted(); });
}

void start() {
    if (starting) return;
    starting = true;
    startAudio(); // inside the click: the browser lets Web Audio start
    relayMusic(&workletMusic);
    EM_ASM({ if (typeof vromStarting === 'function') vromStarting(); });
    EM_ASM({ vromAudio.begin(UTF8ToString($0), UTF8ToString($1), function() { Module._vrom_begin(); }); },
           assetPath("vrom2022_melo.ogg").c_str(), assetPath("vrom2022_space.ogg").c_str());
}

EM_BOOL onClick(int, const EmscriptenMouseEvent *, void *) {
    start();
    return EM_FALSE;
}

// The page's vromToggleFullscreen asks the browser, which may refuse (a frame
// without permission, a headless browser): then a warning, and the show goes on.
EM_BOOL onDoubleClick(int, const EmscriptenMouseEvent *, void *) {
    EM_ASM({ if (typeof vromToggleFullscreen === 'function') vromToggleFullscreen(); });
    return EM_TRUE;
}

EM_BOOL onKeyUp(int, const EmscriptenKeyboardEvent *, void *) {
    if (!started) return EM_FALSE;
    const bool pause = !platform::web::paused();
    platform::web::setPaused(pause);
    EM_ASM({ vromAudio.pause(!!$0); }, pause);
    return EM_FALSE;
}

void frame() {
    fitCanvas();
    if (!started || platform::web::paused()) return; // the canvas keeps its last frame
    drawFrame();
    ++framesDrawn;
}
} // namespace

extern "C" {
// Where the show will begin (show time t; 0: from the beginning), as
// vromcap's --start; the page passes its ?start=T.
EMSCRIPTEN_KEEPALIVE void vrom_set_start(int32_t t) { firstShowTime = t > 0 ? t : 0; }

// Starts the show as the click does: for pages whose autoplay policy allows
// sound without a gesture (?autostart), and tests.
EMSCRIPTEN_KEEPALIVE void vrom_start() { start(); }

// The audio worklet plays, or has failed (audio_page.js calls it once).
EMSCRIPTEN_KEEPALIVE void vrom_begin() { begin(); }

// The page's view of the show, as JSON (the sound's is vromAudio.stats).
EMSCRIPTEN_KEEPALIVE const char *vrom_status() {
    static std::string json;
    char text[256];
    std::snprintf(text, sizeof text,
                  "{\"started\":%s,\"paused\":%s,\"frames\":%lld,\"showTime\":%d,"
                  "\"sampleRate\":%u,\"width\":%d,\"height\":%d}",
                  started ? "true" : "false", platform::web::paused() ? "true" : "false",
                  static_cast<long long>(framesDrawn),
                  started ? static_cast<int32_t>(showClock(platform::ticksMs())) - demo.startTime : 0,
                  audioEngine.mSampleRate, demo.width,
                  demo.height);
    json = text;
    return json.c_str();
}
}

int main() {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context("#canvas", &attributes);
    if (context <= 0) {
        platform::showMessageBox("WebGL2 is not available", "This browser offers no WebGL2 context for the canvas.");
        return 0;
    }
    emscripten_webgl_make_context_current(context);
    fitCanvas();
    locateAssets();     // assets/ packed beside the page
    loadMusic();
    loadShowAssets();

    emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onResize);
    emscripten_set_click_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, onClick);
    emscripten_set_dblclick_callback("#canvas", nullptr, EM_FALSE, onDoubleClick);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, onKeyUp);
    emscripten_set_main_loop(frame, 0, EM_TRUE); // every animation frame
}
