// The Layer III synthesis alone: granules of one channel through the hybrid and the
// polyphase filter banks, 100,000 per run, the output interleaved as for stereo. The
// spectra are random with the upper third of the lines zero, as at usual bit rates; one
// granule in eight is a short block, one in sixteen of those mixed.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "formats/mp3_synthesis.h"

namespace sonavel::bench {
namespace {

constexpr int kGranules = 100000;
constexpr int kSpectra = 64;

void BM_Mp3SynthesisGranules(benchmark::State& state) {
  std::vector<mp3::GranuleSpectrum> spectra(kSpectra);
  std::mt19937 random(1);
  std::uniform_real_distribution<float> line(-0.02f, 0.02f);
  for (int n = 0; n < kSpectra; ++n) {
    auto& g = spectra[n];
    g.nonzero_lines = 384;
    for (int i = 0; i < mp3::kGranuleLines; ++i) g.lines[i] = i < g.nonzero_lines ? line(random) : 0.0f;
    g.block_type = n % 8 == 7 ? 2 : 0;
    g.mixed_block = n % 16 == 15;
  }
  mp3::ChannelSynthesis synthesis;
  std::vector<std::int32_t> out(2 * mp3::kGranuleLines);
  for (auto _ : state) {
    for (int n = 0; n < kGranules; ++n) synthesis.Granule(spectra[n % kSpectra], out.data(), 2);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kGranules);
}
BENCHMARK(BM_Mp3SynthesisGranules)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace
}  // namespace sonavel::bench

BENCHMARK_MAIN();
