#!/usr/bin/env python3
"""Times the rate-changing work of `sonavel-cli` against `sox` on the same 16-bit stereo
44.1 kHz WAV (load, convert, save for both), alternating the two, and prints the ratio of
the best runs: sample-rate conversion to 48 kHz against `rate 48000` (target 0.5) and in
high quality against `rate -v 48000` (target 1.0), the tempo change against `tempo 1.25`,
the pitch change against `pitch 300` (300 cents is about x1.189), both with target 1.0.
Usage: cli_rate.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import sys

from peer_timing import best_times, cli_env, make_signal

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
source = os.path.join(folder, f"rate-{seconds}s.wav")
make_signal(source, seconds)

# Label, our command after the program name (with IN and OUT), sox's effect, and whether
# the ratio must meet the target.
pairs = [
    ("rate 44100 -> 48000", ["convert", "IN", "OUT", "--rate", "48000", "--quality", "default"],
     ["rate", "48000"], True),
    ("rate 44100 -> 48000 high", ["convert", "IN", "OUT", "--rate", "48000", "--quality", "high"],
     ["rate", "-v", "48000"], True),
    ("tempo x1.25", ["effect", "Nur Geschwindigkeit ändern", "IN", "OUT", "ConstPitchSpeed=125"],
     ["tempo", "1.25"], True),
    ("pitch x1.19 / 300 cents", ["effect", "Nur Tonhöhe ändern", "IN", "OUT", "ConstSpeedPitch=119"],
     ["pitch", "300"], True),
]
# The targets of the binding pairs other than 1.0.
targets = {"rate 44100 -> 48000": 0.5}
out_cli = os.path.join(folder, "out-cli.wav")
out_sox = os.path.join(folder, "out-sox.wav")
print(f"{seconds} s of 16-bit stereo 44100 Hz, best of {runs}")
failed = False
for label, ours, effect, binding in pairs:
    substitute = {"IN": source, "OUT": out_cli}
    best = best_times({
        "sonavel-cli": ([cli] + [substitute.get(word, word) for word in ours], out_cli),
        "sox": (["sox", source, out_sox] + effect, out_sox),
    }, runs, cli_env(folder))
    ratio = best["sonavel-cli"] / best["sox"]
    target = targets.get(label, 1.0)
    if binding:
        failed |= ratio > target
    note = f"(target <= {target})" if binding else "(reported)"
    print(f"{label:26} sonavel-cli {best['sonavel-cli']:7.2f} s  sox {best['sox']:7.2f} s  "
          f"ratio {ratio:5.3f}  {note:16} {'PASS' if ratio <= target else 'FAIL'}", flush=True)
sys.exit(1 if failed else 0)
