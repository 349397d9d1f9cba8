#!/bin/bash
# Builds the libFuzzer target for segment list edits into build/fuzz/segment_ops_fuzz and
# writes its seed corpus to build/fuzz/seeds. Needs clang++ with compiler-rt.
#   fuzz/build.sh              build only
#   fuzz/build.sh --run S      then fuzz for S seconds (new inputs go to build/fuzz/corpus)
#   fuzz/build.sh --runs N     then run N inputs
# A crash leaves its input in build/fuzz/; SEGMENT_OPS_TRACE=1 build/fuzz/segment_ops_fuzz
# FILE prints the operations it decodes to.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/fuzz"
mkdir -p "$out/seeds" "$out/corpus"

clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I "$root/src" "$root/fuzz/segment_ops_fuzz.cpp" "$root"/src/store/*.cpp \
  "$root/src/platform/file.cpp" "$root/src/platform/paths.cpp" \
  "$root/src/platform/settings.cpp" "$root/src/platform/ui.cpp" \
  -o "$out/segment_ops_fuzz"

# Seeds: four bytes per operation (code, p1, p2, p3; a parameter byte b means b % 64 - 16).
seed() { printf "$2" > "$out/seeds/$1"; }
# DeleteRange(s, 2, 10); InsertSound(t, at 4, base a)
seed delete-insert '\x00\x12\x1a\x10\x53\x14\x10\x10'
# RepeatRange(s, times 2, 1, 8); CutRange(from s, to t, 3, 12)
seed repeat-cut '\x09\x12\x11\x18\x22\x13\x1c\x10'
# InsertSilence(s, count 8, at -8); InsertSilence(t, count 4, at 47); CropRange(s, -3, 40)
seed silence-crop '\x05\x18\x08\x10\x15\x14\x3f\x10\x06\x0d\x38\x10'
# ScaleGain(s, 400 %); ChangeRangeVolume(s, 50 %, 2, 9); ReplaceRange(s, 1, 5, s)
seed gain-replace '\x0a\x09\x10\x10\x0b\x03\x12\x19\x04\x11\x15\x10'
# InsertSound(s, at 5, s); TrimStart(s, 3); TrimEnd(t, 2); CopyRange(from base b, to s, -2, 9)
seed self-trim-copy '\x03\x15\x10\x10\x07\x13\x10\x10\x18\x12\x10\x10\x61\x0e\x19\x10'

case "${1:-}" in
  --run) exec "$out/segment_ops_fuzz" -max_len=256 -max_total_time="${2:?seconds}" \
           -artifact_prefix="$out/" "$out/corpus" "$out/seeds" ;;
  --runs) exec "$out/segment_ops_fuzz" -max_len=256 -runs="${2:?count}" \
            -artifact_prefix="$out/" "$out/corpus" "$out/seeds" ;;
  "") ;;
  *) echo "usage: fuzz/build.sh [--run SECONDS | --runs COUNT]" >&2; exit 2 ;;
esac
