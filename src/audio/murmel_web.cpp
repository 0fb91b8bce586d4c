// murmel_web.cpp - the browser's audio device: the engine mixes, Web Audio
// plays. Emscripten's OpenAL runs on the page's AudioContext; a queue of
// blocks of the engine's mix, at the context's own rate, is refilled on every
// frame and by a 20 ms timer, so it never starves even when frames are slow.
#include "audio/murmel.h"
#include "audio/murmel_sdl.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <emscripten.h>

#include <vector>

namespace Murmel {

namespace {
constexpr int QUEUED_BLOCKS = 4;       // blocks in Web Audio's hands, 4 x 2048 frames
constexpr double PUMP_INTERVAL_MS = 20; // the timer's refill, between frames
constexpr ALenum FORMAT_STEREO_FLOAT32 = 0x10011; // AL_EXT_float32

struct WebDevice {
    Engine *engine = nullptr;
    ALCdevice *device = nullptr;
    ALCcontext *context = nullptr;
    ALuint source = 0;
    ALuint buffers[QUEUED_BLOCKS] = {};
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
    ALint processed = 0;
    alGetSourcei(web.source, AL_BUFFERS_PROCESSED, &processed);
    for (; processed > 0; --processed) {
        ALuint b = 0;
        alSourceUnqueueBuffers(web.source, 1, &b);
        fill(b);
        alSourceQueueBuffers(web.source, 1, &b);
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
    alDeleteBuffers(QUEUED_BLOCKS, web.buffers);
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
    alGenBuffers(QUEUED_BLOCKS, web.buffers);
    for (ALuint b : web.buffers) fill(b);
    alSourceQueueBuffers(web.source, QUEUED_BLOCKS, web.buffers);
    alSourcePlay(web.source);
    web.interval = emscripten_set_interval(pumpOnTimer, PUMP_INTERVAL_MS, nullptr);
    aEngine.mBackendCleanup = cleanup;
    aEngine.mBackendKind = BACKEND_WEB;
    aEngine.mBackendName = "Web Audio (OpenAL)";
    return ResultOk;
}

void pumpWebAudio() { pump(); }
uint64_t webBlocksMixed() { return web.blocksMixed; }

} // namespace Murmel
