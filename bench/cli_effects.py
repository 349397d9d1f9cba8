#!/usr/bin/env python3
"""Times `sonavel-cli effect` against the nearest `sox` (or `ffmpeg`) effect on the same 16-bit stereo
WAV (load, effect, save for both), alternating the two, and prints the ratio of the best
runs. Usage: cli_effects.py SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS] [CASE]; with CASE only the
cases whose label contains it run."""
import os
import struct
import subprocess
import sys
import wave

from peer_timing import best_times, cli_env, make_signal

cli, folder = sys.argv[1], sys.argv[2]
seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3600
runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
only = sys.argv[5] if len(sys.argv) > 5 else ""
source = os.path.join(folder, f"effects-{seconds}s.wav")
make_signal(source, seconds)

# Our effect (undo name and parameters) and the sox effect it is measured against.
pairs = [
    ("fade in", ["Fade In"], ["fade", "t", str(seconds)]),
    ("reverse", ["Umkehren"], ["reverse"]),
    ("dc offset / highpass 10", ["DC Offset Correction"], ["highpass", "10"]),
    ("compressor / compand", ["Dynamic Range Compressor", "CompressorThreshold=-20", "CompressorRatio=2"],
     ["compand", "0.005,0.05", "-20,-20,0,-10"]),
    ("echo", ["Echo"], ["echo", "0.8", "0.9", "800", "0.5"]),
    ("reverb", ["Reverb"], ["reverb"]),
    ("chorus", ["Chorus"], ["chorus", "0.7", "0.9", "40", "0.7", "0.5", "2", "-s"]),
    ("flanger", ["Flanger"], ["flanger"]),
    ("phaser", ["Phaser"], ["phaser", "0.8", "0.74", "5", "0.4", "0.5", "-s"]),
    ("distortion / overdrive", ["Verzerrung"], ["overdrive"]),
    ("am radio / hp lp overdrive", ["AM Radioeffekt"],
     ["highpass", "-1", "100", "lowpass", "-1", "5000", "overdrive"]),
    ("high-pass / highpass 250", ["High-Pass Filter"], ["highpass", "250"]),
    # Four bands split at 400, 1100 and 2600 Hz, each gated below -40 dB.
    ("noise gate / mcompand", ["Noise Reduction (Multi-band Noise Gating)"],
     ["mcompand", "0.005,0.1 -90,-90,-41,-90,-40,-40", "400", "0.005,0.1 -90,-90,-41,-90,-40,-40", "1100",
      "0.005,0.1 -90,-90,-41,-90,-40,-40", "2600", "0.005,0.1 -90,-90,-41,-90,-40,-40"]),
    ("vocal reduction / remix -m 1,2i", ["Stimmen reduzieren"], ["remix", "-m", "1,2i"]),
]

def equalizer_taps(preset):
    """The 4095 taps of the equaliser for `preset` at 44.1 kHz, as sox's fir takes them: the
    impulse response our command gives a full-scale 16-bit impulse."""
    impulse = os.path.join(folder, "eq-impulse.wav")
    response = os.path.join(folder, "eq-response.wav")
    with wave.open(impulse, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(44100)
        frames = [0] * 8192
        frames[4096] = 32767
        out.writeframes(struct.pack("<8192h", *frames))
    subprocess.run([cli, "effect", "Equalizer", impulse, response, f"EQPreset={preset}"], check=True,
                   env=cli_env(folder), stderr=subprocess.DEVNULL)
    with wave.open(response, "rb") as back:
        samples = struct.unpack(f"<{back.getnframes()}h", back.readframes(back.getnframes()))
    taps = os.path.join(folder, f"eq-taps-{preset}.txt")
    with open(taps, "w") as out:
        out.write("\n".join(repr(v / 32767) for v in samples[4096 - 2047:4096 + 2048]) + "\n")
    return taps


# The equaliser (band pass at its stored defaults) against sox's FIR filter with its taps.
pairs.append(("equalizer / fir 4095", ["Equalizer", "EQPreset=1"], ["fir", equalizer_taps(1)]))
# The telephone effect: a 4095-tap band filter and a soft clip; sox does the same work with
# 4095 taps (their values do not change its time) and its overdrive.
pairs.append(("telephone / fir 4095 overdrive", ["Telefoneffekt"], ["fir", equalizer_taps(1), "overdrive"]))

# The silence commands on a sound with silences: four seconds of tone in noise and a second
# of silence either side, repeated for the length asked (a part per six seconds).
quiet_source = os.path.join(folder, f"silences-{seconds}s.wav")
if not os.path.exists(quiet_source):
    chunk = os.path.join(folder, "silence-chunk.wav")
    subprocess.run(["sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", chunk, "synth", "4", "sine", "300",
                    "whitenoise", "gain", "-6", "pad", "1", "1"], check=True)
    subprocess.run(["sox", "-D", chunk, quiet_source, "repeat", str(max(0, seconds // 6 - 1))], check=True)
pairs.append(("auto trim / silence reverse", ["Automatisches Trimmen", "AutoTrimThreshold=-20"],
              ["silence", "1", "0.01", "-20d", "reverse", "silence", "1", "0.01", "-20d", "reverse"], quiet_source))
# Our -36 dB is sox's -48 dB (our 0 dB is a quarter of full scale).
pairs.append(("auto split / silence newfile", ["Auto Split", "Threshold=-36", "Duration=500"],
              ["silence", "1", "0.05", "-48d", "1", "0.5", "-48d", ":", "newfile", ":", "restart"], quiet_source))

# Spectral subtraction against sox's noise profile and reduction, both timed: the automatic
# one estimates the noise from the whole file as noiseprof does; from a sample, both take
# the first second as the noise.
noise_profile = os.path.join(folder, "noise.prof")


def sox_noisered(trim):
    return lambda out: ["sh", "-c", f'sox "{source}" -n {trim} noiseprof "{noise_profile}" && '
                                    f'sox "{source}" "{out}" noisered "{noise_profile}"']


pairs.append(("auto spectral / noiseprof noisered", ["Noise Reduction (Auto Spectral Subtraction)",
                                                      "SSNoiseThreshold=30"], sox_noisered("")))
pairs.append(("sample spectral / noisered", ["Noise Reduction (Spectral Subtraction basiert auf Noise Sample)",
                                             "NoiseFrom=0", "NoiseTo=1000"], sox_noisered("trim 0 1")))

out_cli = os.path.join(folder, "out-cli.wav")
out_peer = os.path.join(folder, "out-peer.wav")
# Every pair as (label, our arguments, the input, the peer's name, the peer's command).
runs_of = []
for label, ours, theirs, *own_source in pairs:
    input_file = own_source[0] if own_source else source
    command = theirs(out_peer) if callable(theirs) else ["sox", input_file, out_peer] + theirs
    runs_of.append((label, ours, input_file, "sox", command))
# Peers other than sox.
runs_of.append(("click detection / ffmpeg adeclick", ["&Auto Störgeräuschrestoration"], source, "ffmpeg",
                ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-af", "adeclick", out_peer]))
failed = False
for label, ours, input_file, peer, command in (run for run in runs_of if only in run[0]):
    best = best_times({
        "sonavel-cli": ([cli, "effect", ours[0], input_file, out_cli] + ours[1:], out_cli),
        peer: (command, out_peer),
    }, runs, cli_env(folder))
    # Splitting writes numbered files beside OUT.
    for name in os.listdir(folder):
        if name.startswith(("out-cli (", "out-peer0")):
            os.remove(os.path.join(folder, name))
    ratio = best["sonavel-cli"] / best[peer]
    failed |= ratio > 1.0
    print(f"{label:28} sonavel-cli {best['sonavel-cli']:6.2f} s  {peer} {best[peer]:6.2f} s  "
          f"ratio {ratio:5.3f}  {'PASS' if ratio <= 1.0 else 'FAIL'}")
sys.exit(1 if failed else 0)
