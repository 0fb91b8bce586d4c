// vromcap - renders any stretch of the show to PNG frames and a WAV, offline.
//
//   vromcap [--start T] [--frames N] [--fps F] [--size WxH] OUTDIR
//   vromcap --sheet FILE.png [--size WxH]
//
// It finds its assets as the demo does: assets/ in the working directory,
// else beside the executable, its parent, or the installed data folder. Frame k is the frame at show
// time T + floor(k * 750 / F) (show time runs at three quarters of real
// time), made by the demo's own timeline and render code, in order from frame
// 0, into an offscreen framebuffer of exactly W x H; it is written to
// OUTDIR/frame_000000.png and on, top row first. OUTDIR/audio.wav is the
// engine's offline mix of the same span (44100 Hz, 16-bit stereo): for each
// frame the timeline's volume calls, then that frame's share of samples. No
// audio device is opened. The same arguments give byte-identical files on the
// same machine and driver.
//
// --sheet renders one labelled picture of the intro and of the middle of each
// of the six scene slots, each cell W x H (default 480x270).
//
// Status: 0 done, 2 bad arguments, 1 a failure while rendering or writing.
// Files are written under a temporary name and renamed when complete.
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"
#include "audio/murmel_sdl.h"
#include "platform/platform.h"
#include "wav_writer.h"

#include <SDL.h>
#include <glad/gl.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
constexpr int32_t MAX_SIDE = 8192;
constexpr uint32_t SAMPLE_RATE = 44100;

struct Options {
    int64_t start = 0;
    int64_t frames = 600;
    int64_t fps = 60;
    int32_t width = 1920, height = 1080;
    bool sizeGiven = false;
    std::string outDir, sheet;
};

int usage(const char *problem) {
    std::fprintf(stderr, "vromcap: %s\n"
                         "usage: vromcap [--start T] [--frames N] [--fps F] [--size WxH] OUTDIR\n"
                         "       vromcap --sheet FILE.png [--size WxH]\n", problem);
    return 2;
}

bool parseInteger(const char *text, int64_t lo, int64_t hi, int64_t *out) {
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parseSize(const char *text, int32_t *w, int32_t *h) {
    int64_t a = 0, b = 0;
    const char *x = std::strchr(text, 'x');
    if (!x) return false;
    const std::string left(text, x);
    return parseInteger(left.c_str(), 16, MAX_SIDE, &a) && parseInteger(x + 1, 16, MAX_SIDE, &b) &&
           (*w = static_cast<int32_t>(a), *h = static_cast<int32_t>(b), true);
}

// ---- offscreen rendering -------------------------------------------------------------------

struct Target {
    GLuint fbo = 0, colour = 0, depth = 0;
    int32_t width = 0, height = 0;
};

bool makeTarget(Target &t, int32_t w, int32_t h) {
    t.width = w;
    t.height = h;
    glGenFramebuffers(1, &t.fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    glGenRenderbuffers(1, &t.colour);
    glBindRenderbuffer(GL_RENDERBUFFER, t.colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, t.colour);
    glGenRenderbuffers(1, &t.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, t.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, t.depth);
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

// The frame as the demo would show it in a W x H window: letterboxed 16:9.
void renderFrame(const Target &target, int32_t t) {
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    glViewport(0, 0, target.width, target.height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT); // the bars outside the viewport stay black
    applyViewport();
    const ShowMoment now = runTimeline(t);
    renderPasses(now.t, now.mix);
}

// RGB rows, top row first.
std::vector<uint8_t> readPixels(const Target &target) {
    std::vector<uint8_t> bottomUp(static_cast<size_t>(target.width) * static_cast<size_t>(target.height) * 3);
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, target.width, target.height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<uint8_t> topDown(bottomUp.size());
    const size_t row = static_cast<size_t>(target.width) * 3;
    for (int32_t y = 0; y < target.height; ++y)
        std::memcpy(&topDown[static_cast<size_t>(y) * row], &bottomUp[static_cast<size_t>(target.height - 1 - y) * row], row);
    return topDown;
}

bool writePng(const fs::path &path, int32_t w, int32_t h, const std::vector<uint8_t> &rgb) {
    const fs::path temporary = path.string() + ".partial";
    if (!stbi_write_png(temporary.c_str(), w, h, 3, rgb.data(), w * 3)) return false;
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

// ---- the sound ------------------------------------------------------------------------------

// Mixes count frames of the engine into the WAV, in blocks the engine holds.
void mixInto(WavWriter &wav, uint32_t count) {
    while (count > 0) {
        const uint32_t block = std::min(count, 2048u);
        const uint32_t mixed = audioEngine.mixBlock(block, (block + 15) & ~15u);
        wav.add(audioEngine.mMixScratch.data, (mixed + 15) & ~15u, mixed);
        count -= mixed;
    }
}

// ---- start-up -------------------------------------------------------------------------------

// A capture cannot answer boxes: they go to standard error, and a shader that
// does not link ends the capture.
void reportBox(const char *caption, const char *text) {
    std::fprintf(stderr, "\nvromcap: %s: %s\n", caption, text);
    if (std::strcmp(caption, "Shader link failed") == 0) std::exit(1);
}

bool startGl(int32_t w, int32_t h) {
    platform::setMessageBoxHook(reportBox);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "vromcap: no video: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    demo.window = SDL_CreateWindow("vromcap", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!demo.window || !SDL_GL_CreateContext(demo.window) ||
        !gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress))) {
        std::fprintf(stderr, "vromcap: no OpenGL context: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetSwapInterval(0);
    demo.width = w;
    demo.height = h;
    locateAssets();
    loadShowAssets();
    return true;
}

void startMusicOffline() {
    audioEngine.finishBackendSetup(SAMPLE_RATE, 2048, 1, 2); // no device
    loadMusic();
    startMusic();
}

void progress(int64_t done, int64_t total, std::chrono::steady_clock::time_point began) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const int filled = static_cast<int>(30 * done / std::max<int64_t>(total, 1));
    std::fprintf(stderr, "\r[%.*s%*s] %lld/%lld frames  %.2f fps  %.0f s left ", filled,
                 "##############################", 30 - filled, "", static_cast<long long>(done),
                 static_cast<long long>(total), rate, rate > 0 ? static_cast<double>(total - done) / rate : 0.0);
}

int capture(const Options &o) {
    std::error_code error;
    fs::create_directories(o.outDir, error);
    if (!fs::is_directory(o.outDir)) return usage(("cannot create " + o.outDir).c_str());
    if (!startGl(o.width, o.height)) return 1;
    Target target;
    if (!makeTarget(target, o.width, o.height)) {
        std::fprintf(stderr, "vromcap: no %dx%d framebuffer\n", o.width, o.height);
        return 1;
    }
    startMusicOffline();
    WavWriter wav;
    if (!wav.open(fs::path(o.outDir) / "audio.wav", SAMPLE_RATE, false)) {
        std::fprintf(stderr, "vromcap: cannot write into %s\n", o.outDir.c_str());
        return 1;
    }
    const auto began = std::chrono::steady_clock::now();
    for (int64_t k = 0; k < o.frames; ++k) {
        const auto t = static_cast<int32_t>(o.start + k * 750 / o.fps);
        renderFrame(target, t); // the timeline sets the volumes for this frame
        // This frame's share of the sound: the shares add up to frames / fps seconds.
        const auto from = static_cast<uint32_t>(k * SAMPLE_RATE / o.fps);
        const auto to = static_cast<uint32_t>((k + 1) * SAMPLE_RATE / o.fps);
        mixInto(wav, to - from);
        char name[32];
        std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(k));
        if (!writePng(fs::path(o.outDir) / name, o.width, o.height, readPixels(target))) {
            std::fprintf(stderr, "\nvromcap: cannot write %s\n", name);
            return 1;
        }
        progress(k + 1, o.frames, began);
    }
    if (!wav.close()) {
        std::fprintf(stderr, "\nvromcap: cannot write audio.wav\n");
        return 1;
    }
    std::fprintf(stderr, "\nTo make a video:\n  ffmpeg -framerate %lld -i %s/frame_%%06d.png -i %s/audio.wav "
                         "-c:v libx264 -pix_fmt yuv420p -crf 18 -c:a aac -b:a 192k -shortest %s/vrom2022.mp4\n",
                 static_cast<long long>(o.fps), o.outDir.c_str(), o.outDir.c_str(), o.outDir.c_str());
    return 0;
}

// ---- the contact sheet ----------------------------------------------------------------------

// Writes text with the demo's own font sheet, each font pixel a scale x scale block.
void label(std::vector<uint8_t> &rgb, int32_t sheetWidth, int32_t x0, int32_t y0, const char *text, int32_t scale) {
    if (!demo.fontbitmap || demo.fontWidth < 256) return;
    for (int32_t n = 0; text[n]; ++n) {
        const auto ch = static_cast<unsigned char>(text[n]);
        for (int32_t gy = 0; gy < 16; ++gy)
            for (int32_t gx = 0; gx < 8; ++gx) {
                const int32_t px = 16 * (ch % 16) + 2 * gx, py = 16 * (ch / 16) + gy;
                if (py >= demo.fontHeight) continue;
                const bool on = demo.fontbitmap[(static_cast<size_t>(py) * static_cast<size_t>(demo.fontWidth) + static_cast<size_t>(px)) * 4 + 3] & 4;
                for (int32_t sy = 0; sy < scale; ++sy)
                    for (int32_t sx = 0; sx < scale; ++sx) {
                        const int32_t x = x0 + (n * 8 + gx) * scale + sx, y = y0 + gy * scale + sy;
                        uint8_t *p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(sheetWidth) + static_cast<size_t>(x)) * 3];
                        if (on) p[0] = 255, p[1] = 226, p[2] = 140;
                        else p[0] = static_cast<uint8_t>(p[0] / 3), p[1] = static_cast<uint8_t>(p[1] / 3), p[2] = static_cast<uint8_t>(p[2] / 3);
                    }
            }
    }
}

int sheet(const Options &o) {
    const int32_t w = o.sizeGiven ? o.width : 480, h = o.sizeGiven ? o.height : 270;
    if (!startGl(w, h)) return 1;
    Target target;
    if (!makeTarget(target, w, h)) return 1;
    startMusicOffline();
    struct Cell {
        int32_t t;
        const char *name;
    };
    const Cell cells[] = {{20000, "intro"},           {50000, "worms"},  {70000, "quintic fractal"},
                          {90000, "sine landscape"},  {110000, "julia stack"}, {130000, "blobs"},
                          {150000, "twisted cubic"}};
    const int32_t columns = 4, rows = 2, sheetW = columns * w, sheetH = rows * h;
    std::vector<uint8_t> rgb(static_cast<size_t>(sheetW) * static_cast<size_t>(sheetH) * 3, 0);
    const int32_t scale = std::max(1, h / 135);
    for (int32_t c = 0; c < 8; ++c) {
        const int32_t cx = (c % columns) * w, cy = (c / columns) * h;
        if (c < 7) {
            // The slot's first frame (its wipe empties the grid, as in the show),
            // then a few frames before the moment, so trails are under way.
            renderFrame(target, cells[c].t - cells[c].t % SLOT_UNITS + 1);
            for (int32_t back = 3; back >= 0; --back) renderFrame(target, cells[c].t - back * 12);
            const std::vector<uint8_t> frame = readPixels(target);
            for (int32_t y = 0; y < h; ++y)
                std::memcpy(&rgb[(static_cast<size_t>(cy + y) * static_cast<size_t>(sheetW) + static_cast<size_t>(cx)) * 3],
                            &frame[static_cast<size_t>(y) * static_cast<size_t>(w) * 3], static_cast<size_t>(w) * 3);
            label(rgb, sheetW, cx + 6 * scale, cy + 4 * scale, cells[c].name, scale);
        } else {
            label(rgb, sheetW, cx + w / 2 - 36 * scale, cy + h / 2 - 8 * scale, "vROm 2022", scale);
        }
    }
    if (!writePng(o.sheet, sheetW, sheetH, rgb)) {
        std::fprintf(stderr, "vromcap: cannot write %s\n", o.sheet.c_str());
        return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--start" && hasValue) {
            if (!parseInteger(argv[++i], 0, 2000000000, &o.start)) return usage("--start takes a show time from 0");
        } else if (a == "--frames" && hasValue) {
            if (!parseInteger(argv[++i], 1, 10000000, &o.frames)) return usage("--frames takes a count from 1");
        } else if (a == "--fps" && hasValue) {
            if (!parseInteger(argv[++i], 1, 1000, &o.fps)) return usage("--fps takes 1 to 1000");
        } else if (a == "--size" && hasValue) {
            if (!parseSize(argv[++i], &o.width, &o.height)) return usage("--size takes WxH, each 16 to 8192");
            o.sizeGiven = true;
        } else if (a == "--sheet" && hasValue) {
            o.sheet = argv[++i];
        } else if (!a.empty() && a[0] != '-' && o.outDir.empty()) {
            o.outDir = a;
        } else {
            return usage(("unexpected argument " + a).c_str());
        }
    }
    if (o.start + (o.frames - 1) * 750 / o.fps > 2147483647LL) return usage("the capture runs past the show clock's range");
    if (!o.sheet.empty()) return o.outDir.empty() ? sheet(o) : usage("--sheet takes no OUTDIR");
    if (o.outDir.empty()) return usage("no OUTDIR");
    return capture(o);
}
