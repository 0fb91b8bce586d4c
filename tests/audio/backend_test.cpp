// The SDL back end: the callback's arithmetic, and starting through SDL.
#include "audio/murmel.h"
#include "audio/murmel_sdl.h"
#include "test_source.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using namespace Murmel;

namespace {

TEST(Callback, FloatStereoRequestsMixWholeBlocks) {
    Engine engine;
    engine.finishBackendSetup(44100, 2048, 1, 2);
    TestSource source(2);
    source.value = [](uint32_t i, uint32_t k) { return (k ? -0.001f : 0.001f) * static_cast<float>(i % 100); };
    engine.play(source, 1.0f);
    std::vector<uint8_t> out(16384);
    sdlMixInto(engine, AUDIO_F32, 2, out.data(), 16384);
    EXPECT_NEAR(engine.mMixTime, 2048 / 44100.0, 1e-9);
    const float *planar = engine.mMixScratch.data;
    for (uint32_t i = 0; i < 2048; ++i) {
        float l, r;
        std::memcpy(&l, &out[i * 8], 4);
        std::memcpy(&r, &out[i * 8 + 4], 4);
        ASSERT_EQ(l, planar[i]);
        ASSERT_EQ(r, planar[2048 + i]); // stride 2048
    }
    std::vector<uint8_t> small(4000, 0xEE);
    sdlMixInto(engine, AUDIO_F32, 2, small.data(), 4000); // 500 frames, stride 512
    EXPECT_NEAR(engine.mMixTime, 2548 / 44100.0, 1e-9);
    float r499;
    std::memcpy(&r499, &small[499 * 8 + 4], 4);
    EXPECT_EQ(r499, engine.mMixScratch.data[512 + 499]);
}

TEST(Callback, SixteenBitSamplesTruncateTowardZero) {
    EXPECT_EQ(sdlSampleToS16(0.5f), 16383);
    EXPECT_EQ(sdlSampleToS16(-0.5f), -16383);
    EXPECT_EQ(sdlSampleToS16(0.0f), 0);
    EXPECT_EQ(sdlSampleToS16(0.9862875f * 0.95f), 30701); // the clipper's ceiling
    Engine engine;
    engine.finishBackendSetup(44100, 2048, 1, 2);
    TestSource source;
    source.value = [](uint32_t, uint32_t) { return 0.3f; };
    engine.play(source, 1.0f);
    std::vector<uint8_t> out(8192);
    sdlMixInto(engine, AUDIO_S16, 2, out.data(), 8192); // 2048 frames
    int16_t s;
    std::memcpy(&s, &out[4 * 1000], 2);
    EXPECT_EQ(s, sdlSampleToS16(engine.mMixScratch.data[1000]));
    EXPECT_GT(s, 0);
}

// The conversion is exact: trunc(x * 32767) of the float's value, which the
// float product rounds wrongly next to many steps. NaN gives 0, and values
// past the ends give the ends.
TEST(Callback, SixteenBitConversionIsExactAndTotal) {
    int floatProductWrong = 0;
    for (int step = 1; step <= 32767; ++step) {
        const float at = static_cast<float>(step) / 32767.0f;
        for (const float x : {std::nextafter(at, 0.0f), at, std::nextafter(at, 2.0f)}) {
            // The exact product of a float and 32767 fits a double.
            const double exact = static_cast<double>(x) * 32767.0;
            const auto expected = static_cast<int16_t>(exact >= 32767.0 ? 32767 : static_cast<int>(exact));
            ASSERT_EQ(sdlSampleToS16(x), expected) << x;
            ASSERT_EQ(sdlSampleToS16(-x), -expected) << -x;
            if (static_cast<int16_t>(x * 32767.0f) != expected) ++floatProductWrong;
        }
    }
    EXPECT_GT(floatProductWrong, 0); // so the cases above can tell the two apart
    EXPECT_EQ(sdlSampleToS16(std::nanf("")), 0);
    EXPECT_EQ(sdlSampleToS16(1.5f), 32767);
    EXPECT_EQ(sdlSampleToS16(-std::numeric_limits<float>::infinity()), -32767);
}

TEST(Callback, NoBuffersGiveSilence) {
    Engine engine; // never set up
    std::vector<uint8_t> out(1024, 0x55);
    sdlMixInto(engine, AUDIO_F32, 2, out.data(), 1024);
    for (uint8_t b : out) ASSERT_EQ(b, 0);
}

TEST(Start, MissingLibraryRunsSilentThenTheRealOneLoadsOnce) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    Engine engine;
    setSdlLibraryName("libno-such-sdl.so.0");
    EXPECT_EQ(engine.start(44100, 2048), LibraryMissing);
    EXPECT_EQ(engine.mBackendKind, 0u);
    setSdlLibraryName("libSDL2-2.0.so.0");
    const int loads = sdlLibraryLoads();
    ASSERT_EQ(engine.start(44100, 2048), ResultOk);
    EXPECT_EQ(engine.mBackendKind, 2u);
    EXPECT_STREQ(engine.mBackendName, "SDL2 (dynamic)");
    EXPECT_EQ(engine.mSampleRate, 44100u);
    EXPECT_GE(engine.mScratchFrames, 4096u);
    EXPECT_NE(engine.mBackendCleanup, nullptr);
    engine.shutdown();
    EXPECT_EQ(engine.mBackendCleanup, nullptr);
    ASSERT_EQ(engine.start(44100, 2048), ResultOk); // again: no second look-up
    EXPECT_EQ(sdlLibraryLoads(), loads + 1);
    engine.shutdown();
    SDL_Quit();
}
} // namespace

namespace {
// Shutting down while SDL's audio thread mixes: the shutdown waits for the
// block in progress and reads the engine's lock state under the lock (run
// under ThreadSanitizer by the test command).
TEST(Start, ShutdownWhileTheDeviceMixes) { // after the first start, which looks the library up
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    Engine engine;
    TestSource source(2);
    source.mSourceFlags = FLAG_LOOPING;
    source.frames = 5000;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(engine.start(44100, 256), ResultOk);
        engine.play(source, 0.5f);
        const int before = TestSource::reads; // the mixer has read from the voice
        for (int i = 0; i < 200 && TestSource::reads == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        engine.shutdown();
        EXPECT_EQ(engine.mMixerMutex, nullptr);
        EXPECT_FALSE(engine.mInsideAudioThreadMutex);
    }
    EXPECT_EQ(TestSource::liveInstances.load(), 0);
}
} // namespace
