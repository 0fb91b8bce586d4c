// A source of known samples for engine tests: frame i of channel k is
// value(i, k) (by default i + 1 + 1000 k), for `frames` frames or forever.
#pragma once

#include "audio/murmel.h"

#include <atomic>
#include <functional>

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
