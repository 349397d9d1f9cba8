// Spectral subtraction: FFT sizes and the refusals at their edges, the profile's
// percentile walk by exact levels, and the quality on tone bursts in white noise beside
// sox's noiseprof and noisered.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "effects/spectral_subtraction.h"
#include "memory_source.h"
#include "store/sound.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::ReadInOddChunks;

constexpr int kRate = 44100;

double LevelMagnitude(int level) { return std::pow(10.0, level / 20.0) * 92682.0; }

SpectralProfile Estimate(const std::vector<std::int32_t>& samples, std::uint8_t channels, int percentile,
                         std::int32_t rate = kRate) {
  SourceRef source = Memory(samples, rate, channels);
  SilentProgress progress;
  SpectralProfile profile;
  EXPECT_EQ(EstimateSpectralProfile(*source, 0, source->Length(), percentile, progress, profile), kDone);
  return profile;
}

TEST(SpectralSubtraction, SizesRefusalsAndTheNoiseSampleRules) {
  EXPECT_EQ(SpectralFftSize(44100), 1024);
  EXPECT_EQ(SpectralFftSize(48000), 2048);
  EXPECT_EQ(SpectralFftSize(8000), 256);
  EXPECT_EQ(SpectralFftSize(32000), 1024);
  EXPECT_EQ(SpectralFftSize(100), 8);
  EXPECT_EQ(SpectralFftSize(352800), 8192);
  // Rates that would need more than 8192 points are refused.
  ASSERT_TRUE(SpectralRangeRefusal(400000, 400000, "Fehler"));
  EXPECT_EQ(SpectralRangeRefusal(400000, 400000, "Fehler")->caption, "Fehler");

  // Taking a sample: 8.9 s are 8 whole seconds and accepted, 9 s are refused; fewer
  // frames than one block of N are refused too.
  const EffectDefinition& take = *FindEffect(4012);
  EXPECT_FALSE(take.changes_sound);
  Sound mono(kRate, 1);
  EXPECT_FALSE(take.refuse(mono, 1000, 1000 + kRate * 89 / 10));
  const std::optional<Message> nine = take.refuse(mono, 1000, 1000 + 9 * kRate);
  ASSERT_TRUE(nine);
  EXPECT_EQ(nine->text, "Sie können einen Bereich, der länger als 8 Sek. ist nicht samplen. Bitte wählen Sie einen "
                        "kürtzeren Bereich.");
  EXPECT_EQ(nine->caption, "Fehler Manuelle Noise Reduction");
  EXPECT_EQ(nine->icon, MessageIcon::kError);
  EXPECT_FALSE(take.refuse(mono, 0, 1024));
  const std::optional<Message> short_one = take.refuse(mono, 0, 1023);
  ASSERT_TRUE(short_one);
  EXPECT_EQ(short_one->text, "Sonavel kann einen so kurzen Bereich nicht analysieren. Bitte wählen Sie einen Bereich "
                             "von mindestens 1024 Samples.");
  EXPECT_TRUE(FindEffect(4011)->refuse(Sound(kRate, 2), 0, 1023));

  // Applying: nothing taken yet; then a mono sample on stereo, a sample of another rate
  // with the same FFT size, and one of the same shape.
  const EffectDefinition& apply = *FindEffect(4013);
  SetNoiseSampleProfile({});
  ASSERT_TRUE(apply.refuse(Sound(kRate, 2), 0, kRate));
  EXPECT_EQ(apply.refuse(Sound(kRate, 2), 0, kRate)->caption, "Fehler");
  SetNoiseSampleProfile(Estimate(std::vector<std::int32_t>(2048, 0), 1, 90));
  const std::optional<Message> stereo = apply.refuse(Sound(kRate, 2), 0, kRate);
  ASSERT_TRUE(stereo);
  EXPECT_EQ(stereo->text, "Der gewählte Noise Sample ist nicht ist mit den Markierten nicht kompatibel.");
  EXPECT_EQ(stereo->caption, "Fehler");
  EXPECT_EQ(apply.refuse(Sound(32000, 1), 0, kRate)->text, stereo->text);
  EXPECT_FALSE(apply.refuse(Sound(kRate, 1), 0, kRate));
  EXPECT_TRUE(apply.refuse(Sound(kRate, 1), 0, 1000));
  // The filter itself leaves audio of another shape as it is.
  const std::vector<std::int32_t> stereo_audio = {5, -6, 7, -8, 9, -10};
  SpectralSubtractor mismatched(Memory(stereo_audio, kRate, 2), *NoiseSampleProfile());
  EXPECT_EQ(ReadInOddChunks(mismatched, 3), stereo_audio);
  SetNoiseSampleProfile({});

  // The stored threshold is limited to 1 … 50 %: over 100 would make every bin noise.
  const EffectDefinition& automatic = *FindEffect(4011);
  EXPECT_EQ(automatic.parameters[0].name, "SSNoiseThreshold");
  EXPECT_EQ(automatic.parameters[0].fallback, "30");
  EXPECT_EQ(automatic.parameters[0].kind, EffectFieldKind::kEditAndSlider);
  EXPECT_EQ(automatic.presets[0].name, "Für Sprache anwenden");
  EXPECT_EQ(automatic.presets[1].values[0], "10");
  EXPECT_EQ(automatic.lead_in_ms, 1000);
}

TEST(SpectralSubtraction, TheProfileWalksEachHistogramToThePercentile) {
  // One block of silence: at least one block counts, so the profile is the quietest level
  // plus one step, not silence.
  const SpectralProfile one = Estimate(std::vector<std::int32_t>(1024, 0), 1, 30);
  ASSERT_EQ(one.size, 1024);
  EXPECT_EQ(one.rate, kRate);
  ASSERT_EQ(one.magnitude.size(), 512u);
  for (double m : one.magnitude) ASSERT_DOUBLE_EQ(m, LevelMagnitude(-126));

  // Twenty stereo blocks, the first ten silent in the left channel, the others a bin-centred
  // tone (bin 64) of 2^17 amplitude; the right channel the other way round. T is 6 at 30 %
  // (the silent blocks decide) and 18 at 90 % (the tone's blocks do).
  std::vector<std::int32_t> samples(2 * 20 * 1024, 0);
  for (std::int32_t i = 0; i < 20 * 1024; ++i) {
    const auto tone = static_cast<std::int32_t>(std::lround(131072 * std::sin(2 * std::numbers::pi * 64 * i / 1024)));
    samples[2 * i + (i < 10 * 1024 ? 1 : 0)] = tone;
  }
  const SpectralProfile low = Estimate(samples, 2, 30);
  const SpectralProfile high = Estimate(samples, 2, 90);
  EXPECT_DOUBLE_EQ(low.Channel(0)[64], LevelMagnitude(-126));
  EXPECT_DOUBLE_EQ(low.Channel(1)[64], LevelMagnitude(-126));
  // The tone's bin: amplitude / 2 × the window's mean (0.54 less the end effect), level
  // 20 log10(65536 × 0.5395 / 92682) = −8.4 dB, counted as −8, walked to −7.
  EXPECT_DOUBLE_EQ(high.Channel(0)[64], LevelMagnitude(-7));
  EXPECT_DOUBLE_EQ(high.Channel(1)[64], LevelMagnitude(-7));
}

// ---- Quality on tone bursts in noise.

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status == -1 ? -1 : WEXITSTATUS(status);
}

constexpr double kFullScale16 = 32767.0;
constexpr std::int32_t kBurstPeriod = 3 * kRate / 2;  // a burst of half a second every 1.5 s
constexpr std::int32_t kBurstLength = kRate / 2;
constexpr std::int32_t kFirstBurst = kRate;
constexpr std::int32_t kMargin = kRate / 20;  // left out around each edge when measuring

bool InBurst(std::int32_t i) {
  return i >= kFirstBurst && (i - kFirstBurst) % kBurstPeriod < kBurstLength;
}

// Six seconds of mono 16-bit: 1 kHz bursts at −12 dBFS a third of the time, white noise of
// −40 dBFS RMS throughout.
std::vector<std::int16_t> BurstsInNoise() {
  std::mt19937 generator(20261208);
  std::normal_distribution<double> noise(0.0, kFullScale16 * 0.01);
  std::vector<std::int16_t> samples(6 * kRate);
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(samples.size()); ++i) {
    double v = noise(generator);
    if (InBurst(i))
      v += kFullScale16 * std::pow(10.0, -12 / 20.0) * std::sin(2 * std::numbers::pi * 1000.0 * i / kRate);
    samples[i] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
  }
  return samples;
}

struct Measures {
  double gap_noise_db;  // RMS between the bursts
  double tone_db;       // the 1 kHz amplitude in the bursts
  double snr_db;        // the tone against the rest in the bursts
};

// Fits the 1 kHz sine to each burst's middle and measures the rest there and between bursts.
Measures Measure(const std::vector<double>& y) {
  double gap_power = 0, tone_power = 0, rest_power = 0, amplitude = 0;
  std::int64_t gap_count = 0, bursts = 0;
  for (std::int32_t start = kFirstBurst; start + kBurstLength <= static_cast<std::int32_t>(y.size());
       start += kBurstPeriod) {
    double s = 0, c = 0;
    const std::int32_t from = start + kMargin, to = start + kBurstLength - kMargin;
    for (std::int32_t i = from; i < to; ++i) {
      const double phase = 2 * std::numbers::pi * 1000.0 * i / kRate;
      s += y[i] * std::sin(phase);
      c += y[i] * std::cos(phase);
    }
    s *= 2.0 / (to - from);
    c *= 2.0 / (to - from);
    for (std::int32_t i = from; i < to; ++i) {
      const double phase = 2 * std::numbers::pi * 1000.0 * i / kRate;
      const double tone = s * std::sin(phase) + c * std::cos(phase);
      tone_power += tone * tone;
      rest_power += (y[i] - tone) * (y[i] - tone);
    }
    amplitude += std::hypot(s, c);
    ++bursts;
  }
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(y.size()); ++i) {
    bool near = false;
    for (std::int32_t d : {-kMargin, 0, kMargin}) near = near || InBurst(std::clamp<std::int32_t>(i + d, 0, 1 << 30));
    if (near) continue;
    gap_power += y[i] * y[i];
    ++gap_count;
  }
  return {10 * std::log10(gap_power / gap_count), 20 * std::log10(amplitude / bursts),
          10 * std::log10(tone_power / rest_power)};
}

std::vector<double> Ours(const std::vector<std::int16_t>& input, const SpectralProfile& profile) {
  std::vector<std::int32_t> store(input.begin(), input.end());
  for (std::int32_t& v : store) v *= 16;
  SpectralSubtractor subtractor(Memory(store, kRate, 1), profile);
  const std::vector<std::int32_t> out = ReadInOddChunks(subtractor, static_cast<std::int32_t>(store.size()));
  std::vector<double> result(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) result[i] = out[i] / 16.0;
  return result;
}

TEST(SpectralSubtraction, BurstsInNoiseBesideSoxNoisered) {
  const std::vector<std::int16_t> input = BurstsInNoise();
  std::vector<std::int32_t> store(input.begin(), input.end());
  for (std::int32_t& v : store) v *= 16;
  const Measures before = Measure(std::vector<double>(input.begin(), input.end()));

  // From a noise sample of the first gap (0.1 … 0.9 s).
  SourceRef source = Memory(store, kRate, 1);
  SilentProgress progress;
  SpectralProfile sample;
  ASSERT_EQ(EstimateSpectralProfile(*source, kRate / 10, kRate * 9 / 10, kNoiseSamplePercentile, progress, sample),
            kDone);
  const Measures from_sample = Measure(Ours(input, sample));
  // Automatic, from the whole sound at 30 %.
  SpectralProfile automatic;
  ASSERT_EQ(EstimateSpectralProfile(*source, 0, source->Length(), 30, progress, automatic), kDone);
  const Measures from_auto = Measure(Ours(input, automatic));

  std::printf("before: noise %.1f dB, tone %.2f dB, SNR %.1f dB\n", before.gap_noise_db, before.tone_db,
              before.snr_db);
  std::printf("sample: noise %.1f dB (%.1f lower), tone %.2f dB, SNR %.1f dB (+%.1f)\n", from_sample.gap_noise_db,
              before.gap_noise_db - from_sample.gap_noise_db, from_sample.tone_db, from_sample.snr_db,
              from_sample.snr_db - before.snr_db);
  std::printf("auto 30 %%: noise %.1f dB (%.1f lower), tone %.2f dB, SNR %.1f dB (+%.1f)\n", from_auto.gap_noise_db,
              before.gap_noise_db - from_auto.gap_noise_db, from_auto.tone_db, from_auto.snr_db,
              from_auto.snr_db - before.snr_db);
  EXPECT_GE(before.gap_noise_db - from_sample.gap_noise_db, 15.0);
  EXPECT_GE(from_sample.snr_db - before.snr_db, 10.0);
  EXPECT_GE(before.gap_noise_db - from_auto.gap_noise_db, 4.0);
  // Each bin and its true mirror take one factor, so the tone keeps its level (scaling
  // N − 1 − j instead, each bin shares its neighbour's factor and the tone loses 0.3 dB).
  EXPECT_NEAR(from_sample.tone_db, before.tone_db, 0.15);
  EXPECT_NEAR(from_auto.tone_db, before.tone_db, 0.15);

  if (RunCommand("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  char folder[] = "/tmp/sonavel-spectral-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string in = std::string(folder) + "/in.raw";
  const std::string out = std::string(folder) + "/out.raw";
  const std::string profile = std::string(folder) + "/noise.prof";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(2 * input.size()));
  const std::string format = " -t raw -r 44100 -e signed -b 16 -c 1 -L ";
  ASSERT_EQ(RunCommand("sox" + format + in + " -n trim 0.1 0.8 noiseprof " + profile + " 2>/dev/null"), 0);
  ASSERT_EQ(RunCommand("sox" + format + in + format + out + " noisered " + profile + " 0.5 2>/dev/null"), 0);
  std::ifstream file(out, std::ios::binary | std::ios::ate);
  std::vector<std::int16_t> peer(static_cast<std::size_t>(file.tellg()) / 2);
  file.seekg(0).read(reinterpret_cast<char*>(peer.data()), static_cast<std::streamsize>(2 * peer.size()));
  std::filesystem::remove_all(folder);
  // noisered leaves out the last part of a window.
  ASSERT_GE(peer.size(), input.size() - 2048);
  const Measures sox = Measure(std::vector<double>(peer.begin(), peer.end()));
  std::printf("sox noisered 0.5: noise %.1f dB (%.1f lower), tone %.2f dB, SNR %.1f dB (+%.1f)\n", sox.gap_noise_db,
              before.gap_noise_db - sox.gap_noise_db, sox.tone_db, sox.snr_db, sox.snr_db - before.snr_db);
}

}  // namespace
}  // namespace sonavel
