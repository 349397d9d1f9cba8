#!/usr/bin/env python3
"""Times writing tags into an hour of 44.1 kHz stereo, as WAV and as MP3, in one run:
`sonavel-cli tags FILE TITLE=T` (in place: the audio is neither read nor moved) against
`ffmpeg -i FILE -c copy -metadata title=T OUT` (a tagged copy), target 0.1. Each figure is
the median of the ratios of runs taken side by side.
Usage: cli_tags.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys

from peer_timing import cli_arguments, make_signal, run_cases

cli, folder, seconds, runs, env = cli_arguments(sys.argv)


def path(name):
    return os.path.join(folder, name)


wav = path(f"tags-{seconds}s.wav")
make_signal(wav, seconds)
mp3 = path(f"tags-{seconds}s.mp3")
if not os.path.exists(mp3):
    subprocess.run(["lame", "--quiet", "-b", "128", wav, mp3], check=True)

# Our command changes its file in place, so its "output" is a name that never exists.
cases = [
    (f"tags {ext}", [cli, "tags", source, "TITLE=T"],
     ["ffmpeg", "-v", "quiet", "-i", source, "-c", "copy", "-metadata", "title=T", path("peer" + ext)],
     path("none"), path("peer" + ext), "ffmpeg", 0.1)
    for ext, source in ((".wav", wav), (".mp3", mp3))
]

sys.exit(run_cases(cases, runs, env))
