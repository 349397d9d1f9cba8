// CPU time of playing one minute of stereo 44.1 kHz through the whole playback chain
// (reader, limiter, 16-bit conversion, levels, ring, completion) into the capture device
// at immediate pace, against the minute itself. The counter cpu_per_minute is the process
// CPU time (all threads) in seconds per minute of sound; the target is below 0.6 s, one
// per cent of one core.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_folder.h"
#include "devices/capture_output.h"
#include "devices/main_thread_queue.h"
#include "devices/playback_engine.h"
#include "platform/paths.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"
#include "store/sound.h"

namespace sonavel {
namespace {

constexpr std::int32_t kRate = 44100;

double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Sound MakeMinute() {
  Sound sound(kRate, 2);
  SinkRef writer = CreateBlockWriter(sound, kRate, 2);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(kRate) * 2);
  std::uint32_t noise = 12345;
  for (int second = 0; second < 60; ++second) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      samples[i] = static_cast<std::int32_t>(noise >> 10) - 0x200000;  // beyond 16 bits
    }
    writer->Write(samples.data(), kRate);
  }
  return sound;
}

void BM_PlayOneMinute(benchmark::State& state) {
  const Sound sound = MakeMinute();
  ManualQueue queue;
  PlaybackEngine engine(queue);
  double cpu = 0;
  std::int64_t minutes = 0;
  for (auto _ : state) {
    auto device = std::make_shared<CaptureOutput>();
    engine.SetOutputFactory([device](int) { return device; });
    const double before = ProcessCpuSeconds();
    if (!engine.Open(OpenSoundReader(sound))) {
      state.SkipWithError("the engine did not open");
      return;
    }
    while (engine.State() != PlaybackEngine::kClosed) {
      queue.Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    cpu += ProcessCpuSeconds() - before;
    ++minutes;
    if (device->Samples().size() != static_cast<std::size_t>(60) * kRate * 2) {
      state.SkipWithError("the minute was not played whole");
      return;
    }
  }
  state.counters["cpu_per_minute"] = cpu / static_cast<double>(minutes);
}
BENCHMARK(BM_PlayOneMinute)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace sonavel

int main(int argc, char** argv) { return sonavel::bench::RunInWorkingFolder(argc, argv); }
