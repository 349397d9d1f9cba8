#!/bin/sh
# Builds the store benchmarks in a release build (build/bench), runs them and prints each
# ratio against its peer with PASS or FAIL. Arguments go to the benchmark program (e.g.
# --benchmark_filter=Edit); SONAVEL_BENCH_SECONDS shortens the streamed sound for a quick
# run (default one hour). Exits non-zero when a ratio misses its target or a benchmark
# failed.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
results="$build/store_bench.json"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONAVEL_CORE_ONLY=ON >/dev/null
cmake --build "$build" --target store_bench views_bench sonavel-cli

"$build/bench/store_bench" --benchmark_enable_random_interleaving=true \
  --benchmark_out="$results" --benchmark_out_format=json "$@"

store_status=0
python3 - "$results" <<'PY' || store_status=$?
import json
import statistics
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

with open(sys.argv[1]) as f:
    runs = json.load(f)["benchmarks"]

def times_ns(prefix):
    """Real times of the repetitions of the benchmark named `prefix`; empty when it did not
    run or failed."""
    times = []
    for run in runs:
        if not run["run_name"].startswith(prefix + "/") or run["run_type"] != "iteration":
            continue
        if run.get("error_occurred"):
            print(f"{prefix}: {run.get('error_message', 'failed')}")
            return []
        times.append(run["real_time"] * UNIT_NS[run["time_unit"]])
    return times

# (label, benchmark, peer, lowest and highest ratio allowed)
checks = [
    ("block writer / plain write", "BM_BlockWriterWrite", "BM_PlainWrite", 0.0, 1.3),
    ("segment reader / plain read", "BM_SegmentReaderRead", "BM_PlainRead", 0.0, 1.3),
    ("edit pair 10 h / 1 min", "BM_EditPair/seconds:36000", "BM_EditPair/seconds:60", 0.5, 2.0),
]

# Disturbances (page faults the hypervisor serves, writeback, other processes) only ever
# add time, so the verdict compares the best repetition of each side; the ratio of the
# medians is shown beside it.
failed = False
print()
for label, subject, peer, lowest, highest in checks:
    a, b = times_ns(subject), times_ns(peer)
    if not a or not b:
        print(f"{label:28} not measured  FAIL")
        failed = True
        continue
    ratio = min(a) / min(b)
    verdict = "PASS" if lowest <= ratio <= highest else "FAIL"
    failed |= verdict == "FAIL"
    target = f"<= {highest}" if lowest == 0 else f"{lowest} .. {highest}"
    print(f"{label:28} {ratio:6.3f}  (medians {statistics.median(a) / statistics.median(b):.3f};"
          f" target {target})  {verdict}")
sys.exit(1 if failed else 0)
PY

# Waveform columns from peak files against a plain read of the same peak file.
views_results="$build/views_bench.json"
views_status=0
"$build/bench/views_bench" --benchmark_out="$views_results" --benchmark_out_format=json >/dev/null || views_status=$?
python3 - "$views_results" <<'PY' || views_status=$?
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
runs = json.load(open(sys.argv[1]))["benchmarks"]

def best_ns(prefix):
    times = [r["real_time"] * UNIT_NS[r["time_unit"]] for r in runs
             if r["run_name"].startswith(prefix + "/") and r["run_type"] == "iteration"
             and not r.get("error_occurred")]
    return min(times) if times else None

failed = False
# (label, benchmark, peer, highest ratio, highest milliseconds of the benchmark itself)
for label, subject, peer, highest, limit_ms in [
    ("overview 3 h / plain read", "BM_OverviewFromPeaks", "BM_PlainPeakRead", 20.0, 20.0),
    ("scroll 1/10 / plain read", "BM_ScrollMainView", "BM_PlainScrollRead", 20.0, 20.0),
]:
    a, b = best_ns(subject), best_ns(peer)
    if a is None or b is None:
        print(f"{label:28} not measured  FAIL")
        failed = True
        continue
    ratio = a / b
    verdict = "PASS" if ratio <= highest and a / 1e6 <= limit_ms else "FAIL"
    failed |= verdict == "FAIL"
    print(f"{label:28} {ratio:6.3f}  ({a / 1e6:.3f} ms; target <= {highest}, <= {limit_ms} ms)  {verdict}")
# The analysis windows' work, against fixed budgets.
for label, subject, limit_ms in [
    ("spectrum update", "BM_SpectrumUpdate", 3.0),
    ("spectrogram 1600 x 900", "BM_SpectrogramPicture", 20.0),
]:
    a = best_ns(subject)
    verdict = "PASS" if a is not None and a / 1e6 <= limit_ms else "FAIL"
    failed |= verdict == "FAIL"
    shown = "not measured" if a is None else f"{a / 1e6:.3f} ms"
    print(f"{label:28} {shown}  (target <= {limit_ms} ms)  {verdict}")
sys.exit(1 if failed else 0)
PY

# The command-line converter against sox on the same file.
cli_status=0
"$root/bench/cli_convert.py" "$build/src/main/sonavel-cli" "$build" "${SONAVEL_BENCH_SECONDS:-3600}" ||
  cli_status=$?
# The playback chain: process CPU seconds per minute of sound, target below 0.6 (1 % of a core).
cmake --build "$build" --target playback_bench >/dev/null
"$build/bench/playback_bench" --benchmark_format=json 2>/dev/null | python3 -c 'import json, sys; c = json.load(sys.stdin)["benchmarks"][0].get("cpu_per_minute"); ok = c is not None and c < 0.6; print("playback CPU per minute      ", c, "s  (target < 0.6 s) ", "PASS" if ok else "FAIL"); sys.exit(0 if ok else 1)' || exit 1
exit $(( store_status || views_status || cli_status ))
