#!/usr/bin/env python3
"""Times the component formats on an hour of 44.1 kHz stereo, in one run: a save as ".mp3"
(CBR 128 through lame) against `lame --quiet -b 128`, a save as ".flac" (through flac)
against `flac -4` (target 1.05 each: the peer does the work in both, ours adds the pipe),
and the editor's open of an ".ogg" into the store (`open_only`: oggdec into the temporary
WAV, then the load) against `oggdec` alone (target 1.5). Each figure is the median of the
ratios of runs taken side by side.
Usage: cli_components.py SONAVEL_CLI OPEN_ONLY WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys

from peer_timing import make_signal, open_and_save_arguments, run_cases

cli, open_only, folder, seconds, runs, env = open_and_save_arguments(sys.argv)


def path(name):
    return os.path.join(folder, name)


wav = path(f"components-{seconds}s.wav")
make_signal(wav, seconds)
ogg = path(f"components-{seconds}s.ogg")
if not os.path.exists(ogg):
    subprocess.run(["oggenc", "-Q", "-q", "4", "-o", ogg, wav], check=True)

ours_out, peer_out = path("out-ours"), path("out-peer")
cases = [
    # Without the high-quality flag our command line asks lame for the work the peer does.
    ("save .mp3", [cli, "convert", wav, ours_out + ".mp3", "HighQuality=0"],
     ["lame", "--quiet", "-b", "128", wav, peer_out + ".mp3"], ours_out + ".mp3", peer_out + ".mp3", "lame", 1.05),
    ("save .flac", [cli, "convert", wav, ours_out + ".flac", "Compression=4"],
     ["flac", "-s", "-f", "-4", "-o", peer_out + ".flac", wav], ours_out + ".flac", peer_out + ".flac", "flac", 1.05),
    ("open .ogg", [open_only, ogg],
     ["oggdec", "-Q", "-o", peer_out + ".wav", ogg], path("none"), peer_out + ".wav", "oggdec", 1.5),
]

sys.exit(run_cases(cases, runs, env))
