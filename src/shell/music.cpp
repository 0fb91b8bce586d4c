// music.cpp - the audio engine's part of start-up, and the demo's two music
// tracks: on its own engine, or, where another engine plays them (the page's
// audio worklet), relayed to it.
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/music_tracks.h"
#include "shell/shell.h"

namespace {
constexpr uint32_t SAMPLE_RATE = 44100;   // frames per second asked of the device
constexpr uint32_t BUFFER_FRAMES = 2048;  // device buffer asked for

MusicTracks tracks(audioEngine, meloMusic, spaceMusic); // holds references only
const MusicRelay *relay = nullptr;
} // namespace

void startAudio() { audioEngine.start(SAMPLE_RATE, BUFFER_FRAMES); }

void loadMusic() {
    meloMusic.loadFile(assetPath("vrom2022_melo.ogg").c_str());
    spaceMusic.loadFile(assetPath("vrom2022_space.ogg").c_str());
}

void relayMusic(const MusicRelay *aRelay) { relay = aRelay; }

void startMusic(bool aHoldUntilAudible) {
    if (relay) return relay->start(aHoldUntilAudible);
    tracks.start(aHoldUntilAudible);
    demo.meloVoice = tracks.meloVoice();
    demo.spaceVoice = tracks.spaceVoice();
}

int64_t musicFrameAt(int32_t t, uint32_t rate, uint32_t frames) { return MusicTracks::frameAt(t, rate, frames); }

void seekMusic(int32_t t) {
    if (relay) return relay->seek(t);
    tracks.seek(t);
}

void setMusicVolumes(float melo, float space) {
    if (relay) return relay->setVolumes(melo, space);
    tracks.setVolumes(melo, space);
}
