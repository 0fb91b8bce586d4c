#!/usr/bin/python3
"""sound_check.py RECORDING REFERENCE [JUMP_SAMPLES] - what a sound server played, against the show's offline mix.

RECORDING: raw 32-bit float stereo at 48000 Hz, recorded from the sink's monitor
while the demo played from its first frame. REFERENCE: showmix's raw 32-bit float
stereo at 44100 Hz from show time 0, resampled here to 48000 Hz.

Prints one line of key=value figures:
  first_heard_s   where in the show's sound the first sample heard lies
                  (0: the fade-in from its first block; 0.28: the first 0.28 s lost),
                  less the gaps before the alignment (silence an underrun put in)
  heard_s         seconds from the first sample heard to the last
  gaps            runs of 1 ms or more of exact digital zeros inside that stretch
  jumps           places where the sound, against the reference, moves on or back
                  (sound skipped or played twice without silence)
  longest_gap_ms  the longest of them
  pitch_ratio     the recording's frequencies over the reference's (1: the same pitch)
  level_db        the recording's level over the reference's, where both are steady
  early_gaps_ms   the gaps before the alignment, added back into first_heard_s: where
                  an underrun dropped sound rather than delayed it, first_heard_s is
                  that much too late, at most
"""
import sys
import numpy as np

RATE = 48000
# The least move that counts as a jump (samples): 3, or the third argument.
# A recording spliced where a pause was cut out moves by a few samples there
# (the sink's resampler smears the pause's edges), far less than a quantum.
JUMP_SAMPLES = int(sys.argv[3]) if len(sys.argv) > 3 else 3

def load(path):
    data = np.fromfile(path, dtype='<f4')
    return data[: len(data) // 2 * 2].reshape(-1, 2).astype(np.float64)

def resample(x, ratio):  # linear interpolation is enough to find where the music lies
    n = int(len(x) * ratio)
    positions = np.arange(n) / ratio
    return np.stack([np.interp(positions, np.arange(len(x)), x[:, c]) for c in range(2)], axis=1)

def lag(a, b):  # where b best lines up in a (a longer than b), by FFT cross-correlation
    n = 1 << int(np.ceil(np.log2(len(a) + len(b))))
    c = np.fft.irfft(np.fft.rfft(a, n) * np.conj(np.fft.rfft(b, n)), n)[: len(a) - len(b) + 1]
    return int(np.argmax(c))

def peak_hz(x):
    w = np.hanning(len(x))
    m = np.abs(np.fft.rfft(x * w))
    m[: int(40 * len(x) / RATE)] = 0  # below 40 Hz
    k = int(np.argmax(m))
    a, b, c = np.log(m[k - 1] + 1e-30), np.log(m[k] + 1e-30), np.log(m[k + 1] + 1e-30)
    return (k + 0.5 * (a - c) / (a - 2 * b + c)) * RATE / len(x)

rec = load(sys.argv[1])
ref = resample(load(sys.argv[2]), RATE / 44100)
mono_rec, mono_ref = rec.mean(axis=1), ref.mean(axis=1)
nonzero = np.flatnonzero(np.any(rec != 0, axis=1))
if len(nonzero) == 0:
    print("first_heard_s=-1 heard_s=0 gaps=0 jumps=0 longest_gap_ms=0 pitch_ratio=0 level_db=-999 early_gaps_ms=0")  # nothing heard
    sys.exit(0)
first, last = int(nonzero[0]), int(nonzero[-1])

# Where show-sound time 0 lies in the recording, probed every second: 1 s of
# the reference lined up within 1.5 s either side of where the 4 s from 8 s
# (past the 6.7 s ramp) lie. A probe where the recording is silent says
# nothing. A jump between probes is sound skipped or played twice.
probe = 8 * RATE
window = mono_ref[probe: probe + 4 * RATE]
offset = lag(mono_rec, window) - probe  # recording index of show-sound time 0 there
offsets, probed_at = [], []
for t in range(1, int((last - offset) / RATE) - 1):
    lo = max(0, offset + (t - 1) * RATE - RATE // 2)
    seg = mono_rec[lo: offset + (t + 2) * RATE + RATE // 2]
    if len(seg) < 3 * RATE or not np.any(seg != 0):
        continue
    offsets.append(lo + lag(seg, mono_ref[t * RATE: (t + 1) * RATE]) - t * RATE)
    probed_at.append(offsets[-1] + t * RATE)  # where in the recording this probe lies
# Repetitive music can line a probe up a beat away: only a value two probes
# in a row agree on counts, and a jump is a change between such values.
stable, stable_at = [], []
for a, b, at in zip(offsets, offsets[1:], probed_at):
    if abs(a - b) <= 3 and (not stable or abs(stable[-1] - a) > JUMP_SAMPLES):
        stable.append(a)
        stable_at.append(at)
jumps = max(0, len(stable) - 1)

# Gaps: runs of exact zeros (both channels) of 1 ms or more between first and last.
silent = np.all(rec[first: last + 1] == 0, axis=1).astype(np.int8)
edges = np.diff(np.concatenate(([0], silent, [0])))
starts = np.flatnonzero(edges == 1) + first
runs = np.flatnonzero(edges == -1) - np.flatnonzero(edges == 1)
starts, runs = starts[runs >= RATE // 1000], runs[runs >= RATE // 1000]

# A gap the sound server fills with silence when the stream is late (an
# underrun) delays all that follows: the first sample heard lies that much
# earlier than the alignment further on says.
aligned, aligned_at = (stable[0], stable_at[0]) if stable else (offset, offset + probe)
early_gaps = int(runs[starts < aligned_at].sum())
first_heard = (first + early_gaps - aligned) / RATE

# Pitch and level, where the recording and the reference are steady and aligned.
at = offset + probe
seg_rec = mono_rec[at: at + 4 * RATE]
seg_ref = window[: len(seg_rec)]
ratio = peak_hz(seg_rec) / peak_hz(seg_ref) if len(seg_rec) == len(seg_ref) and len(seg_rec) > RATE else 0.0
rms = lambda x: float(np.sqrt(np.mean(x * x))) if len(x) else 0.0
level = 20 * np.log10(max(rms(rec[at: at + 4 * RATE].ravel()), 1e-12) / max(rms(ref[probe: probe + 4 * RATE].ravel()), 1e-12))
print(f"first_heard_s={first_heard:.3f} heard_s={(last - first) / RATE:.2f} gaps={len(runs)} jumps={jumps} "
      f"longest_gap_ms={(runs.max() * 1000 / RATE if len(runs) else 0):.0f} pitch_ratio={ratio:.5f} level_db={level:.2f} "
      f"early_gaps_ms={early_gaps * 1000 / RATE:.0f}")
