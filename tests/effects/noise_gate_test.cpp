// The multi-band noise gate: its coefficients and gate curve by exact values, silence and
// the removed lowest band, seeking against reading from the start, and the gate's effect
// on tone bursts in faint white noise.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "effects/noise_gate.h"
#include "memory_source.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::ReadInOddChunks;

constexpr int kRate = 44100;

TEST(NoiseGate, CoefficientsThresholdsAndGateCurveAreExact) {
  NoiseGateFilter gate(Memory({}, kRate), 0);
  EXPECT_EQ(gate.k, (std::array<std::int32_t, 4>{1, 14, 37, 79}));
  EXPECT_EQ(gate.block, 1470);
  // At 0 dB the middle bands scale 2^17 to the opening point 512: 2^40 / 2^24.
  EXPECT_EQ(gate.threshold[1], 65536);
  EXPECT_EQ(gate.threshold[3], 65536);
  EXPECT_EQ(NoiseGateFilter::GateGain(131072 - 256, 65536), 0);
  EXPECT_EQ(NoiseGateFilter::GateGain(131072 + 256 * 1024, 65536), 1 << 23);
  EXPECT_EQ(NoiseGateFilter::GateGain(131072 + 256 * 2048, 65536), 1 << 24);
  EXPECT_EQ(NoiseGateFilter::GateGain(131072 + 256 * 2049, 65536), 1 << 24);
  EXPECT_EQ(NoiseGateFilter::GateGain(-5000, 65536), 0);
  // Levels beyond the range are limited to it: -124 dB would leave a band at silence.
  NoiseGateFilter lowest(Memory({}, kRate), -124);
  NoiseGateFilter limited(Memory({}, kRate), -40);
  EXPECT_EQ(lowest.threshold, limited.threshold);
  EXPECT_EQ(limited.threshold[1], (std::int64_t{1} << 40) / DecibelToQ24(-40));
  EXPECT_EQ(limited.threshold[0], (std::int64_t{1} << 40) / DecibelToQ24(-37));
  EXPECT_EQ(limited.threshold[2], (std::int64_t{1} << 40) / DecibelToQ24(-43));
  // The tiniest blocks and a rate the filter cannot use.
  NoiseGateFilter slow(Memory({}, 300), -30);
  EXPECT_EQ(slow.block, 20);
}

TEST(NoiseGate, SilenceStaysSilentAndTheLowestBandIsAlwaysRemoved) {
  // At -40 dB on silence every gain is 0 and every sample 0.
  NoiseGateFilter silent(Memory(std::vector<std::int32_t>(2 * kRate, 0), kRate, 2), -40);
  const std::vector<std::int32_t> out = ReadInOddChunks(silent, kRate);
  EXPECT_EQ(out, std::vector<std::int32_t>(2 * kRate, 0));
  EXPECT_EQ(silent.gain, (std::array<std::int32_t, 4>{}));
  // A tone riding on a quarter-scale offset keeps the gate open: the offset goes, the tone
  // (1050 Hz, 42 frames a period) stays.
  std::vector<std::int32_t> offset_tone(3 * kRate);
  for (std::size_t n = 0; n < offset_tone.size(); ++n) {
    offset_tone[n] = kStoreFullScale / 4 +
                     static_cast<std::int32_t>(std::lround(kStoreFullScale / 2 * std::sin(2 * std::numbers::pi * n / 42)));
  }
  NoiseGateFilter offset(Memory(offset_tone, kRate), -40);
  const std::vector<std::int32_t> out_tone = ReadInOddChunks(offset, 3 * kRate);
  double mean = 0, power_in = 0, power_out = 0;
  for (std::size_t n = 2 * kRate; n < out_tone.size(); ++n) {
    mean += out_tone[n];
    power_in += std::pow(offset_tone[n] - kStoreFullScale / 4, 2.0);
    power_out += std::pow(out_tone[n], 2.0);
  }
  EXPECT_LT(std::abs(mean / kRate), 2.0);
  EXPECT_NEAR(10 * std::log10(power_out / power_in), 0.0, 0.1);
}

// Bursts of 1 kHz at -12 dBFS for 0.3 s of every 0.9 s in white noise at -70 dBFS.
struct Bursts {
  static constexpr std::int32_t kPeriod = kRate * 9 / 10;
  static constexpr std::int32_t kOn = kRate * 3 / 10;
  static constexpr int kCount = 5;
  std::vector<std::int32_t> noise;
  std::vector<std::int32_t> samples;
  Bursts() {
    const double amplitude = kStoreFullScale * std::pow(10.0, -12.0 / 20);
    // Uniform noise of RMS a / √3 with a = √3 × full scale × 10^(-70 / 20).
    const double spread = std::sqrt(3.0) * kStoreFullScale * std::pow(10.0, -70.0 / 20);
    std::uint32_t seed = 12345;
    for (std::int32_t n = 0; n < kPeriod * kCount; ++n) {
      seed = seed * 1664525u + 1013904223u;
      const auto r = static_cast<std::int32_t>(std::lround((seed / 4294967296.0 * 2 - 1) * spread));
      noise.push_back(r);
      const bool on = n % kPeriod < kOn;
      samples.push_back(r + (on ? static_cast<std::int32_t>(std::lround(
                                        amplitude * std::sin(2 * std::numbers::pi * 1000.0 * n / kRate)))
                                : 0));
    }
  }
  // The RMS of `x` in dB over [from, to) of every period after the first.
  static double Db(const std::vector<std::int32_t>& x, std::int32_t from, std::int32_t to) {
    double sum = 0;
    std::int64_t count = 0;
    for (int p = 1; p < kCount; ++p) {
      for (std::int32_t n = p * kPeriod + from; n < p * kPeriod + to; ++n, ++count) sum += static_cast<double>(x[n]) * x[n];
    }
    return 10 * std::log10(sum / static_cast<double>(count));
  }
};

TEST(NoiseGate, SeekingEqualsReadingFromTheStart) {
  const Bursts bursts;
  const auto length = static_cast<std::int32_t>(bursts.samples.size());
  NoiseGateFilter fresh(Memory(bursts.samples, kRate), -30);
  const std::vector<std::int32_t> whole = ReadInOddChunks(fresh, length);
  // Back to the start after reading part of it.
  NoiseGateFilter again(Memory(bursts.samples, kRate), -30);
  ReadInOddChunks(again, 5000);
  again.Seek(0);
  EXPECT_EQ(again.Position(), 0);
  EXPECT_EQ(ReadInOddChunks(again, length), whole);
  // Into the middle: as a gate over the samples from there on.
  constexpr std::int32_t kFrom = 50001;
  NoiseGateFilter seeked(Memory(bursts.samples, kRate), -30);
  seeked.Seek(kFrom);
  NoiseGateFilter tail(Memory({bursts.samples.begin() + kFrom, bursts.samples.end()}, kRate), -30);
  EXPECT_EQ(ReadInOddChunks(seeked, length - kFrom), ReadInOddChunks(tail, length - kFrom));
  EXPECT_EQ(seeked.Position(), length);
}

TEST(NoiseGate, QuietensTheNoiseBetweenBurstsAndKeepsTheTone) {
  const Bursts bursts;
  NoiseGateFilter gate(Memory(bursts.samples, kRate), -30);
  const std::vector<std::int32_t> out = ReadInOddChunks(gate, static_cast<std::int32_t>(bursts.samples.size()));
  // The gaps, from 0.1 s after a burst to 0.05 s before the next.
  const double noise_in = Bursts::Db(bursts.noise, Bursts::kOn + kRate / 10, Bursts::kPeriod - kRate / 20);
  const double noise_out = Bursts::Db(out, Bursts::kOn + kRate / 10, Bursts::kPeriod - kRate / 20);
  EXPECT_LE(noise_out, noise_in - 20) << noise_in << " → " << noise_out;
  // The bursts' middles.
  const double tone_in = Bursts::Db(bursts.samples, kRate / 20, Bursts::kOn - kRate / 20);
  const double tone_out = Bursts::Db(out, kRate / 20, Bursts::kOn - kRate / 20);
  EXPECT_NEAR(tone_out, tone_in, 0.5);
  // The default and the preset.
  const EffectDefinition& effect = *FindEffect(4010);
  EXPECT_EQ(effect.parameters[0].fallback, "-30");
  EXPECT_EQ(effect.presets[0].values[0], "-20");
  EXPECT_EQ(effect.lead_in_ms, 1000);
}

}  // namespace
}  // namespace sonavel
