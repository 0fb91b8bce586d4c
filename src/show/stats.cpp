// stats.cpp - see stats.h.
#include "show/stats.h"

#include <glad/gl.h>

#include <chrono>

namespace {
using Clock = std::chrono::steady_clock;

// Query sets in flight: a frame's three queries are read back at the earliest
// RING - 1 frames later; a set whose results have not arrived by the time it
// would be reused is skipped for that frame rather than waited for.
constexpr int RING = 8;

struct State {
    bool on = false;
    FrameStats sums;
    Clock::time_point windowStart, lastReport;
    GLuint queries[RING][3] = {};
    bool pending[RING] = {};
    bool measuring = false; // this frame's set is in use
    int slot = 0;
} state;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Adds the results of set `slot` once all three are there. False when not yet.
bool collect(int slot) {
    GLint available = 0;
    glGetQueryObjectiv(state.queries[slot][2], GL_QUERY_RESULT_AVAILABLE, &available);
    if (!available) return false;
    double *targets[3] = {&state.sums.shadowGpuMs, &state.sums.boxesGpuMs, &state.sums.cubesGpuMs};
    for (int p = 0; p < 3; ++p) {
        GLuint64 ns = 0;
        glGetQueryObjectui64v(state.queries[slot][p], GL_QUERY_RESULT, &ns);
        *targets[p] += static_cast<double>(ns) / 1e6;
    }
    ++state.sums.gpuFrames;
    state.pending[slot] = false;
    return true;
}
} // namespace

void enableFrameStats(bool aOn) {
    if (aOn && !state.on) {
        state.sums = {};
        state.windowStart = state.lastReport = Clock::now();
    }
    state.on = aOn;
}

bool frameStatsEnabled() { return state.on; }

FrameStats takeFrameStats() {
    FrameStats s = state.sums;
    const Clock::time_point now = Clock::now();
    s.seconds = std::chrono::duration<double>(now - state.windowStart).count();
    if (s.frames > 0)
        for (double *v : {&s.sceneMs, &s.effectsMs, &s.uploadMs, &s.passesMs}) *v /= s.frames;
    if (s.gpuFrames > 0)
        for (double *v : {&s.shadowGpuMs, &s.boxesGpuMs, &s.cubesGpuMs}) *v /= s.gpuFrames;
    state.sums = {};
    state.windowStart = now;
    return s;
}

void reportFrameStatsEachSecond(FILE *aOut) {
    if (!state.on || Clock::now() - state.lastReport < std::chrono::seconds(1)) return;
    state.lastReport = Clock::now();
    const FrameStats s = takeFrameStats();
    std::fprintf(aOut,
                 "stats: %.1f fps | cpu ms/frame: scene %.2f, wipe+text %.2f, upload %.2f, passes %.2f"
                 " | gpu ms/frame: shadow %.2f, boxes %.2f, cubes %.2f\n",
                 s.seconds > 0 ? s.frames / s.seconds : 0.0, s.sceneMs, s.effectsMs, s.uploadMs, s.passesMs,
                 s.shadowGpuMs, s.boxesGpuMs, s.cubesGpuMs);
    std::fflush(aOut);
}

CpuTimer::CpuTimer(CpuPart aPart) : mPart(aPart), mStartNs(state.on ? nowNs() : -1) {}

CpuTimer::~CpuTimer() {
    if (mStartNs < 0 || !state.on) return;
    const double ms = static_cast<double>(nowNs() - mStartNs) / 1e6;
    switch (mPart) {
    case CpuPart::Scene: state.sums.sceneMs += ms; break;
    case CpuPart::Effects: state.sums.effectsMs += ms; break;
    case CpuPart::Upload: state.sums.uploadMs += ms; break;
    case CpuPart::Passes: state.sums.passesMs += ms; break;
    }
}

void beginGpuPass(GpuPass aPass) {
    if (!state.on) return;
    if (aPass == GpuPass::Shadow) { // the frame's first pass takes its set
        if (!state.queries[0][0]) {
            // The first frame measured is left out: its first query also
            // times the driver's own start (seen as minutes with Mesa).
            glGenQueries(RING * 3, &state.queries[0][0]);
            state.measuring = false;
            return;
        }
        state.measuring = !state.pending[state.slot] || collect(state.slot);
    }
    if (state.measuring) glBeginQuery(GL_TIME_ELAPSED, state.queries[state.slot][static_cast<int>(aPass)]);
}

void endGpuPass(GpuPass) {
    if (state.on && state.measuring) glEndQuery(GL_TIME_ELAPSED);
}

void endFrameStats() {
    if (!state.on) return;
    ++state.sums.frames;
    if (state.measuring) {
        state.pending[state.slot] = true;
        state.measuring = false;
    }
    state.slot = (state.slot + 1) % RING;
    // Whatever has arrived meanwhile is taken now, oldest first.
    for (int k = 1; k < RING; ++k) {
        const int s = (state.slot + k) % RING;
        if (state.pending[s] && !collect(s)) break;
    }
}

void collectFrameStats() {
    if (!state.on) return;
    glFinish();
    for (int s = 0; s < RING; ++s)
        if (state.pending[s]) collect(s);
}
