#!/usr/bin/env python3
"""Times `sonavel-cli effect` against the nearest `sox` effect on the same 16-bit stereo
WAV (load, effect, save for both), alternating the two, and prints the ratio of the best
runs. Usage: cli_effects.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import sys

from peer_timing import best_times, cli_env, make_signal

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
source = os.path.join(folder, f"effects-{seconds}s.wav")
make_signal(source, seconds)

# Our effect (undo name and parameters) and the sox effect it is measured against.
pairs = [
    ("fade in", ["Fade In"], ["fade", "t", str(seconds)]),
    ("reverse", ["Umkehren"], ["reverse"]),
    ("dc offset / highpass 10", ["DC Offset Correction"], ["highpass", "10"]),
    ("compressor / compand", ["Dynamic Range Compressor", "CompressorThreshold=-20", "CompressorRatio=2"],
     ["compand", "0.005,0.05", "-20,-20,0,-10"]),
    ("distortion / overdrive", ["Verzerrung"], ["overdrive"]),
    ("am radio / hp lp overdrive", ["AM Radioeffekt"],
     ["highpass", "-1", "100", "lowpass", "-1", "5000", "overdrive"]),
    ("high-pass / highpass 250", ["High-Pass Filter"], ["highpass", "250"]),
]
# BENCH_ONLY="distortion,high-pass" runs just the pairs whose labels start so.
only = [word for word in os.environ.get("BENCH_ONLY", "").split(",") if word]
if only:
    pairs = [pair for pair in pairs if any(pair[0].startswith(word) for word in only)]
out_cli = os.path.join(folder, "out-cli.wav")
out_sox = os.path.join(folder, "out-sox.wav")
failed = False
for label, ours, theirs in pairs:
    best = best_times({
        "sonavel-cli": ([cli, "effect", ours[0], source, out_cli] + ours[1:], out_cli),
        "sox": (["sox", source, out_sox] + theirs, out_sox),
    }, runs, cli_env(folder))
    ratio = best["sonavel-cli"] / best["sox"]
    failed |= ratio > 1.0
    print(f"{label:28} sonavel-cli {best['sonavel-cli']:6.2f} s  sox {best['sox']:6.2f} s  "
          f"ratio {ratio:5.3f}  {'PASS' if ratio <= 1.0 else 'FAIL'}")
sys.exit(1 if failed else 0)
