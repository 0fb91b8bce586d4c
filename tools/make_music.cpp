// make_music - composes and renders the demo's two music tracks.
//
//   make_music OUT_DIR
//
// Writes OUT_DIR/vrom2022_melo.wav and OUT_DIR/vrom2022_space.wav: 44100 Hz,
// 16-bit stereo, 115.2 s each (48 bars of 4/4 at 100 beats a minute), both on
// one 8-bar progression in A minor (Am F C G Am F Dm E), so that every moment
// of the show's slow cross-fade between them is in tune and in time.
//   melo:  a lead melody with a dotted-eighth echo, a bass line, a soft
//          arpeggio and light percussion;
//   space: a slow pad of the same chords, drifting bell tones and a wind of
//          filtered noise.
// Every oscillator is a sum of sines below 18 kHz, so nothing aliases. The
// piece is rendered twice through and the second pass kept: the echo and
// reverb tails of the end are already in its beginning, so it loops without a
// seam. Each track is then freed of DC and normalised to -1.5 dBFS.
// Encode with: oggenc -q 3 -o assets/NAME.ogg OUT_DIR/NAME.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {
constexpr int RATE = 44100;
constexpr int BEAT = 26460;              // samples per beat at 100 beats a minute
constexpr int BAR = 4 * BEAT;
constexpr int BARS = 48;                 // six rounds of the 8-bar progression
constexpr int LENGTH = BARS * BAR;       // 5080320 samples, 115.2 s
constexpr double PI = 3.14159265358979323846;
constexpr double NYQUIST_GUARD = 18000.0;

double midiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

struct Stereo {
    std::vector<float> left = std::vector<float>(2 * LENGTH), right = std::vector<float>(2 * LENGTH);
    // Adds a sample at position i (two passes long), panned -1..1 at constant power.
    void add(long i, double value, double pan) {
        if (i < 0 || i >= 2L * LENGTH) return;
        const double a = (pan + 1.0) * PI * 0.25;
        left[static_cast<size_t>(i)] += static_cast<float>(value * std::cos(a));
        right[static_cast<size_t>(i)] += static_cast<float>(value * std::sin(a));
    }
};

struct Random {
    uint32_t s;
    double next() { // 0..1
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return (s >> 8) / 16777216.0;
    }
};

// The progression, one chord per bar: root and the chord's three notes.
struct Chord {
    int root;
    int notes[3];
};
const Chord PROGRESSION[8] = {
    {45, {57, 60, 64}}, // Am
    {41, {57, 60, 65}}, // F
    {48, {55, 60, 64}}, // C
    {43, {55, 59, 62}}, // G
    {45, {57, 60, 64}}, // Am
    {41, {57, 60, 65}}, // F
    {50, {57, 62, 65}}, // Dm
    {40, {56, 59, 64}}, // E
};

// ---- instruments ------------------------------------------------------------------------

// A note of harmonics 1..n with amplitudes 1/h^tilt, with attack, decay to
// sustain, release after its length; vibrato after 0.25 s.
struct Voice {
    double tilt = 1.0;       // harmonic roll-off
    int harmonics = 8;       // at most; those above 18 kHz are left out
    double attack = 0.01, decay = 0.3, sustain = 0.6, release = 0.3; // seconds, level
    double vibrato = 0.0;    // depth in semitones
    double detune = 0.0;     // second oscillator, in Hz (0: none)
};

void playNote(Stereo &out, const Voice &v, long start, double seconds, double note, double gain, double pan) {
    const double hz = midiHz(note);
    const long total = static_cast<long>((seconds + v.release) * RATE);
    double phase[2][32] = {};
    for (long i = 0; i < total; ++i) {
        const double t = static_cast<double>(i) / RATE;
        double env = t < v.attack ? t / v.attack
                   : t < v.attack + v.decay ? 1.0 - (1.0 - v.sustain) * (t - v.attack) / v.decay
                   : v.sustain;
        if (t > seconds) env *= std::max(0.0, 1.0 - (t - seconds) / v.release);
        if (env <= 0.0) continue;
        const double vib = t > 0.25 ? v.vibrato * std::sin(2 * PI * 5.2 * t) * std::min(1.0, (t - 0.25) * 2) : 0.0;
        const double f = hz * std::pow(2.0, vib / 12.0);
        double sample = 0.0;
        for (int osc = 0; osc < (v.detune != 0.0 ? 2 : 1); ++osc) {
            const double fo = f + (osc ? v.detune : 0.0);
            for (int h = 1; h <= v.harmonics && h * fo < NYQUIST_GUARD; ++h) {
                phase[osc][h] += 2 * PI * h * fo / RATE;
                sample += std::sin(phase[osc][h]) / std::pow(h, v.tilt);
            }
        }
        out.add(start + i, sample * env * gain, pan);
    }
}

void kick(Stereo &out, long start, double gain) {
    double phase = 0.0;
    for (long i = 0; i < RATE / 3; ++i) {
        const double t = static_cast<double>(i) / RATE;
        phase += 2 * PI * (45.0 + 90.0 * std::exp(-t * 30.0)) / RATE;
        out.add(start + i, std::sin(phase) * std::exp(-t * 9.0) * std::min(1.0, t * 400) * gain, 0.0);
    }
}

void hat(Stereo &out, Random &rnd, long start, double gain, double pan) {
    double previous = 0.0;
    for (long i = 0; i < RATE / 12; ++i) {
        const double t = static_cast<double>(i) / RATE;
        const double white = rnd.next() * 2 - 1;
        const double high = white - previous; // a first difference: noise tilted up
        previous = white;
        out.add(start + i, high * std::exp(-t * 60.0) * gain, pan);
    }
}

// ---- effects --------------------------------------------------------------------------------

// An echo at a dotted eighth, feeding back, alternating sides.
void echo(Stereo &s, double feedback, double wet) {
    const long delay = 3 * BEAT / 4;
    for (long i = delay; i < 2L * LENGTH; ++i) {
        const auto k = static_cast<size_t>(i), d = static_cast<size_t>(i - delay);
        const float l = s.left[d], r = s.right[d];
        s.left[k] += static_cast<float>(r * feedback * wet);
        s.right[k] += static_cast<float>(l * feedback * wet);
    }
}

// A small Schroeder reverb: four combs and two all-passes per side.
void reverb(Stereo &s, double wet, double size) {
    for (int side = 0; side < 2; ++side) {
        std::vector<float> &x = side ? s.right : s.left;
        std::vector<float> dry = x, acc(x.size(), 0.0f);
        const int combs[4] = {1557, 1617, 1491, 1422};
        for (int c = 0; c < 4; ++c) {
            const auto d = static_cast<size_t>((combs[c] + side * 23) * size);
            std::vector<float> y(x.size(), 0.0f);
            double lp = 0.0;
            for (size_t i = d; i < x.size(); ++i) {
                lp = 0.7 * y[i - d] + 0.3 * lp; // damping
                y[i] = static_cast<float>(dry[i - d] + 0.84 * lp);
                acc[i] += y[i] * 0.25f;
            }
        }
        const int allpasses[2] = {556, 441};
        for (int a : allpasses) {
            const auto d = static_cast<size_t>(a + side * 23);
            std::vector<float> y(acc.size(), 0.0f);
            for (size_t i = 0; i < acc.size(); ++i) {
                const float delayed = i >= d ? y[i - d] : 0.0f;
                y[i] = static_cast<float>(-0.5 * acc[i] + (i >= d ? acc[i - d] : 0.0f) + 0.5 * delayed);
            }
            acc.swap(y);
        }
        for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(dry[i] + wet * acc[i]);
    }
}

// ---- the two tracks ------------------------------------------------------------------------------

// Melody of one round: bar, beat, length in beats, MIDI note.
struct MelodyNote {
    int bar;
    double beat, beats;
    int note;
};
const MelodyNote MELODY[] = {
    {0, 0, 1, 69},   {0, 1, 1, 72},   {0, 2, 1.5, 76}, {0, 3.5, 0.5, 74},
    {1, 0, 1.5, 72}, {1, 1.5, 0.5, 69}, {1, 2, 2, 77},
    {2, 0, 1, 76},   {2, 1, 1, 74},   {2, 2, 1, 72},   {2, 3, 1, 67},
    {3, 0, 2, 71},   {3, 2, 1, 74},   {3, 3, 1, 71},
    {4, 0, 1, 72},   {4, 1, 1, 76},   {4, 2, 1.5, 81}, {4, 3.5, 0.5, 79},
    {5, 0, 1, 77},   {5, 1, 1, 76},   {5, 2, 2, 72},
    {6, 0, 1, 74},   {6, 1, 1, 77},   {6, 2, 1, 76},   {6, 3, 1, 74},
    {7, 0, 1.5, 71}, {7, 1.5, 0.5, 68}, {7, 2, 2, 71},
};

Stereo melo() {
    Stereo s;
    Random rnd{0xC0FFEEu};
    Voice lead{1.15, 10, 0.015, 0.25, 0.7, 0.35, 0.12, 0.0};
    Voice bass{2.2, 4, 0.005, 0.35, 0.45, 0.12, 0.0, 0.0};
    Voice pluck{1.6, 6, 0.004, 0.18, 0.0, 0.08, 0.0, 0.0};
    for (int pass = 0; pass < 2; ++pass) {
        for (int bar = 0; bar < BARS; ++bar) {
            const long at = static_cast<long>(pass) * LENGTH + static_cast<long>(bar) * BAR;
            const int round = bar / 8;
            const Chord &chord = PROGRESSION[bar % 8];
            // Bass: root on 1, fifth on the "and" of 2, root on 3, octave on 4.
            const int bassNotes[4] = {chord.root, chord.root + 7, chord.root, chord.root + 12};
            const double bassBeats[4] = {0, 1.5, 2, 3};
            for (int k = 0; k < 4; ++k)
                playNote(s, bass, at + static_cast<long>(bassBeats[k] * BEAT), 0.45, bassNotes[k], 0.22, 0.0);
            // Arpeggio in eighths, up and down the chord an octave above.
            const int order[8] = {0, 1, 2, 1, 0, 2, 1, 2};
            for (int k = 0; k < 8; ++k)
                playNote(s, pluck, at + k * BEAT / 2, 0.18, chord.notes[order[k]] + 12, round == 0 ? 0.045 : 0.06,
                         k % 2 ? 0.45 : -0.45);
            // Percussion from the second round on: soft kick on 1 and 3, hats off the beat.
            if (round >= 1) {
                kick(s, at, 0.32);
                kick(s, at + 2 * BEAT, 0.28);
                for (int k = 0; k < 4; ++k) hat(s, rnd, at + k * BEAT + BEAT / 2, 0.05, k % 2 ? 0.3 : -0.3);
            }
            // The melody from the second round on, an octave up in the fifth.
            if (round >= 1) {
                for (const MelodyNote &n : MELODY) {
                    if (n.bar != bar % 8) continue;
                    const int octave = round == 4 ? 12 : 0;
                    playNote(s, lead, at + static_cast<long>(n.beat * BEAT), n.beats * BEAT / RATE * 0.92,
                             n.note + octave, round == 3 ? 0.11 : 0.14, 0.1);
                }
            }
        }
    }
    echo(s, 0.35, 0.8);
    reverb(s, 0.22, 1.0);
    return s;
}

Stereo space() {
    Stereo s;
    Random rnd{0x5EEDu};
    Voice pad{1.4, 12, 1.4, 1.0, 0.8, 2.2, 0.03, 0.35};
    Voice bell{3.0, 3, 0.003, 2.5, 0.0, 1.5, 0.0, 0.0};
    for (int pass = 0; pass < 2; ++pass) {
        for (int bar = 0; bar < BARS; ++bar) {
            const long at = static_cast<long>(pass) * LENGTH + static_cast<long>(bar) * BAR;
            const Chord &chord = PROGRESSION[bar % 8];
            // The pad: the chord, spread left to right, and the root below.
            for (int k = 0; k < 3; ++k)
                playNote(s, pad, at, 4.0 * BEAT / RATE, chord.notes[k], 0.05, -0.6 + 0.6 * k);
            playNote(s, pad, at, 4.0 * BEAT / RATE, chord.root + 12, 0.045, 0.0);
            // Bells: a few chord tones two octaves up, on random eighths.
            const int bells = 1 + static_cast<int>(rnd.next() * 3);
            for (int b = 0; b < bells; ++b) {
                const int slot = static_cast<int>(rnd.next() * 8);
                const int note = chord.notes[static_cast<int>(rnd.next() * 3) % 3] + 24;
                playNote(s, bell, at + slot * BEAT / 2, 0.1, note, 0.035, rnd.next() * 1.6 - 0.8);
            }
        }
    }
    // Wind: low-passed noise swelling with a 4-bar period (it loops with the piece).
    double lpL = 0, lpR = 0;
    for (long i = 0; i < 2L * LENGTH; ++i) {
        const double swell = 0.5 - 0.5 * std::cos(2 * PI * static_cast<double>(i % (4L * BAR)) / (4.0 * BAR));
        lpL += 0.02 * ((rnd.next() * 2 - 1) - lpL);
        lpR += 0.02 * ((rnd.next() * 2 - 1) - lpR);
        s.left[static_cast<size_t>(i)] += static_cast<float>(lpL * 0.09 * swell);
        s.right[static_cast<size_t>(i)] += static_cast<float>(lpR * 0.09 * swell);
    }
    reverb(s, 0.45, 1.6);
    return s;
}

// ---- mastering and output ---------------------------------------------------------------------------

// Keeps the second pass; removes DC (a 10 Hz high-pass run over the loop
// twice, so that it has settled at the start); peaks at -1.5 dBFS.
std::vector<int16_t> master(const Stereo &s) {
    std::vector<double> l(s.left.begin() + LENGTH, s.left.end()), r(s.right.begin() + LENGTH, s.right.end());
    const double a = std::exp(-2 * PI * 10.0 / RATE);
    for (std::vector<double> *ch : {&l, &r}) {
        double x1 = 0, y1 = 0;
        std::vector<double> &x = *ch;
        for (int round = 0; round < 2; ++round)
            for (double &v : x) {
                const double y = a * (y1 + v - x1);
                x1 = v;
                y1 = y;
                if (round == 1) v = y;
            }
    }
    double peak = 1e-9;
    for (size_t i = 0; i < l.size(); ++i) peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
    const double scale = std::pow(10.0, -1.5 / 20.0) / peak;
    std::vector<int16_t> pcm(2 * l.size());
    Random dither{0xD17Eu};
    for (size_t i = 0; i < l.size(); ++i) {
        const double tpdf = (dither.next() - dither.next());
        pcm[2 * i] = static_cast<int16_t>(std::lround(l[i] * scale * 32767.0 + tpdf));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lround(r[i] * scale * 32767.0 + tpdf));
    }
    return pcm;
}

bool writeWav(const std::string &path, const std::vector<int16_t> &pcm) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t dataBytes = static_cast<uint32_t>(pcm.size() * 2);
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(2);
    u32(RATE);
    u32(RATE * 4);
    u16(4);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    std::fwrite(pcm.data(), 2, pcm.size(), f);
    return std::fclose(f) == 0;
}
} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_music OUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!writeWav(dir + "/vrom2022_melo.wav", master(melo())) ||
        !writeWav(dir + "/vrom2022_space.wav", master(space()))) {
        std::fprintf(stderr, "make_music: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
