// Waveform columns of a long sound from its peak files, against a plain read loop over
// the same peak file. The sound is three hours of stereo at 44.1 kHz: a sparse audio file
// (the columns never read it) and a real peak file, split into 100 segments of varied
// gain. (a) draws the whole-sound overview over 1600 columns; (b) scrolls a main view
// showing one minute over 1600 columns by a tenth of its width and computes only the
// uncovered columns.
//
// The analysis windows' work on ten seconds of stereo: (c) the frequency window's update at
// a moving cursor (read 4096 frames, two transforms, levels), target 3 ms with its paint;
// (d) the spectrogram's picture at 1600 × 900 from its magnitudes, target 20 ms.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/sound.h"
#include "views/spectrum_analysis.h"
#include "views/wave_columns.h"

namespace sonavel::bench {
namespace {

constexpr std::int32_t kRate = 44100;
constexpr std::int32_t kFrames = 3 * 3600 * kRate;
constexpr int kWidth = 1600;
constexpr int kSegments = 100;

struct LongSound {
  Sound sound{kRate, 2};
  std::string peak_path;
};

LongSound& TheSound() {
  static LongSound* made = [] {
    auto* s = new LongSound;
    const BlockId block = AllocateBlock();
    s->peak_path = BlockPeakPath(block);
    {
      File audio(BlockAudioPath(block), File::Mode::kCreate);
      audio.Truncate(std::int64_t{kFrames} * 8);
      File peaks(s->peak_path, File::Mode::kCreate);
      const std::int64_t records = (std::int64_t{kFrames} + 255) / 256;
      std::vector<std::uint8_t> chunk;
      std::uint32_t noise = 1;
      for (std::int64_t r = 0; r < records; ++r) {
        for (int b = 0; b < 4; ++b) {
          noise = noise * 1664525u + 1013904223u;
          chunk.push_back(static_cast<std::uint8_t>((noise >> 24) % (64 + (r / 1000) % 192)));
        }
        if (chunk.size() >= (1u << 20) || r + 1 == records) {
          peaks.Write(chunk.data(), chunk.size());
          chunk.clear();
        }
      }
    }
    const std::int32_t length = kFrames / kSegments;
    for (int i = 0; i < kSegments; ++i) {
      const std::int32_t gain = kUnityGain / 4 + (kUnityGain / 8) * (i % 13);
      AppendSegment(s->sound, NewSegment(block, i + 1 == kSegments ? kFrames - i * length : length, gain, i * length));
    }
    ReleaseBlock(block);  // the segments hold it now
    return s;
  }();
  return *made;
}

void BM_OverviewFromPeaks(benchmark::State& state) {
  const LongSound& s = TheSound();
  WaveMapping m;
  m.SetClientSize(kWidth + 2, 200);
  m.SetRange(0, SoundLength(s.sound));
  std::uint8_t upper[kMaxColumns], lower[kMaxColumns];
  for (auto _ : state) {
    ComputeColumnsFromPeaks(s.sound, m, 0, kWidth - 1, {2, 0, false}, upper, lower, nullptr);
    benchmark::DoNotOptimize(upper);
  }
}
BENCHMARK(BM_OverviewFromPeaks)->Unit(benchmark::kMillisecond)->Repetitions(5);

// The peer: the whole peak file read once in 64 KB pieces, folded to a maximum.
void BM_PlainPeakRead(benchmark::State& state) {
  const LongSound& s = TheSound();
  std::vector<std::uint8_t> buffer(64 * 1024);
  for (auto _ : state) {
    const int fd = ::open(s.peak_path.c_str(), O_RDONLY);
    std::uint8_t high = 0;
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0)
      for (ssize_t i = 0; i < got; ++i) high = std::max(high, buffer[i]);
    ::close(fd);
    benchmark::DoNotOptimize(high);
  }
}
BENCHMARK(BM_PlainPeakRead)->Unit(benchmark::kMillisecond)->Repetitions(5);

// One minute over 1600 columns, scrolled by 160 columns per iteration through the sound.
void BM_ScrollMainView(benchmark::State& state) {
  const LongSound& s = TheSound();
  const std::int32_t visible = 60 * kRate;
  WaveMapping m;
  m.SetClientSize(kWidth + 2, 200);
  std::int32_t first = 0;
  std::uint8_t upper[kMaxColumns], lower[kMaxColumns];
  for (auto _ : state) {
    first += visible / 10;
    if (first + visible > kFrames) first = 0;
    m.SetRange(first, visible);
    ComputeColumnsFromPeaks(s.sound, m, kWidth - kWidth / 10, kWidth - 1, {2, 0, false}, upper, lower, nullptr);
    benchmark::DoNotOptimize(upper);
  }
}
BENCHMARK(BM_ScrollMainView)->Unit(benchmark::kMicrosecond)->Repetitions(5);

// The peer: the same records (a tenth of a minute) read with open, seek and read.
void BM_PlainScrollRead(benchmark::State& state) {
  const LongSound& s = TheSound();
  const std::int32_t visible = 60 * kRate;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(visible / 10 / 256 + 2) * 4);
  std::int32_t first = 0;
  for (auto _ : state) {
    first += visible / 10;
    if (first + visible > kFrames) first = 0;
    const int fd = ::open(s.peak_path.c_str(), O_RDONLY);
    const off_t at = static_cast<off_t>((first + visible - visible / 10) / 256) * 4;
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), at);
    std::uint8_t high = 0;
    for (ssize_t i = 0; i < got; ++i) high = std::max(high, buffer[i]);
    ::close(fd);
    benchmark::DoNotOptimize(high);
  }
}
BENCHMARK(BM_PlainScrollRead)->Unit(benchmark::kMicrosecond)->Repetitions(5);

// Ten seconds of two tones in noise, one per channel.
const Sound& AnalysedSound() {
  static const Sound* made = [] {
    auto* sound = new Sound(kRate, 2);
    std::vector<std::int32_t> samples(2 * 10 * kRate);
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      const double t = static_cast<double>(i / 2) / kRate;
      const double tone = 200000 * std::sin(2 * 3.141592653589793 * (i % 2 == 0 ? 440 : 3000) * t);
      samples[i] = static_cast<std::int32_t>(tone) + static_cast<std::int32_t>(noise >> 20) - 2048;
    }
    SinkRef writer = CreateBlockWriter(*sound, kRate, 2);
    writer->Write(samples.data(), 10 * kRate);
    return sound;
  }();
  return *made;
}

void BM_SpectrumUpdate(benchmark::State& state) {
  const Sound& sound = AnalysedSound();
  std::int32_t cursor = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComputeSpectrum(sound, cursor));
    cursor = (cursor + 4410) % (9 * kRate);  // as playback moves it
  }
}
BENCHMARK(BM_SpectrumUpdate)->Unit(benchmark::kMillisecond)->Repetitions(5);

void BM_SpectrogramPicture(benchmark::State& state) {
  SilentProgress progress;
  const std::optional<SpectrogramData> data = ComputeSpectrogram(AnalysedSound(), 0, 10 * kRate, progress);
  SpectrogramLook look;
  look.grid = true;
  for (auto _ : state) benchmark::DoNotOptimize(RenderSpectrogram(*data, look, 1600, 900));
}
BENCHMARK(BM_SpectrogramPicture)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace
}  // namespace sonavel::bench

int main(int argc, char** argv) { return sonavel::bench::RunInWorkingFolder(argc, argv); }
