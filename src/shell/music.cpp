// music.cpp - the audio engine's part of start-up, and the two music voices.
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"

#include <cmath>

namespace {
constexpr uint32_t SAMPLE_RATE = 44100;   // frames per second asked of the device
constexpr uint32_t BUFFER_FRAMES = 2048;  // device buffer asked for
} // namespace

void startAudio() { audioEngine.start(SAMPLE_RATE, BUFFER_FRAMES); }

void loadMusic() {
    meloMusic.loadFile(assetPath("vrom2022_melo.ogg").c_str());
    spaceMusic.loadFile(assetPath("vrom2022_space.ogg").c_str());
}

namespace {
bool musicHeld = false; // the tracks wait, paused, for the first audible volumes
} // namespace

void startMusic(bool aHoldUntilAudible) {
    // Both loop and start together, silent; the frame brings them in.
    meloMusic.mSourceFlags |= Murmel::FLAG_LOOPING;
    const Murmel::VoiceHandle melo = audioEngine.play(meloMusic, 0.0f, 0.0f);
    spaceMusic.mSourceFlags |= Murmel::FLAG_LOOPING;
    const Murmel::VoiceHandle space = audioEngine.play(spaceMusic, 0.0f, 0.0f);
    demo.meloVoice = melo;
    demo.spaceVoice = space;
    musicHeld = aHoldUntilAudible;
    if (musicHeld) {
        audioEngine.setPause(melo, true);
        audioEngine.setPause(space, true);
    }
}

int64_t musicFrameAt(int32_t t, uint32_t rate, uint32_t frames) {
    if (t <= 0 || frames == 0) return 0;
    // t units of 4/3 ms: t * 4 / 3000 seconds, in exact integer arithmetic.
    return static_cast<int64_t>(t) * 4 * rate / 3000 % frames;
}

void seekMusic(int32_t t) {
    const auto seekTrack = [t](Murmel::WavStream &track, Murmel::VoiceHandle voice) {
        const auto rate = static_cast<uint32_t>(std::lround(track.mSourceRate));
        if (rate == 0) return;
        // Half a frame past the frame, so that the seek's floor lands on it.
        const double seconds = (static_cast<double>(musicFrameAt(t, rate, track.mFrameCount)) + 0.5) / rate;
        audioEngine.seek(voice, seconds);
    };
    seekTrack(meloMusic, demo.meloVoice);
    seekTrack(spaceMusic, demo.spaceVoice);
}

void setMusicVolumes(float melo, float space) {
    audioEngine.setVolume(demo.meloVoice, melo);
    audioEngine.setVolume(demo.spaceVoice, space);
    if (musicHeld && (melo > 0.0f || space > 0.0f)) {
        // The first audible frame: both tracks start from their first sample,
        // at these volumes (a paused voice takes a new volume without a ramp).
        musicHeld = false;
        audioEngine.setPause(demo.meloVoice, false);
        audioEngine.setPause(demo.spaceVoice, false);
    }
}
