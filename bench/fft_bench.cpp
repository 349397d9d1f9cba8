// FftPlan's Forward then Inverse at N = 2048, the time stretcher's size at 44.1 kHz, in
// its fastest code, in its portable code, and as the plain radix-2 transform it replaced
// (tests/effects/radix2_fft.h); and RealFftPlan's pair on 2048 real values, for
// comparison. Items are transform pairs.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "effects/dsp/fft.h"
#include "radix2_fft.h"

namespace sonavel::bench {
namespace {

constexpr int kOrder = 11;
constexpr int kPairs = 1000;

// Random parts, brought back by each Inverse so that the values stay the same size.
struct Signal {
  Signal() : re(std::int32_t{1} << kOrder), im(re.size()) {
    std::mt19937 random(1);
    std::uniform_real_distribution<double> value(-1, 1);
    for (std::size_t i = 0; i < re.size(); ++i) {
      re[i] = value(random);
      im[i] = value(random);
    }
  }
  std::vector<double> re;
  std::vector<double> im;
};

void RunPlan(benchmark::State& state, FftPlan::Code code) {
  const FftPlan plan(kOrder, code);
  Signal signal;
  for (auto _ : state) {
    for (int i = 0; i < kPairs; ++i) {
      plan.Forward(signal.re.data(), signal.im.data());
      plan.Inverse(signal.re.data(), signal.im.data());
    }
    benchmark::DoNotOptimize(signal.re.data());
  }
  state.SetLabel(plan.uses_avx2() ? "avx2" : "portable");
  state.SetItemsProcessed(state.iterations() * kPairs);
}

void BM_FftFastest(benchmark::State& state) {
  RunPlan(state, FftPlan::Code::kFastest);
}
void BM_FftPortable(benchmark::State& state) {
  RunPlan(state, FftPlan::Code::kPortable);
}

void BM_FftRadix2(benchmark::State& state) {
  const FftPlan plan(kOrder);
  Signal signal;
  for (auto _ : state) {
    for (int i = 0; i < kPairs; ++i) {
      testing::Radix2Fft(plan, signal.re.data(), signal.im.data(), false);
      testing::Radix2Fft(plan, signal.re.data(), signal.im.data(), true);
    }
    benchmark::DoNotOptimize(signal.re.data());
  }
  state.SetItemsProcessed(state.iterations() * kPairs);
}

void BM_RealFft(benchmark::State& state) {
  const RealFftPlan plan(kOrder);
  Signal signal;
  std::vector<double> re(signal.re.size() / 2 + 1), im(re.size());
  for (auto _ : state) {
    for (int i = 0; i < kPairs; ++i) {
      plan.Forward(signal.re.data(), re.data(), im.data());
      plan.Inverse(re.data(), im.data(), signal.re.data());
    }
    benchmark::DoNotOptimize(signal.re.data());
  }
  state.SetLabel(plan.uses_avx2() ? "avx2" : "portable");
  state.SetItemsProcessed(state.iterations() * kPairs);
}

BENCHMARK(BM_FftRadix2)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_FftPortable)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_FftFastest)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_RealFft)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace
}  // namespace sonavel::bench

BENCHMARK_MAIN();
