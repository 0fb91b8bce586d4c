// The two music tracks of the live show wait for the first audible frame:
// paused (not mixed, not advancing) while the timeline's volumes are 0, then
// started together from their first sample at the frame's volumes, with no
// ramp from silence. The offline mixes start them at once.
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {
Murmel::AudioSourceInstance *voiceOf(Murmel::VoiceHandle aHandle) {
    const int32_t slot = audioEngine.voiceFromHandle(aHandle);
    return slot >= 0 ? audioEngine.mVoices[slot] : nullptr;
}

TEST(Music, TheLiveShowsTracksWaitForTheFirstAudibleFrame) {
    audioEngine.finishBackendSetup(44100, 2048, 1, 2); // no device
    loadMusic();
    ASSERT_GT(meloMusic.mFrameCount, 0u) << "run from the repository root: the music is in assets/";
    startMusic(true);
    Murmel::AudioSourceInstance *melo = voiceOf(demo.meloVoice), *space = voiceOf(demo.spaceVoice);
    ASSERT_NE(melo, nullptr);
    ASSERT_NE(space, nullptr);
    EXPECT_TRUE(melo->mVoiceFlags & Murmel::FLAG_PAUSED);
    setMusicVolumes(0.0f, 0.0f); // the first frame, T = 0
    for (int i = 0; i < 20; ++i) audioEngine.mixBlock(2048, 2048); // a slow first frame: half a second
    EXPECT_TRUE(melo->mVoiceFlags & Murmel::FLAG_PAUSED);
    EXPECT_TRUE(space->mVoiceFlags & Murmel::FLAG_PAUSED);
    EXPECT_EQ(melo->mPlayTime, 0.0) << "a held track does not advance";

    setMusicVolumes(0.03f, 0.01f); // the first audible frame
    EXPECT_FALSE(melo->mVoiceFlags & Murmel::FLAG_PAUSED);
    EXPECT_FALSE(space->mVoiceFlags & Murmel::FLAG_PAUSED);
    EXPECT_EQ(melo->mAppliedGain[0], melo->mSpeakerGain[0] * 0.03f) << "it starts at the frame's volume, no ramp";
    EXPECT_EQ(space->mAppliedGain[1], space->mSpeakerGain[1] * 0.01f);
    audioEngine.mixBlock(2048, 2048);
    EXPECT_GT(melo->mPlayTime, 0.04) << "both play from now on";
    EXPECT_EQ(melo->mPlayTime, space->mPlayTime) << "and together";
    float peak = 0;
    for (uint32_t i = 1; i < 2048; ++i) peak = std::max(peak, std::abs(audioEngine.mMixScratch.data[i]));
    EXPECT_GT(peak, 0.0f) << "heard from the first block";
    audioEngine.stopAllVoices();

    startMusic(); // an offline mix: no waiting
    EXPECT_FALSE(voiceOf(demo.meloVoice)->mVoiceFlags & Murmel::FLAG_PAUSED);
    audioEngine.stopAllVoices();
}
} // namespace
