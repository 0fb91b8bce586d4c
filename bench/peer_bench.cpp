// The mixer against the peer a Linux user would reach for: OpenAL Soft's
// loopback device (ALC_SOFT_loopback) mixing the same work in the same
// process, rounds of each alternating, so that both see the same machine.
//
// The work: N looping stereo sounds of 44100 Hz float samples (5 s each, each
// its own content) mixed to 2048-frame stereo float blocks at the device
// rate, every voice's volume changed every block, as the show changes them
// every frame. The engine streams each sound from a float WAV in memory (a
// WavStream per sound); OpenAL gives each sound its own buffer and source,
// with its linear resampler (AL_SOFT_source_resampler). With more than 16
// playing, the engine mixes the 16 loudest (its rule) and OpenAL all of them.
//
// Counters: engine_x and openal_x, real-time factors (seconds of sound per
// second spent, medians over the rounds), and vs_openal, the median of the
// rounds' ratios (above 1: the engine is faster).
#include "audio/murmel.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace Murmel;

namespace {
constexpr uint32_t BLOCK_FRAMES_OUT = 2048;   // frames per mixed block, as the demo's device buffer
constexpr uint32_t SOUND_FRAMES = 5 * 44100;  // each sound's length
constexpr int ROUNDS = 41;                    // alternating rounds per figure
constexpr int BLOCKS_PER_ROUND = 100;          // blocks each side mixes in a round

// Sound k: two detuned partials and a little noise per channel, in -0.5 .. 0.5.
std::vector<float> soundSamples(uint32_t k) {
    std::vector<float> s(2 * static_cast<size_t>(SOUND_FRAMES));
    uint32_t noise = 12345u + 977u * k;
    for (uint32_t i = 0; i < SOUND_FRAMES; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = i / 44100.0, f = 110.0 * (1 + k % 7) + 3.0 * k;
        const float n = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
        s[2 * i] = static_cast<float>(0.3 * std::sin(2 * M_PI * f * t)) + 0.05f * n;
        s[2 * i + 1] = static_cast<float>(0.3 * std::sin(2 * M_PI * 1.5 * f * t)) - 0.05f * n;
    }
    return s;
}

// The same samples as a float WAV file image.
std::vector<uint8_t> floatWav(const std::vector<float> &aSamples) {
    const auto dataBytes = static_cast<uint32_t>(aSamples.size() * 4);
    std::vector<uint8_t> w;
    auto text = [&w](const char *t) { for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(t[i])); };
    auto u16 = [&w](uint32_t v) { for (int i = 0; i < 2; ++i) w.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    auto u32 = [&w](uint32_t v) { for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    text("RIFF"); u32(36 + dataBytes); text("WAVE");
    text("fmt "); u32(16); u16(3); u16(2); u32(44100); u32(44100 * 8); u16(8); u16(32);
    text("data"); u32(dataBytes);
    const size_t at = w.size();
    w.resize(at + dataBytes);
    std::memcpy(w.data() + at, aSamples.data(), dataBytes);
    return w;
}

float voiceVolume(int aVoice, int aBlock) { return 0.04f + 0.002f * static_cast<float>((aBlock + aVoice) % 5); }

// ---- the engine's side ----------------------------------------------------------------------

struct EngineSide {
    Engine engine;
    std::vector<std::unique_ptr<WavStream>> streams;
    std::vector<VoiceHandle> voices;
    int block = 0;

    EngineSide(uint32_t aRate, int aVoices, const std::vector<std::vector<uint8_t>> &aWavs) {
        engine.finishBackendSetup(aRate, BLOCK_FRAMES_OUT, 1, 2);
        for (int i = 0; i < aVoices; ++i) {
            auto stream = std::make_unique<WavStream>();
            stream->loadMemory(aWavs[static_cast<size_t>(i) % aWavs.size()].data(),
                               static_cast<uint32_t>(aWavs[static_cast<size_t>(i) % aWavs.size()].size()));
            stream->mSourceFlags |= FLAG_LOOPING;
            voices.push_back(engine.play(*stream, voiceVolume(i, 0), -0.8f + 1.6f * static_cast<float>(i % 16) / 15.0f));
            streams.push_back(std::move(stream));
        }
    }
    void mix() {
        for (size_t i = 0; i < voices.size(); ++i) engine.setVolume(voices[i], voiceVolume(static_cast<int>(i), block));
        engine.mixBlock(BLOCK_FRAMES_OUT, BLOCK_FRAMES_OUT);
        benchmark::DoNotOptimize(engine.mMixScratch.data);
        ++block;
    }
};

// ---- OpenAL Soft's side ------------------------------------------------------------------------

struct OpenAlSide {
    ALCdevice *device = nullptr;
    ALCcontext *context = nullptr;
    std::vector<ALuint> buffers, sources;
    std::vector<float> out;
    LPALCRENDERSAMPLESSOFT renderSamples = nullptr;
    int block = 0;
    std::string problem; // why it could not be set up, or empty

    OpenAlSide(uint32_t aRate, int aVoices, const std::vector<std::vector<float>> &aSounds) {
        if (!alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")) {
            problem = "OpenAL has no loopback device (ALC_SOFT_loopback)";
            return;
        }
        auto openLoopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
        renderSamples = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
        device = openLoopback(nullptr);
        if (!device) {
            problem = "the loopback device did not open";
            return;
        }
        const ALCint attributes[] = {ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT, ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT,
                                     ALC_FREQUENCY, static_cast<ALCint>(aRate), ALC_HRTF_SOFT, ALC_FALSE,
                                     ALC_MONO_SOURCES, 0, ALC_STEREO_SOURCES, 256, 0};
        context = alcCreateContext(device, attributes);
        if (!context || !alcMakeContextCurrent(context)) {
            problem = "no OpenAL context";
            return;
        }
        ALint linear = -1;
        if (alIsExtensionPresent("AL_SOFT_source_resampler")) {
            auto resamplerName = reinterpret_cast<LPALGETSTRINGISOFT>(alGetProcAddress("alGetStringiSOFT"));
            const ALint count = alGetInteger(AL_NUM_RESAMPLERS_SOFT);
            for (ALint i = 0; i < count; ++i)
                if (std::strcmp(resamplerName(AL_RESAMPLER_NAME_SOFT, i), "Linear") == 0) linear = i;
        }
        if (linear < 0) {
            problem = "OpenAL offers no linear resampler";
            return;
        }
        for (int i = 0; i < aVoices; ++i) {
            const std::vector<float> &sound = aSounds[static_cast<size_t>(i) % aSounds.size()];
            ALuint buffer = 0, source = 0;
            alGenBuffers(1, &buffer);
            alBufferData(buffer, AL_FORMAT_STEREO_FLOAT32, sound.data(), static_cast<ALsizei>(sound.size() * 4), 44100);
            alGenSources(1, &source);
            alSourcei(source, AL_BUFFER, static_cast<ALint>(buffer));
            alSourcei(source, AL_LOOPING, AL_TRUE);
            alSourcei(source, AL_SOURCE_RESAMPLER_SOFT, linear);
            alSourcef(source, AL_GAIN, voiceVolume(i, 0));
            alSourcePlay(source);
            buffers.push_back(buffer);
            sources.push_back(source);
        }
        if (alGetError() != AL_NO_ERROR) problem = "OpenAL refused a buffer or source";
        out.resize(2 * BLOCK_FRAMES_OUT);
    }
    ~OpenAlSide() {
        if (!sources.empty()) alDeleteSources(static_cast<ALsizei>(sources.size()), sources.data());
        if (!buffers.empty()) alDeleteBuffers(static_cast<ALsizei>(buffers.size()), buffers.data());
        alcMakeContextCurrent(nullptr);
        if (context) alcDestroyContext(context);
        if (device) alcCloseDevice(device);
    }
    void mix() {
        for (size_t i = 0; i < sources.size(); ++i) alSourcef(sources[i], AL_GAIN, voiceVolume(static_cast<int>(i), block));
        renderSamples(device, out.data(), BLOCK_FRAMES_OUT);
        benchmark::DoNotOptimize(out.data());
        ++block;
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

template <class Side> double secondsFor(Side &aSide) {
    const auto began = std::chrono::steady_clock::now();
    for (int b = 0; b < BLOCKS_PER_ROUND; ++b) aSide.mix();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

// Arguments: playing voices, device rate.
void BM_mixer_vs_openal(benchmark::State &state) {
    const auto voices = static_cast<int>(state.range(0));
    const auto rate = static_cast<uint32_t>(state.range(1));
    std::vector<std::vector<float>> sounds;
    std::vector<std::vector<uint8_t>> wavs;
    for (uint32_t k = 0; k < 16; ++k) {
        sounds.push_back(soundSamples(k));
        wavs.push_back(floatWav(sounds.back()));
    }
    EngineSide ours(rate, voices, wavs);
    OpenAlSide theirs(rate, voices, sounds);
    if (!theirs.problem.empty()) {
        state.SkipWithError(theirs.problem.c_str());
        return;
    }
    for (int b = 0; b < 20; ++b) { // both warmed up: decoders open, caches filled
        ours.mix();
        theirs.mix();
    }
    std::vector<double> oursSeconds, theirSeconds, ratios;
    for (auto _ : state) {
        for (int r = 0; r < ROUNDS; ++r) {
            const double a = secondsFor(theirs), b = secondsFor(ours);
            theirSeconds.push_back(a);
            oursSeconds.push_back(b);
            ratios.push_back(a / b);
        }
    }
    const double audio = static_cast<double>(BLOCKS_PER_ROUND) * BLOCK_FRAMES_OUT / rate;
    state.counters["engine_x"] = audio / median(oursSeconds);
    state.counters["openal_x"] = audio / median(theirSeconds);
    state.counters["vs_openal"] = median(ratios);
}
BENCHMARK(BM_mixer_vs_openal)
    ->ArgsProduct({{1, 4, 16, 64}, {48000, 44100}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
} // namespace
