// vromcap - renders any stretch of the show to PNG frames and a WAV, or to a
// video, offline.
//
//   vromcap [--start T] [--frames N] [--fps F] [--size WxH] [--jobs J] OUTDIR
//   vromcap [...] --video FILE.mp4       frames and sound straight to ffmpeg
//   vromcap [...] --pipe OUTDIR          raw RGB24 frames on standard output
//   vromcap [...] --dry-run              render and read back, write nothing
//   vromcap --sheet FILE.png [--size WxH]
//
// It finds its assets as the demo does: assets/ in the working directory,
// else beside the executable, its parent, or the installed data folder.
// It needs no display: with none (DISPLAY and WAYLAND_DISPLAY unset) it
// renders through EGL without a window, to the same frames. Frame k
// is the frame at show time T + floor(k * 750 / F) (show time runs at three
// quarters of real time), made by the demo's own timeline and render code, in
// order from frame 0, into an offscreen framebuffer of exactly W x H,
// letterboxed 16:9 as the demo would show it in a W x H window; it is written
// to OUTDIR/frame_000000.png and on, top row first. OUTDIR/audio.wav is the
// engine's offline mix of the same span (44100 Hz, 16-bit stereo; RF64 past
// 4 GiB): both tracks start where the live show has them at T (they start
// with the show and loop), then for each frame the timeline's volume calls,
// then that frame's share of samples. No audio device is opened. The same
// arguments give byte-identical files on the same machine and driver,
// whatever the number of jobs.
//
// Threads: the GL thread renders frame k while frame k - 1 is read back into
// a pixel buffer object; J encoder threads (default: the number of cores)
// turn frames into PNG files, and one writer writes them in frame order
// (capture_pipeline.h). The sound is mixed first, on the GL thread.
//
// --video runs ffmpeg (Debian's package ffmpeg) with the raw frames on its
// standard input and the mixed sound as a second input, and makes FILE
// (H.264 and AAC). --pipe writes the raw frames (W x H x 3 bytes each, top row
// first) to standard output for any other encoder, and the sound to
// OUTDIR/audio.wav. --sheet renders one labelled picture of the intro and of
// the middle of each of the six scene slots, each cell W x H (default
// 480x270).
//
// Status: 0 done; 2 bad arguments (an odd size for --video among them);
// 1 a failure while rendering or writing (a full disk, a closed pipe, ffmpeg
// missing or ending with an error, whose last line is quoted), or SIGINT or
// SIGTERM. Files are written under temporary names and renamed only when the
// whole capture has succeeded: a failed capture removes what it wrote (and
// the folder, if it made it), and leaves every file that was there before.
#include "cli.h"
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"
#include "st/st_rendertarget.h"
#include "audio/murmel_sdl.h"
#include "platform/platform.h"
#include "capture_pipeline.h"
#include "png_encoder.h"
#include "wav_writer.h"

#include <SDL.h>
#include <glad/gl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

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
    int64_t jobs = 0; // 0: the number of cores
    bool pipe = false, dryRun = false;
    std::string outDir, sheet, video;
};

int usage(const char *problem) {
    std::fprintf(stderr, "vromcap: %s\n"
                         "usage: vromcap [--start T] [--frames N] [--fps F] [--size WxH] [--jobs J] OUTDIR\n"
                         "       vromcap [...] --video FILE.mp4 | --pipe OUTDIR | --dry-run\n"
                         "       vromcap --sheet FILE.png [--size WxH]\n", problem);
    return 2;
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

// The frame as the demo would show it in a W x H window: letterboxed 16:9.
void renderFrame(const st::Rendertarget &target, int32_t t) {
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    glViewport(0, 0, target.width, target.height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT); // the bars outside the viewport stay black
    applyViewport();
    const ShowMoment now = runTimeline(t);
    renderPasses(now.t, now.mix);
}

// RGB rows, top row first.
std::vector<uint8_t> readPixels(const st::Rendertarget &target) {
    std::vector<uint8_t> bottomUp(static_cast<size_t>(target.width) * static_cast<size_t>(target.height) * 3);
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
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
    const std::vector<uint8_t> png = PngEncoder().encode(rgb.data(), w, h);
    FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    if (std::fclose(file) != 0 || !written) return false;
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}
// ---- what a failed capture leaves ------------------------------------------------------------

// The files and the folder this run makes, removed (in reverse order) unless
// the capture succeeds: a failure leaves every file it found as it was. A
// folder is removed only when empty.
class Leftovers;
Leftovers *runLeftovers = nullptr; // the capture's, for the exits that do not return

class Leftovers {
public:
    ~Leftovers() {
        removeAll();
        if (runLeftovers == this) runLeftovers = nullptr;
    }
    void add(const fs::path &aPath) { mPaths.push_back(aPath); }
    void removeAll() {
        for (auto it = mPaths.rbegin(); it != mPaths.rend(); ++it) {
            std::error_code error;
            fs::remove(*it, error);
        }
        mPaths.clear();
    }
    void keepAll() { mPaths.clear(); } // the capture succeeded

private:
    std::vector<fs::path> mPaths;
};

// ---- start-up -------------------------------------------------------------------------------

// A capture cannot answer boxes: they go to standard error, and a shader that
// does not link ends the capture.
void reportBox(const char *caption, const char *text) {
    std::fprintf(stderr, "\nvromcap: %s: %s\n", caption, text);
    if (std::strcmp(caption, "Shader link failed") != 0) return;
    if (runLeftovers) runLeftovers->removeAll();
    std::exit(1);
}

bool startGl(int32_t w, int32_t h) {
    platform::setMessageBoxHook(reportBox);
    // A machine with no display at all (a server that makes videos) renders
    // through EGL with no window: SDL's offscreen driver, on Mesa's device
    // platform (llvmpipe, or a GPU). The frames are the ones an X server's
    // window gives: the picture is drawn into a framebuffer of its own anyway.
    const auto set = [](const char *v) { return std::getenv(v) && *std::getenv(v); };
    const bool headless = !set("SDL_VIDEODRIVER") && !set("DISPLAY") && !set("WAYLAND_DISPLAY");
    if (headless) SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "vromcap: no video: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    demo.window = SDL_CreateWindow("vromcap", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!demo.window || !SDL_GL_CreateContext(demo.window) ||
        !gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress))) {
        std::fprintf(stderr, "vromcap: no OpenGL context%s: %s\n",
                     headless ? " (no display, and none through EGL either)" : "", SDL_GetError());
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

// Drawing (rendered and read back) and writing (encoded and on disk or in the
// pipe) are counted apart: the slower one limits the capture.
void progress(int64_t drawn, int64_t written, int64_t total, std::chrono::steady_clock::time_point began) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const double drawRate = seconds > 0 ? static_cast<double>(drawn) / seconds : 0;
    const double writeRate = seconds > 0 ? static_cast<double>(written) / seconds : 0;
    const int filled = static_cast<int>(30 * written / std::max<int64_t>(total, 1));
    std::fprintf(stderr, "\r[%.*s%*s] %lld/%lld frames  draw %.2f fps  write %.2f fps  %.0f s left ", filled,
                 "##############################", 30 - filled, "", static_cast<long long>(written),
                 static_cast<long long>(total), drawRate, writeRate,
                 writeRate > 0 ? static_cast<double>(total - written) / writeRate : 0.0);
}

int64_t frameTime(const Options &o, int64_t k) { return o.start + k * 750 / o.fps; }

// ---- the sound ------------------------------------------------------------------------------

// The whole span's sound, first (mixShowSound: the tracks moved to where the
// live show has them at T, then for each frame the timeline's volume calls
// that drawing it makes, then its share of samples). It is left complete
// under its temporary name; the caller commits it once the capture is done.
bool mixSound(const Options &o, const fs::path &path, WavWriter &wav) {
    const auto mostFrames = static_cast<uint64_t>(o.frames) * SAMPLE_RATE / static_cast<uint64_t>(o.fps) + 1;
    if (!wav.open(path, SAMPLE_RATE, false, mostFrames)) {
        std::fprintf(stderr, "vromcap: [%s] cannot be written: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    mixShowSound(o.start, o.frames, o.fps, SAMPLE_RATE,
                 [](void *user, const float *planar, uint32_t stride, uint32_t count) {
                     static_cast<WavWriter *>(user)->add(planar, stride, count);
                 },
                 &wav);
    std::string why;
    if (!wav.finish(&why)) {
        std::fprintf(stderr, "vromcap: [%s] write failed: %s\n", path.c_str(), why.c_str());
        return false;
    }
    return true;
}

// ---- ffmpeg for --video ---------------------------------------------------------------------

bool onPath(const char *program) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', at), dirs.size());
        const fs::path candidate = fs::path(dirs.substr(at, end - at)) / program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

struct Encoder {
    pid_t pid = -1;
    FILE *input = nullptr;  // its standard input: the raw frames
    int errorPipe = -1;     // the read end of its standard error
    std::thread reader;     // keeps what ffmpeg writes there
    std::string errors;     // its error output, the last 64 KiB
    ~Encoder();             // waits for it, if nobody has
};

// Starts ffmpeg reading W x H RGB24 frames at F per second from a pipe and
// the sound from a WAV, writing H.264 + AAC to `output` (no shell involved).
// Its error output is collected, to be quoted if it fails.
bool startFfmpeg(const Options &o, const fs::path &sound, const fs::path &output, Encoder *encoder) {
    int frames[2], errors[2];
    if (pipe2(frames, O_CLOEXEC) != 0) return false;
    if (pipe2(errors, O_CLOEXEC) != 0) {
        close(frames[0]);
        close(frames[1]);
        return false;
    }
    const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height), rate = std::to_string(o.fps);
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "rawvideo",
                                     "-pix_fmt", "rgb24", "-s", size, "-r", rate, "-i", "pipe:0", "-i",
                                     sound.string(), "-c:v", "libx264", "-pix_fmt", "yuv420p", "-crf", "18",
                                     "-c:a", "aac", "-b:a", "192k", "-shortest", output.string()};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, frames[0], 0); // the copies lose close-on-exec
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    const int failed = posix_spawnp(&encoder->pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(frames[0]);
    close(errors[1]);
    if (failed) {
        close(frames[1]);
        close(errors[0]);
        errno = failed;
        return false;
    }
    encoder->errorPipe = errors[0];
    encoder->reader = std::thread([encoder] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(encoder->errorPipe, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            encoder->errors.append(buffer, static_cast<size_t>(n));
            if (encoder->errors.size() > 65536) encoder->errors.erase(0, encoder->errors.size() - 65536);
        }
    });
    encoder->input = fdopen(frames[1], "wb");
    return encoder->input != nullptr;
}

// The last line ffmpeg wrote on its standard error, or a note that it wrote none.
std::string lastLine(const std::string &aText) {
    size_t end = aText.find_last_not_of(" \r\n\t");
    if (end == std::string::npos) return "(no error output)";
    const size_t begin = aText.find_last_of("\r\n", end);
    return aText.substr(begin == std::string::npos ? 0 : begin + 1, end + 1 - (begin == std::string::npos ? 0 : begin + 1));
}

// Closes ffmpeg's input and waits for it. Empty when it succeeded, else how
// it ended ("status 1", "signal 9").
std::string finishFfmpeg(Encoder &encoder) {
    if (encoder.input) std::fclose(encoder.input);
    encoder.input = nullptr;
    int status = 0;
    pid_t waited;
    do waited = encoder.pid < 0 ? -1 : waitpid(encoder.pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    if (encoder.reader.joinable()) encoder.reader.join();
    if (encoder.errorPipe >= 0) close(encoder.errorPipe);
    encoder.errorPipe = -1;
    encoder.pid = -1;
    if (waited < 0) return "not waited for";
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "status " + std::to_string(WEXITSTATUS(status));
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "an unknown end";
}

Encoder::~Encoder() {
    if (pid >= 0 || reader.joinable()) finishFfmpeg(*this);
}

// ---- the capture ---------------------------------------------------------------------------------

// A word for a POSIX shell: as it is when it is plain, else in single quotes.
std::string shellQuote(const std::string &aWord) {
    const bool plain = !aWord.empty() && aWord.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                                   "0123456789_@%+=:,./-") == std::string::npos;
    if (plain) return aWord;
    std::string quoted = "'";
    for (const char c : aWord) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

volatile std::sig_atomic_t interrupted = 0; // SIGINT or SIGTERM came: the capture stops and cleans up

int capture(const Options &o) {
    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });
    const bool video = !o.video.empty();
    Leftovers leftovers; // removed at any return but a successful one
    runLeftovers = &leftovers;
    fs::path soundPath, videoTemporary, videoTarget;
    if (video) {
        if (!onPath("ffmpeg")) {
            std::fprintf(stderr, "vromcap: --video needs ffmpeg, which is not installed (Debian package ffmpeg)\n");
            return 1;
        }
        videoTarget = fs::absolute(o.video);
        std::error_code error;
        if (!fs::is_directory(videoTarget.parent_path(), error)) return usage(("no folder for " + o.video).c_str());
        videoTemporary = videoTarget.parent_path() / (".partial-" + videoTarget.filename().string());
        soundPath = videoTarget.parent_path() / (".partial-" + videoTarget.filename().string() + ".wav");
        leftovers.add(videoTemporary);
        leftovers.add(soundPath); // removed even after a success: ffmpeg has read it
    } else if (!o.dryRun) {
        std::error_code error;
        const bool existed = fs::exists(o.outDir, error);
        fs::create_directories(o.outDir, error);
        if (!fs::is_directory(o.outDir, error)) return usage(("cannot create " + o.outDir).c_str());
        if (!existed) leftovers.add(o.outDir); // removed when a failure leaves it empty
        soundPath = fs::path(o.outDir) / "audio.wav";
    }
    if (!startGl(o.width, o.height)) return 1;
    st::Rendertarget target;
    if (!target.init(o.width, o.height)) {
        std::fprintf(stderr, "vromcap: no %dx%d framebuffer\n", o.width, o.height);
        return 1;
    }
    startMusicOffline();
    WavWriter wav; // removes its file unless committed
    if (!o.dryRun && !mixSound(o, soundPath, wav)) return 1;
    std::string why;
    if (video && !wav.commit(&why)) { // ffmpeg reads it under its own temporary name
        std::fprintf(stderr, "vromcap: [%s] %s\n", soundPath.c_str(), why.c_str());
        return 1;
    }

    Encoder encoder;
    if (video && !startFfmpeg(o, soundPath, videoTemporary, &encoder)) {
        std::fprintf(stderr, "vromcap: ffmpeg could not be started: %s\n", std::strerror(errno));
        return 1;
    }
    const CaptureOutput output = o.dryRun ? CaptureOutput::Discard
                                 : video  ? CaptureOutput::Raw
                                 : o.pipe ? CaptureOutput::Raw
                                          : CaptureOutput::Png;
    const auto jobs = static_cast<uint32_t>(o.jobs > 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency()));
    CapturePipeline pipeline(output, o.outDir, video ? encoder.input : stdout, o.width, o.height, jobs);

    // Read-back through a ring of pixel buffer objects: frame k is read into
    // one while frame k - 1, read into another, is copied out.
    const size_t frameBytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.height) * 3;
    GLuint pbo[3];
    glGenBuffers(3, pbo);
    for (GLuint b : pbo) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, b);
        glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(frameBytes), nullptr, GL_STREAM_READ);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    auto collect = [&](int64_t k) { // copies frame k out of its buffer and hands it on
        glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo[k % 3]);
        const auto *mapped = static_cast<const uint8_t *>(glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY));
        std::vector<uint8_t> pixels(mapped ? mapped : nullptr, mapped ? mapped + frameBytes : nullptr);
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
        if (pixels.size() != frameBytes) return false;
        return pipeline.submit(k, std::move(pixels));
    };

    const auto began = std::chrono::steady_clock::now();
    bool ok = true;
    for (int64_t k = 0; k < o.frames && ok && !interrupted; ++k) {
        renderFrame(target, static_cast<int32_t>(frameTime(o, k)));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo[k % 3]);
        glReadPixels(0, 0, o.width, o.height, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        if (k > 0) ok = collect(k - 1);
        progress(k + 1, pipeline.framesWritten(), o.frames, began);
    }
    if (ok && !interrupted) ok = collect(o.frames - 1);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glDeleteBuffers(3, pbo);
    std::string failure;
    ok = pipeline.finish(&failure) && ok;
    progress(o.frames, pipeline.framesWritten(), o.frames, began);
    std::fprintf(stderr, "\n");
    if (ok && o.pipe) {
        // Small frames may still wait in stdio's buffer: a full disk or a
        // closed reader shows only when it goes out.
        errno = 0;
        const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
        const int flushErrno = errno;
        const bool closed = std::fclose(stdout) == 0;
        if (!flushed || !closed) {
            ok = false;
            failure = std::string("[standard output] write failed: ") + std::strerror(!flushed ? flushErrno : errno);
        }
    }
    if (video) {
        const std::string ended = finishFfmpeg(encoder);
        // ffmpeg names the temporary files; the user knows the real name.
        for (const auto &[temporary, real] : {std::pair{videoTemporary.string(), videoTarget.string()},
                                              std::pair{videoTemporary.filename().string(), videoTarget.filename().string()}})
            for (size_t at = 0; (at = encoder.errors.find(temporary, at)) != std::string::npos; at += real.size())
                encoder.errors.replace(at, temporary.size(), real);
        // ffmpeg runs at -loglevel error, so anything it says is an error;
        // and it exits 0 after some (a full disk while it writes the trailer).
        const std::string said = lastLine(encoder.errors);
        if (!ended.empty() || !encoder.errors.empty()) {
            const bool early = !ok; // it stopped taking frames before it had them all
            if (!encoder.errors.empty() && encoder.errors != lastLine(encoder.errors) + "\n")
                std::fprintf(stderr, "%s", encoder.errors.c_str()); // the whole story, when there is more than a line
            std::fprintf(stderr, "vromcap: ffmpeg %s (%s): %s\n", early ? "ended early" : "failed",
                         ended.empty() ? "status 0, with an error" : ended.c_str(), said.c_str());
            return 1;
        }
    }
    if (interrupted) {
        std::fprintf(stderr, "vromcap: interrupted; what this run wrote is removed\n");
        return 1;
    }
    if (!ok) {
        std::fprintf(stderr, "vromcap: %s\n", failure.empty() ? "reading the frames back failed" : failure.c_str());
        return 1;
    }
    if (video) {
        std::error_code error;
        fs::rename(videoTemporary, videoTarget, error);
        if (error) {
            std::fprintf(stderr, "vromcap: [%s] %s\n", o.video.c_str(), error.message().c_str());
            return 1;
        }
        return 0;
    }
    if (!o.dryRun && (!pipeline.commit(&failure) || !wav.commit(&why))) {
        std::fprintf(stderr, "vromcap: %s\n", failure.empty() ? ("[" + soundPath.string() + "] " + why).c_str() : failure.c_str());
        return 1;
    }
    leftovers.keepAll();
    runLeftovers = nullptr;
    if (output == CaptureOutput::Png) {
        const std::string dir = o.outDir;
        std::fprintf(stderr, "To make a video:\n  ffmpeg -framerate %lld -i %s -i %s "
                             "-c:v libx264 -pix_fmt yuv420p -crf 18 -c:a aac -b:a 192k -shortest %s\n"
                             "or capture straight to one with --video FILE.mp4.\n",
                     static_cast<long long>(o.fps), shellQuote(dir + "/frame_%06d.png").c_str(),
                     shellQuote(dir + "/audio.wav").c_str(), shellQuote(dir + "/vrom2022.mp4").c_str());
    }
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
    st::Rendertarget target;
    if (!target.init(w, h)) return 1;
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
        } else if (a == "--jobs" && hasValue) {
            if (!parseInteger(argv[++i], 1, 256, &o.jobs)) return usage("--jobs takes 1 to 256");
        } else if (a == "--video" && hasValue) {
            o.video = argv[++i];
        } else if (a == "--pipe") {
            o.pipe = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (!a.empty() && a[0] != '-' && o.outDir.empty()) {
            o.outDir = a;
        } else {
            return usage(("unexpected argument " + a).c_str());
        }
    }
    if (o.start + (o.frames - 1) * 750 / o.fps > 2147483647LL) return usage("the capture runs past the show clock's range");
    if (!o.sheet.empty()) return o.outDir.empty() ? sheet(o) : usage("--sheet takes no OUTDIR");
    if ((o.pipe ? 1 : 0) + (o.video.empty() ? 0 : 1) + (o.dryRun ? 1 : 0) > 1)
        return usage("--video, --pipe and --dry-run exclude each other");
    if (!o.video.empty() || o.dryRun) {
        if (!o.outDir.empty()) return usage(o.dryRun ? "--dry-run takes no OUTDIR" : "--video takes no OUTDIR");
    } else if (o.outDir.empty()) {
        return usage("no OUTDIR");
    }
    if (o.pipe && isatty(1)) return usage("--pipe writes raw frames: send standard output to a program or file");
    if (!o.video.empty() && (o.width % 2 != 0 || o.height % 2 != 0))
        return usage(("--video needs an even width and height (H.264 in yuv420p halves the colour planes), not " +
                      std::to_string(o.width) + "x" + std::to_string(o.height)).c_str());
    // A reader that goes away (ffmpeg failing, a closed pipe) is a write
    // error to report, not a signal that ends the capture unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    return capture(o);
}
