// The mixer: resampling, gain ramps, channel spreading, looping, the clipper.
#include "audio/murmel.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using namespace Murmel;

namespace {
constexpr float CENTRE = 0.70710677f; // the gain of each side at pan 0

// Mixes one block onto the bus without the clipper; returns the two channels.
struct Bus {
    std::vector<float> left, right;
};
Bus mixBus(Engine &e, uint32_t frames) {
    const uint32_t stride = (frames + 15) & ~15u;
    e.lockMixer();
    if (e.mActiveDirty) e.refreshActiveVoices();
    e.mixMainBus(e.mBusBuffer.data, frames, stride, e.mMixScratch.data, static_cast<float>(e.mSampleRate), 2);
    e.unlockMixer();
    return {{e.mBusBuffer.data, e.mBusBuffer.data + frames},
            {e.mBusBuffer.data + stride, e.mBusBuffer.data + stride + frames}};
}

TEST(Resampling, SameRateRunsOneFrameBehindTheSource) {
    auto e = offlineEngine();
    TestSource source; // frame i is i + 1
    e->play(source, 1.0f);
    const Bus bus = mixBus(*e, 2048);
    EXPECT_EQ(bus.left[0], 0.0f); // the cleared previous block
    for (uint32_t i = 1; i < 2048; ++i) ASSERT_EQ(bus.left[i], static_cast<float>(i) * CENTRE) << i;
    EXPECT_EQ(bus.right[100], bus.left[100]); // mono on both sides
}

TEST(Resampling, HalfRateGives1024OutputFramesPerSourceBlock) {
    auto e = offlineEngine();
    TestSource source(1, 22050.0f);
    e->play(source, 1.0f);
    TestSource::reads = 0;
    const Bus bus = mixBus(*e, 2048);
    EXPECT_EQ(TestSource::reads.load(), 2);
    // Halfway between source frames 0 (value 1) and 1 (value 2) at output frame 3.
    EXPECT_FLOAT_EQ(bus.left[3], 1.5f * CENTRE);
    EXPECT_FLOAT_EQ(bus.left[1024], 512.0f * CENTRE);
}

TEST(Resampling, BlocksOfAnyLengthJoinWithoutGaps) {
    auto e = offlineEngine();
    TestSource source;
    e->play(source, 1.0f);
    std::vector<float> joined;
    for (uint32_t frames : {100u, 333u, 2048u, 1u, 15u, 600u}) {
        const Bus bus = mixBus(*e, frames);
        joined.insert(joined.end(), bus.left.begin(), bus.left.end());
    }
    for (uint32_t i = 1; i < joined.size(); ++i) ASSERT_EQ(joined[i], static_cast<float>(i) * CENTRE) << i;
}

// A constant 1.0 voice started silent, mixed for one block of `frames`, then
// set to full volume: the block mixed after the change.
Bus rampToFull(Engine &e, TestSource &source, uint32_t frames) {
    source.value = [](uint32_t, uint32_t) { return 1.0f; };
    const VoiceHandle h = e.play(source, 0.0f);
    mixBus(e, frames);
    e.setVolume(h, 1.0f);
    return mixBus(e, frames);
}

TEST(Ramps, VolumeChangeRampsAcrossTheNextBlock) {
    auto e = offlineEngine();
    TestSource source;
    const Bus bus = rampToFull(*e, source, 2048);
    EXPECT_FLOAT_EQ(bus.left[0], CENTRE / 2048);
    EXPECT_FLOAT_EQ(bus.left[1023], CENTRE * 1024 / 2048);
    EXPECT_FLOAT_EQ(bus.left[2047], CENTRE);
    const Bus steady = mixBus(*e, 2048);
    EXPECT_EQ(steady.left[5], CENTRE);
}

TEST(Ramps, RemainderAfterTheLastGroupOfFourContinuesTheRamp) {
    auto e = offlineEngine();
    TestSource source;
    const Bus bus = rampToFull(*e, source, 7);
    for (uint32_t j = 0; j < 7; ++j) EXPECT_NEAR(bus.left[j], CENTRE * static_cast<float>(j + 1) / 7, 1e-6f) << j;
}

TEST(Spreading, ChannelRules) {
    struct Case {
        uint32_t channels;
        float left, right;
    };
    // Source channel k holds k + 1 everywhere.
    const Case cases[] = {{1, 1, 1}, {2, 1, 2}, {4, 2, 3}, {6, 3.9f, 4.5f}, {8, 4, 4.6f}, {3, 0, 0}, {5, 0, 0}};
    for (const Case &c : cases) {
        auto e = offlineEngine();
        TestSource source(c.channels);
        source.value = [](uint32_t, uint32_t k) { return static_cast<float>(k + 1); };
        e->play(source, 1.0f);
        mixBus(*e, 64);
        const Bus bus = mixBus(*e, 64);
        EXPECT_FLOAT_EQ(bus.left[10], c.left * CENTRE) << c.channels << " channels";
        EXPECT_FLOAT_EQ(bus.right[10], c.right * CENTRE) << c.channels << " channels";
    }
}

TEST(Endings, ANonLoopingSourcePadsWithSilenceAndIsReleasedAfterTheBlock) {
    auto e = offlineEngine();
    TestSource source;
    source.frames = 300;
    const VoiceHandle h = e->play(source, 1.0f);
    const Bus bus = mixBus(*e, 2048);
    EXPECT_EQ(bus.left[300], 300.0f * CENTRE);
    EXPECT_EQ(bus.left[301], 0.0f);
    EXPECT_EQ(bus.left[2047], 0.0f);
    EXPECT_EQ(e->voiceFromHandle(h), -1);
    EXPECT_EQ(e->mVoices[0], nullptr);
}

TEST(Endings, ALoopingSourceContinuesInTheSameBlockFromItsStart) {
    auto e = offlineEngine();
    TestSource source;
    source.frames = 300;
    source.mSourceFlags = FLAG_LOOPING;
    e->play(source, 1.0f);
    const Bus bus = mixBus(*e, 2048);
    for (uint32_t i = 1; i < 2048; ++i)
        ASSERT_EQ(bus.left[i], static_cast<float>((i - 1) % 300 + 1) * CENTRE) << i;
    EXPECT_GE(e->mVoices[0]->mLoopsDone, 6u);
}

// A loop shorter than 64 frames would need a seek every few frames: its cycle
// plays once per source block and the block's rest is silence. A 64-frame
// cycle still fills every block.
TEST(Endings, ALoopShorterThan64FramesPlaysOncePerBlock) {
    for (const uint32_t cycle : {40u, MIN_LOOP_CYCLE_FRAMES}) {
        SCOPED_TRACE(std::to_string(cycle) + "-frame cycle");
        auto e = offlineEngine();
        TestSource source;
        source.frames = cycle;
        source.mSourceFlags = FLAG_LOOPING;
        e->play(source, 1.0f);
        const Bus bus = mixBus(*e, 1024);
        for (uint32_t i = 1; i < 1024; ++i) {
            // Output frame i is source frame i - 1 of the blocks read.
            const uint32_t inBlock = (i - 1) % BLOCK_FRAMES, firstBlock = i - 1 < BLOCK_FRAMES;
            const bool heard = cycle == MIN_LOOP_CYCLE_FRAMES || inBlock < cycle * (1 + firstBlock);
            ASSERT_EQ(bus.left[i], heard ? static_cast<float>(inBlock % cycle + 1) * CENTRE : 0.0f) << i;
        }
    }
}

// Seconds of the stream are seconds of the source: a voice at twice the speed
// that seeks to 0.25 s lands on the source's frame at 0.25 s.
TEST(Endings, ASeekLandsOnTheSameFrameAtAnySpeed) {
    for (const float speed : {1.0f, 2.0f, 0.5f}) {
        auto e = offlineEngine();
        TestSource source;
        const VoiceHandle h = e->play(source, 1.0f);
        e->lockMixer();
        ASSERT_EQ(e->applyVoiceSpeed(static_cast<uint32_t>(e->voiceFromHandle(h)), speed), ResultOk);
        e->unlockMixer();
        auto *voice = static_cast<TestInstance *>(e->mVoices[0]);
        ASSERT_EQ(voice->seekTo(0.25, e->mMixScratch.data, e->mScratchFrames), ResultOk);
        EXPECT_EQ(voice->position, 11025u) << "speed " << speed;
    }
}

TEST(Clipper, RoundOffCurveAndPostClipScale) {
    auto e = offlineEngine();
    const uint32_t stride = 16;
    const float inputs[] = {1.0f, 2.0f, -2.0f, 0.0f, 1.65f, -1.65f, 0.5f};
    for (uint32_t c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < stride; ++i) e->mBusBuffer.data[c * stride + i] = inputs[i % 7];
    e->clipOutput(e->mBusBuffer, e->mMixScratch, stride, 1.0f, 1.0f);
    const float *out = e->mMixScratch.data;
    EXPECT_NEAR(out[0], 0.7315f, 1e-6f);
    EXPECT_EQ(out[1], 0.9862875f * 0.95f);
    EXPECT_EQ(out[2], -0.9862875f * 0.95f);
    EXPECT_EQ(out[3], 0.0f);
    EXPECT_NEAR(out[4], 0.9862875f * 0.95f, 1e-6f); // the curve meets its limit
    EXPECT_NEAR(out[stride + 0], out[0], 0.0f);     // the second channel too
}

// A NaN (a float file can hold one) becomes silence, never a NaN sample for
// the device; infinities take the limits.
TEST(Clipper, NanIsSilencedAndInfinitiesClip) {
    auto e = offlineEngine();
    const float inputs[4] = {std::nanf(""), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), 0.5f};
    for (uint32_t i = 0; i < 32; ++i) e->mBusBuffer.data[i] = inputs[i % 4];
    e->clipOutput(e->mBusBuffer, e->mMixScratch, 16, 1.0f, 1.0f);
    for (uint32_t c = 0; c < 2; ++c) {
        const float *out = e->mMixScratch.data + 16 * c;
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[1], 0.9862875f * 0.95f);
        EXPECT_EQ(out[2], -0.9862875f * 0.95f);
        EXPECT_EQ(out[3], (0.87f * 0.5f - 0.1f * (0.5f * 0.5f * 0.5f)) * 0.95f);
    }
}

TEST(MixBlock, SilenceBeforeAnyVoiceAndTooLargeRequestsAreCut) {
    auto e = offlineEngine();
    EXPECT_EQ(e->mixBlock(2048, 2048), 2048u);
    for (uint32_t i = 0; i < 2 * 2048; ++i) ASSERT_EQ(e->mMixScratch.data[i], 0.0f);
    EXPECT_EQ(e->mixBlock(100000, 100000), e->mScratchFrames); // never past the buffers
    EXPECT_NEAR(e->mMixTime, (2048 + 4096) / 44100.0, 1e-6);
}
} // namespace
