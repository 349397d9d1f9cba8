#!/usr/bin/env python3
"""Times `sonavel-cli convert --rate` against `sox ... rate` (load, convert, save for both)
on 16-bit stereo WAVs, alternating the two, and prints the best runs and their ratio: the
common pair 44100 -> 48000 and back, 44100 -> 22050, 8000 -> 44100 (441 phases) and
44100 -> 47999 (47999 phases, taps interpolated from the prototype).
Usage: cli_resample.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import sys

from peer_timing import best_times, cli_env, make_signal

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
pairs = [(44100, 48000), (48000, 44100), (44100, 22050), (8000, 44100), (44100, 47999)]

out_cli = os.path.join(folder, "out-cli.wav")
out_sox = os.path.join(folder, "out-sox.wav")
print(f"{seconds} s of 16-bit stereo, best of {runs}")
for source_rate, target_rate in pairs:
    source = os.path.join(folder, f"rate-{seconds}s-{source_rate}.wav")
    make_signal(source, seconds, source_rate)
    best = best_times({
        "sonavel-cli": ([cli, "convert", source, out_cli, "--rate", str(target_rate)], out_cli),
        "sox": (["sox", source, out_sox, "rate", str(target_rate)], out_sox),
    }, runs, cli_env(folder))
    ratio = best["sonavel-cli"] / best["sox"]
    print(f"{source_rate:6} -> {target_rate:6}  sonavel-cli {best['sonavel-cli']:7.2f} s  "
          f"sox {best['sox']:7.2f} s  ratio {ratio:5.3f}", flush=True)
