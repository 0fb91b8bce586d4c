// Resampling at any rate ratio: the output is one continuous linear
// interpolation of the source, across block edges, loops and device blocks
// of any length; ratios of a whole block per frame and more are silent.
#include "audio/murmel.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

using namespace Murmel;

namespace {
constexpr float CENTRE = 0.70710677f; // each side's gain at pan 0

// A source value with no pattern a resampler could get right by accident.
float noise(uint32_t i) { return static_cast<float>((i * 2654435761u) >> 20 & 1023) / 512.0f - 1.0f; }

// The engine's fixed-point step for a source rate played at an output rate.
uint32_t stepFor(float aSourceRate, float aOutputRate) {
    return static_cast<uint32_t>(std::floor(static_cast<double>(aSourceRate / aOutputRate) * 1048576.0));
}

// Output frame i of one linear interpolation of the whole source taken in one
// piece: at source position i * step, between the frames before and at it
// (the frame before frame 0 is silence), computed as the engine's arithmetic
// is, in single precision.
std::vector<float> interpolate(const std::function<float(uint64_t)> &aSource, uint32_t aStep, size_t aCount) {
    std::vector<float> out(aCount);
    for (size_t i = 0; i < aCount; ++i) {
        const uint64_t pos = static_cast<uint64_t>(i) * aStep;
        const uint64_t p = pos >> 20;
        const auto f = static_cast<float>(pos & 0xFFFFF);
        const float s2 = aSource(p), s1 = p ? aSource(p - 1) : 0.0f;
        out[i] = (s2 - s1) * f * (1.0f / 1048576.0f) + s1;
    }
    return out;
}

// The left channel of the bus, mixed without the clipper in device blocks of
// the given lengths, one after another. Each block first advances the voices'
// stream time as mixBlock does, so that a looping voice's seek behaves as it
// does in the demo.
std::vector<float> mixInBlocks(Engine &e, const std::vector<uint32_t> &aLengths) {
    std::vector<float> left;
    for (uint32_t frames : aLengths) {
        const uint32_t stride = (frames + 15) & ~15u;
        e.lockMixer();
        for (AudioSourceInstance *v : e.mVoices)
            if (v) v->mStreamSeconds += static_cast<double>(frames) / e.mSampleRate * v->mEffectiveSpeed;
        if (e.mActiveDirty) e.refreshActiveVoices();
        e.mixMainBus(e.mBusBuffer.data, frames, stride, e.mMixScratch.data, static_cast<float>(e.mSampleRate), 2);
        e.unlockMixer();
        left.insert(left.end(), e.mBusBuffer.data, e.mBusBuffer.data + frames);
    }
    return left;
}

const std::vector<uint32_t> ODD_BLOCKS = {100, 333, 2048, 1, 15, 600, 2048, 777, 2048, 1024};

void expectInterpolation(const std::vector<float> &aMixed, const std::vector<float> &aExpected, const char *aWhat) {
    ASSERT_EQ(aMixed.size(), aExpected.size());
    for (size_t i = 0; i < aMixed.size(); ++i)
        ASSERT_EQ(aMixed[i], aExpected[i] * CENTRE) << aWhat << ": output frame " << i;
}

TEST(ResampleRatios, NonIntegerRatiosAreOneContinuousInterpolation) {
    const struct { float source, output; } cases[] = {
        {44100, 48000}, {48000, 44100}, {22050, 48000}, {44100, 96000}, {44100, 44100}, {22050, 44100}};
    for (const auto &c : cases) {
        auto e = offlineEngine(static_cast<uint32_t>(c.output));
        TestSource source(1, c.source);
        source.value = [](uint32_t i, uint32_t) { return noise(i); };
        e->play(source, 1.0f);
        const std::vector<float> mixed = mixInBlocks(*e, ODD_BLOCKS);
        const auto expected = interpolate([](uint64_t p) { return noise(static_cast<uint32_t>(p)); },
                                          stepFor(c.source, c.output), mixed.size());
        const std::string what = std::to_string(c.source) + " -> " + std::to_string(c.output);
        expectInterpolation(mixed, expected, what.c_str());
    }
}

// A 1000-frame source looping from frame 100 plays 0..999, then 100..999 over
// and over, with no seam, at any ratio; the loop's seek leaves the frames
// already resampled in the block alone.
TEST(ResampleRatios, LoopingFromALaterFrameContinuesTheInterpolation) {
    for (const float rate : {44100.0f, 48000.0f}) {
        auto e = offlineEngine(static_cast<uint32_t>(rate));
        TestSource source(1, 44100.0f);
        source.frames = 1000;
        source.value = [](uint32_t i, uint32_t) { return noise(i); };
        source.mSourceFlags = FLAG_LOOPING;
        source.mLoopStart = 100.0 / 44100.0;
        e->play(source, 1.0f);
        const std::vector<float> mixed = mixInBlocks(*e, ODD_BLOCKS);
        const auto looped = [](uint64_t g) {
            return noise(static_cast<uint32_t>(g < 1000 ? g : 100 + (g - 1000) % 900));
        };
        const auto expected = interpolate(looped, stepFor(44100.0f, rate), mixed.size());
        expectInterpolation(mixed, expected, rate == 44100.0f ? "looping at 44100" : "looping at 48000");
        EXPECT_GE(e->mVoices[0]->mLoopsDone, 5u);
    }
}

// Ratios from a whole block per output frame up (a header that claims tens of
// megahertz) are silent, the mix returns, and the main thread's next volume
// change goes through. Just below, the voice still plays.
TEST(ResampleRatios, AWholeBlockPerFrameAndMoreIsSilentAndNeverHangs) {
    const struct { double ratio; bool audible; } cases[] = {
        {511, true}, {512, false}, {513, false}, {2047, false}, {2048, false}, {4294967295.0 / 44100, false}};
    for (const auto &c : cases) {
        auto e = offlineEngine(44100);
        TestSource source(1, static_cast<float>(44100 * c.ratio));
        source.value = [](uint32_t, uint32_t) { return 0.5f; };
        const VoiceHandle h = e->play(source, 1.0f);
        ASSERT_EQ(e->mixBlock(2048, 2048), 2048u) << c.ratio;
        e->mixBlock(2048, 2048);
        float peak = 0;
        for (uint32_t i = 0; i < 2 * 2048; ++i) peak = std::max(peak, std::fabs(e->mMixScratch.data[i]));
        if (c.audible) EXPECT_GT(peak, 0.1f) << "ratio " << c.ratio;
        else EXPECT_EQ(peak, 0.0f) << "ratio " << c.ratio;
        EXPECT_EQ(e->setVolume(h, 0.5f), ResultOk);
    }
}

// A silent voice (step 0) reads nothing, so it never reaches its end: it stays
// in its slot until it is stopped.
TEST(ResampleRatios, ASilentVoiceStaysUntilStopped) {
    auto e = offlineEngine(44100);
    TestSource source(1, 44100.0f * 600);
    source.frames = 512 * 3;
    const VoiceHandle h = e->play(source, 1.0f);
    e->mixBlock(2048, 2048);
    EXPECT_NE(e->voiceFromHandle(h), -1);
    source.stopInstances();
    EXPECT_EQ(e->voiceFromHandle(h), -1);
}
} // namespace

namespace {
// The level, in dB below the tone, of the strongest other component within
// 600 Hz of it: 4-term Blackman-Harris window (side lobes near -92 dB), a
// DFT every 0.5 Hz, the tone's own main lobe (+-10 Hz) left out.
double spuriousBelowTone(const std::vector<float> &aSignal, double aRate, double aTone) {
    const size_t n = aSignal.size();
    std::vector<double> windowed(n);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < n; ++i) {
        const double x = 2 * pi * static_cast<double>(i) / static_cast<double>(n - 1);
        windowed[i] = aSignal[i] * (0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x));
    }
    auto power = [&](double f) { // Goertzel
        const double w = 2 * std::cos(2 * pi * f / aRate);
        double s1 = 0, s2 = 0;
        for (double v : windowed) {
            const double s0 = v + w * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return s1 * s1 + s2 * s2 - w * s1 * s2;
    };
    double tone = 0, spur = 0;
    for (double f = aTone - 600; f <= aTone + 600; f += 0.5) {
        const double p = power(f);
        if (std::fabs(f - aTone) <= 10) tone = std::max(tone, p);
        else spur = std::max(spur, p);
    }
    return 10 * std::log10(tone / spur);
}

// A 997 Hz tone at 44100 Hz played on a 48000 Hz device: block edges leave no
// sidebands (a phase jump every block put them every 86 Hz, near -50 dB).
TEST(ResampleRatios, A44100HzToneAt48000HzHasNoSidebands) {
    auto e = offlineEngine(48000);
    TestSource source(1, 44100.0f);
    source.value = [](uint32_t i, uint32_t) {
        return static_cast<float>(0.5 * std::sin(2 * 3.14159265358979323846 * 997.0 * i / 44100.0));
    };
    e->play(source, 1.0f);
    std::vector<float> left;
    for (int block = 0; block < 60; ++block) { // 2.56 s; the first block left out
        e->mixBlock(2048, 2048);
        if (block > 0) left.insert(left.end(), e->mMixScratch.data, e->mMixScratch.data + 2048);
    }
    const double below = spuriousBelowTone(left, 48000, 997);
    std::printf("strongest component within 600 Hz of the tone: %.1f dB below it\n", below);
    EXPECT_GE(below, 70.0);
}
} // namespace
