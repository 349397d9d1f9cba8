#!/usr/bin/env python3
"""Times our MP3 decoder against its peers on an hour of sound, in one run: the decoder alone
(128 kbit/s stereo, read to the end and thrown away) against `mpg123 -q -s FILE >/dev/null`,
and `sonavel-cli convert long.mp3 out.wav` against `sox long.mp3 out.wav` (GSM is timed
by cli_formats.py). Each figure is the median of the ratios of runs taken side
by side (target 1.0). Also prints the largest memory our convert of the MP3 used, for a
tenth of the length and the whole, which must not grow with the length.
Usage: cli_mp3.py SONAVEL_CLI DECODE_ONLY WORK_FOLDER [SECONDS] [RUNS]"""
import os
import subprocess
import sys

from peer_timing import HEADING, cli_env, make_signal, side_by_side

TARGET = 1.0

cli, decode_only, folder = sys.argv[1], sys.argv[2], sys.argv[3]
seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 3600
runs = int(sys.argv[5]) if len(sys.argv) > 5 else 5
env = cli_env(folder)


def path(name):
    return os.path.join(folder, name)


def made_once(target, command):
    if not os.path.exists(target):
        subprocess.run(command, check=True, stderr=subprocess.DEVNULL)
    return target


def shell(command):
    return ["sh", "-c", command]


wav = path(f"mp3-{seconds}s.wav")
make_signal(wav, seconds)
mp3 = made_once(path(f"mp3-{seconds}s.mp3"), ["lame", "--quiet", "-b", "128", wav, path(f"mp3-{seconds}s.mp3")])
out_ours, out_peer = path("out-ours"), path("out-peer")
cases = [
    ("MP3 decode", (shell(f"{decode_only} {mp3} >/dev/null"), out_ours), "mpg123",
     (shell(f"mpg123 -q -s {mp3} >/dev/null"), out_peer)),
    ("MP3 -> WAV", ([cli, "convert", mp3, out_ours + ".wav"], out_ours + ".wav"), "sox",
     (["sox", mp3, out_peer + ".wav"], out_peer + ".wav")),
]

print(f"{seconds} s per file, {runs} runs each, load before: {os.getloadavg()[0]:.2f}", flush=True)
print(HEADING)
failed = False
for name, ours, peer, theirs in cases:
    failed |= not side_by_side(name, ours, peer, theirs, runs, env, TARGET)


def peak_memory_kib(source, target):
    """Largest resident memory of our convert of `source`, in KiB (of that process alone)."""
    child = subprocess.Popen([cli, "convert", source, target], env=env, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"convert of {source} failed")
    os.remove(target)
    return usage.ru_maxrss


short = made_once(path(f"mp3-{seconds // 10}s.mp3"),
                  ["sh", "-c", f"sox {wav} -t wav - trim 0 {seconds // 10} | lame --quiet -b 128 - {path(f'mp3-{seconds // 10}s.mp3')}"])
short_memory = peak_memory_kib(short, out_ours + ".wav")
long_memory = peak_memory_kib(mp3, out_ours + ".wav")
print(f"memory of MP3 -> WAV: {short_memory} KiB for {seconds // 10} s, {long_memory} KiB for {seconds} s")
print(f"load after: {os.getloadavg()[0]:.2f}")
print("FAIL" if failed else "PASS")
sys.exit(1 if failed else 0)
