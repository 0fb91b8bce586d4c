// murmel_sdl.cpp - the SDL audio back end.
//
// SDL2 is looked up at run time ("libSDL2-2.0.so.0"), five functions by name,
// so that the engine starts (silently) wherever SDL's audio is missing. The
// library is never unloaded and never looked up twice.
#include "audio/murmel.h"
#include "audio/murmel_sdl.h"

#include <SDL_audio.h>

#include <algorithm>
#include <cstring>

namespace Murmel {

namespace {
using WasInitFn = Uint32 (*)(Uint32);
using InitSubSystemFn = int (*)(Uint32);
using OpenAudioDeviceFn = SDL_AudioDeviceID (*)(const char *, int, const SDL_AudioSpec *, SDL_AudioSpec *, int);
using CloseAudioDeviceFn = void (*)(SDL_AudioDeviceID);
using PauseAudioDeviceFn = void (*)(SDL_AudioDeviceID, int);

// Process-wide: outlives engine restarts.
WasInitFn sdlWasInit = nullptr;
InitSubSystemFn sdlInitSubSystem = nullptr;
OpenAudioDeviceFn sdlOpenAudioDevice = nullptr;
CloseAudioDeviceFn sdlCloseAudioDevice = nullptr;
PauseAudioDeviceFn sdlPauseAudioDevice = nullptr;
SDL_AudioDeviceID device = 0;
SDL_AudioSpec obtained{};
int libraryLoads = 0;
const char *libraryName = "libSDL2-2.0.so.0";

constexpr Uint32 INIT_AUDIO = 0x10;
constexpr int ALLOWED_CHANGES = SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_SAMPLES_CHANGE; // 9

void SDLCALL mixCallback(void *aUser, Uint8 *aStream, int aBytes) {
    sdlMixInto(*static_cast<Engine *>(aUser), obtained.format, obtained.channels, aStream,
               static_cast<uint32_t>(aBytes));
}

void cleanup(Engine *) {
    if (sdlCloseAudioDevice && device) sdlCloseAudioDevice(device);
    device = 0;
}

bool loadLibrary() {
    if (sdlOpenAudioDevice) return true;
    void *library = platform::openLibrary(libraryName);
    ++libraryLoads;
    if (!library) return false;
    sdlWasInit = reinterpret_cast<WasInitFn>(platform::findSymbol(library, "SDL_WasInit"));
    sdlInitSubSystem = reinterpret_cast<InitSubSystemFn>(platform::findSymbol(library, "SDL_InitSubSystem"));
    sdlOpenAudioDevice = reinterpret_cast<OpenAudioDeviceFn>(platform::findSymbol(library, "SDL_OpenAudioDevice"));
    sdlCloseAudioDevice = reinterpret_cast<CloseAudioDeviceFn>(platform::findSymbol(library, "SDL_CloseAudioDevice"));
    sdlPauseAudioDevice = reinterpret_cast<PauseAudioDeviceFn>(platform::findSymbol(library, "SDL_PauseAudioDevice"));
    if (!sdlWasInit || !sdlInitSubSystem || !sdlOpenAudioDevice || !sdlCloseAudioDevice || !sdlPauseAudioDevice) {
        sdlOpenAudioDevice = nullptr;
        return false;
    }
    return true;
}
} // namespace

void sdlMixInto(Engine &aEngine, uint16_t aFormat, uint8_t aChannels, uint8_t *aStream, uint32_t aBytes) {
    const uint32_t sampleBytes = aFormat == AUDIO_F32 ? 4 : 2;
    const uint32_t frames = aChannels ? aBytes / (aChannels * sampleBytes) : 0;
    const uint32_t channels = std::min<uint32_t>(aEngine.mChannelCount, aChannels);
    std::memset(aStream, 0, aBytes);
    // A request larger than the engine's buffers is mixed in several blocks.
    for (uint32_t done = 0; done < frames;) {
        const uint32_t want = frames - done;
        const uint32_t mixed = aEngine.mixBlock(want, (want + 15) & ~15u);
        if (mixed == 0) return; // no buffers: silence
        const uint32_t stride = (mixed + 15) & ~15u;
        const float *planar = aEngine.mMixScratch.data;
        for (uint32_t i = 0; i < mixed; ++i) {
            for (uint32_t c = 0; c < channels; ++c) {
                const float x = planar[c * stride + i];
                const size_t at = (static_cast<size_t>(done + i) * aChannels + c) * sampleBytes;
                if (sampleBytes == 4) {
                    std::memcpy(aStream + at, &x, 4);
                } else {
                    const int16_t s = sdlSampleToS16(x);
                    std::memcpy(aStream + at, &s, 2);
                }
            }
        }
        done += mixed;
    }
}

int sdlLibraryLoads() { return libraryLoads; }
void setSdlLibraryName(const char *aName) { libraryName = aName; }

Result startSdlBackend(Engine &aEngine, uint32_t aSampleRate, uint32_t aBufferFrames) {
    if (!loadLibrary()) return LibraryMissing;
    if (!sdlWasInit(INIT_AUDIO) && sdlInitSubSystem(INIT_AUDIO) < 0) return GeneralFailure;

    SDL_AudioSpec requested{};
    requested.freq = static_cast<int>(aSampleRate);
    requested.format = AUDIO_F32;
    requested.channels = 2;
    requested.samples = static_cast<Uint16>(aBufferFrames);
    requested.callback = mixCallback;
    requested.userdata = &aEngine;
    device = sdlOpenAudioDevice(nullptr, 0, &requested, &obtained, ALLOWED_CHANGES);
    if (!device) {
        requested.format = AUDIO_S16;
        device = sdlOpenAudioDevice(nullptr, 0, &requested, &obtained, ALLOWED_CHANGES);
        if (!device) return GeneralFailure;
    }
    aEngine.finishBackendSetup(static_cast<uint32_t>(obtained.freq), obtained.samples, 1, obtained.channels);
    aEngine.mBackendCleanup = cleanup;
    sdlPauseAudioDevice(device, 0);
    aEngine.mBackendName = "SDL2 (dynamic)";
    aEngine.mBackendKind = BACKEND_SDL;
    return ResultOk;
}

Result startDeviceBackend(Engine &aEngine, uint32_t aSampleRate, uint32_t aBufferFrames) {
    return startSdlBackend(aEngine, aSampleRate, aBufferFrames);
}

} // namespace Murmel
