#!/usr/bin/env python3
"""Times `sonavel-cli effect` against the nearest `sox` effect on the same 16-bit stereo
WAV (load, effect, save for both), alternating the two, and prints the ratio of the best
runs. Usage: cli_effects.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys
import time

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
os.makedirs(folder, exist_ok=True)
source = os.path.join(folder, f"effects-{seconds}s.wav")
if not os.path.exists(source):
    subprocess.run(["sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", source,
                    "synth", str(seconds), "sine", "300", "whitenoise", "gain", "-6"], check=True)

# Our effect (undo name and parameters) and the sox effect it is measured against.
pairs = [
    ("fade in", ["Fade In"], ["fade", "t", str(seconds)]),
    ("reverse", ["Umkehren"], ["reverse"]),
    ("dc offset / highpass 10", ["DC Offset Correction"], ["highpass", "10"]),
    ("compressor / compand", ["Dynamic Range Compressor", "CompressorThreshold=-20", "CompressorRatio=2"],
     ["compand", "0.005,0.05", "-20,-20,0,-10"]),
]
env = dict(os.environ, SONAVEL_DATA_DIR=os.path.join(folder, "cli-data"),
           SONAVEL_CONFIG_DIR=os.path.join(folder, "cli-config"))
out_cli = os.path.join(folder, "out-cli.wav")
out_sox = os.path.join(folder, "out-sox.wav")
failed = False
for label, ours, theirs in pairs:
    commands = {
        "sonavel-cli": [cli, "effect", ours[0], source, out_cli] + ours[1:],
        "sox": ["sox", source, out_sox] + theirs,
    }
    best = {name: float("inf") for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            target = out_cli if name == "sonavel-cli" else out_sox
            if os.path.exists(target):
                os.remove(target)
            start = time.perf_counter()
            subprocess.run(command, check=True, env=env, stderr=subprocess.DEVNULL)
            best[name] = min(best[name], time.perf_counter() - start)
    ratio = best["sonavel-cli"] / best["sox"]
    failed |= ratio > 1.0
    print(f"{label:28} sonavel-cli {best['sonavel-cli']:6.2f} s  sox {best['sox']:6.2f} s  "
          f"ratio {ratio:5.3f}  {'PASS' if ratio <= 1.0 else 'FAIL'}")
for target in (out_cli, out_sox):
    if os.path.exists(target):
        os.remove(target)
sys.exit(1 if failed else 0)
