#!/usr/bin/env python3
"""Recomputes the analysis views' numbers with numpy and compares them with ours.

usage: analysis_numpy.py FOLDER RATE CHANNELS CURSOR START LENGTH

FOLDER holds samples.i32 (the sound, interleaved 32-bit samples), spectrum.i32 (our levels
at CURSOR, channel after channel) and spectrogram.u16 (our magnitudes of [START, START +
LENGTH), column after column). Prints every difference and exits 1 when there is one.
"""

import sys

import numpy as np

LEVEL_FACTOR = 1.0789581580026326e-05
MAX_COLUMNS = 2400


def frames_at(samples, position, count):
    """`count` frames from `position`, zeros outside the sound."""
    out = np.zeros((count, samples.shape[1]))
    first = max(position, 0)
    last = min(position + count, samples.shape[0])
    if last > first:
        out[first - position:last - position] = samples[first:last]
    return out


def magnitudes(frames):
    """|X_k|, k < N / 2, of the Hamming-windowed frames (one column per channel), over N."""
    n = frames.shape[0]
    window = 0.54 - 0.46 * np.cos(2 * np.pi * np.arange(n) / n)
    spectrum = np.fft.rfft(frames * window[:, None], axis=0) / n
    return np.abs(spectrum[: n // 2])


def levels(m):
    """The level rule, and where 20 log10 x lies within 1e-6 of a rounding boundary."""
    x = m * LEVEL_FACTOR
    with np.errstate(divide="ignore"):
        db = 20 * np.log10(np.where(x > 0, x, 1e-300))
    rounded = np.where(x >= 1, db + 0.5, db - 0.5)
    level = np.clip(np.trunc(np.clip(rounded, -1000, 1000)), -127, 127).astype(int)
    level = np.where(x > 0, level, -127)
    boundary = np.abs((db - 0.5) - np.round(db - 0.5)) < 1e-6
    return level, boundary & (x > 0)


def main():
    folder = sys.argv[1]
    rate, channels, cursor, start, length = (int(v) for v in sys.argv[2:7])
    samples = np.fromfile(folder + "/samples.i32", dtype="<i4").astype(float).reshape(-1, channels)
    failures = 0

    ours = np.fromfile(folder + "/spectrum.i32", dtype="<i4").reshape(channels, 2048)
    expected, boundary = levels(magnitudes(frames_at(samples, cursor, 4096)).T)
    differ = (ours != expected) & ~boundary
    for channel, k in zip(*np.nonzero(differ)):
        failures += 1
        print(f"spectrum channel {channel} bin {k}: ours {ours[channel, k]}, numpy {expected[channel, k]}")

    order = next((i for i in range(5, 16) if (1 << i) * 30 >= rate), 16)
    size = 1 << order
    bins = size // 2
    columns = min(MAX_COLUMNS, max(1, 4 * (length // bins)))
    ours = np.fromfile(folder + "/spectrogram.u16", dtype="<u2")
    if ours.size != columns * bins:
        print(f"spectrogram: {ours.size} magnitudes, numpy expects {columns} columns of {bins}")
        return 1
    ours = ours.reshape(columns, bins).astype(float)
    for c in range(columns):
        m = magnitudes(frames_at(samples, start + c * length // columns, size)[:, :2])
        expected = np.minimum(65535, m.mean(axis=1))
        worst = np.max(np.abs(ours[c] - expected))
        if worst > 1:
            failures += 1
            print(f"spectrogram column {c}: off by {worst}")
    print(f"{rate} Hz, {channels} channel(s): {failures} difference(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
