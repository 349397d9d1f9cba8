#!/usr/bin/env python3
"""Times the editor from start to a shown main window: `sonavel -exit -block` builds and
shows the frame, then ends before its event loop. Runs offscreen with its own settings and
runtime folders; prints the best and the median of RUNS starts against the 0.5 s target.
Usage: startup.py SONAVEL [RUNS]"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

program = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
with tempfile.TemporaryDirectory() as folder:
    runtime = os.path.join(folder, "runtime")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime,
               SONAVEL_CONFIG_DIR=os.path.join(folder, "config"),
               SONAVEL_SYSTEM_CONFIG_DIR=os.path.join(folder, "system"),
               SONAVEL_DATA_DIR=os.path.join(folder, "data"))
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run([program, "-exit", "-block"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
best, median = min(times), statistics.median(times)
print(f"start-up to a shown window: best {best * 1000:.0f} ms, median {median * 1000:.0f} ms")
print(f"{'start-up / 0.5 s':28} {median / 0.5:6.3f}  (target <= 1.0)  {'PASS' if median <= 0.5 else 'FAIL'}")
sys.exit(0 if median <= 0.5 else 1)
