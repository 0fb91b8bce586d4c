// The engine core: handles, slots, buffers, active voices, voice operations.
#include "audio/murmel.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using namespace Murmel;

namespace {
TEST(Handles, PackSlotAndSerialAndResolveOnlyLiveVoices) {
    auto engine = offlineEngine();
    TestSource source;
    const VoiceHandle first = engine->play(source, 1.0f);
    EXPECT_EQ(first, 0x00000001u);
    for (int i = 0; i < 4; ++i) engine->play(source, 1.0f); // slots 1..4, serials 1..4
    engine->mNextPlaySerial = 3;
    EXPECT_EQ(engine->play(source, 1.0f), 0x00003006u); // slot 5, serial 3
    EXPECT_EQ(engine->voiceFromHandle(0x00003006u), 5);
    EXPECT_EQ(engine->voiceFromHandle(first), 0);
    EXPECT_EQ(engine->voiceFromHandle(0), -1);
    EXPECT_EQ(engine->voiceFromHandle(0x00001000u), -1); // low bits 0
    EXPECT_EQ(engine->voiceFromHandle(0xFFFFF001u), -1);
    EXPECT_EQ(engine->voiceFromHandle(0x00002001u), -1); // slot 0 has serial 0, not 2
    engine->lockMixer();
    engine->releaseVoice(0);
    engine->unlockMixer();
    EXPECT_EQ(engine->voiceFromHandle(first), -1); // stale
}

TEST(Handles, SerialsWrapAfter0xFFFFE) {
    auto engine = offlineEngine();
    TestSource source;
    engine->mNextPlaySerial = 0xFFFFE;
    const VoiceHandle h = engine->play(source, 1.0f);
    EXPECT_EQ(h >> 12, 0xFFFFEu);
    EXPECT_EQ(engine->mNextPlaySerial, 0u);
    EXPECT_EQ(engine->voiceFromHandle(h), 0);
}

TEST(Slots, FullTableStealsTheOldestUnprotectedVoice) {
    auto engine = offlineEngine();
    TestSource source;
    for (uint32_t i = 0; i < VOICE_COUNT; ++i) engine->play(source, 1.0f);
    EXPECT_EQ(engine->mVoiceHighWater, VOICE_COUNT);
    engine->mVoices[0]->mVoiceFlags |= FLAG_PROTECTED; // serial 0 is protected
    const VoiceHandle h = engine->play(source, 1.0f);
    EXPECT_EQ(h, (1u + 1) | (1024u << 12)); // slot 1 (serial 1, the oldest unprotected)
    EXPECT_EQ(TestSource::liveInstances.load(), static_cast<int>(VOICE_COUNT));
    // Ties on serials go to the lowest slot.
    engine->mVoices[7]->mPlaySerial = engine->mVoices[3]->mPlaySerial = 2;
    engine->mVoices[2]->mVoiceFlags |= FLAG_PROTECTED;
    EXPECT_EQ(engine->voiceFromHandle(engine->play(source, 1.0f)), 3);
}

TEST(Slots, AllProtectedGivesHandleZeroAndStopsNothing) {
    auto engine = offlineEngine();
    TestSource source;
    for (uint32_t i = 0; i < VOICE_COUNT; ++i) engine->play(source, 1.0f);
    for (AudioSourceInstance *v : engine->mVoices) v->mVoiceFlags |= FLAG_PROTECTED;
    const int before = TestSource::liveInstances;
    EXPECT_EQ(engine->play(source, 1.0f), 0u); // never 7, a handle that may name a voice
    EXPECT_EQ(TestSource::liveInstances.load(), before);
    for (AudioSourceInstance *v : engine->mVoices) ASSERT_NE(v, nullptr);
}

TEST(Slots, HighWaterFollowsTheTopSlotOneStepPerPlay) {
    auto engine = offlineEngine();
    TestSource source;
    for (int i = 0; i < 4; ++i) engine->play(source, 1.0f);
    engine->lockMixer();
    engine->releaseVoice(3);
    engine->releaseVoice(2);
    engine->unlockMixer();
    EXPECT_EQ(engine->mVoiceHighWater, 4u);
    engine->play(source, 1.0f); // lowers by one, then takes slot 2
    EXPECT_EQ(engine->mVoiceHighWater, 3u);
}

TEST(Buffers, ScratchSizeAndAlignment) {
    auto engine = offlineEngine(44100, 2048);
    EXPECT_EQ(engine->mScratchFrames, 4096u);
    engine->finishBackendSetup(44100, 5000, 1, 2);
    EXPECT_EQ(engine->mScratchFrames, 5008u);
    EXPECT_EQ(engine->mMixScratch.count, 5008u * 8);
    for (const float *p : {engine->mMixScratch.data, engine->mBusBuffer.data, engine->mResampleStorage.data})
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(engine->mResampleBlocks[3] - engine->mResampleBlocks[2], 4096);
    EXPECT_EQ(engine->mPostClipScale, 0.95f);
    EXPECT_EQ(engine->mMasterVolume, 1.0f);
}

TEST(Lifecycle, ShutdownStopsTheVoicesDestroysTheMutexAndMayBeRepeated) {
    Engine engine;
    engine.shutdown(); // never started: harmless
    EXPECT_EQ(engine.mixBlock(2048, 2048), 0u); // no buffers: nothing mixed
    engine.mMixerMutex = new platform::Mutex; // as start makes it
    engine.finishBackendSetup(44100, 2048, 1, 2);
    TestSource source;
    engine.play(source, 1.0f);
    engine.play(source, 1.0f);
    EXPECT_EQ(TestSource::liveInstances.load(), 2);
    engine.shutdown();
    EXPECT_EQ(engine.mMixerMutex, nullptr);
    EXPECT_EQ(TestSource::liveInstances.load(), 0);
    EXPECT_FALSE(engine.mInsideAudioThreadMutex);
    engine.shutdown(); // twice: harmless
    EXPECT_EQ(engine.mMixerMutex, nullptr);
}

// ---- active voices -------------------------------------------------------------------------

std::vector<uint32_t> activeSlots(Engine &e) {
    return {e.mActiveList, e.mActiveList + e.mActiveCount};
}

TEST(ActiveVoices, UpToSixteenAllMixedInSlotOrderKeepTickingFirst) {
    auto engine = offlineEngine();
    TestSource source;
    for (int i = 0; i < 6; ++i) engine->play(source, 0.1f * static_cast<float>(i));
    engine->mVoices[4]->mVoiceFlags |= FLAG_KEEP_TICKING;
    engine->mVoices[2]->mVoiceFlags |= FLAG_PAUSED; // not a candidate
    engine->lockMixer();
    engine->refreshActiveVoices();
    engine->unlockMixer();
    // Each keep-ticking voice is swapped to the front as it is found: slot 4
    // trades places with slot 0, which lands behind slot 3.
    EXPECT_EQ(activeSlots(*engine), (std::vector<uint32_t>{4, 1, 3, 0, 5}));
}

TEST(ActiveVoices, SeventeenOrMoreGiveKeepTickingThenTheLoudestSixteen) {
    auto engine = offlineEngine();
    TestSource source;
    const float volumes[24] = {0.5f, 0.9f, 0.1f, 0.7f, 0.3f, 0.95f, 0.2f, 0.8f, 0.05f, 0.6f, 0.4f, 0.85f,
                               0.15f, 0.65f, 0.35f, 0.75f, 0.25f, 0.55f, 0.45f, 0.01f, 0.99f, 0.02f, 0.03f, 0.04f};
    for (float v : volumes) engine->play(source, v);
    engine->mVoices[19]->mVoiceFlags |= FLAG_KEEP_TICKING; // quiet, but kept
    engine->lockMixer();
    engine->refreshActiveVoices();
    engine->unlockMixer();
    ASSERT_EQ(engine->mActiveCount, 16u);
    EXPECT_EQ(engine->mActiveList[0], 19u);
    std::vector<uint32_t> bySlot(24);
    for (uint32_t i = 0; i < 24; ++i) bySlot[i] = i;
    bySlot.erase(bySlot.begin() + 19);
    std::sort(bySlot.begin(), bySlot.end(), [&](uint32_t a, uint32_t b) { return volumes[a] > volumes[b]; });
    const std::set<uint32_t> expected(bySlot.begin(), bySlot.begin() + 15);
    const std::set<uint32_t> chosen(engine->mActiveList + 1, engine->mActiveList + 16);
    EXPECT_EQ(chosen, expected);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_NE(engine->mVoices[engine->mActiveList[i]]->mBlock[0], nullptr);
}

TEST(ActiveVoices, AVoiceKeepsItsBlocksAndAReturningVoiceGetsClearedOnes) {
    auto engine = offlineEngine();
    TestSource source;
    for (int i = 0; i < 18; ++i) engine->play(source, 0.5f + 0.01f * static_cast<float>(i));
    engine->mixBlock(2048, 2048);
    AudioSourceInstance *first = engine->mVoices[17]; // the loudest
    float *pair[2] = {first->mBlock[0], first->mBlock[1]};
    ASSERT_NE(pair[0], nullptr);
    const VoiceHandle h = 18 | (17u << 12);
    engine->setVolume(h, 0.9f); // the list is rebuilt; the voice stays active
    engine->mixBlock(2048, 2048);
    const std::set<float *> now{first->mBlock[0], first->mBlock[1]};
    EXPECT_EQ(now, (std::set<float *>{pair[0], pair[1]})); // the same pair, swapped each block
    EXPECT_NE(first->mBlock[1][0], 0.0f);                   // holding the source's samples
    engine->setVolume(h, 0.0f); // now the quietest of 18: not mixed, its pair taken back
    engine->mixBlock(2048, 2048);
    EXPECT_EQ(first->mBlock[0], nullptr);
    engine->setVolume(h, 1.0f); // back among the loudest: a cleared pair
    engine->lockMixer();
    engine->refreshActiveVoices();
    engine->unlockMixer();
    ASSERT_NE(first->mBlock[0], nullptr);
    for (uint32_t i = 0; i < BLOCK_FRAMES * MAX_CHANNELS; ++i) {
        ASSERT_EQ(first->mBlock[0][i], 0.0f);
        ASSERT_EQ(first->mBlock[1][i], 0.0f);
    }
}

TEST(ActiveVoices, SeventeenKeepTickingVoicesAreMixedWithBlocksOfTheirOwn) {
    auto engine = offlineEngine();
    TestSource source;
    source.mSourceFlags = FLAG_KEEP_TICKING;
    for (int i = 0; i < 17; ++i) engine->play(source, 1.0f);
    engine->mixBlock(2048, 2048);
    ASSERT_EQ(engine->mActiveCount, 16u);
    std::set<float *> blocks;
    for (uint32_t i = 0; i < 16; ++i) {
        AudioSourceInstance *v = engine->mVoices[engine->mActiveList[i]];
        ASSERT_NE(v->mBlock[0], nullptr) << i;
        blocks.insert(v->mBlock[0]);
        blocks.insert(v->mBlock[1]);
    }
    EXPECT_EQ(blocks.size(), 32u); // sixteen distinct pairs
    EXPECT_NE(engine->mMixScratch.data[100], 0.0f); // and they were mixed
}

// ---- voice operations ---------------------------------------------------------------------------

TEST(VoiceOps, PanLawAndSpeed) {
    auto engine = offlineEngine();
    TestSource mono, eight(8);
    engine->play(mono, 1.0f, 0.0f);
    engine->play(eight, 1.0f, -1.0f);
    EXPECT_EQ(engine->mVoices[0]->mSpeakerGain[0], 0.70710677f);
    EXPECT_EQ(engine->mVoices[0]->mSpeakerGain[1], 0.70710677f);
    const float *g = engine->mVoices[1]->mSpeakerGain;
    EXPECT_EQ(g[0], 1.0f);
    EXPECT_NEAR(g[1], 0.0f, 1e-7f);
    EXPECT_EQ(g[2], 0.70710677f);
    EXPECT_EQ(g[3], 1.0f);
    EXPECT_EQ(g[4], g[0]);
    EXPECT_EQ(g[7], g[1]);
    engine->lockMixer();
    EXPECT_EQ(engine->applyVoiceSpeed(0, 0.0f), BadArgument);
    EXPECT_EQ(engine->mVoices[0]->mPlayRate, 44100.0f);
    EXPECT_EQ(engine->applyVoiceSpeed(0, 0.5f), ResultOk);
    EXPECT_EQ(engine->mVoices[0]->mPlayRate, 22050.0f);
    engine->unlockMixer();
}

TEST(VoiceOps, SetVolumeWithHandleZeroTakesTheLockAndChangesNothing) {
    auto engine = offlineEngine();
    engine->mMixerMutex = new platform::Mutex;
    TestSource source;
    engine->play(source, 0.25f);
    engine->lockMixer(); // held by "the audio thread"
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        engine->setVolume(0, 1.0f);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load()); // it waits for the lock
    engine->unlockMixer();
    caller.join();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(engine->mInsideAudioThreadMutex);
    EXPECT_EQ(engine->mVoices[0]->mRequestedVolume, 0.25f);
    engine->shutdown();
}

// A NaN volume would make the whole mix NaN: it is refused and the volume
// stays. play takes the source's default for a NaN (as for a negative)
// volume, and centres a NaN pan.
TEST(VoiceOps, NanVolumesAndPansNeverReachTheMix) {
    auto engine = offlineEngine();
    TestSource source;
    source.mDefaultVolume = 0.75f;
    const VoiceHandle h = engine->play(source, 0.5f);
    EXPECT_EQ(engine->setVolume(h, std::nanf("")), BadArgument);
    EXPECT_EQ(engine->mVoices[0]->mRequestedVolume, 0.5f);
    EXPECT_EQ(engine->setVolume(h, 0.25f), ResultOk);
    EXPECT_EQ(engine->mVoices[0]->mRequestedVolume, 0.25f);
    engine->play(source, std::nanf(""), std::nanf(""));
    engine->play(source, -1.0f, 1.0f);
    EXPECT_EQ(engine->mVoices[1]->mRequestedVolume, 0.75f);
    EXPECT_EQ(engine->mVoices[1]->mSpeakerGain[0], 0.70710677f);
    EXPECT_EQ(engine->mVoices[1]->mSpeakerGain[1], 0.70710677f);
    EXPECT_EQ(engine->mVoices[2]->mRequestedVolume, 0.75f); // negative: the default too
    EXPECT_NEAR(engine->mVoices[2]->mSpeakerGain[0], 0.0f, 1e-7f); // full right
    EXPECT_EQ(engine->mVoices[2]->mSpeakerGain[1], 1.0f);
    engine->mixBlock(2048, 2048);
    for (uint32_t i = 0; i < 2 * 2048; ++i) ASSERT_FALSE(std::isnan(engine->mMixScratch.data[i])) << i;
}

TEST(VoiceOpsDeathTest, SlotOutOfRangeStopsWithTheAssertionReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Engine engine;
            engine.lockMixer();
            engine.applyVoiceVolume(VOICE_COUNT, 1.0f);
        },
        "^murmel_core_voiceops\\(106\\): assert\\(aVoice < VOICE_COUNT\\) failed\\.\n");
    EXPECT_DEATH(
        {
            Engine engine;
            engine.releaseVoice(0); // without the lock
        },
        "murmel_core_voiceops\\(119\\): assert\\(mInsideAudioThreadMutex\\) failed\\.");
}

// ---- concurrency ---------------------------------------------------------------------------------

TEST(Concurrency, MixingThreadAgainstPlaysVolumesAndStops) {
    Engine engine;
    engine.mMixerMutex = new platform::Mutex;
    engine.finishBackendSetup(44100, 512, 1, 2);
    TestSource looping(2), shortOne(1, 22050);
    looping.mSourceFlags = FLAG_LOOPING;
    looping.frames = 3000;
    shortOne.frames = 700;
    MixingThread mixer(engine);
    std::vector<VoiceHandle> handles;
    for (int i = 0; i < 3000; ++i) {
        handles.push_back(engine.play(i % 3 ? shortOne : looping, 0.1f, 0.0f));
        engine.setVolume(handles[static_cast<size_t>(i) / 2], 0.05f);
        if (i % 50 == 0) looping.stopInstances();
        if (i % 500 == 0) engine.stopAllVoices();
    }
    mixer.waitBlocks(20);
    mixer.stop();
    // What the mixing thread produced was sound: finite, within the clipper's
    // ceiling, and audible in some blocks. (Races themselves are for the
    // ThreadSanitizer run of this test in the test command to find.)
    EXPECT_EQ(mixer.badSamples.load(), 0);
    EXPECT_GT(mixer.audibleBlocks.load(), 0);
    engine.stopAllVoices();
    EXPECT_EQ(TestSource::liveInstances.load(), 0);
    engine.mixBlock(512, 512);
    for (uint32_t i = 0; i < 1024; ++i) ASSERT_EQ(engine.mMixScratch.data[i], 0.0f) << i;
    engine.shutdown();
}
} // namespace
