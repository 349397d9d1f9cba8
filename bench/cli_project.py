#!/usr/bin/env python3
"""Times the project verbs on an hour of 44.1 kHz stereo, in one run: `sonavel-cli project
create` of the WAV (every sample streamed straight into the project as 32 bits) against
`sox IN.wav -t raw -e signed-integer -b 32 OUT.raw`, and `project extract` of that project
into 16-bit WAV against the reverse, `sox -t raw -e signed-integer -b 32 ... -b 16 OUT.wav`;
target 1.0 each. Each figure is the median of the ratios of runs taken side by side.
Usage: cli_project.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys

from peer_timing import cli_arguments, make_signal, run_cases

cli, folder, seconds, runs, env = cli_arguments(sys.argv)


def path(name):
    return os.path.join(folder, name)


wav = path(f"project-{seconds}s.wav")
make_signal(wav, seconds)
project = path(f"project-{seconds}s.snp")
raw = path(f"project-{seconds}s.raw")
subprocess.run([cli, "project", "create", project, wav], check=True, env=env, stderr=subprocess.DEVNULL)
subprocess.run(["sox", wav, "-t", "raw", "-e", "signed-integer", "-b", "32", raw], check=True)
extracted = path("extracted")
os.makedirs(extracted, exist_ok=True)

cases = [
    ("create", [cli, "project", "create", path("out.snp"), wav],
     ["sox", wav, "-t", "raw", "-e", "signed-integer", "-b", "32", path("peer.raw")],
     path("out.snp"), path("peer.raw"), "sox", 1.0),
    ("extract", [cli, "project", "extract", project, extracted],
     ["sox", "-t", "raw", "-e", "signed-integer", "-b", "32", "-r", "44100", "-c", "2", raw, "-b", "16",
      path("peer.wav")],
     os.path.join(extracted, f"01-project-{seconds}s.wav"), path("peer.wav"), "sox", 1.0),
]

sys.exit(run_cases(cases, runs, env))
