"""Shared by the command-line benchmarks: makes the test signal and times our command
against its peer, alternating the two and keeping the best run of each (disturbances of a
shared machine only ever add time)."""
import os
import statistics
import subprocess
import time


def make_signal(path, seconds, rate=44100, channels=2):
    """One WAV of `seconds` of 16-bit audio at `rate` (44.1 kHz unless told), stereo unless
    told: a tone in noise, made once."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if not os.path.exists(path):
        subprocess.run(["sox", "-D", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", path,
                        "synth", str(seconds), "sine", "300", "whitenoise", "gain", "-6"], check=True)


def all_times(commands, runs, env):
    """`commands` maps a name to (argument list, output file); each run writes its output
    anew, the names taking turns. Returns each name's wall-clock times in run order; the
    outputs are removed."""
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, (command, output) in commands.items():
            if os.path.exists(output):
                os.remove(output)
            start = time.perf_counter()
            subprocess.run(command, check=True, env=env, stderr=subprocess.DEVNULL)
            times[name].append(time.perf_counter() - start)
    for _, output in commands.values():
        if os.path.exists(output):
            os.remove(output)
    return times


def best_times(commands, runs, env):
    """The best wall-clock time of each name of `commands` (see all_times)."""
    return {name: min(values) for name, values in all_times(commands, runs, env).items()}


def cli_env(folder):
    """Our settings and data folders inside the work folder, so a run never touches the user's."""
    return dict(os.environ, SONAVEL_DATA_DIR=os.path.join(folder, "cli-data"),
                SONAVEL_CONFIG_DIR=os.path.join(folder, "cli-config"))


# The heading of side_by_side's lines.
HEADING = f"{'case':12} {'ours':>10} {'peer':>9} {'ratio':>7}"


def side_by_side(name, ours, peer_name, peer, runs, env, target):
    """Times `ours` against `peer` (each an argument list and its output file), taking
    turns; prints both medians and the median of the side-by-side ratios against `target`.
    True when the target is met."""
    times = all_times({"ours": ours, peer_name: peer}, runs, env)
    ratio = statistics.median(a / b for a, b in zip(times["ours"], times[peer_name]))
    met = ratio <= target
    print(f"{name:12} {statistics.median(times['ours']):8.2f} s {statistics.median(times[peer_name]):7.2f} s "
          f"{ratio:7.3f}  ({peer_name}, target <= {target})  {'PASS' if met else 'FAIL'}", flush=True)
    return met


def cli_arguments(argv):
    """SONAVEL_CLI WORK_FOLDER [SECONDS] [RUNS] of the command-line benchmarks: the two
    paths, the seconds (an hour) and runs (5), and the environment with our folders and the
    temporary files inside the work folder."""
    cli, folder = argv[1], argv[2]
    seconds = int(argv[3]) if len(argv) > 3 else 3600
    runs = int(argv[4]) if len(argv) > 4 else 5
    env = cli_env(folder)
    env["TMPDIR"] = folder
    return cli, folder, seconds, runs, env


def open_and_save_arguments(argv):
    """SONAVEL_CLI OPEN_ONLY WORK_FOLDER [SECONDS] [RUNS] of the open-and-save benchmarks:
    as cli_arguments, with the path of `open_only` second."""
    cli, folder, seconds, runs, env = cli_arguments([argv[0], argv[1]] + argv[3:])
    return cli, argv[2], folder, seconds, runs, env


def run_cases(cases, runs, env):
    """Times each case (name, our command, peer command, our output, peer output, peer name,
    target) side by side and prints the table; the exit code: 1 when a target was missed."""
    print(f"{runs} runs each, load before: {os.getloadavg()[0]:.2f}", flush=True)
    print(HEADING)
    failed = False
    for name, ours, theirs, ours_out, peer_out, peer, target in cases:
        failed |= not side_by_side(name, (ours, ours_out), peer, (theirs, peer_out), runs, env, target)
    print(f"load after: {os.getloadavg()[0]:.2f}")
    print("FAIL" if failed else "PASS")
    return 1 if failed else 0
