// One update of the frequency window as the playback cursor makes it, on a graph of
// 1600 × 900 pixels: read 4096 frames at the cursor, transform both channels, paint the
// graph (grid, two curves, border) into an RGB32 image. The parts are timed alone as well.
// Target: the whole update within 3 ms, so that following the cursor costs little.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "gui/frequency_window.h"
#include "platform/paths.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/sound.h"
#include "views/spectrum_analysis.h"

namespace sonavel::bench {
namespace {

constexpr std::int32_t kRate = 44100;
constexpr std::int32_t kFrames = 60 * kRate;
constexpr int kWidth = 1600;
constexpr int kHeight = 900;
// The cursor advances as it does at 10 position reports a second.
constexpr std::int32_t kStep = kRate / 10;

// A minute of stereo: two tones gliding over noise.
const Sound& TheSound() {
  static const Sound* made = [] {
    auto* sound = new Sound(kRate, 2);
    SinkRef writer = CreateBlockWriter(*sound, kRate, 2);
    std::vector<std::int32_t> chunk;
    std::uint32_t noise = 1;
    for (std::int32_t i = 0; i < kFrames; ++i) {
      const double t = static_cast<double>(i) / kRate;
      for (int channel = 0; channel < 2; ++channel) {
        noise = noise * 1664525u + 1013904223u;
        const double tone = std::sin(2 * std::numbers::pi * (200.0 + 40 * t) * (channel + 1) * t);
        chunk.push_back(static_cast<std::int32_t>(2e6 * tone) + static_cast<std::int32_t>(noise >> 20) - 2048);
      }
      if (chunk.size() >= 2 * 8192 || i + 1 == kFrames) {
        writer->Write(chunk.data(), static_cast<std::int32_t>(chunk.size() / 2));
        chunk.clear();
      }
    }
    writer.Reset();
    return sound;
  }();
  return *made;
}

void Paint(FrequencyGraph& graph, QImage& image) {
  QPainter painter(&image);
  graph.Paint(painter);
}

void BM_FrequencyWindowUpdate(benchmark::State& state) {
  const Sound& sound = TheSound();
  FrequencyGraph graph;
  graph.resize(kWidth, kHeight);
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  std::int32_t cursor = 0;
  for (auto _ : state) {
    const std::optional<SpectrumData> data = ComputeSpectrum(sound, cursor);
    graph.SetData(*data);
    Paint(graph, image);
    benchmark::DoNotOptimize(image.constBits());
    cursor = (cursor + kStep) % (kFrames - kSpectrumFrames);
  }
}
BENCHMARK(BM_FrequencyWindowUpdate)->Unit(benchmark::kMillisecond);

void BM_FrequencySpectrumOnly(benchmark::State& state) {
  const Sound& sound = TheSound();
  std::int32_t cursor = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComputeSpectrum(sound, cursor));
    cursor = (cursor + kStep) % (kFrames - kSpectrumFrames);
  }
}
BENCHMARK(BM_FrequencySpectrumOnly)->Unit(benchmark::kMillisecond);

void BM_FrequencyPaintOnly(benchmark::State& state) {
  FrequencyGraph graph;
  graph.resize(kWidth, kHeight);
  graph.SetData(*ComputeSpectrum(TheSound(), kRate));
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  for (auto _ : state) {
    Paint(graph, image);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_FrequencyPaintOnly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sonavel::bench

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return sonavel::bench::RunInWorkingFolder(argc, argv);
}
