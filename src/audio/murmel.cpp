// murmel.cpp - the engine core: start and shutdown, voices and handles, the
// choice of voices to mix, and the mixer.
#include "audio/murmel.h"
#include "audio/murmel_assert.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace Murmel {

const char *resultName(Result aResult) {
    switch (aResult) {
    case ResultOk: return "ResultOk";
    case BadArgument: return "BadArgument";
    case FileMissing: return "FileMissing";
    case FileUnreadable: return "FileUnreadable";
    case LibraryMissing: return "LibraryMissing";
    case Unsupported: return "Unsupported";
    case GeneralFailure: return "GeneralFailure";
    }
    return "unknown result";
}

// ---- aligned buffers -----------------------------------------------------------------------

void AlignedBuffer::init(uint32_t aFloats) {
    delete[] base;
    base = new uint8_t[static_cast<size_t>(aFloats) * 4 + 16]();
    data = reinterpret_cast<float *>((reinterpret_cast<uintptr_t>(base) + 15) & ~uintptr_t(15));
    count = aFloats;
}

AlignedBuffer::~AlignedBuffer() { delete[] base; }

// ---- start and shutdown ----------------------------------------------------------------------

Engine::~Engine() {
    stopAllVoices();
    shutdown();
    delete[] mResampleBlocks;
    delete[] mResampleOwner;
}

Result Engine::start(uint32_t aSampleRate, uint32_t aBufferFrames) {
    shutdown();
    mMixerMutex = new platform::Mutex;
    mBackendKind = 0;
    mBackendName = nullptr;
    return startDeviceBackend(*this, aSampleRate, aBufferFrames); // sets mBackendKind when it opens
}

void Engine::finishBackendSetup(uint32_t aSampleRate, uint32_t aBufferFrames, uint32_t aFlags,
                                uint32_t aChannels) {
    mChannelCount = aChannels;
    mMasterVolume = 1.0f;
    mSampleRate = aSampleRate;
    mBufferFrames = aBufferFrames;
    mScratchFrames = std::max((aBufferFrames + 15) & ~15u, 4096u); // at least 1024, then 4096
    mMixScratch.init(mScratchFrames * MAX_CHANNELS);
    mBusBuffer.init(mScratchFrames * MAX_CHANNELS);
    delete[] mResampleBlocks;
    delete[] mResampleOwner;
    mResampleBlocks = new float *[2 * mMaxActiveVoices];
    mResampleOwner = new AudioSourceInstance *[mMaxActiveVoices]();
    mResampleStorage.init(mMaxActiveVoices * 2 * BLOCK_FRAMES * MAX_CHANNELS);
    mSeekScratch.init(BLOCK_FRAMES * MAX_CHANNELS);
    for (uint32_t i = 0; i < 2 * mMaxActiveVoices; ++i)
        mResampleBlocks[i] = mResampleStorage.data + i * BLOCK_FRAMES * MAX_CHANNELS;
    // Voices that held blocks of the old storage get new ones before their next mix.
    for (AudioSourceInstance *voice : mVoices)
        if (voice) voice->mBlock[0] = voice->mBlock[1] = nullptr;
    mActiveDirty = true;
    mEngineFlags = aFlags;
    mPostClipScale = 0.95f;
}

void Engine::shutdown() {
    if (mMixerMutex) {
        // Waits for a mix in progress; the flag is read under the mutex, since
        // the device may still be running.
        std::lock_guard<platform::Mutex> guard(*mMixerMutex);
        MURMEL_ASSERT("murmel", 197, !mInsideAudioThreadMutex);
    }
    stopAllVoices();
    if (mBackendCleanup) {
        mBackendCleanup(this);
        mBackendCleanup = nullptr;
    }
    delete mMixerMutex;
    mMixerMutex = nullptr;
}

void Engine::lockMixer() {
    if (mMixerMutex) mMixerMutex->lock();
    MURMEL_ASSERT("murmel", 2294, !mInsideAudioThreadMutex);
    mInsideAudioThreadMutex = true;
}

void Engine::unlockMixer() {
    MURMEL_ASSERT("murmel", 2300, mInsideAudioThreadMutex);
    mInsideAudioThreadMutex = false;
    if (mMixerMutex) mMixerMutex->unlock();
}

// ---- voices and handles ------------------------------------------------------------------------

namespace {
constexpr uint32_t SERIAL_LIMIT = 0xFFFFF; // serials run 0 .. 0xFFFFE
}

int32_t Engine::voiceFromHandle(VoiceHandle aHandle) const {
    if (aHandle == 0 || (aHandle & 0xFFFFF000u) == 0xFFFFF000u) return -1;
    const uint32_t slotPlusOne = aHandle & 0xFFF;
    if (slotPlusOne == 0 || slotPlusOne > VOICE_COUNT) return -1;
    const uint32_t slot = slotPlusOne - 1;
    const AudioSourceInstance *voice = mVoices[slot];
    if (!voice || (voice->mPlaySerial & SERIAL_LIMIT) != aHandle >> 12) return -1;
    return static_cast<int32_t>(slot);
}

VoiceHandle Engine::play(AudioSource &aSource, float aVolume, float aPan, bool aPaused) {
    if (aSource.mSourceFlags & FLAG_SINGLE_INSTANCE) aSource.stopInstances();
    aSource.mEngine = this;
    // Made outside the lock: it opens the file and the decoder.
    AudioSourceInstance *instance = aSource.makeInstance();
    if (!instance) return 0;

    lockMixer();
    if (mVoiceHighWater > 0 && !mVoices[mVoiceHighWater - 1]) --mVoiceHighWater;
    int32_t slot = -1;
    int32_t oldest = -1;
    for (uint32_t i = 0; i < VOICE_COUNT; ++i) {
        if (!mVoices[i]) {
            slot = static_cast<int32_t>(i);
            mVoiceHighWater = std::max(mVoiceHighWater, i + 1);
            break;
        }
        if (!(mVoices[i]->mVoiceFlags & FLAG_PROTECTED) &&
            (oldest < 0 || mVoices[i]->mPlaySerial < mVoices[oldest]->mPlaySerial))
            oldest = static_cast<int32_t>(i);
    }
    if (slot < 0) {
        if (oldest < 0) { // every voice is protected: nothing is stopped
            unlockMixer();
            delete instance;
            return 0;
        }
        releaseVoice(static_cast<uint32_t>(oldest));
        slot = oldest;
    }
    const auto s = static_cast<uint32_t>(slot);
    if (aSource.mSourceId == 0) aSource.mSourceId = mNextSourceId++;
    mVoices[s] = instance;
    instance->mSourceId = aSource.mSourceId;
    instance->initFromSource(aSource, mNextPlaySerial);
    if (aPaused) instance->mVoiceFlags |= FLAG_PAUSED;
    mSpatial[s] = VoiceSpatialData{};
    if (++mNextPlaySerial == SERIAL_LIMIT) mNextPlaySerial = 0;
    applyVoicePan(s, aPan);
    applyVoiceVolume(s, aVolume < 0.0f || std::isnan(aVolume) ? aSource.mDefaultVolume : aVolume);
    // The first block starts at the final level, without a ramp.
    for (uint32_t c = 0; c < MAX_CHANNELS; ++c)
        instance->mAppliedGain[c] = instance->mSpeakerGain[c] * instance->mEffectiveVolume;
    applyVoiceSpeed(s, 1.0f);
    mActiveDirty = true;
    // The handle is made under the lock: once it is released the mixer may
    // end the voice and destroy the instance.
    const VoiceHandle handle = (s + 1) | (instance->mPlaySerial << 12);
    unlockMixer();
    return handle;
}

void Engine::releaseVoice(uint32_t aVoice) {
    MURMEL_ASSERT("murmel_core_voiceops", 118, aVoice < VOICE_COUNT);
    MURMEL_ASSERT("murmel_core_voiceops", 119, mInsideAudioThreadMutex);
    mActiveDirty = true;
    AudioSourceInstance *voice = mVoices[aVoice];
    if (!voice) return;
    mVoices[aVoice] = nullptr;
    for (uint32_t i = 0; mResampleOwner && i < mMaxActiveVoices; ++i)
        if (mResampleOwner[i] == voice) mResampleOwner[i] = nullptr;
    delete voice;
}

void Engine::stopAllVoices() {
    lockMixer();
    for (uint32_t i = 0; i < mVoiceHighWater; ++i) releaseVoice(i);
    unlockMixer();
}

void AudioSource::stopInstances() {
    if (!mEngine || mSourceId == 0) return;
    mEngine->lockMixer();
    for (uint32_t i = 0; i < mEngine->mVoiceHighWater; ++i)
        if (mEngine->mVoices[i] && mEngine->mVoices[i]->mSourceId == mSourceId) mEngine->releaseVoice(i);
    mEngine->unlockMixer();
}

// ---- the voices to mix ----------------------------------------------------------------------------

void Engine::refreshActiveVoices() {
    mActiveDirty = false;
    uint32_t candidates = 0, mustLive = 0;
    for (uint32_t i = 0; i < mVoiceHighWater; ++i) {
        const AudioSourceInstance *voice = mVoices[i];
        if (!voice) continue;
        const bool keepTicking = voice->mVoiceFlags & FLAG_KEEP_TICKING;
        if (!keepTicking && (voice->mVoiceFlags & (FLAG_PAUSED | FLAG_INAUDIBLE))) continue;
        mActiveList[candidates] = i;
        if (keepTicking) std::swap(mActiveList[candidates], mActiveList[mustLive++]);
        ++candidates;
    }
    if (candidates <= mMaxActiveVoices) {
        mActiveCount = candidates;
        assignResampleBuffers();
        return;
    }
    mActiveCount = mMaxActiveVoices;
    if (mustLive >= mMaxActiveVoices) {
        // Keep-ticking voices fill the list: nothing to sort, but each of them
        // still needs a block pair before it is mixed.
        assignResampleBuffers();
        return;
    }

    // Partial quicksort of the rest, loudest first, until the first
    // mActiveCount positions hold the loudest voices.
    uint32_t *entries = mActiveList + mustLive;
    auto volume = [&](uint32_t k) { return mVoices[entries[k]]->mEffectiveVolume; };
    int32_t left = 0, len = static_cast<int32_t>(candidates - mustLive), pos = 0;
    int32_t stack[24];
    for (;;) {
        for (; left + 1 < len; ++len) {
            const float pivot = volume(static_cast<uint32_t>(left));
            if (pos == 24) len = stack[pos = 0];
            stack[pos++] = len;
            int32_t right = left - 1;
            for (;;) {
                do ++right; while (volume(static_cast<uint32_t>(right)) > pivot);
                do --len; while (pivot > volume(static_cast<uint32_t>(len)));
                if (right >= len) break;
                std::swap(entries[right], entries[len]);
            }
        }
        if (pos == 0 || left >= static_cast<int32_t>(mActiveCount)) break;
        left = len;
        len = stack[--pos];
    }
    assignResampleBuffers();
}

void Engine::assignResampleBuffers() {
    MURMEL_ASSERT("murmel", 1916, mMaxActiveVoices < 256);
    if (!mResampleOwner) return; // no buffers before finishBackendSetup
    bool pairInUse[256] = {}, hasPair[256] = {};
    for (uint32_t i = 0; i < mMaxActiveVoices; ++i)
        for (uint32_t j = 0; j < mMaxActiveVoices; ++j)
            if (mResampleOwner[i] && mResampleOwner[i] == mVoices[mActiveList[j]]) {
                pairInUse[i] = true;
                hasPair[j] = true;
            }
    for (uint32_t i = 0; i < mMaxActiveVoices; ++i) {
        if (mResampleOwner[i] && !pairInUse[i]) {
            mResampleOwner[i]->mBlock[0] = mResampleOwner[i]->mBlock[1] = nullptr;
            mResampleOwner[i] = nullptr;
        }
    }
    uint32_t searchStart = 0;
    for (uint32_t i = 0; i < mActiveCount; ++i) {
        AudioSourceInstance *voice = mVoices[mActiveList[i]];
        if (hasPair[i] || !voice) continue;
        int32_t found = -1;
        for (uint32_t k = searchStart; k < mMaxActiveVoices; ++k)
            if (!mResampleOwner[k]) {
                found = static_cast<int32_t>(k);
                break;
            }
        MURMEL_ASSERT("murmel", 1955, found != -1);
        const auto pair = static_cast<uint32_t>(found);
        mResampleOwner[pair] = voice;
        voice->mBlock[0] = mResampleBlocks[2 * pair];
        voice->mBlock[1] = mResampleBlocks[2 * pair + 1];
        std::memset(voice->mBlock[0], 0, BLOCK_FRAMES * MAX_CHANNELS * sizeof(float));
        std::memset(voice->mBlock[1], 0, BLOCK_FRAMES * MAX_CHANNELS * sizeof(float));
        searchStart = pair + 1;
    }
}

// ---- the mixer --------------------------------------------------------------------------------------

namespace {
typedef float Float4 __attribute__((vector_size(16)));

// One channel: out[i] interpolates between the two source frames around
// cursor + i * step (20-bit fixed point); frame -1 is the previous block's last.
void resampleLinear(const float *aCurrent, const float *aPrevious, float *aOut, uint32_t aCursor,
                    uint32_t aCount, uint32_t aStep) {
    constexpr float SCALE = 1.0f / 1048576.0f;
    uint32_t i = 0;
    for (; i < aCount && aCursor + i * aStep < FIXED_ONE; ++i) { // before source frame 1
        const uint32_t pos = aCursor + i * aStep;
        const float f = static_cast<float>(pos & 0xFFFFF);
        const float s2 = aCurrent[pos >> 20];
        const float s1 = pos < FIXED_ONE ? aPrevious[BLOCK_FRAMES - 1] : aCurrent[(pos >> 20) - 1];
        aOut[i] = (s2 - s1) * f * SCALE + s1;
    }
    if (i == aCount) return;
    if (aStep == FIXED_ONE) {
        // Same rate: one frame per output frame at a fixed fraction, a
        // contiguous loop the compiler vectorises. The arithmetic per sample
        // is the general one's.
        const uint32_t pos = aCursor + i * aStep;
        const float f = static_cast<float>(pos & 0xFFFFF);
        const float *current = aCurrent + (pos >> 20);  // frame 1 or later here
        const float *previous = current - 1;
        for (uint32_t j = 0; j < aCount - i; ++j) {
            const float s2 = current[j], s1 = previous[j];
            aOut[i + j] = (s2 - s1) * f * SCALE + s1;
        }
        return;
    }
    for (; i < aCount; ++i) {
        const uint32_t pos = aCursor + i * aStep;
        const uint32_t p = pos >> 20;
        const float f = static_cast<float>(pos & 0xFFFFF);
        aOut[i] = (aCurrent[p] - aCurrent[p - 1]) * f * SCALE + aCurrent[p - 1];
    }
}

// Adds one source frame mix (left, right) per output frame, with the gain of
// each output channel ramping linearly across the block.
template <class Left, class Right>
void spreadStereo(float *aBuffer, uint32_t aFrames, uint32_t aStride, const float aStart[2],
                  const float aStep[2], Left left, Right right) {
    for (uint32_t j = 0; j < aFrames; ++j) {
        const float g0 = static_cast<float>(j + 1) * aStep[0] + aStart[0];
        const float g1 = static_cast<float>(j + 1) * aStep[1] + aStart[1];
        aBuffer[j] += left(j) * g0;
        aBuffer[aStride + j] += right(j) * g1;
    }
}

// The 1- and 2-channel rules, four frames at a time on aligned data; the
// frames after the last group of four continue the same ramp one by one.
// Frame j's gain is computed as start + (j + 1) * step, so the ramp does not
// drift and ends exactly on its target.
void spreadFourLanes(float *aBuffer, uint32_t aFrames, uint32_t aStride, const float *aLeftSource,
                     const float *aRightSource, const float aStart[2], const float aStep[2]) {
    const uint32_t groups = aFrames / 4;
    for (uint32_t q = 0; q < groups; ++q) {
        const uint32_t j = 4 * q;
        const Float4 position = Float4{1, 2, 3, 4} + static_cast<float>(j);
        const Float4 g0 = position * aStep[0] + aStart[0], g1 = position * aStep[1] + aStart[1];
        Float4 l, r, bl, br;
        std::memcpy(&l, aLeftSource + j, sizeof l);
        std::memcpy(&r, aRightSource + j, sizeof r);
        std::memcpy(&bl, aBuffer + j, sizeof bl);
        std::memcpy(&br, aBuffer + aStride + j, sizeof br);
        bl += l * g0;
        br += r * g1;
        std::memcpy(aBuffer + j, &bl, sizeof bl);
        std::memcpy(aBuffer + aStride + j, &br, sizeof br);
    }
    for (uint32_t j = groups * 4; j < aFrames; ++j) {
        const float position = static_cast<float>(j + 1);
        aBuffer[j] += aLeftSource[j] * (position * aStep[0] + aStart[0]);
        aBuffer[aStride + j] += aRightSource[j] * (position * aStep[1] + aStart[1]);
    }
}

void addVoiceToBus(AudioSourceInstance &aVoice, float *aBuffer, uint32_t aFrames, uint32_t aBufferSize,
                   float *aScratch) {
    MURMEL_ASSERT("murmel", 1056, ((size_t)aBuffer & 0xf) == 0);
    MURMEL_ASSERT("murmel", 1057, ((size_t)aScratch & 0xf) == 0);
    MURMEL_ASSERT("murmel", 1058, ((size_t)aBufferSize & 0xf) == 0);
    const uint32_t stride = aBufferSize;
    float start[2], target[2], step[2];
    for (int c = 0; c < 2; ++c) {
        start[c] = aVoice.mAppliedGain[c];
        target[c] = aVoice.mSpeakerGain[c] * aVoice.mEffectiveVolume;
        step[c] = (target[c] - start[c]) / static_cast<float>(aFrames);
    }
    const float *s[8];
    for (uint32_t k = 0; k < 8; ++k) s[k] = aScratch + k * stride;
    switch (aVoice.mChannelCount) {
    case 1: spreadFourLanes(aBuffer, aFrames, stride, s[0], s[0], start, step); break;
    case 2: spreadFourLanes(aBuffer, aFrames, stride, s[0], s[1], start, step); break;
    case 4:
        spreadStereo(aBuffer, aFrames, stride, start, step,
                     [&](uint32_t j) { return 0.5f * (s[0][j] + s[2][j]); },
                     [&](uint32_t j) { return 0.5f * (s[1][j] + s[3][j]); });
        break;
    case 6:
        spreadStereo(aBuffer, aFrames, stride, start, step,
                     [&](uint32_t j) { return 0.3f * (s[0][j] + s[2][j] + s[3][j] + s[4][j]); },
                     [&](uint32_t j) { return 0.3f * (s[1][j] + s[2][j] + s[3][j] + s[5][j]); });
        break;
    case 8:
        spreadStereo(aBuffer, aFrames, stride, start, step,
                     [&](uint32_t j) { return 0.2f * (s[0][j] + s[2][j] + s[3][j] + s[4][j] + s[6][j]); },
                     [&](uint32_t j) { return 0.2f * (s[1][j] + s[2][j] + s[3][j] + s[5][j] + s[7][j]); });
        break;
    default: break; // 3, 5 and 7 channels have no rule: nothing is added
    }
    aVoice.mAppliedGain[0] = target[0];
    aVoice.mAppliedGain[1] = target[1];
}

// ---- one pass per voice: resample, pan, ramp and add ----
//
// For 1- and 2-channel voices the mixer resamples straight onto the bus: for
// each output frame it interpolates the source (as resampleLinear does) and
// adds sample x gain (as spreadFourLanes does), four frames at a time, with
// no scratch buffer between the two. Each sample sees the same floats in the
// same order as in the two-pass path, so the mix is identical bit for bit;
// only the memory traffic is gone.
typedef int32_t Int4 __attribute__((vector_size(16)));
typedef uint32_t Uint4 __attribute__((vector_size(16)));
typedef float Float2 __attribute__((vector_size(8)));

struct VoiceRamp {
    float start[2]; // each side's gain before the block's first frame
    float step[2];  // its change per output frame
};

// Output frames aFirst .. aFirst + aCount - 1 of the mix block, whose source
// positions are aCursor + i * aStep (20-bit fixed point in the current
// block, frame -1 being the previous block's last). Stereo: channel c of the
// voice goes to side c; mono: the one channel to both sides.
template <bool Stereo>
void resampleOntoBus(const float *const aCur[2], const float *const aPrev[2], float *aLeft, float *aRight,
                     uint32_t aFirst, uint32_t aCount, uint32_t aCursor, uint32_t aStep, const VoiceRamp &aRamp) {
    constexpr float SCALE = 1.0f / 1048576.0f;
    constexpr int CHANNELS = Stereo ? 2 : 1;
    float *const bus[2] = {aLeft + aFirst, aRight + aFirst};
    uint32_t i = 0;
    // Frames before source frame 1 reach back into the previous block.
    for (; i < aCount && aCursor + i * aStep < FIXED_ONE; ++i) {
        const uint32_t pos = aCursor + i * aStep;
        const float f = static_cast<float>(pos & 0xFFFFF);
        const float position = static_cast<float>(aFirst + i + 1);
        float v[2];
        for (int c = 0; c < CHANNELS; ++c) {
            const float s2 = aCur[c][pos >> 20];
            const float s1 = pos < FIXED_ONE ? aPrev[c][BLOCK_FRAMES - 1] : aCur[c][(pos >> 20) - 1];
            v[c] = (s2 - s1) * f * SCALE + s1;
        }
        if (!Stereo) v[1] = v[0];
        for (int c = 0; c < 2; ++c) bus[c][i] += v[c] * (position * aRamp.step[c] + aRamp.start[c]);
    }
    const Float4 step0 = Float4{} + aRamp.step[0], step1 = Float4{} + aRamp.step[1];
    const Float4 start0 = Float4{} + aRamp.start[0], start1 = Float4{} + aRamp.start[1];
    auto add4 = [&](uint32_t at, Float4 v0, Float4 v1) { // four frames from frame `at` of the segment
        const Float4 position = Float4{1, 2, 3, 4} + static_cast<float>(aFirst + at);
        Float4 b0, b1;
        std::memcpy(&b0, bus[0] + at, sizeof b0);
        std::memcpy(&b1, bus[1] + at, sizeof b1);
        b0 += v0 * (position * step0 + start0);
        b1 += v1 * (position * step1 + start1);
        std::memcpy(bus[0] + at, &b0, sizeof b0);
        std::memcpy(bus[1] + at, &b1, sizeof b1);
    };
    if (aStep == FIXED_ONE) {
        // Same rate: contiguous loads at one fixed fraction.
        const uint32_t first = i, pos = aCursor + first * aStep;
        const Float4 f = Float4{} + static_cast<float>(pos & 0xFFFFF);
        auto at = [&](const float *s, uint32_t q) {
            Float4 s2, s1;
            std::memcpy(&s2, s + q, sizeof s2);
            std::memcpy(&s1, s + q - 1, sizeof s1);
            return (s2 - s1) * f * SCALE + s1;
        };
        for (; i + 4 <= aCount; i += 4) {
            const uint32_t q = (pos >> 20) + (i - first); // 1 or more here
            const Float4 v0 = at(aCur[0], q);
            add4(i, v0, Stereo ? at(aCur[1], q) : v0);
        }
    } else {
        // Any other ratio: each lane's two source frames are neighbours, so
        // one 8-byte load brings both; two shuffles sort them into the frames
        // before and at the four positions.
        const Uint4 lanes = Uint4{0, 1, 2, 3} * aStep;
        for (; i + 4 <= aCount; i += 4) {
            const Uint4 pos = lanes + (aCursor + i * aStep);
            const Uint4 p = pos >> 20; // 1 .. 511 here
            const Float4 f = __builtin_convertvector(reinterpret_cast<const Int4 &>(pos) & 0xFFFFF, Float4);
            auto at = [&](const float *s) {
                Float2 a, b, c, d;
                std::memcpy(&a, s + p[0] - 1, sizeof a);
                std::memcpy(&b, s + p[1] - 1, sizeof b);
                std::memcpy(&c, s + p[2] - 1, sizeof c);
                std::memcpy(&d, s + p[3] - 1, sizeof d);
                const Float4 x = __builtin_shufflevector(a, b, 0, 1, 2, 3), y = __builtin_shufflevector(c, d, 0, 1, 2, 3);
                const Float4 s1 = __builtin_shufflevector(x, y, 0, 2, 4, 6), s2 = __builtin_shufflevector(x, y, 1, 3, 5, 7);
                return (s2 - s1) * f * SCALE + s1;
            };
            const Float4 v0 = at(aCur[0]);
            add4(i, v0, Stereo ? at(aCur[1]) : v0);
        }
    }
    for (; i < aCount; ++i) { // the last frames, one by one
        const uint32_t pos = aCursor + i * aStep;
        const uint32_t p = pos >> 20;
        const float f = static_cast<float>(pos & 0xFFFFF);
        const float position = static_cast<float>(aFirst + i + 1);
        float v[2];
        for (int c = 0; c < CHANNELS; ++c) v[c] = (aCur[c][p] - aCur[c][p - 1]) * f * SCALE + aCur[c][p - 1];
        if (!Stereo) v[1] = v[0];
        for (int c = 0; c < 2; ++c) bus[c][i] += v[c] * (position * aRamp.step[c] + aRamp.start[c]);
    }
}

// Denormals are flushed to zero on every thread that mixes (on x86, through
// the SSE control register; WebAssembly has no such mode and keeps them).
void flushDenormalsOnThisThread() {
#if defined(__SSE__)
    thread_local bool done = false;
    if (done) return;
    _mm_setcsr(_mm_getcsr() | 0x8040);
    done = true;
#endif
}
} // namespace

uint32_t Engine::mixBlock(uint32_t aFrames, uint32_t aStride) {
    if (mScratchFrames == 0 || mSampleRate == 0) return 0; // no buffers yet
    // A request larger than the buffers is cut to what they hold; the caller
    // mixes the rest with another call.
    if (aStride > mScratchFrames) {
        aStride = mScratchFrames;
        aFrames = std::min(aFrames, mScratchFrames);
    }
    aFrames = std::min(aFrames, aStride);
    if (!(mEngineFlags & 8)) flushDenormalsOnThisThread();

    const float blockSeconds = static_cast<float>(aFrames) / static_cast<float>(mSampleRate);
    mMixTime += blockSeconds;
    lockMixer();
    for (uint32_t i = 0; i < mVoiceHighWater; ++i) {
        AudioSourceInstance *voice = mVoices[i];
        if (!voice || (voice->mVoiceFlags & FLAG_PAUSED)) continue;
        voice->mPlayTime += blockSeconds;
        voice->mStreamSeconds += static_cast<double>(blockSeconds) * voice->mEffectiveSpeed;
    }
    if (mActiveDirty) refreshActiveVoices();
    mixMainBus(mBusBuffer.data, aFrames, aStride, mMixScratch.data, static_cast<float>(mSampleRate),
               mChannelCount);
    unlockMixer();
    clipOutput(mBusBuffer, mMixScratch, aStride, mMasterVolume, mMasterVolume);
    return aFrames;
}

void Engine::mixMainBus(float *aBuffer, uint32_t aFrames, uint32_t aStride, float *aScratch,
                        float aSampleRate, uint32_t aChannels) {
    for (uint32_t c = 0; c < aChannels; ++c) std::memset(aBuffer + c * aStride, 0, aFrames * sizeof(float));
    for (uint32_t i = 0; i < mActiveCount; ++i) {
        const uint32_t slot = mActiveList[i];
        AudioSourceInstance *voice = mVoices[slot];
        if (!voice || !voice->mBlock[0] || (voice->mVoiceFlags & (FLAG_PAUSED | FLAG_INAUDIBLE))) continue;

        // A step of a whole block or more (rate ratio 512 and up, from a
        // header that claims tens of megahertz, or an absurd speed) would
        // have to skip whole blocks per output frame: such a voice is not
        // resampled (the step is 0) and adds silence, as does a rate of 0.
        float step = voice->mPlayRate / aSampleRate;
        if (!(step < static_cast<float>(BLOCK_FRAMES))) step = 0.0f;
        const auto stepFixed = static_cast<uint32_t>(std::floor(static_cast<double>(step) * 1048576.0));
        const uint32_t channels = std::min(voice->mChannelCount, MAX_CHANNELS);
        const bool looping = voice->mVoiceFlags & FLAG_LOOPING;
        // One pass onto the bus for 1 and 2 channels; more channels are
        // resampled into the scratch first, then spread by their rule.
        const bool onePass = stepFixed != 0 && (channels == 1 || channels == 2);
        VoiceRamp ramp{};
        float target[2] = {};
        for (int c = 0; c < 2; ++c) {
            ramp.start[c] = voice->mAppliedGain[c];
            target[c] = voice->mSpeakerGain[c] * voice->mEffectiveVolume;
            ramp.step[c] = (target[c] - ramp.start[c]) / static_cast<float>(aFrames);
        }
        uint32_t written = 0;
        if (stepFixed == 0) // nothing resampled: the voice adds silence
            for (uint32_t k = 0; k < channels; ++k) std::memset(aScratch + k * aStride, 0, aFrames * sizeof(float));

        while (stepFixed != 0 && written < aFrames) {
            if (voice->mPendingFrames == 0) {
                std::swap(voice->mBlock[0], voice->mBlock[1]);
                uint32_t got = 0;
                if (!(voice->isFinished() && !looping)) got = voice->readFrames(voice->mBlock[0], BLOCK_FRAMES, BLOCK_FRAMES);
                while (got < BLOCK_FRAMES && looping) {
                    // The seek discards into its own scratch: aScratch already
                    // holds this voice's frames of this block.
                    if (voice->seekTo(voice->mLoopStart, mSeekScratch.data, mSeekScratch.count) != ResultOk) break;
                    ++voice->mLoopsDone;
                    const uint32_t wanted = BLOCK_FRAMES - got;
                    const uint32_t n = voice->readFrames(voice->mBlock[0] + got, wanted, BLOCK_FRAMES);
                    got += n;
                    // A cycle that ended after fewer than MIN_LOOP_CYCLE_FRAMES
                    // is not repeated in this block, whose rest is silence: a
                    // seek in a compressed file decodes a frame or more, and
                    // hundreds of them per block would stall the device.
                    if (n == 0 || (n < wanted && n < MIN_LOOP_CYCLE_FRAMES)) break;
                }
                if (got < BLOCK_FRAMES)
                    for (uint32_t k = 0; k < channels; ++k)
                        std::memset(voice->mBlock[0] + k * BLOCK_FRAMES + got, 0, (BLOCK_FRAMES - got) * sizeof(float));
                voice->mSourceCursor = voice->mSourceCursor < FIXED_BLOCK ? 0 : voice->mSourceCursor - FIXED_BLOCK;
            } else {
                voice->mPendingFrames = 0;
            }
            // Every output frame whose position still lies in this block: the
            // position after them, one block or a little more, carries into
            // the next block exactly, so the output is one continuous
            // interpolation of the source (no phase lost at block edges).
            uint32_t n = 0;
            if (voice->mSourceCursor < FIXED_BLOCK)
                n = (FIXED_BLOCK - voice->mSourceCursor + stepFixed - 1) / stepFixed;
            if (written + n > aFrames) {
                voice->mPendingFrames = written + n - aFrames;
                n = aFrames - written;
            }
            if (onePass && n > 0) {
                const float *const current[2] = {voice->mBlock[0], voice->mBlock[0] + BLOCK_FRAMES};
                const float *const previous[2] = {voice->mBlock[1], voice->mBlock[1] + BLOCK_FRAMES};
                (channels == 2 ? resampleOntoBus<true> : resampleOntoBus<false>)(
                    current, previous, aBuffer, aBuffer + aStride, written, n, voice->mSourceCursor, stepFixed, ramp);
            }
            for (uint32_t k = 0; !onePass && n > 0 && k < channels; ++k)
                resampleLinear(voice->mBlock[0] + k * BLOCK_FRAMES, voice->mBlock[1] + k * BLOCK_FRAMES,
                               aScratch + written + k * aStride, voice->mSourceCursor, n, stepFixed);
            written += n;
            voice->mSourceCursor += n * stepFixed;
        }
        if (onePass) {
            voice->mAppliedGain[0] = target[0];
            voice->mAppliedGain[1] = target[1];
        } else {
            addVoiceToBus(*voice, aBuffer, aFrames, aStride, aScratch);
        }
        if (!(voice->mVoiceFlags & (FLAG_LOOPING | FLAG_NO_AUTO_STOP)) && voice->isFinished())
            releaseVoice(slot);
    }
}

void Engine::clipOutput(AlignedBuffer &aInput, AlignedBuffer &aOutput, uint32_t aFrames, float aVolume0,
                        float aVolume1) {
    const float d = (aVolume1 - aVolume0) / static_cast<float>(aFrames);
    const uint32_t quads = (aFrames + 3) / 4;
    const float *in = aInput.data;
    float *out = aOutput.data;
    const Float4 limit = Float4{} + 0.9862875f;
    for (uint32_t c = 0; c < 2; ++c) {
        Float4 gain = Float4{0, 1, 2, 3} * d + aVolume0;
        for (uint32_t q = 0; q < quads; ++q) {
            Float4 x;
            std::memcpy(&x, in, sizeof x);
            x *= gain;
            gain += 4 * d;
            // The round-off curve 0.87 x - 0.1 x^3 meets +-0.9862875 at +-1.65.
            Float4 y = 0.87f * x - 0.1f * (x * x * x);
            y = x <= -1.65f ? -limit : y;
            y = x >= 1.65f ? limit : y;
            y = x == x ? y : Float4{}; // a NaN (a float file's, say) is silenced here
            y *= mPostClipScale;
            std::memcpy(out, &y, sizeof y);
            in += 4;
            out += 4;
        }
    }
}

} // namespace Murmel
