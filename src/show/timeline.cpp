// timeline.cpp - the show clock, the music cross-fade and the scene schedule.
#include "platform/platform.h"
#include "shell/demostate.h"
#include "shell/lifetime.h"
#include "shell/shell.h"
#include "show/show.h"
#include "show/stats.h"
#include "st/st_vertexbuffer.h"
#include "voxel/voxel.h"


#include <algorithm>
#include <cmath>

uint32_t showClock(uint32_t ticks) { return ticks * 3u / 4u; }

int32_t showTime(uint32_t ticks, int32_t *startTime) {
    const uint32_t c = showClock(ticks);
    if (*startTime == 0) *startTime = static_cast<int32_t>(c);
    return static_cast<int32_t>(c - static_cast<uint32_t>(*startTime));
}

TimelineStep timelineStep(int32_t t) {
    TimelineStep step{};
    step.ramp = t >= VOLUME_RAMP_UNITS ? 1.0f : static_cast<float>(t) / VOLUME_RAMP_UNITS;
    const double d = t * 0.0001;
    step.mix = static_cast<float>((std::sin(0.17 * d) + std::sin(0.13 * d) + std::sin(0.19 * d)) / 6 + 0.5);
    step.meloVolume = step.mix * step.ramp;
    step.spaceVolume = (1 - step.mix) * step.ramp;

    if (t <= INTRO_UNITS) { // only the scroll text and the centre cell
        step.scene = -1;
        step.wipe = true;
        step.wipeLevel = 0.0f;
        return step;
    }
    step.scene = ((t - INTRO_UNITS) / SLOT_UNITS) % SCENE_COUNT;
    const int32_t u = t % SLOT_UNITS; // 40000 is a multiple of the slot length
    if (u < FADE_UNITS) {
        step.wipe = true;
        step.wipeLevel = static_cast<float>(u) / FADE_UNITS;
    } else if (u > SLOT_UNITS - FADE_UNITS) {
        step.wipe = true;
        step.wipeLevel = static_cast<float>(SLOT_UNITS - u) / FADE_UNITS;
    }
    return step;
}

void runScene(int32_t k, int32_t t) {
    static void (*const SCENES[SCENE_COUNT])(int32_t) = {
        scene_worms, scene_quintic, scene_sinescape, scene_juliastack, scene_blobs, scene_cubictwist,
    };
    if (k >= 0 && k < SCENE_COUNT) SCENES[k](t);
}

ShowMoment updateTimeline() { return runTimeline(showTime(platform::ticksMs(), &demo.startTime)); }

ShowMoment runTimeline(int32_t t) {
    const TimelineStep step = timelineStep(t);
    setMusicVolumes(step.meloVolume, step.spaceVolume);
    {
        const CpuTimer timer(CpuPart::Scene);
        runScene(step.scene, t);
    }
    {
        const CpuTimer timer(CpuPart::Effects);
        if (step.wipe) sphere_wipe(step.wipeLevel);
        scroller_draw(t); // after the fade, so the text is never faded
    }
    const CpuTimer timer(CpuPart::Upload);
    demo.cubeMesh->upload();
    return {t, step.mix};
}

void drawFrame() {
    const ShowMoment now = updateTimeline();
    renderPasses(now.t, now.mix);
    reportFrameStatsEachSecond(stderr);
}

void mixShowSound(int64_t start, int64_t frames, int64_t fps, uint32_t rate, SoundSink sink, void *user) {
    seekMusic(static_cast<int32_t>(start)); // the tracks where the live show has them at `start`
    for (int64_t k = 0; k < frames; ++k) {
        const TimelineStep step = timelineStep(static_cast<int32_t>(start + k * 750 / fps));
        setMusicVolumes(step.meloVolume, step.spaceVolume);
        auto count = static_cast<uint32_t>((k + 1) * rate / fps - k * rate / fps);
        while (count > 0) {
            const uint32_t block = std::min(count, 2048u);
            const uint32_t mixed = audioEngine.mixBlock(block, (block + 15) & ~15u);
            if (mixed == 0) return; // no buffers
            sink(user, audioEngine.mMixScratch.data, (mixed + 15) & ~15u, mixed);
            count -= mixed;
        }
    }
}
