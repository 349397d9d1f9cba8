#!/usr/bin/env python3
"""Times `sonavel-cli convert` between the file formats against `sox` doing the same
conversion of the same file, in one run: an hour of 16-bit stereo 44.1 kHz WAV to AIFF and
AU and back, VOX encode and decode of an hour at 8 kHz mono, and GSM encode and decode of
the same hour against toast and untoast (libgsm-tools). The two take turns; on a
shared machine single runs scatter, so each figure is the median of the ratios of runs
taken side by side, with the medians of each side's times beside it.
Usage: cli_formats.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS]"""
import os
import shlex
import subprocess
import sys

from peer_timing import HEADING, cli_env, make_signal, side_by_side

TARGET = 1.0
VOX_CODEC = 0  # the VOX coding's number in the raw settings

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
env = cli_env(folder)


def path(name):
    return os.path.join(folder, name)


def made_by_sox(target, arguments):
    """The input file `target`, written once by sox, so both sides read the same bytes."""
    if not os.path.exists(target):
        subprocess.run(["sox", *arguments, target], check=True)
    return target


wav = path(f"formats-{seconds}s.wav")
make_signal(wav, seconds)
aiff = made_by_sox(path(f"formats-{seconds}s.aiff"), [wav])
au = made_by_sox(path(f"formats-{seconds}s.au"), [wav])
mono = path(f"formats-{seconds}s-8k-mono.wav")
make_signal(mono, seconds, 8000, 1)
vox = made_by_sox(path(f"formats-{seconds}s-8k.vox"), [mono, "-t", "vox", "-r", "8000"])
vox_settings = f"8000:1:{VOX_CODEC}"
# toast reads and untoast writes headerless 16-bit samples through stdin and stdout.
mono_raw = made_by_sox(path(f"formats-{seconds}s-8k-mono.raw"), [mono, "-t", "raw"])
gsm = path(f"formats-{seconds}s-8k.gsm")
if not os.path.exists(gsm):
    with open(mono_raw, "rb") as raw, open(gsm, "wb") as out:
        subprocess.run(["toast", "-l", "-c"], stdin=raw, stdout=out, check=True)
PCM16 = ["--wav-format", "pcm:16"]  # what sox writes too, whatever is stored

# Each case: name, our arguments after the input and output, the peer's command (sox's
# arguments, or a shell line) with IN and OUT standing for the files, input file, output
# extension, and the peer's input when it differs from ours.
cases = [
    ("WAV -> AIFF", [], ["IN", "OUT"], wav, ".aiff"),
    ("AIFF -> WAV", PCM16, ["IN", "OUT"], aiff, ".wav"),
    ("WAV -> AU", [], ["IN", "OUT"], wav, ".au"),
    ("AU -> WAV", PCM16, ["IN", "OUT"], au, ".wav"),
    ("VOX encode", ["--raw", vox_settings], ["IN", "-t", "vox", "-r", "8000", "OUT"], mono, ".vox"),
    ("VOX decode", ["--raw", vox_settings, *PCM16], ["-t", "vox", "-r", "8000", "-c", "1", "IN", "OUT"], vox, ".wav"),
    ("GSM encode", [], "toast -l -c < IN > OUT", mono, ".gsm", mono_raw),
    ("GSM decode", PCM16, "untoast -l -c < IN > OUT", gsm, ".wav"),
]

print(f"{seconds} s per file, {runs} runs each, load before: {os.getloadavg()[0]:.2f}", flush=True)
print(HEADING)
failed = False
for name, ours, theirs, source, extension, *peer_source in cases:
    out_cli = path("out-cli" + extension)
    out_sox = path("out-sox" + extension)
    peer_in = peer_source[0] if peer_source else source
    if isinstance(theirs, str):
        peer = ["sh", "-c", theirs.replace("IN", shlex.quote(peer_in)).replace("OUT", shlex.quote(out_sox))]
    else:
        peer = ["sox"] + [peer_in if a == "IN" else out_sox if a == "OUT" else a for a in theirs]
    failed |= not side_by_side(name, ([cli, "convert", source, out_cli, *ours], out_cli),
                               "sox" if not isinstance(theirs, str) else theirs.split()[0], (peer, out_sox),
                               runs, env, TARGET)
print(f"load after: {os.getloadavg()[0]:.2f}")
print("FAIL" if failed else "PASS")
sys.exit(1 if failed else 0)
