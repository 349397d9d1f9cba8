#!/usr/bin/env python3
"""Times the open and save dispatch on an hour of 44.1 kHz stereo, in one run: the editor's
open of a ".wma" into the store (`open_only`: ffmpeg decodes while the load reads its
output) and its `info` (the same decode read to the end), each against
`ffmpeg -i long.wma -f s16le -y /dev/null` (target 1.5), and a save as ".gsm" (downmix,
resample, encode) against `sox long.wav -r 8000 -c 1 g.gsm` (target 1.0). Each
figure is the median of the ratios of runs taken side by side.
Usage: cli_dispatch.py SONAVEL_CLI OPEN_ONLY WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys

from peer_timing import make_signal, open_and_save_arguments, run_cases

cli, open_only, folder, seconds, runs, env = open_and_save_arguments(sys.argv)


def path(name):
    return os.path.join(folder, name)


wav = path(f"dispatch-{seconds}s.wav")
make_signal(wav, seconds)
wma = path(f"dispatch-{seconds}s.wma")
if not os.path.exists(wma):
    subprocess.run(["ffmpeg", "-v", "quiet", "-i", wav, "-c:a", "wmav2", "-b:a", "128k", wma], check=True)

out_ours, out_peer = path("out-ours"), path("out-peer")
decode = ["ffmpeg", "-v", "quiet", "-i", wma, "-f", "s16le", "-y", "/dev/null"]
cases = [
    ("open .wma", [open_only, wma], decode, path("none"), path("none2"), "ffmpeg", 1.5),
    ("info .wma", [cli, "info", wma], decode, path("none"), path("none2"), "ffmpeg", 1.5),
    ("save .gsm", [cli, "convert", wav, out_ours + ".gsm"],
     ["sox", wav, "-r", "8000", "-c", "1", out_peer + ".gsm"], out_ours + ".gsm", out_peer + ".gsm", "sox", 1.0),
]

sys.exit(run_cases(cases, runs, env))
