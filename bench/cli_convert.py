#!/usr/bin/env python3
"""Times `sonavel-cli convert` of a 16-bit stereo WAV into a new 16-bit WAV against
`sox in.wav out.wav` on the same file, alternating the two, and prints the ratio of the
best runs (disturbances of a shared machine only ever add time). Usage: cli_convert.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys
import time

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
os.makedirs(folder, exist_ok=True)
source = os.path.join(folder, f"convert-{seconds}s.wav")
if not os.path.exists(source):
    subprocess.run(["sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", source,
                    "synth", str(seconds), "sine", "300", "whitenoise", "gain", "-3"], check=True)

env = dict(os.environ, SONAVEL_DATA_DIR=os.path.join(folder, "cli-data"))
commands = {
    "sonavel-cli": [cli, "convert", source, os.path.join(folder, "out-cli.wav")],
    "sox": ["sox", source, os.path.join(folder, "out-sox.wav")],
}
best = {name: float("inf") for name in commands}
for _ in range(runs):
    for name, command in commands.items():
        # Each run writes a new file, as the conversion is meant to.
        if os.path.exists(command[-1]):
            os.remove(command[-1])
        start = time.perf_counter()
        subprocess.run(command, check=True, env=env)
        best[name] = min(best[name], time.perf_counter() - start)
for name in commands:
    os.remove(commands[name][-1])
ratio = best["sonavel-cli"] / best["sox"]
print(f"convert {seconds} s of 16-bit stereo: sonavel-cli {best['sonavel-cli']:.2f} s, "
      f"sox {best['sox']:.2f} s")
print(f"{'cli convert / sox':28} {ratio:6.3f}  (target <= 1.0)  {'PASS' if ratio <= 1.0 else 'FAIL'}")
sys.exit(0 if ratio <= 1.0 else 1)
