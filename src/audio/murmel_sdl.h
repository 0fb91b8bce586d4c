// murmel_sdl.h - the SDL back end's arithmetic, open for tests.
#pragma once

#include "audio/murmel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace Murmel {

// What the device callback does: mixes aBytes of aChannels-channel audio in
// SDL format aFormat (AUDIO_F32, else AUDIO_S16) and interleaves it into
// aStream (16-bit samples are x * 32767 truncated toward zero).
void sdlMixInto(Engine &aEngine, uint16_t aFormat, uint8_t aChannels, uint8_t *aStream, uint32_t aBytes);

// A device sample of the 16-bit format: x * 32767, truncated toward zero,
// computed in double precision (in float it is one step off for about
// 0.06 % of samples); NaN gives 0 and anything outside -1..1 the end value.
inline int16_t sdlSampleToS16(float aSample) {
    if (!(aSample == aSample)) return 0;
    const double x = std::clamp(static_cast<double>(aSample), -1.0, 1.0);
    return static_cast<int16_t>(std::trunc(x * 32767.0));
}

// How many times the SDL library has been looked up (once per process).
int sdlLibraryLoads();
// The library looked up on the first start (tests name a missing one).
void setSdlLibraryName(const char *aName);

} // namespace Murmel
