// The Layer III decoder on five minutes of 128 kbit/s 44.1 kHz stereo made by lame (a tone
// in noise), every frame through FrameDecoder, against `mpg123 -q -s` decoding the same
// file to /dev/null in the same run. Needs sox, lame and mpg123; the file is made once in
// the temporary folder.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_header.h"

namespace sonavel::bench {
namespace {

const std::string& TestFile() {
  static const std::string path = [] {
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::string mp3 = (folder / "sonavel-mp3-bench-300s.mp3").string();
    if (!std::filesystem::exists(mp3)) {
      const std::string wav = (folder / "sonavel-mp3-bench-300s.wav").string();
      const std::string make = "sox -D -n -r 44100 -c 2 -b 16 '" + wav +
                               "' synth 300 sine 300 whitenoise gain -6 && lame --quiet -b 128 '" + wav + "' '" +
                               mp3 + "'";
      if (std::system(make.c_str()) != 0) return std::string();
      std::filesystem::remove(wav);
    }
    return mp3;
  }();
  return path;
}

void BM_Mp3DecodeFiveMinutes(benchmark::State& state) {
  if (TestFile().empty()) return state.SkipWithError("sox or lame missing");
  std::ifstream in(TestFile(), std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::int32_t> out(1152 * 2);
  for (auto _ : state) {
    mp3::FrameDecoder decoder;
    for (std::size_t at = 0; at + mp3::kHeaderBytes <= file.size();) {
      const auto header = mp3::ParseFrameHeader(&file[at]);
      if (!header) {
        ++at;
        continue;
      }
      const std::size_t bytes = std::min<std::size_t>(header->frame_bytes, file.size() - at);
      decoder.Decode(*header, &file[at], bytes, out.data());
      at += bytes;
    }
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_Mp3DecodeFiveMinutes)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// The peer: the whole mpg123 program, reading the file and writing raw samples to nowhere.
void BM_Mpg123DecodeFiveMinutes(benchmark::State& state) {
  if (TestFile().empty()) return state.SkipWithError("sox or lame missing");
  const std::string command = "mpg123 -q -s '" + TestFile() + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) return state.SkipWithError("mpg123 failed");
}
BENCHMARK(BM_Mpg123DecodeFiveMinutes)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

}  // namespace
}  // namespace sonavel::bench

BENCHMARK_MAIN();
