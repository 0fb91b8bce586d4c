// music.cpp - the audio engine's part of start-up, and the two music voices.
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"

namespace {
constexpr uint32_t SAMPLE_RATE = 44100;   // frames per second asked of the device
constexpr uint32_t BUFFER_FRAMES = 2048;  // device buffer asked for
} // namespace

void startAudio() { audioEngine.start(SAMPLE_RATE, BUFFER_FRAMES); }

void loadMusic() {
    meloMusic.loadFile(assetPath("vrom2022_melo.ogg").c_str());
    spaceMusic.loadFile(assetPath("vrom2022_space.ogg").c_str());
}

void startMusic() {
    // Both loop and start together, silent; the frame brings them in.
    meloMusic.mSourceFlags |= Murmel::FLAG_LOOPING;
    const Murmel::VoiceHandle melo = audioEngine.play(meloMusic, 0.0f, 0.0f);
    spaceMusic.mSourceFlags |= Murmel::FLAG_LOOPING;
    const Murmel::VoiceHandle space = audioEngine.play(spaceMusic, 0.0f, 0.0f);
    demo.meloVoice = melo;
    demo.spaceVoice = space;
}

void setMusicVolumes(float melo, float space) {
    audioEngine.setVolume(demo.meloVoice, melo);
    audioEngine.setVolume(demo.spaceVoice, space);
}
