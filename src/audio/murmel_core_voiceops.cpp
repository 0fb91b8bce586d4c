// murmel_core_voiceops.cpp - volume, pan and speed of one voice.
//
// Changes reach the sound at the next mixed block, where the mixer ramps each
// output channel's gain from its old to its new value across the block.
#include "audio/murmel.h"
#include "audio/murmel_assert.h"

#include <cmath>

namespace Murmel {

Result Engine::setVolume(VoiceHandle aHandle, float aVolume) {
    if (std::isnan(aVolume)) return BadArgument; // it would silence the whole mix
    lockMixer();
    const int32_t voice = voiceFromHandle(aHandle);
    if (voice >= 0) applyVoiceVolume(static_cast<uint32_t>(voice), aVolume);
    unlockMixer();
    return ResultOk;
}

Result Engine::seek(VoiceHandle aHandle, double aSeconds) {
    if (!(aSeconds >= 0.0)) return BadArgument;
    lockMixer();
    if (!mSeekScratch.data) mSeekScratch.init(BLOCK_FRAMES * MAX_CHANNELS); // no buffers sized yet
    const int32_t slot = voiceFromHandle(aHandle);
    Result result = ResultOk;
    if (slot >= 0) {
        AudioSourceInstance *voice = mVoices[slot];
        result = voice->seekTo(aSeconds, mSeekScratch.data, mSeekScratch.count);
        // The resampler starts afresh on the next block read at the new place.
        voice->mSourceCursor = 0;
        voice->mPendingFrames = 0;
    }
    unlockMixer();
    return result;
}

Result Engine::setPause(VoiceHandle aHandle, bool aPaused) {
    lockMixer();
    const int32_t slot = voiceFromHandle(aHandle);
    if (slot >= 0) {
        AudioSourceInstance *voice = mVoices[slot];
        voice->mVoiceFlags = aPaused ? voice->mVoiceFlags | FLAG_PAUSED : voice->mVoiceFlags & ~FLAG_PAUSED;
        mActiveDirty = true;
    }
    unlockMixer();
    return ResultOk;
}

Result Engine::applyVoiceSpeed(uint32_t aVoice, float aSpeed) {
    MURMEL_ASSERT("murmel_core_voiceops", 33, aVoice < VOICE_COUNT);
    MURMEL_ASSERT("murmel_core_voiceops", 34, mInsideAudioThreadMutex);
    if (aSpeed <= 0.0f) return BadArgument;
    if (mVoices[aVoice]) {
        mVoices[aVoice]->mRequestedSpeed = aSpeed;
        refreshVoiceSpeed(aVoice);
    }
    return ResultOk;
}

void Engine::applyVoicePan(uint32_t aVoice, float aPan) {
    MURMEL_ASSERT("murmel_core_voiceops", 71, aVoice < VOICE_COUNT);
    MURMEL_ASSERT("murmel_core_voiceops", 72, mInsideAudioThreadMutex);
    AudioSourceInstance *voice = mVoices[aVoice];
    if (!voice) return;
    if (std::isnan(aPan)) aPan = 0.0f; // centred rather than NaN gains in the mix
    voice->mPanPosition = aPan;
    // Constant power: the angle runs from 0 (left) to pi/2 (right).
    const double angle = static_cast<double>(aPan + 1.0f) * 3.14159265359 * 0.25;
    const auto l = static_cast<float>(std::cos(angle));
    const auto r = static_cast<float>(std::sin(angle));
    float *gain = voice->mSpeakerGain;
    gain[0] = l;
    gain[1] = r;
    switch (voice->mChannelCount) {
    case 4:
        gain[2] = l;
        gain[3] = r;
        break;
    case 8: // the 6-channel rule, and the back pair panned as the front
        gain[6] = l;
        gain[7] = r;
        [[fallthrough]];
    case 6:
        gain[2] = 1.0f / std::sqrt(2.0f);
        gain[3] = 1.0f;
        gain[4] = l;
        gain[5] = r;
        break;
    default: break;
    }
}

void Engine::applyVoiceVolume(uint32_t aVoice, float aVolume) {
    MURMEL_ASSERT("murmel_core_voiceops", 106, aVoice < VOICE_COUNT);
    MURMEL_ASSERT("murmel_core_voiceops", 107, mInsideAudioThreadMutex);
    mActiveDirty = true;
    if (!mVoices[aVoice] || std::isnan(aVolume)) return; // NaN: the volume stays
    mVoices[aVoice]->mRequestedVolume = aVolume;
    refreshVoiceVolume(aVoice);
}

void Engine::refreshVoiceSpeed(uint32_t aVoice) {
    MURMEL_ASSERT("murmel_core_voiceops", 142, aVoice < VOICE_COUNT);
    MURMEL_ASSERT("murmel_core_voiceops", 143, mInsideAudioThreadMutex);
    AudioSourceInstance *voice = mVoices[aVoice];
    if (!voice) return;
    voice->mEffectiveSpeed = mSpatial[aVoice].mSpeedFactor * voice->mRequestedSpeed;
    voice->mPlayRate = voice->mSourceRate * voice->mEffectiveSpeed;
}

void Engine::refreshVoiceVolume(uint32_t aVoice) {
    MURMEL_ASSERT("murmel_core_voiceops", 150, aVoice < VOICE_COUNT);
    MURMEL_ASSERT("murmel_core_voiceops", 151, mInsideAudioThreadMutex);
    AudioSourceInstance *voice = mVoices[aVoice];
    if (!voice) return;
    voice->mEffectiveVolume = mSpatial[aVoice].mVolumeFactor * voice->mRequestedVolume;
    if (voice->mVoiceFlags & FLAG_PAUSED)
        for (uint32_t c = 0; c < MAX_CHANNELS; ++c)
            voice->mAppliedGain[c] = voice->mSpeakerGain[c] * voice->mEffectiveVolume;
}

} // namespace Murmel
