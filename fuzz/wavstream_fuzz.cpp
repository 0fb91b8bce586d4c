// Fuzzes sound files from memory: the probe by the first four bytes, opening
// an instance, reading every block, restarting and seeking.
#include "audio/murmel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > (1u << 24)) return 0;
    Murmel::WavStream stream;
    if (stream.loadMemory(data, static_cast<uint32_t>(size)) != Murmel::ResultOk) return 0;
    Murmel::AudioSourceInstance *instance = stream.makeInstance();
    instance->initFromSource(stream, 0);
    static float block[512 * 8];
    static float scratch[4096 * 8];
    // At most a minute of sound per input, whatever the header claims.
    for (int i = 0; i < 6000 && instance->readFrames(block, 512, 512) > 0; ++i) {}
    instance->isFinished();
    instance->restart();
    instance->readFrames(block, 512, 512);
    instance->seekTo(0.25, scratch, 4096);
    instance->readFrames(block, 512, 512);
    instance->seekTo(0.0, scratch, 4096);
    instance->readFrames(block, 512, 512);
    delete instance;
    return 0;
}
