#!/usr/bin/env python3
"""Measures the polyphase synthesis window D[0..511] of MPEG audio from a reference decoder,
run as a black box: it crafts MPEG-1 Layer I mono frames (no Huffman coding, no transform
before the filter bank) that hold one sample in one subband, decodes them with
`mpg123 -e f32` and divides each output sample by the cosine of the matrixing that put the
impulse there. Each coefficient is a whole number of 2^-16 steps; three subbands must agree.
The eight coefficients that only ever meet a zero of the matrixing cannot be seen and are
taken from their mirror image (|D[512 - i]| = |D[i]|) with the sign of their neighbours.
Prints the 512 step counts, as src/formats/mp3_synthesis.cpp holds them.
Usage: measure_synthesis_window.py"""
import math
import os
import struct
import subprocess
import sys
import tempfile

RATE, KBITS = 44100, 448
SCALEFACTOR_INDEX = 30  # scalefactor 2 * 2^(-30/3)
ZERO, TWO_THIRDS = 1, 2  # the 2-bit sample codes of 0 and 2/3


def layer1_frame(subband, codes):
    bits = []

    def put(value, count):
        bits.extend((value >> i) & 1 for i in range(count - 1, -1, -1))

    put(0xFFF, 12), put(1, 1), put(3, 2), put(1, 1)  # sync, MPEG-1, Layer I, no CRC
    put(14, 4), put(0, 2), put(0, 1), put(0, 1)      # 448 kbit/s, 44.1 kHz, no padding
    put(3, 2), put(0, 2), put(0, 1), put(0, 1), put(0, 2)  # mono
    for s in range(32):
        put(1 if s == subband else 0, 4)  # 2-bit samples in `subband` only
    put(SCALEFACTOR_INDEX, 6)
    for code in codes:
        put(code, 2)
    size = (12 * KBITS * 1000 // RATE) * 4
    bits.extend([0] * (size * 8 - len(bits)))
    return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def measure(subband, folder):
    silent = layer1_frame(subband, [ZERO] * 12)
    stream = silent + layer1_frame(subband, [TWO_THIRDS] + [ZERO] * 11) + silent * 3
    path = os.path.join(folder, "impulse.mp1")
    with open(path, "wb") as f:
        f.write(stream)
    raw = subprocess.run(["mpg123", "-q", "--no-gapless", "-e", "f32", "-s", path],
                         capture_output=True, check=True).stdout
    out = struct.unpack(f"<{len(raw) // 4}f", raw)
    amplitude = 2 / 3 * 2 * 2 ** (-SCALEFACTOR_INDEX / 3)
    start = 384  # the first slot of the second frame
    window = {}
    for r in range(16):  # the impulse's vector moves one slot per 32 outputs
        for j in range(32):
            i = j if r % 2 == 0 else 32 + j
            cosine = math.cos((16 + i) * (2 * subband + 1) * math.pi / 64)
            if abs(cosine) > 1e-3:
                window[32 * r + j] = out[start + 32 * r + j] / (amplitude * cosine) * 65536
    return window


with tempfile.TemporaryDirectory() as folder:
    measured = [measure(subband, folder) for subband in (0, 1, 5)]
steps, worst = {}, 0.0
for i in range(512):
    values = [m[i] for m in measured if i in m]
    if values:
        steps[i] = round(values[0])
        worst = max(worst, *(abs(v - steps[i]) for v in values))
for i in range(512):
    if i not in steps:
        neighbours = steps[i - 1] + steps[i + 1]
        steps[i] = int(math.copysign(abs(steps[512 - i]), neighbours))
print(f"worst distance from a whole step: {worst:.3f}", file=sys.stderr)
if worst > 0.25:
    sys.exit("the measurements do not agree")
print(" ".join(str(steps[i]) for i in range(512)))
