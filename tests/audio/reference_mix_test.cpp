// The whole mix against a plain mixer written here from the engine's rules,
// sample by sample: each voice is one linear interpolation of its whole
// source (20-bit fixed-point positions, the frame before the first silent),
// times a gain that ramps from the last block's to this block's across the
// block, summed in slot order, then the round-off clipper. Many voices whose
// volumes and pans change every block, device rates of 44100, 48000, 32000
// and 11025 Hz, sources at other rates and at the device's, mono and stereo,
// looping and not, device blocks of many lengths: the engine's output must be
// equal to the reference's, exactly.
#include "audio/murmel.h"
#include "test_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace Murmel;

namespace {
// Samples in -0.6 .. 0.6 with no pattern an optimisation could get right by accident.
float sample(uint32_t aVoice, uint32_t aFrame, uint32_t aChannel) {
    const uint32_t h = (aFrame * 2654435761u) ^ (aVoice * 40503u + aChannel * 9176u);
    return static_cast<float>((h >> 11) % 4096) / 3413.0f - 0.6f;
}

struct VoiceSpec {
    uint32_t channels;
    float rate;      // the source's frames per second
    uint32_t frames; // its length when looping; otherwise it never ends
    bool looping;
};

// The reference's view of one voice.
struct RefVoice {
    VoiceSpec spec;
    uint32_t index;      // whose samples
    uint32_t step = 0;   // fixed-point source frames per output frame
    uint64_t position = 0; // fixed-point position of the next output frame
    float gain[2] = {};    // the pan's gains
    float applied[2] = {}; // the gains reached at the end of the last block
    float volume = 0;

    // Source frame q of channel c as the engine's blocks hold it: frame -1
    // is the cleared previous block; a looping source repeats from its start.
    float at(int64_t q, uint32_t c) const {
        if (q < 0) return 0.0f;
        const auto frame = static_cast<uint32_t>(spec.looping ? static_cast<uint64_t>(q) % spec.frames : static_cast<uint64_t>(q));
        return sample(index, frame, spec.channels == 2 ? c : 0);
    }
};

void panGains(float aPan, float aGain[2]) {
    const double angle = static_cast<double>(aPan + 1.0f) * 3.14159265359 * 0.25;
    aGain[0] = static_cast<float>(std::cos(angle));
    aGain[1] = static_cast<float>(std::sin(angle));
}

float clip(float x) {
    float y = 0.87f * x - 0.1f * (x * x * x);
    if (x <= -1.65f) y = -0.9862875f;
    if (x >= 1.65f) y = 0.9862875f;
    if (x != x) y = 0.0f;
    return y * 0.95f;
}

// Block b's volume and pan of voice v.
float volumeAt(uint32_t v, uint32_t b) { return 0.05f + 0.03f * static_cast<float>((v * 7 + b * 3) % 11); }
float panAt(uint32_t v, uint32_t b) { return -1.0f + static_cast<float>((v * 5 + b) % 9) * 0.25f; }

void expectSameMix(uint32_t aRate, const std::vector<VoiceSpec> &aVoices, const std::vector<uint32_t> &aBlocks) {
    auto engine = offlineEngine(aRate);
    std::vector<std::unique_ptr<TestSource>> sources;
    std::vector<VoiceHandle> handles;
    std::vector<RefVoice> ref;
    for (uint32_t v = 0; v < aVoices.size(); ++v) {
        const VoiceSpec &spec = aVoices[v];
        auto source = std::make_unique<TestSource>(spec.channels, spec.rate);
        source->value = [v, channels = spec.channels](uint32_t i, uint32_t k) { return sample(v, i, channels == 2 ? k : 0); };
        if (spec.looping) {
            source->frames = spec.frames;
            source->mSourceFlags = FLAG_LOOPING;
        }
        handles.push_back(engine->play(*source, volumeAt(v, 0), panAt(v, 0)));
        sources.push_back(std::move(source));
        RefVoice r{spec, v};
        r.step = static_cast<uint32_t>(std::floor(static_cast<double>(spec.rate / static_cast<float>(aRate)) * 1048576.0));
        r.volume = volumeAt(v, 0);
        panGains(panAt(v, 0), r.gain);
        for (int c = 0; c < 2; ++c) r.applied[c] = r.gain[c] * r.volume; // the first block starts at its level
        ref.push_back(r);
    }
    uint64_t done = 0;
    for (uint32_t b = 0; b < aBlocks.size(); ++b) {
        const uint32_t frames = aBlocks[b], stride = (frames + 15) & ~15u;
        if (b > 0) { // the show's way: new volumes (and here pans) before every block
            for (uint32_t v = 0; v < ref.size(); ++v) {
                engine->setVolume(handles[v], volumeAt(v, b));
                engine->lockMixer();
                engine->applyVoicePan(static_cast<uint32_t>(engine->voiceFromHandle(handles[v])), panAt(v, b));
                engine->unlockMixer();
                ref[v].volume = volumeAt(v, b);
                panGains(panAt(v, b), ref[v].gain);
            }
        }
        ASSERT_EQ(engine->mixBlock(frames, stride), frames);

        std::vector<float> bus(2 * static_cast<size_t>(frames), 0.0f);
        for (RefVoice &r : ref) {
            float start[2], target[2], step[2];
            for (int c = 0; c < 2; ++c) {
                start[c] = r.applied[c];
                target[c] = r.gain[c] * r.volume;
                step[c] = (target[c] - start[c]) / static_cast<float>(frames);
            }
            for (uint32_t j = 0; j < frames; ++j, r.position += r.step) {
                const auto q = static_cast<int64_t>(r.position >> 20);
                const auto f = static_cast<float>(r.position & 0xFFFFF);
                for (uint32_t c = 0; c < 2; ++c) {
                    const float s2 = r.at(q, c), s1 = r.at(q - 1, c);
                    const float out = (s2 - s1) * f * (1.0f / 1048576.0f) + s1;
                    bus[c * frames + j] += out * (static_cast<float>(j + 1) * step[c] + start[c]);
                }
            }
            r.applied[0] = target[0];
            r.applied[1] = target[1];
        }
        for (uint32_t c = 0; c < 2; ++c)
            for (uint32_t j = 0; j < frames; ++j) {
                const float expected = clip(bus[c * frames + j]);
                const float got = engine->mMixScratch.data[c * stride + j];
                ASSERT_EQ(got, expected) << aRate << " Hz, block " << b << " (" << frames << " frames, output frame "
                                         << done + j << "), channel " << c;
            }
        done += frames;
    }
    EXPECT_GT(done, 250000u);
}

// The device blocks: the demo's 2048, a video frame's 735 and 800, and odd
// lengths that leave blocks unaligned to four frames.
std::vector<uint32_t> deviceBlocks() {
    const uint32_t pattern[] = {2048, 735, 1, 333, 2048, 800, 15, 4096, 1023, 2, 2048, 517};
    std::vector<uint32_t> blocks;
    for (int round = 0; round < 20; ++round)
        for (uint32_t n : pattern) blocks.push_back(n);
    return blocks;
}

// Twelve voices: mono and stereo, at the device's rate and at others, some
// looping over lengths that are not a multiple of the 512-frame block.
std::vector<VoiceSpec> manyVoices(uint32_t aRate) {
    const auto same = static_cast<float>(aRate);
    return {{2, 44100, 0, false}, {1, 44100, 0, false}, {2, same, 0, false},   {1, same, 0, false},
            {2, 44100, 3001, true}, {1, 22050, 1777, true}, {2, 48000, 0, false}, {1, 11025, 0, false},
            {2, 96000, 5000, true}, {2, same, 2049, true},  {1, 32000, 0, false}, {2, 8000, 700, true}};
}

TEST(ReferenceMix, EqualsThePlainMixerAtEveryRate) {
    for (const uint32_t rate : {44100u, 48000u, 32000u, 11025u}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz");
        expectSameMix(rate, manyVoices(rate), deviceBlocks());
        if (HasFatalFailure()) return;
    }
}

// One voice alone, mono and stereo, at ratio 1 and not: the four-frame groups
// and the frames left over, with nothing else on the bus to hide an error.
TEST(ReferenceMix, EachKindOfVoiceAlone) {
    for (const VoiceSpec &spec : {VoiceSpec{1, 44100, 0, false}, VoiceSpec{2, 44100, 0, false},
                                  VoiceSpec{1, 44100, 1001, true}, VoiceSpec{2, 44100, 1001, true}})
        for (const uint32_t rate : {44100u, 48000u}) {
            SCOPED_TRACE(std::to_string(spec.channels) + " channels at " + std::to_string(rate) + " Hz");
            expectSameMix(rate, {spec}, deviceBlocks());
            if (HasFatalFailure()) return;
        }
}
} // namespace
