#!/bin/bash
# Builds the libFuzzer targets into build/fuzz/ and their seed corpora, then optionally
# runs each of them. Needs clang++ with compiler-rt.
#   fuzz/build.sh              build only
#   fuzz/build.sh --run S      then fuzz each target for S seconds
#   fuzz/build.sh --runs N     then run each target on N inputs
# A crash leaves its input in build/fuzz/; SEGMENT_OPS_TRACE=1 build/fuzz/segment_ops_fuzz
# FILE prints the operations it decodes to.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/fuzz"
mkdir -p "$out"

# Every source is compiled once (through ccache when there is one, several at a time) and
# each target links the objects it needs.
compile_flags=(-std=c++20 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
  -I "$root/src")
link_flags=(-g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -lcurl)
compiler=(clang++)
command -v ccache >/dev/null 2>&1 && compiler=(ccache clang++)
objects="$out/objects"
mkdir -p "$objects"

object_of() {  # SOURCE -> its object file
  local relative=${1#"$root"/}
  echo "$objects/${relative//\//_}.o"
}
compile_one() {
  "${compiler[@]}" "${compile_flags[@]}" -c "$1" -o "$(object_of "$1")"
}
export -f object_of compile_one
export root objects
sources=("$root"/src/platform/*.cpp "$root"/src/store/*.cpp "$root"/src/formats/*.cpp "$root"/src/effects/*.cpp
  "$root"/src/effects/dsp/*.cpp "$root"/src/document/*.cpp "$root"/fuzz/*_fuzz.cpp)
printf '%s\0' "${sources[@]}" |
  xargs -0 -n 1 -P "$(nproc 2>/dev/null || echo 2)" bash -c "$(declare -p compiler compile_flags); compile_one \"\$1\"" _

objects_of() {  # FOLDER... -> the objects of every source in them
  local folder source
  for folder in "$@"; do
    for source in "$root"/src/"$folder"/*.cpp; do object_of "$source"; done
  done
}
link() {  # TARGET FOLDER...
  local target=$1
  shift
  # shellcheck disable=SC2046
  clang++ "${link_flags[@]}" "$(object_of "$root/fuzz/${target}_fuzz.cpp")" $(objects_of "$@") -o "$out/${target}_fuzz"
}
link segment_ops store platform
link wav_reader formats store platform
link format_readers formats store platform
link mp3_frames formats store platform
link media_output formats store platform
link dct formats store platform
link text_inputs document effects effects/dsp formats store platform
link tags formats store platform
link sidecar document effects effects/dsp formats store platform
link project document effects effects/dsp formats store platform

# Seeds for ffprobe's lines.
mkdir -p "$out/media_output_seeds" "$out/media_output_corpus"
printf 'sample_rate=44100\nchannels=2\nduration=12.345000\n' > "$out/media_output_seeds/probe"
printf 'sample_rate=8000\r\nchannels=1\nduration=N/A\nsample_rate=9\n' > "$out/media_output_seeds/probe_na"

# Seeds for the typed times (first byte 0 modulo 4), envelope files (1), typed numbers (2)
# and equaliser curves (3).
mkdir -p "$out/text_inputs_seeds" "$out/text_inputs_corpus"
printf '\x001:02:03.45' > "$out/text_inputs_seeds/time"
printf '\x00-90.5' > "$out/text_inputs_seeds/negative"
printf '\x01\x03\x00\x80\x80\x00\xff\x80' > "$out/text_inputs_seeds/envelope"
printf '\x02 -12 ' > "$out/text_inputs_seeds/number"
printf '\x03\x02\x00\x80\xff\x80' > "$out/text_inputs_seeds/equalizer_flat"
printf '\x03\x06\x00\x3f\xa8\x3f\xb2\x7f\xd3\x7f\xda\x3f\xff\x3f' > "$out/text_inputs_seeds/equalizer_bandpass"
printf '\x03\x04\x40\xc8\x80\x00\x20\x10\xff\xff' > "$out/text_inputs_seeds/equalizer_gap_falling"

# Seeds for the range edits: four bytes per operation (code, p1, p2, p3; a parameter byte
# b means b % 64 - 16).
mkdir -p "$out/segment_ops_seeds" "$out/segment_ops_corpus"
seed() { printf "$2" > "$out/segment_ops_seeds/$1"; }
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

# Seeds for the WAV reader: the small files the format tests write (every format, odd
# lengths, damaged headers), when the test program has been built.
# Seeds for the other readers: the files of the tests whose fixture ends in
# "FormatSeeds", each behind the byte that picks its format's entry.
mkdir -p "$out/wav_reader_seeds" "$out/wav_reader_corpus"
mkdir -p "$out/format_readers_seeds" "$out/format_readers_corpus"
mkdir -p "$out/dct_seeds" "$out/dct_corpus"
mkdir -p "$out/tags_seeds" "$out/tags_corpus"
mkdir -p "$out/sidecar_seeds" "$out/sidecar_corpus"
# Two bookmarks, the second with a name in the 255-and-u32 length form.
printf '\x02\x02\x01a\x00\x05\x00\x00\x00\x01\x00\x00\x00\x00\xff\x02\x00\x00\x00bc\x01t\x09\x00\x00\x00\x02\x07\x00\x00\x80' > "$out/sidecar_seeds/two"
for tests in "$root"/build/debug/tests/document/document_tests "$root"/build/core/tests/document/document_tests; do
  if [ -x "$tests" ]; then
    # The sidecar tests' exact edge-case file.
    SONAVEL_SIDECAR_FUZZ_SEEDS="$out/sidecar_seeds" "$tests" --gtest_filter='BookmarkFileTest.*' >/dev/null
    break
  fi
done
for tests in "$root"/build/debug/tests/formats/formats_tests "$root"/build/core/tests/formats/formats_tests; do
  if [ -x "$tests" ]; then
    SONAVEL_FUZZ_SEEDS="$out/wav_reader_seeds" "$tests" --gtest_filter='FuzzSeeds.*' >/dev/null
    SONAVEL_FORMAT_FUZZ_SEEDS="$out/format_readers_seeds" "$tests" --gtest_filter='*FormatSeeds.*' >/dev/null
    SONAVEL_FUZZ_SEEDS="$out/format_readers_seeds" "$tests" --gtest_filter='AiffTest.EveryCoding*' >/dev/null
    # MP3 in WAV (tag 0x55), for the WAV reader.
    SONAVEL_FUZZ_SEEDS="$out/wav_reader_seeds" "$tests" --gtest_filter='Mp3FormatSeeds.*' >/dev/null
    # The dictation files of the open test, good and refused.
    SONAVEL_DCT_FUZZ_SEEDS="$out/dct_seeds" "$tests" --gtest_filter='OpenDispatchTest.Dictation*' >/dev/null
    # Tagged files (a first byte 0 for ID3v1, 1 for INFO), ffmpeg's among them.
    SONAVEL_TAGS_FUZZ_SEEDS="$out/tags_seeds" "$tests" --gtest_filter='TagsTest.*:TagPeerTest.WeRead*' >/dev/null
    break
  fi
done
# Seeds for the project reader: the files the project tests write (both versions).
mkdir -p "$out/project_seeds" "$out/project_corpus"
for tests in "$root"/build/debug/tests/document/document_tests "$root"/build/core/tests/document/document_tests; do
  if [ -x "$tests" ]; then
    SONAVEL_PROJECT_FUZZ_SEEDS="$out/project_seeds" "$tests" --gtest_filter='ProjectFileTest.*' >/dev/null
    break
  fi
done
printf '\x02\x00\x00' > "$out/project_seeds/empty"

# Seeds for the headerless readers: the first byte b picks the table entry after WAV
# (b % 6: 0 AU, 1 AIFF, 2 raw, 3 VOX, 4 GSM, 5 MP3 in the table's present order) and the raw
# settings (b / 6: bit 0 stereo, the rest the codec); the rest is the file.
printf '\x03\x77\x88\x17\xf0\x08\x80' > "$out/format_readers_seeds/vox"
printf '\x2c\x00\x80\x7f\xff\x01\x02\x03' > "$out/format_readers_seeds/raw-16le-stereo"
printf '\x0e\xff\x7f\x00\x80\xd5\x55' > "$out/format_readers_seeds/raw-ulaw"
printf '\x32\x00\x80\xff\x01\x40' > "$out/format_readers_seeds/raw-8bit"
# Two GSM frames and a trailing piece of a third.
printf '\x04\xd2\x1f\x5a\x80\x3c\xb6\x29\x41\x97\x00\xff\x6d\x12\x88\x73\xe4\x05\x9b\x31\xc8\x6a\x17\xf3\x40\x2e\xd9\x84\x5b\x0c\xa7\x63\x19\xbe\xdf\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xd0\x00\x00' > "$out/format_readers_seeds/gsm"
# GSM in WAV for the WAV reader: one 65-byte block of two frames.
{
  printf 'RIFF\x6a\x00\x00\x00WAVEfmt \x14\x00\x00\x00\x31\x00\x01\x00\x40\x1f\x00\x00\x59\x06\x00\x00'
  printf '\x41\x00\x00\x00\x02\x00\x40\x01data\x41\x00\x00\x00'
  head -c 65 /dev/zero | tr '\0' '\245'
  printf '\x00'
} > "$out/wav_reader_seeds/gsm610.wav"

# Seeds for the frame decoder: short files lame makes (stereo with mid/side, mono with CRC
# words, MPEG-2 and -2.5), when lame is installed; their frames follow each other as the
# target takes them (the leading tag frame is a frame too).
mkdir -p "$out/mp3_frames_seeds" "$out/mp3_frames_corpus"
mp3_seed() {  # RATE CHANNELS LAME-OPTIONS...
  local rate=$1 channels=$2 wav="$out/mp3_frames_seed.wav"
  shift 2
  sox -n -r "$rate" -c "$channels" -b 16 "$wav" synth 0.3 square 5 sine 300:5000 vol 0.5 2>/dev/null
  lame --quiet "$@" "$wav" "$out/mp3_frames_seeds/lame-$rate-$channels.mp3"
  rm -f "$wav"
}
if command -v lame >/dev/null && command -v sox >/dev/null; then
  mp3_seed 44100 2 -m j -b 128
  mp3_seed 32000 1 -m m -b 48 -p
  mp3_seed 22050 2 -m s -b 64
  mp3_seed 8000 1 -m m -b 16
fi

run_all() {
  local target
  for target in segment_ops wav_reader format_readers mp3_frames media_output text_inputs dct tags sidecar project; do
    "$out/${target}_fuzz" -max_len=4096 "$@" -artifact_prefix="$out/$target-" \
      "$out/${target}_corpus" "$out/${target}_seeds"
  done
}

case "${1:-}" in
  --run) run_all -max_total_time="${2:?seconds}" ;;
  --runs) run_all -runs="${2:?count}" ;;
  "") ;;
  *) echo "usage: fuzz/build.sh [--run SECONDS | --runs COUNT]" >&2; exit 2 ;;
esac
