#!/usr/bin/env bash
# Installs what is missing, builds the editor and sonavel-cli (release) and starts the
# editor with the given arguments.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/deps.sh
install_packages "${BUILD_PACKAGES[@]}" "${RUNTIME_PACKAGES[@]}"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONAVEL_BENCH=OFF >/dev/null
cmake --build build/release --target sonavel sonavel-cli
exec build/release/src/main/sonavel "$@"
