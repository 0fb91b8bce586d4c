// murmel_web.cpp - the browser's audio device: the engine mixes, Web Audio
// plays. Emscripten's OpenAL runs on the page's AudioContext; a queue of
// blocks of the engine's mix, at the context's own rate, is refilled on every
// frame and by a 20 ms timer. The page has one thread, so nothing is mixed
// while a frame is drawn: the queue holds at least three times the longest
// recent frame (0.2 s at least, 6 s at most), so that it never starves, even
// where frames are slow (a software WebGL).
#include "audio/murmel.h"
#include "audio/murmel_sdl.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <emscripten.h>
#include <emscripten/eventloop.h>

#include <algorithm>
#include <vector>

namespace Murmel {

namespace {
constexpr int FIRST_BLOCKS = 4;          // blocks queued at the start
constexpr double PUMP_INTERVAL_MS = 20;  // the timer's refill, between frames
constexpr double MIN_QUEUED_SECONDS = 0.2, MAX_QUEUED_SECONDS = 6.0;
constexpr ALenum FORMAT_STEREO_FLOAT32 = 0x10011; // AL_EXT_float32

struct WebDevice {
    Engine *engine = nullptr;
    ALCdevice *device = nullptr;
    ALCcontext *context = nullptr;
    ALuint source = 0;
    std::vector<ALuint> buffers;   // every buffer made, queued or being refilled
    double wantedSeconds = MIN_QUEUED_SECONDS; // what the queue should hold
    uint32_t blockFrames = 0;
    bool useFloat = true;
    long interval = 0;
    uint64_t blocksMixed = 0;
    std::vector<float> interleaved;
    std::vector<int16_t> interleaved16;
} web;

// Mixes one block and hands it to buffer b.
void fill(ALuint b) {
    Engine &e = *web.engine;
    const uint32_t frames = web.blockFrames;
    const uint32_t mixed = e.mixBlock(frames, (frames + 15) & ~15u);
    const uint32_t stride = (mixed + 15) & ~15u;
    const float *planar = e.mMixScratch.data;
    const auto rate = static_cast<ALsizei>(e.mSampleRate);
    if (web.useFloat) {
        web.interleaved.resize(2 * static_cast<size_t>(frames));
        for (uint32_t i = 0; i < frames; ++i)
            for (uint32_t c = 0; c < 2; ++c) web.interleaved[2 * i + c] = i < mixed ? planar[c * stride + i] : 0.0f;
        alBufferData(b, FORMAT_STEREO_FLOAT32, web.interleaved.data(), static_cast<ALsizei>(web.interleaved.size() * 4), rate);
    } else {
        web.interleaved16.resize(2 * static_cast<size_t>(frames));
        for (uint32_t i = 0; i < frames; ++i)
            for (uint32_t c = 0; c < 2; ++c) {
                const float x = i < mixed ? planar[c * stride + i] : 0.0f;
                web.interleaved16[2 * i + c] = sdlSampleToS16(x); // the desktop's 16-bit conversion
            }
        alBufferData(b, AL_FORMAT_STEREO16, web.interleaved16.data(), static_cast<ALsizei>(web.interleaved16.size() * 2), rate);
    }
    ++web.blocksMixed;
}

void pump() {
    if (!web.engine) return;
    ALint processed = 0, queued = 0;
    alGetSourcei(web.source, AL_BUFFERS_PROCESSED, &processed);
    for (; processed > 0; --processed) {
        ALuint b = 0;
        alSourceUnqueueBuffers(web.source, 1, &b);
        fill(b);
        alSourceQueueBuffers(web.source, 1, &b);
    }
    // More blocks while the queue holds less than wanted.
    alGetSourcei(web.source, AL_BUFFERS_QUEUED, &queued);
    const double blockSeconds = static_cast<double>(web.blockFrames) / web.engine->mSampleRate;
    while (queued * blockSeconds < web.wantedSeconds) {
        ALuint b = 0;
        alGenBuffers(1, &b);
        web.buffers.push_back(b);
        fill(b);
        alSourceQueueBuffers(web.source, 1, &b);
        ++queued;
    }
    ALint state = 0;
    alGetSourcei(web.source, AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING) alSourcePlay(web.source); // after a starved queue
}

void pumpOnTimer(void *) { pump(); }

void cleanup(Engine *) {
    if (web.interval) emscripten_clear_interval(web.interval);
    alSourceStop(web.source);
    alDeleteSources(1, &web.source);
    alDeleteBuffers(static_cast<ALsizei>(web.buffers.size()), web.buffers.data());
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(web.context);
    alcCloseDevice(web.device);
    web = WebDevice{};
}
} // namespace

Result startDeviceBackend(Engine &aEngine, uint32_t, uint32_t aBufferFrames) {
    web.device = alcOpenDevice(nullptr);
    if (!web.device) return GeneralFailure;
    web.context = alcCreateContext(web.device, nullptr);
    if (!web.context || !alcMakeContextCurrent(web.context)) {
        alcCloseDevice(web.device);
        web = WebDevice{};
        return GeneralFailure;
    }
    ALCint rate = 0; // the AudioContext's rate: the engine resamples to it
    alcGetIntegerv(web.device, ALC_FREQUENCY, 1, &rate);
    if (rate <= 0) rate = 48000;
    web.useFloat = alIsExtensionPresent("AL_EXT_float32");
    web.engine = &aEngine;
    web.blockFrames = aBufferFrames;
    aEngine.finishBackendSetup(static_cast<uint32_t>(rate), aBufferFrames, 1, 2);
    alGenSources(1, &web.source);
    web.buffers.resize(FIRST_BLOCKS);
    alGenBuffers(FIRST_BLOCKS, web.buffers.data());
    for (ALuint b : web.buffers) fill(b);
    alSourceQueueBuffers(web.source, FIRST_BLOCKS, web.buffers.data());
    alSourcePlay(web.source);
    web.interval = emscripten_set_interval(pumpOnTimer, PUMP_INTERVAL_MS, nullptr);
    aEngine.mBackendCleanup = cleanup;
    aEngine.mBackendKind = BACKEND_WEB;
    aEngine.mBackendName = "Web Audio (OpenAL)";
    return ResultOk;
}

void pumpWebAudio(double aFrameSeconds) {
    // Three times the frame just drawn, easing back down slowly when frames
    // get faster again.
    web.wantedSeconds = std::clamp(std::max(3 * aFrameSeconds, 0.98 * web.wantedSeconds), MIN_QUEUED_SECONDS,
                                   MAX_QUEUED_SECONDS);
    pump();
}
uint64_t webBlocksMixed() { return web.blocksMixed; }

} // namespace Murmel
