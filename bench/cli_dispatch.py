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

from peer_timing import HEADING, cli_env, make_signal, side_by_side

cli, open_only, folder = sys.argv[1], sys.argv[2], sys.argv[3]
seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 3600
runs = int(sys.argv[5]) if len(sys.argv) > 5 else 5
env = cli_env(folder)
env["TMPDIR"] = folder  # the temporary WAV lands beside the inputs


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

print(f"{seconds} s per file, {runs} runs each, load before: {os.getloadavg()[0]:.2f}", flush=True)
print(HEADING)
failed = False
for name, ours, theirs, ours_out, peer_out, peer, target in cases:
    failed |= not side_by_side(name, (ours, ours_out), peer, (theirs, peer_out if peer_out != "/dev/null" else path("none")),
                               runs, env, target)
print(f"load after: {os.getloadavg()[0]:.2f}")
print("FAIL" if failed else "PASS")
sys.exit(1 if failed else 0)
