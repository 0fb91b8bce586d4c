// platform_web.cpp - the browser back end: reports as messages on the page,
// the page's monotonic clock (stopped while the show is paused), and frames
// that the browser presents when the animation-frame callback returns.
#include "platform/platform.h"
#include "platform/web.h"

#include <emscripten.h>

namespace platform {

namespace {
double origin = -1;     // performance.now at the first reading, ms
double pausedAt = -1;   // when the pause began, or -1
double pausedTotal = 0; // ms spent paused before
} // namespace

bool showBackendBox(const char *caption, const char *text) {
    // The page's vromShowMessage adds the report to its message panel; the
    // show goes on, as it does after a box is dismissed on the desktop.
    EM_ASM({ if (typeof vromShowMessage === 'function') vromShowMessage(UTF8ToString($0), UTF8ToString($1)); },
           caption, text);
    return true;
}

uint32_t ticksMs() {
    const double now = emscripten_get_now();
    if (origin < 0) origin = now;
    const double shown = (pausedAt >= 0 ? pausedAt : now) - origin - pausedTotal;
    return static_cast<uint32_t>(static_cast<int64_t>(shown));
}

void presentFrame() {}

namespace web {
void setPaused(bool aPaused) {
    const double now = emscripten_get_now();
    if (aPaused && pausedAt < 0) pausedAt = now;
    if (!aPaused && pausedAt >= 0) {
        pausedTotal += now - pausedAt;
        pausedAt = -1;
    }
}
bool paused() { return pausedAt >= 0; }
} // namespace web

} // namespace platform
