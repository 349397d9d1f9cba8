#!/usr/bin/env python3
"""Times `sonavel-cli spectrogram` (load, transforms, picture, PNG) against `sox IN -n
spectrogram -o OUT.png` on the same 16-bit stereo WAV at 44.1 kHz, ten seconds and SECONDS
(an hour unless told), both drawing an 800 x 400 picture of the whole file, taking turns;
prints the medians and the median ratio against the target 1.0.
Usage: cli_spectrogram.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import sys

from peer_timing import HEADING, cli_arguments, make_signal, side_by_side

cli, folder, seconds, runs, env = cli_arguments(sys.argv)
out_cli = os.path.join(folder, "spectrogram-cli.png")
out_sox = os.path.join(folder, "spectrogram-sox.png")
print(f"16-bit stereo at 44.1 kHz, 800 x 400, median of {runs}")
print(HEADING)
met = True
for length in sorted({10, seconds}):
    source = os.path.join(folder, f"spectrogram-{length}s.wav")
    make_signal(source, length)
    met &= side_by_side(f"{length} s", ([cli, "spectrogram", source, out_cli], out_cli),
                        "sox", (["sox", source, "-n", "spectrogram", "-x", "800", "-Y", "400", "-o", out_sox],
                                out_sox), runs, env, 1.0)
sys.exit(0 if met else 1)
