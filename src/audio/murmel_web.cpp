// murmel_web.cpp - the page's audio device: the browser's AudioContext.
//
// A page's own thread draws the frames, and a frame may take half a second
// with a software WebGL, so the page does not mix: an audio worklet, on the
// browser's audio thread, runs a second engine of its own (murmel_worklet.cpp,
// worklet_main.cpp) and pulls the sound block by block as the device plays.
// This engine opens the context (inside the click, which lets the browser
// start sound), takes its rate and sizes its buffers for it; the page relays
// what the show does to its music to the worklet (web_main.cpp). The context
// and the worklet are the page's vromAudio (audio_page.js).
#include "audio/murmel.h"

#include <emscripten.h>

namespace Murmel {

namespace {
void cleanup(Engine *) {
    EM_ASM({ vromAudio.close(); });
}
} // namespace

Result startDeviceBackend(Engine &aEngine, uint32_t, uint32_t aBufferFrames) {
    const int rate = EM_ASM_INT({ return vromAudio.open(); }); // 0: no AudioContext
    if (rate <= 0) return GeneralFailure;
    aEngine.finishBackendSetup(static_cast<uint32_t>(rate), aBufferFrames, 1, 2);
    aEngine.mBackendCleanup = cleanup;
    aEngine.mBackendKind = BACKEND_WEB;
    aEngine.mBackendName = "Web Audio (AudioWorklet)";
    return ResultOk;
}

} // namespace Murmel
