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

from peer_timing import HEADING, cli_env, make_signal, side_by_side

cli, open_only, folder = sys.argv[1], sys.argv[2], sys.argv[3]
seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 3600
runs = int(sys.argv[5]) if len(sys.argv) > 5 else 5
env = cli_env(folder)
env["TMPDIR"] = folder  # the temporary WAV lands beside the inputs


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

print(f"{seconds} s per file, {runs} runs each, load before: {os.getloadavg()[0]:.2f}", flush=True)
print(HEADING)
failed = False
for name, ours, theirs, ours_file, peer_file, peer, target in cases:
    failed |= not side_by_side(name, (ours, ours_file), peer, (theirs, peer_file), runs, env, target)
print(f"load after: {os.getloadavg()[0]:.2f}")
print("FAIL" if failed else "PASS")
sys.exit(1 if failed else 0)
