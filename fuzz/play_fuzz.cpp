// Fuzzes playing what was read: the engine mixes a sound file from memory,
// looping, at a speed and device rate taken from the input, while the stream
// is reloaded and the voice seeks. Run with -timeout, so that a mix that
// never returns is a finding.
//
// Input: 2 bytes speed, 4 bytes device rate, 1 byte loop start, 1 byte of
// flags, then the file.
#include "audio/murmel.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 9 || size > (1u << 24)) return 0;
    uint16_t speedBits;
    uint32_t rateBits;
    std::memcpy(&speedBits, data, 2);
    std::memcpy(&rateBits, data + 2, 4);
    const float speed = static_cast<float>(speedBits + 1) / 8192.0f;   // 0.0001 .. 8
    const uint32_t rate = 4000 + rateBits % 764001;                    // 4000 .. 768000 Hz
    const double loopStart = data[6] / 64.0;                           // 0 .. 4 s
    const uint8_t flags = data[7];
    const uint8_t *file = data + 8;
    const auto fileBytes = static_cast<uint32_t>(size - 8);

    Murmel::Engine engine;
    engine.finishBackendSetup(rate, 256, 1, 2);
    Murmel::WavStream stream;
    if (stream.loadMemory(file, fileBytes) != Murmel::ResultOk) return 0;
    stream.mSourceFlags |= Murmel::FLAG_LOOPING;
    stream.mLoopStart = loopStart;
    const Murmel::VoiceHandle voice = engine.play(stream, 1.0f, (flags & 1) ? -0.5f : 0.25f);
    engine.lockMixer();
    const int32_t slot = engine.voiceFromHandle(voice);
    if (slot >= 0) engine.applyVoiceSpeed(static_cast<uint32_t>(slot), speed);
    engine.unlockMixer();

    for (int block = 0; block < 200; ++block) {
        engine.mixBlock(64 + (block % 3) * 61, 256);
        if (block == 50) { // reload while it plays: the running voice keeps its own
            stream.loadMemory(file, fileBytes / ((flags & 2) ? 2 : 1));
            engine.play(stream, 0.5f);
        }
        if (block == 100 || block == 150) { // a seek, as a loop restart makes it
            engine.lockMixer();
            const int32_t s = engine.voiceFromHandle(voice);
            if (s >= 0)
                engine.mVoices[s]->seekTo(block == 100 ? 0.1 * (flags >> 4) : 0.0, engine.mSeekScratch.data,
                                          engine.mSeekScratch.count);
            engine.unlockMixer();
        }
    }
    engine.stopAllVoices();
    return 0;
}
