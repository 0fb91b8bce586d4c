// murmel_worklet.cpp - the device of an engine that runs inside a browser's
// audio worklet: the worklet's process() is the device callback, which calls
// mixBlock for each render quantum (128 frames) at the context's rate.
// Nothing to open: the rate and the quantum are the worklet's own.
#include "audio/murmel.h"

namespace Murmel {

Result startDeviceBackend(Engine &aEngine, uint32_t aSampleRate, uint32_t aBufferFrames) {
    aEngine.finishBackendSetup(aSampleRate, aBufferFrames, 1, 2);
    aEngine.mBackendKind = BACKEND_WEB;
    aEngine.mBackendName = "AudioWorklet";
    return ResultOk;
}

} // namespace Murmel
