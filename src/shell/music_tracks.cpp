// music_tracks.cpp - the two music tracks: started together, sought, faded.
#include "shell/music_tracks.h"

#include <cmath>

void MusicTracks::start(bool aHoldUntilAudible) {
    // Both loop and start together, silent; the frame brings them in. Held
    // ones start paused: the device never mixes one before the other.
    mMelo.mSourceFlags |= Murmel::FLAG_LOOPING;
    mMeloVoice = mEngine.play(mMelo, 0.0f, 0.0f, aHoldUntilAudible);
    mSpace.mSourceFlags |= Murmel::FLAG_LOOPING;
    mSpaceVoice = mEngine.play(mSpace, 0.0f, 0.0f, aHoldUntilAudible);
    mHeld = aHoldUntilAudible;
}

int64_t MusicTracks::frameAt(int32_t t, uint32_t rate, uint32_t frames) {
    if (t <= 0 || frames == 0) return 0;
    // t units of 4/3 ms: t * 4 / 3000 seconds, in exact integer arithmetic.
    return static_cast<int64_t>(t) * 4 * rate / 3000 % frames;
}

void MusicTracks::seek(int32_t t) {
    const auto seekTrack = [this, t](Murmel::WavStream &track, Murmel::VoiceHandle voice) {
        const auto rate = static_cast<uint32_t>(std::lround(track.mSourceRate));
        if (rate == 0) return;
        // Half a frame past the frame, so that the seek's floor lands on it.
        const double seconds = (static_cast<double>(frameAt(t, rate, track.mFrameCount)) + 0.5) / rate;
        mEngine.seek(voice, seconds);
    };
    seekTrack(mMelo, mMeloVoice);
    seekTrack(mSpace, mSpaceVoice);
}

void MusicTracks::setVolumes(float aMelo, float aSpace) {
    mEngine.setVolume(mMeloVoice, aMelo);
    mEngine.setVolume(mSpaceVoice, aSpace);
    if (mHeld && (aMelo > 0.0f || aSpace > 0.0f)) {
        // The first audible frame: both tracks start from their first sample,
        // at these volumes (a paused voice takes a new volume without a ramp).
        mHeld = false;
        mEngine.setPause(mMeloVoice, false);
        mEngine.setPause(mSpaceVoice, false);
    }
}
