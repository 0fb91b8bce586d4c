// The audio engine's cost. Real-time factor = seconds of audio / seconds spent.
// Targets: mixBlock of 16 stereo voices >= 500x real time on one core, at
// 44100 Hz and resampling at 48000 Hz; decode and mix of both music streams >= 200x.
#include "audio/murmel.h"

#include <benchmark/benchmark.h>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace Murmel;

namespace {
constexpr uint32_t FRAMES = 2048;

// An endless stereo source of cheap, changing samples.
struct Synth : AudioSource {
    Synth() { mChannelCount = 2; }
    AudioSourceInstance *makeInstance() override;
};
// Copies from a fixed table, so that the benchmark measures the engine.
struct SynthInstance : AudioSourceInstance {
    static inline float table[2][BLOCK_FRAMES] = {};
    SynthInstance() {
        for (uint32_t i = 0; i < BLOCK_FRAMES; ++i) {
            table[0][i] = static_cast<float>(i % 101) * 0.001f;
            table[1][i] = static_cast<float>(i % 89) * -0.001f;
        }
    }
    uint32_t readFrames(float *d, uint32_t frames, uint32_t stride) override {
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(frames - done, BLOCK_FRAMES);
            std::memcpy(d + done, table[0], n * sizeof(float));
            std::memcpy(d + stride + done, table[1], n * sizeof(float));
            done += n;
        }
        return frames;
    }
    bool isFinished() override { return false; }
};
AudioSourceInstance *Synth::makeInstance() { return new SynthInstance; }

void reportRealTime(benchmark::State &state, double rate = 44100.0) {
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(state.iterations()) * FRAMES / rate,
                                                      benchmark::Counter::kIsRate);
}

// Arguments: voices, device rate. The sources are 44100 Hz, so at 48000 Hz
// every voice is resampled at a non-integer ratio, as on most desktops.
void BM_mixBlock(benchmark::State &state) {
    Engine engine;
    const auto rate = static_cast<uint32_t>(state.range(1));
    engine.finishBackendSetup(rate, FRAMES, 1, 2);
    Synth synth;
    const auto voices = static_cast<int>(state.range(0));
    std::unique_ptr<VoiceHandle[]> handles(new VoiceHandle[static_cast<size_t>(voices)]);
    for (int i = 0; i < voices; ++i) handles[static_cast<size_t>(i)] = engine.play(synth, 0.05f, -0.5f + 0.06f * static_cast<float>(i));
    int frame = 0;
    for (auto _ : state) {
        // Volumes change every block, as the show changes them every frame.
        for (int i = 0; i < voices; ++i) engine.setVolume(handles[static_cast<size_t>(i)], 0.05f + 0.001f * static_cast<float>(frame % 7));
        engine.mixBlock(FRAMES, FRAMES);
        ++frame;
        benchmark::DoNotOptimize(engine.mMixScratch.data);
    }
    reportRealTime(state, rate);
}
BENCHMARK(BM_mixBlock)->Args({2, 44100})->Args({16, 44100})->Args({16, 48000})->Unit(benchmark::kMicrosecond);

void BM_music_decode_and_mix(benchmark::State &state) {
    Engine engine;
    engine.finishBackendSetup(44100, FRAMES, 1, 2);
    WavStream melo, space;
    if (melo.loadFile("assets/vrom2022_melo.ogg") != ResultOk || space.loadFile("assets/vrom2022_space.ogg") != ResultOk) {
        state.SkipWithError("run from the repository root: the music is in assets/");
        return;
    }
    melo.mSourceFlags |= FLAG_LOOPING;
    space.mSourceFlags |= FLAG_LOOPING;
    const VoiceHandle a = engine.play(melo, 0.5f), b = engine.play(space, 0.5f);
    for (auto _ : state) {
        engine.setVolume(a, 0.6f);
        engine.setVolume(b, 0.4f);
        engine.mixBlock(FRAMES, FRAMES);
        benchmark::DoNotOptimize(engine.mMixScratch.data);
    }
    reportRealTime(state);
}
BENCHMARK(BM_music_decode_and_mix)->Unit(benchmark::kMicrosecond);

// stb_vorbis decoding the melody whole, against Debian's oggdec on the same
// file in the same run ("vs_oggdec" > 1: faster than oggdec).
void BM_vorbis_decode_vs_oggdec(benchmark::State &state) {
    const char *path = "assets/vrom2022_melo.ogg";
    if (std::system("command -v oggdec >/dev/null 2>&1") != 0) {
        state.SkipWithError("oggdec (vorbis-tools) is not installed");
        return;
    }
    double ours = 0, theirs = 0, seconds = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        int error = 0;
        stb_vorbis *v = stb_vorbis_open_filename(path, &error, nullptr);
        if (!v) {
            state.SkipWithError("cannot open the melody");
            return;
        }
        seconds = stb_vorbis_stream_length_in_seconds(v);
        float **frame = nullptr;
        int channels = 0;
        while (stb_vorbis_get_frame_float(v, &channels, &frame) > 0) benchmark::DoNotOptimize(frame);
        stb_vorbis_close(v);
        auto t1 = std::chrono::steady_clock::now();
        if (std::system("oggdec -Q -o /dev/null assets/vrom2022_melo.ogg") != 0) {
            state.SkipWithError("oggdec failed");
            return;
        }
        auto t2 = std::chrono::steady_clock::now();
        ours += std::chrono::duration<double>(t1 - t0).count();
        theirs += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["stb_realtime_x"] = seconds * static_cast<double>(state.iterations()) / ours;
    state.counters["oggdec_realtime_x"] = seconds * static_cast<double>(state.iterations()) / theirs;
    state.counters["vs_oggdec"] = theirs / ours;
}
BENCHMARK(BM_vorbis_decode_vs_oggdec)->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

namespace {
// What one 512-frame block read of a stereo WAV costs: through libsndfile
// (the file on disk, in the page cache) against straight from a memory image
// (the same samples). Arguments: 0 libsndfile, 1 memory; 0 float, 1 16-bit.
void BM_wav_block_read(benchmark::State &state) {
    const bool memory = state.range(0) == 1, pcm16 = state.range(1) == 1;
    const uint32_t frames = 44100 * 4, sampleBytes = pcm16 ? 2 : 4, dataBytes = frames * 2 * sampleBytes;
    std::vector<uint8_t> wav;
    auto u32 = [&wav](uint32_t v) { for (int i = 0; i < 4; ++i) wav.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    auto u16 = [&wav](uint32_t v) { for (int i = 0; i < 2; ++i) wav.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    auto tag = [&wav](const char *t) { for (int i = 0; i < 4; ++i) wav.push_back(static_cast<uint8_t>(t[i])); };
    tag("RIFF"); u32(36 + dataBytes); tag("WAVE"); tag("fmt "); u32(16); u16(pcm16 ? 1 : 3); u16(2);
    u32(44100); u32(44100 * 2 * sampleBytes); u16(2 * sampleBytes); u16(8 * sampleBytes); tag("data"); u32(dataBytes);
    for (uint32_t i = 0; i < 2 * frames; ++i) {
        const float x = 0.5f * static_cast<float>(std::sin(0.001 * i));
        if (pcm16) u16(static_cast<uint16_t>(static_cast<int16_t>(x * 32767)));
        else { uint32_t bits; std::memcpy(&bits, &x, 4); u32(bits); }
    }
    const std::string path = "/tmp/vrom_bench_read.wav";
    if (FILE *f = std::fopen(path.c_str(), "wb")) { std::fwrite(wav.data(), 1, wav.size(), f); std::fclose(f); }
    WavStream stream;
    if ((memory ? stream.loadMemory(wav.data(), static_cast<uint32_t>(wav.size())) : stream.loadFile(path.c_str())) != ResultOk) {
        state.SkipWithError("the WAV did not load");
        return;
    }
    std::unique_ptr<AudioSourceInstance> instance(stream.makeInstance());
    instance->initFromSource(stream, 0);
    std::vector<float> block(BLOCK_FRAMES * MAX_CHANNELS);
    for (auto _ : state) {
        if (instance->readFrames(block.data(), BLOCK_FRAMES, BLOCK_FRAMES) < BLOCK_FRAMES) instance->restart();
        benchmark::DoNotOptimize(block.data());
    }
    std::remove(path.c_str());
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * BLOCK_FRAMES,
                                                        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_wav_block_read)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);
} // namespace
