// worklet_main.cpp - the page's sound, on the browser's audio thread: a small
// WebAssembly module of its own (vrom2022-audio.wasm, with no JavaScript
// runtime), which the page's audio worklet (vrom2022-audio.js) instantiates.
// It holds an engine and the two music tracks, decoded from the Ogg files
// the page hands over, and mixes one render quantum each time the worklet's
// process() asks. The page's show relays to it what it does to its music
// (start, seek, volumes); a pause is the worklet's own (it stops asking).
//
// Threads: the audio worklet's, the only one this module knows.
#include "audio/murmel.h"
#include "shell/music_tracks.h"

#include <emscripten.h>

#include <cstdint>

namespace {
// Built in this order, torn down in the reverse: the engine outlives the streams.
Murmel::Engine engine;
Murmel::WavStream melo, space;
MusicTracks tracks(engine, melo, space);
} // namespace

extern "C" {
// Opens the engine at the context's rate for quanta of `frames`; 0 when it is ready.
EMSCRIPTEN_KEEPALIVE int vrom_audio_open(uint32_t rate, uint32_t frames) {
    return engine.start(rate, frames) == Murmel::ResultOk ? 0 : 1;
}

// Room for `bytes` of a file that the worklet copies in, for vrom_audio_load.
EMSCRIPTEN_KEEPALIVE uint8_t *vrom_audio_buffer(uint32_t bytes) { return new uint8_t[bytes ? bytes : 1]; }

// Track 0 (melody) or 1 (space) from the `bytes` at `data`, which it frees;
// returns the engine's result (0: loaded).
EMSCRIPTEN_KEEPALIVE int vrom_audio_load(int track, uint8_t *data, uint32_t bytes) {
    const Murmel::Result result = (track == 0 ? melo : space).loadMemory(data, bytes); // copies
    delete[] data;
    return result;
}

EMSCRIPTEN_KEEPALIVE void vrom_audio_start(int holdUntilAudible) { tracks.start(holdUntilAudible != 0); }
EMSCRIPTEN_KEEPALIVE void vrom_audio_seek(int32_t t) { tracks.seek(t); }
EMSCRIPTEN_KEEPALIVE void vrom_audio_volumes(float meloVolume, float spaceVolume) {
    tracks.setVolumes(meloVolume, spaceVolume);
}

// Mixes `frames`; returns the frames mixed, which vrom_audio_output holds
// planar, a channel every (frames rounded up to 16) floats.
EMSCRIPTEN_KEEPALIVE uint32_t vrom_audio_mix(uint32_t frames) {
    return engine.mixBlock(frames, (frames + 15) & ~15u);
}
EMSCRIPTEN_KEEPALIVE const float *vrom_audio_output() { return engine.mMixScratch.data; }
}
