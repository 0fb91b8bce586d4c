// music_tracks.h - the show's two music tracks on one engine
//
// What it does
//   Plays the melody and the ambient track together, looping, from volume 0;
//   moves both to where the live show has them at a show time; takes the
//   timeline's two volumes every frame. With holdUntilAudible the tracks wait,
//   paused (not mixed, not advancing), until the first volumes above 0, and
//   start from their first sample then, at those volumes.
//
// What it does not do
//   It loads nothing (the caller loads both streams first) and opens no
//   device. The desktop uses it on the demo's engine (music.cpp); the page's
//   audio worklet on the engine it mixes with, apart from the page's.
//
// Threads: whichever thread owns the engine's controls (the main thread on
// the desktop, the audio worklet in a browser). Show time t is in units of
// 4/3 ms (750 a second), as the timeline's.
#pragma once

#include "audio/murmel.h"

#include <cstdint>

class MusicTracks {
public:
    MusicTracks(Murmel::Engine &aEngine, Murmel::WavStream &aMelo, Murmel::WavStream &aSpace)
        : mEngine(aEngine), mMelo(aMelo), mSpace(aSpace) {}

    void start(bool aHoldUntilAudible);
    // Each track at source frame floor(t * 4/3 ms * its rate) modulo its length.
    void seek(int32_t t);
    void setVolumes(float aMelo, float aSpace);

    Murmel::VoiceHandle meloVoice() const { return mMeloVoice; }
    Murmel::VoiceHandle spaceVoice() const { return mSpaceVoice; }

    // The source frame seek moves a track of `frames` frames at `rate` to.
    static int64_t frameAt(int32_t t, uint32_t rate, uint32_t frames);

private:
    Murmel::Engine &mEngine;
    Murmel::WavStream &mMelo, &mSpace;
    Murmel::VoiceHandle mMeloVoice = 0, mSpaceVoice = 0;
    bool mHeld = false; // waiting, paused, for the first audible volumes
};
