// Helpers of the engine tests: a source of known samples (frame i of channel
// k is value(i, k), by default i + 1 + 1000 k, for `frames` frames or
// forever), an engine with buffers and no device, and a mixing thread that
// keeps what it heard.
#pragma once

#include "audio/murmel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

struct TestSource : Murmel::AudioSource {
    uint32_t frames = 0xFFFFFFFF; // length; the default never ends
    std::function<float(uint32_t, uint32_t)> value = [](uint32_t i, uint32_t k) {
        return static_cast<float>(i + 1 + 1000 * k);
    };
    static inline std::atomic<int> liveInstances{0};
    static inline std::atomic<int> reads{0};

    explicit TestSource(uint32_t aChannels = 1, float aRate = 44100.0f) {
        mChannelCount = aChannels;
        mSourceRate = aRate;
    }
    Murmel::AudioSourceInstance *makeInstance() override;
};

struct TestInstance : Murmel::AudioSourceInstance {
    TestSource *source;
    uint32_t position = 0;
    explicit TestInstance(TestSource *aSource) : source(aSource) { ++TestSource::liveInstances; }
    ~TestInstance() override { --TestSource::liveInstances; }
    uint32_t readFrames(float *aDestination, uint32_t aFrames, uint32_t aStride) override {
        ++TestSource::reads;
        uint32_t n = 0;
        for (; n < aFrames && position < source->frames; ++n, ++position)
            for (uint32_t k = 0; k < mChannelCount; ++k) aDestination[k * aStride + n] = source->value(position, k);
        return n;
    }
    bool isFinished() override { return position >= source->frames; }
    Murmel::Result restart() override {
        position = 0;
        mStreamSeconds = 0;
        return Murmel::ResultOk;
    }
};

inline Murmel::AudioSourceInstance *TestSource::makeInstance() { return new TestInstance(this); }

// An engine with its buffers sized for aRate and aFrames, and no device.
inline std::unique_ptr<Murmel::Engine> offlineEngine(uint32_t aRate = 44100, uint32_t aFrames = 2048) {
    auto engine = std::make_unique<Murmel::Engine>();
    engine->finishBackendSetup(aRate, aFrames, 1, 2);
    return engine;
}

// Mixes 512-frame blocks on a thread of its own until stopped, as a device
// callback would, and counts what it heard: blocks, blocks with a peak above
// 0.001, and samples that were NaN or beyond the clipper's ceiling.
class MixingThread {
public:
    explicit MixingThread(Murmel::Engine &aEngine)
        : mThread([this, &aEngine] {
              while (!mStop) {
                  aEngine.mixBlock(512, 512);
                  float peak = 0;
                  for (uint32_t i = 0; i < 1024; ++i) {
                      const float x = aEngine.mMixScratch.data[i];
                      if (!(std::fabs(x) <= 0.9862875f * 0.95f)) ++badSamples;
                      peak = std::max(peak, std::fabs(x));
                  }
                  if (peak > 0.001f) ++audibleBlocks;
                  ++blocks;
              }
          }) {}
    ~MixingThread() { stop(); }
    // Waits until n more blocks have been mixed.
    void waitBlocks(int aMore) {
        const int target = blocks + aMore;
        while (blocks < target) std::this_thread::yield();
    }
    void stop() {
        mStop = true;
        if (mThread.joinable()) mThread.join();
    }
    std::atomic<int> blocks{0}, audibleBlocks{0}, badSamples{0};

private:
    std::atomic<bool> mStop{false};
    std::thread mThread;
};
