// murmelrender - plays one sound file through the audio engine, offline, into a WAV.
//
//   murmelrender INPUT OUTPUT.wav [--rate HZ] [--seconds S] [--loop] [--speed X]
//                [--volume V] [--pan P] [--s16]
//
// INPUT is loaded as the demo loads its music (a streamed WavStream: WAV, Ogg
// Vorbis, FLAC or MP3, told apart by their first bytes), started at volume V
// (default 1) and pan P (-1 left .. 1 right, default 0) at relative speed X
// (default 1), and mixed by the engine at HZ frames per second (default 44100)
// with no sound device, in 2048-frame blocks: the same decoding, resampling,
// gain ramps and clipper as the demo's sound. OUTPUT.wav is stereo 32-bit
// float, or 16-bit with --s16 (converted as the SDL back end converts).
//
// Length: S seconds when --seconds is given (the voice is stopped there);
// otherwise up to the output frame that reaches the source's last frame, so
// a sound played slowly keeps its tail (the voice is kept until then, though
// the engine would end it as soon as its decoder has nothing more to read).
// No render runs past 24 hours: a file whose header makes its own length
// longer (a rate of 1 Hz, say) is refused unless --seconds is given.
// --loop plays the file looping and needs --seconds. Past 4 GiB the output
// is an RF64 file (the 64-bit WAV that ffmpeg, sox and libsndfile read).
// The same arguments and file give byte-identical output.
//
// Status: 0 done; 1 the engine refused the file (the result code's name is
// printed), its length is over 24 hours, or the output could not be written;
// 2 bad arguments (with a usage line). The output is written under a
// temporary name and renamed when complete; a failed render leaves nothing.
#include "cli.h"
#include "audio/murmel.h"
#include "wav_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr uint32_t BLOCK = 2048;             // frames mixed per call, as the demo's device buffer
constexpr double MAX_SECONDS = 24 * 3600.0;  // a day of sound at most

struct Options {
    std::string input, output;
    double rate = 44100, seconds = -1, speed = 1, volume = 1, pan = 0;
    bool loop = false, s16 = false;
};

int usage(const char *aProblem) {
    std::fprintf(stderr,
                 "murmelrender: %s\n"
                 "usage: murmelrender INPUT OUTPUT.wav [--rate HZ] [--seconds S] [--loop] [--speed X]\n"
                 "                    [--volume V] [--pan P] [--s16]\n",
                 aProblem);
    return 2;
}


int render(const Options &o) {
    Murmel::Engine engine;
    const auto rate = static_cast<uint32_t>(o.rate);
    engine.finishBackendSetup(rate, BLOCK, 1, 2); // no device
    Murmel::WavStream stream;
    const Murmel::Result loaded = stream.loadFile(o.input.c_str());
    if (loaded != Murmel::ResultOk) {
        std::fprintf(stderr, "murmelrender: [%s] not played: %s\n", o.input.c_str(), Murmel::resultName(loaded));
        return 1;
    }
    if (o.loop) stream.mSourceFlags |= Murmel::FLAG_LOOPING;
    // The render, not the engine, decides when the sound is over: the voice
    // stays after its decoder runs dry, so the frames it still holds are heard.
    stream.mSourceFlags |= Murmel::FLAG_NO_AUTO_STOP;
    const Murmel::VoiceHandle voice = engine.play(stream, static_cast<float>(o.volume), static_cast<float>(o.pan));
    engine.lockMixer();
    const int32_t slot = engine.voiceFromHandle(voice);
    if (slot >= 0) engine.applyVoiceSpeed(static_cast<uint32_t>(slot), static_cast<float>(o.speed));
    const double playRate = slot >= 0 ? engine.mVoices[slot]->mPlayRate : 0.0;
    engine.unlockMixer();

    // Without --seconds: up to the output frame at the source's last frame.
    const double derived = playRate > 0 ? std::ceil(stream.mFrameCount * o.rate / playRate) + 1 : 0.0;
    if (o.seconds < 0 && derived > MAX_SECONDS * o.rate) {
        std::fprintf(stderr, "murmelrender: %s would render %.0f h (more than 24 h); give --seconds\n",
                     o.input.c_str(), derived / o.rate / 3600.0);
        return 1;
    }
    const uint64_t total = o.seconds >= 0 ? static_cast<uint64_t>(std::llround(o.seconds * rate))
                                          : static_cast<uint64_t>(derived);
    WavWriter wav;
    if (!wav.open(o.output, rate, !o.s16, total)) {
        std::fprintf(stderr, "murmelrender: [%s] cannot be written: %s\n", o.output.c_str(), std::strerror(errno));
        return 1;
    }
    for (uint64_t done = 0; done < total;) {
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(BLOCK, total - done));
        const uint32_t mixed = engine.mixBlock(want, (want + 15) & ~15u);
        wav.add(engine.mMixScratch.data, (mixed + 15) & ~15u, mixed);
        done += mixed;
        if (o.seconds < 0 && engine.voiceFromHandle(voice) < 0) break; // it never played
    }
    engine.stopAllVoices();
    std::string why;
    if (!wav.close(&why)) {
        std::fprintf(stderr, "murmelrender: [%s] write failed: %s\n", o.output.c_str(), why.c_str());
        return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--rate" && hasValue) {
            if (!parseNumber(argv[++i], 1000, 768000, &o.rate) || o.rate != std::floor(o.rate))
                return usage("--rate takes a whole number of frames per second, 1000 to 768000");
        } else if (a == "--seconds" && hasValue) {
            if (!parseNumber(argv[++i], 0, MAX_SECONDS, &o.seconds)) return usage("--seconds takes 0 to 86400");
        } else if (a == "--speed" && hasValue) {
            if (!parseNumber(argv[++i], 0.001, 1000, &o.speed)) return usage("--speed takes 0.001 to 1000");
        } else if (a == "--volume" && hasValue) {
            if (!parseNumber(argv[++i], 0, 100, &o.volume)) return usage("--volume takes 0 to 100");
        } else if (a == "--pan" && hasValue) {
            if (!parseNumber(argv[++i], -1, 1, &o.pan)) return usage("--pan takes -1 to 1");
        } else if (a == "--loop") {
            o.loop = true;
        } else if (a == "--s16") {
            o.s16 = true;
        } else if (!a.empty() && a[0] != '-' && o.input.empty()) {
            o.input = a;
        } else if (!a.empty() && a[0] != '-' && o.output.empty()) {
            o.output = a;
        } else {
            return usage(("unexpected argument " + a).c_str());
        }
    }
    if (o.output.empty()) return usage("INPUT and OUTPUT.wav are needed");
    if (o.loop && o.seconds < 0) return usage("--loop needs --seconds");
    return render(o);
}
