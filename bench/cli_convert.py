#!/usr/bin/env python3
"""Times `sonavel-cli convert` of a 16-bit stereo 44.1 kHz WAV into a new 16-bit WAV (a
conversion without edits, which streams) against `sox in.wav out.wav` on the same file,
the two taking turns. On a shared machine single runs scatter, so the figure is the median
of the ratios of runs taken side by side; the medians of each side's times are printed too.
Usage: cli_convert.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import statistics
import sys

from peer_timing import all_times, cli_env, make_signal

TARGET = 0.7

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 7
source = os.path.join(folder, f"convert-{seconds}s.wav")
make_signal(source, seconds)

out_cli = os.path.join(folder, "out-cli.wav")
out_sox = os.path.join(folder, "out-sox.wav")
times = all_times({
    "sonavel-cli": ([cli, "convert", source, out_cli, "--wav-format", "pcm:16"], out_cli),
    "sox": (["sox", source, out_sox], out_sox),
}, runs, cli_env(folder))
ratio = statistics.median(ours / peer for ours, peer in zip(times["sonavel-cli"], times["sox"]))
print(f"convert {seconds} s of 16-bit stereo, {runs} runs: sonavel-cli median "
      f"{statistics.median(times['sonavel-cli']):.2f} s, sox median {statistics.median(times['sox']):.2f} s")
print(f"{'cli convert / sox':28} {ratio:6.3f}  (target <= {TARGET})  {'PASS' if ratio <= TARGET else 'FAIL'}")
sys.exit(0 if ratio <= TARGET else 1)
