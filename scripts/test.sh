#!/usr/bin/env bash
# Installs what is missing, builds everything (debug), builds the libraries without Qt
# under AddressSanitizer + UndefinedBehaviorSanitizer, and runs every test of both; builds
# the tests that run more than one thread under ThreadSanitizer and runs them; ends with
# a short run of each fuzz target.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/deps.sh
install_packages "${BUILD_PACKAGES[@]}" "${RUNTIME_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
jobs=$(nproc 2>/dev/null || echo 2)

echo "== debug build" >&2
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/debug

echo "== sanitizer build" >&2
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_CORE_ONLY=ON \
  -DSONAVEL_SANITIZE=ON -DSONAVEL_BENCH=OFF >/dev/null
cmake --build build/asan

echo "== thread sanitizer build (threaded tests only)" >&2
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSONAVEL_TSAN=ON >/dev/null
cmake --build build/tsan

# Tests must not touch the user's own settings or data.
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
export SONAVEL_CONFIG_DIR="$sandbox/config" SONAVEL_SYSTEM_CONFIG_DIR="$sandbox/system"
export SONAVEL_DATA_DIR="$sandbox/data" TMPDIR="$sandbox"
export QT_QPA_PLATFORM=offscreen

echo "== tests" >&2
ctest --test-dir build/debug --output-on-failure -j "$jobs"

echo "== tests under sanitizers" >&2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  SONAVEL_MODEL_SEQUENCES=400 ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== threaded tests under the thread sanitizer" >&2
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threaded

if [ -x fuzz/build.sh ]; then
  echo "== fuzz targets (short runs)" >&2
  mkdir -p build
  fuzz/build.sh --run 10 >build/fuzz.log 2>&1 || { tail -60 build/fuzz.log >&2; exit 1; }
fi
echo "All tests passed." >&2
