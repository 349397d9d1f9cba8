#include "memory_source.h"
#include "effects/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

namespace sonavel {
namespace {

using testing::Memory;
using testing::MemorySource;

// A sine of `amplitude` on every channel, rounded to multiples of 16 like 16-bit material.
std::vector<std::int32_t> Sine(double hz, std::int32_t rate, std::int32_t frames, double amplitude,
                               std::uint8_t channels = 1) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * channels);
  for (std::int32_t f = 0; f < frames; ++f) {
    const double value = amplitude * std::sin(2 * std::numbers::pi * hz * f / rate);
    for (int c = 0; c < channels; ++c) out[f * channels + c] = 16 * static_cast<std::int32_t>(std::lround(value / 16));
  }
  return out;
}

std::vector<std::int32_t> ReadAll(SampleSource& source, std::int32_t frames) {
  return testing::ReadInOddChunks(source, frames);
}

// Frequency from the first and last rising zero crossing (interpolated) of channel 0.
double MeasureHz(const std::vector<std::int32_t>& samples, std::int32_t rate, int channels = 1) {
  double first = -1;
  double last = -1;
  int rising = 0;
  const std::size_t frames = samples.size() / channels;
  for (std::size_t f = 1; f < frames; ++f) {
    const double a = samples[(f - 1) * channels];
    const double b = samples[f * channels];
    if (a < 0 && b >= 0) {
      const double at = static_cast<double>(f - 1) + a / (a - b);
      if (first < 0) first = at;
      last = at;
      ++rising;
    }
  }
  return rising < 2 ? 0 : (rising - 1) * rate / (last - first);
}

double Rms(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t count) {
  double sum = 0;
  for (std::size_t i = from; i < from + count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(count));
}

TEST(PolyphaseRatio, ExactReducedRatioWheneverItHasFewPhases) {
  EXPECT_EQ(ChoosePolyphaseRatio(44100, 48000), (PolyphaseRatio{160, 147}));
  EXPECT_EQ(ChoosePolyphaseRatio(48000, 44100), (PolyphaseRatio{147, 160}));
  EXPECT_EQ(ChoosePolyphaseRatio(22050, 44100), (PolyphaseRatio{2, 1}));
  EXPECT_EQ(ChoosePolyphaseRatio(48000, 16000), (PolyphaseRatio{1, 3}));
  EXPECT_EQ(ChoosePolyphaseRatio(16000, 8000), (PolyphaseRatio{1, 2}));
  EXPECT_EQ(ChoosePolyphaseRatio(8000, 96000), (PolyphaseRatio{12, 1}));
  EXPECT_EQ(ChoosePolyphaseRatio(0, 44100), (PolyphaseRatio{1, 1}));
}

TEST(PolyphaseRatio, ExactEvenWithManyPhases) {
  EXPECT_EQ(ChoosePolyphaseRatio(8000, 44100), (PolyphaseRatio{441, 80}));
  EXPECT_EQ(ChoosePolyphaseRatio(44100, 32000), (PolyphaseRatio{320, 441}));
  EXPECT_EQ(ChoosePolyphaseRatio(44100, 7919), (PolyphaseRatio{7919, 44100}));
  EXPECT_EQ(ChoosePolyphaseRatio(48000, 44101), (PolyphaseRatio{44101, 48000}));
  EXPECT_EQ(ChoosePolyphaseRatio(7999, 196000), (PolyphaseRatio{196000, 7999}));
  // The table stops at 2 MB (4096 stereo phases); more phases interpolate the prototype.
  for (const auto& [from, to, channels, interpolated] :
       {std::tuple{11025, 64000, 2, false}, std::tuple{8000, 44100, 2, false}, std::tuple{44100, 7919, 2, true},
        std::tuple{44100, 8191, 1, false}, std::tuple{44100, 8209, 1, true}}) {
    Resampler resampler(Memory({}, from, static_cast<std::uint8_t>(channels)), to);
    EXPECT_EQ(resampler.interpolated(), interpolated) << from << " → " << to << ", " << channels;
  }
}

TEST(PolyphaseTable, LargeUpwardRatiosKeepTheirCutoff) {
  // The centre tap is the cutoff in 16-bit scale: 0.975 of the old band, whatever the ratio.
  for (const std::int32_t to : {88200, 176400, 441000}) {
    const std::vector<std::int32_t> table = PolyphaseTable(44100, to, 1, false);
    EXPECT_EQ(table[31], static_cast<std::int32_t>(std::lround(0.975 * 65536))) << to;
  }
}

TEST(PolyphaseTable, TapsOfTheWindowedSinc) {
  EXPECT_DOUBLE_EQ(BesselI0(0), 1);
  // The series stops at (x²/4)^6: 18.0721... where the full function gives 18.43.
  EXPECT_NEAR(BesselI0(4.538), 18.072136678571777, 1e-12);
  EXPECT_NEAR(BesselI0(kKaiserBeta), 48.811338234637304, 1e-9);

  const std::vector<std::int32_t> up = PolyphaseTable(44100, 48000, 160, false);
  ASSERT_EQ(up.size(), 160u * 63);
  EXPECT_EQ(up[31], 63898);  // 0.975 × 65536 = 63897.6
  EXPECT_EQ(up[30], 1633);
  EXPECT_EQ(up[0], 14);
  EXPECT_EQ(up[80 * 63 + 31], 41663);
  EXPECT_EQ(up[80 * 63 + 62], -19);
  EXPECT_EQ(up[63 + 0], 14);
  EXPECT_EQ(up[63 + 1], -23);

  const std::vector<std::int32_t> down = PolyphaseTable(48000, 44100, 147, false);
  EXPECT_EQ(down[31], 57139);  // (0.91875 − 0.046875) × 65536
  EXPECT_EQ(down[5 * 63 + 20], -1286);
  const std::vector<std::int32_t> narrow = PolyphaseTable(48000, 16000, 1, true);
  EXPECT_EQ(narrow[31], 15701);  // (1/3 − 0.09375) × 65536
  EXPECT_EQ(narrow[30], 14225);
  EXPECT_EQ(narrow[28], 5256);

  // Phase j mirrors phase L − j; every phase passes DC at unity within half a percent.
  for (int j = 1; j < 160; ++j)
    for (int t = 1; t < 63; ++t) ASSERT_EQ(up[j * 63 + t], up[(160 - j) * 63 + 63 - t]) << j << " " << t;
  for (int j = 0; j < 160; ++j) {
    std::int64_t sum = 0;
    for (int t = 0; t < 63; ++t) sum += up[j * 63 + t];
    EXPECT_NEAR(static_cast<double>(sum) / 65536, 1.0, 0.005) << j;
  }
}

TEST(Resampler, OneOrTwoStagesAndWhatIsNotBuilt) {
  SourceRef source = Memory(std::vector<std::int32_t>(48000), 48000);
  SourceRef to8000 = MakeResampler(source, 8000);
  auto* second = dynamic_cast<Resampler*>(to8000.get());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->rate, 8000);
  EXPECT_EQ(second->ratio(), (PolyphaseRatio{1, 2}));
  EXPECT_FALSE(second->narrow());
  auto* first = dynamic_cast<Resampler*>(second->upstream.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->rate, 16000);
  EXPECT_EQ(first->ratio(), (PolyphaseRatio{1, 3}));
  EXPECT_TRUE(first->narrow());
  EXPECT_EQ(first->upstream.get(), source.get());
  EXPECT_EQ(to8000->Length(), 8000);

  // Exactly a quarter of the rate is still one stage.
  SourceRef quarter = MakeResampler(Memory({}, 44100), 11025);
  auto* one = dynamic_cast<Resampler*>(quarter.get());
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(dynamic_cast<Resampler*>(one->upstream.get()), nullptr);
  EXPECT_EQ(one->ratio(), (PolyphaseRatio{1, 4}));

  EXPECT_EQ(MakeResampler(source, 48000).get(), source.get());
  SourceRef failed = MakeCounted<MemorySource>(std::vector<std::int32_t>(100), 44100, 1, kStatusCannotOpen);
  EXPECT_EQ(MakeResampler(failed, 48000).get(), failed.get());
  EXPECT_EQ(MakeResampler(SourceRef(), 48000)->status, kStatusPlaceholder);

  // Peak bound doubles up to 0x100000; a larger one is kept.
  EXPECT_EQ(MakeResampler(source, 44100)->peak_bound, 2 * kFullScale);
  SourceRef loud = Memory({}, 44100);
  loud->peak_bound = 0x200000;
  EXPECT_EQ(MakeResampler(loud, 48000)->peak_bound, 0x200000);
}

TEST(Resampler, LengthIsTheDurationAtTheNewRate) {
  struct Case {
    std::int32_t from, to, frames, expected;
  };
  for (const Case& c : {Case{44100, 48000, 44100, 48000}, Case{48000, 44100, 96000, 88200},
                        Case{22050, 44100, 1000, 2000}, Case{44100, 8000, 441000, 80000},
                        Case{96000, 6000, 96000, 6000}, Case{8000, 96000, 8000, 96000},
                        // 1000 × 160 / 147 = 1088.4: the frame centred at 999.6 still counts.
                        Case{44100, 48000, 1000, 1089}, Case{44100, 48000, 1, 2}}) {
    SourceRef resampled = MakeResampler(Memory(std::vector<std::int32_t>(c.frames, 0x1000), c.from), c.to);
    EXPECT_EQ(resampled->Length(), c.expected) << c.from << " → " << c.to;
    const std::vector<std::int32_t> out = ReadAll(*resampled, resampled->Length());
    EXPECT_EQ(resampled->Position(), c.expected) << c.from << " → " << c.to;
  }
  // Far beyond the window's capacity the level is still that of the source (each phase
  // passes DC within half a percent).
  SourceRef long_one = MakeResampler(Memory(std::vector<std::int32_t>(300000, 0x1000), 44100), 48000);
  const std::vector<std::int32_t> out = ReadAll(*long_one, long_one->Length());
  for (std::size_t i = 100; i + 100 < out.size(); ++i) ASSERT_NEAR(out[i], 0x1000, 0x1000 / 200) << i;
}

TEST(Resampler, MatchesTheFilterAppliedDirectly) {
  // A full-scale tone near the cutoff: the 32-tap half sums exceed 32 bits here.
  const std::vector<std::int32_t> input = Sine(21000, 44100, 20000, kFullScale);
  const std::vector<std::int32_t> taps = PolyphaseTable(44100, 48000, 160, false);
  SourceRef resampled = MakeResampler(Memory(input, 44100), 48000);
  const std::vector<std::int32_t> out = ReadAll(*resampled, resampled->Length());
  std::int32_t largest = 0;
  for (std::int64_t n = 0; n < static_cast<std::int64_t>(out.size()); ++n) {
    const std::int64_t center = n * 147 / 160;
    const std::int64_t phase = n * 147 % 160;
    double sum = 0;
    for (int t = 0; t < 63; ++t) {
      const std::int64_t at = center - 31 + t;
      if (at >= 0 && at < static_cast<std::int64_t>(input.size())) sum += static_cast<double>(taps[phase * 63 + t]) * input[at];
    }
    ASSERT_NEAR(out[n], sum / 65536, 1.0) << n;
    largest = std::max(largest, std::abs(out[n]));
  }
  EXPECT_GT(largest, kFullScale / 2);

  // The same filter with its taps interpolated from the prototype (no table allowed): a few
  // taps one unit off, which moves the output by less than 2^-15 of full scale.
  Resampler interpolating(Memory(input, 44100), 48000, false, 0);
  ASSERT_TRUE(interpolating.interpolated());
  const std::vector<std::int32_t> fine = ReadAll(interpolating, interpolating.Length());
  ASSERT_EQ(fine.size(), out.size());
  std::int32_t differing = 0;
  for (std::size_t n = 0; n < out.size(); ++n) {
    ASSERT_NEAR(fine[n], out[n], 16) << n;
    differing += fine[n] != out[n];
  }
  EXPECT_GT(differing, 0);
}

TEST(Resampler, SeekGivesWhatReadingFromTheStartGives) {
  for (const auto& [from, to] :
       {std::pair{44100, 48000}, std::pair{48000, 44100}, std::pair{44100, 22050}, std::pair{44100, 48001}}) {
    for (std::uint8_t channels : {1, 2, 3}) {
      // A loud tone in every block, so each block has the same normalisation shift.
      std::vector<std::int32_t> input = Sine(997, from, 60000, 400000, channels);
      for (std::size_t i = 0; i < input.size(); ++i) input[i] += 16 * static_cast<std::int32_t>((i * 7919) % 1001) - 8000;
      SourceRef resampled = MakeResampler(Memory(input, from, channels), to);
      auto* resampler = dynamic_cast<Resampler*>(resampled.get());
      ASSERT_NE(resampler, nullptr);
      const std::int32_t length = resampled->Length();
      const std::vector<std::int32_t> whole = ReadAll(*resampled, length);
      EXPECT_EQ(resampler->block_shift(), 4);
      const int phases = resampler->ratio().L;
      for (std::int32_t n : {0, 1, 2, 7, phases - 1, phases, phases + 1, 5000, 12345, 25001, length - 100}) {
        resampled->Seek(n);
        EXPECT_EQ(resampled->Position(), n);
        const std::vector<std::int32_t> after_seek = ReadAll(*resampled, 100);
        EXPECT_EQ(resampled->Position(), n + 100);
        const std::vector<std::int32_t> expected(whole.begin() + static_cast<std::ptrdiff_t>(n) * channels,
                                                 whole.begin() + static_cast<std::ptrdiff_t>(n + 100) * channels);
        ASSERT_EQ(after_seek, expected) << from << " → " << to << ", " << int{channels} << " channels, frame " << n;
      }
    }
  }
}

TEST(HighQualityResampler, ExactLengthsSeeksAndInterpolatedTaps) {
  for (const auto& [from, to, interpolated] : {std::tuple{44100, 48000, false}, std::tuple{48000, 44100, false},
                                               std::tuple{96000, 6000, false}, std::tuple{44100, 47999, true}}) {
    for (std::uint8_t channels : {1, 2, 3}) {
      // Any material: the high quality has no block shifts to agree.
      std::vector<std::int32_t> input = Sine(997, from, 30000, 400000, channels);
      for (std::size_t i = 0; i < input.size(); ++i) input[i] += static_cast<std::int32_t>((i * 7919) % 100003) - 50000;
      SourceRef resampled = MakeResampler(Memory(input, from, channels), to, ResampleQuality::kHigh);
      auto* resampler = dynamic_cast<HighQualityResampler*>(resampled.get());
      ASSERT_NE(resampler, nullptr);
      EXPECT_EQ(resampler->interpolated(), interpolated);
      EXPECT_EQ(resampled->rate, to);
      const std::int32_t length = resampled->Length();
      EXPECT_EQ(length, (std::int64_t{30000} * to + from - 1) / from);
      const std::vector<std::int32_t> whole = ReadAll(*resampled, length);
      EXPECT_EQ(resampled->Position(), length);
      const int phases = resampler->ratio().L;
      for (std::int32_t n : {0, 1, 7, phases - 1, phases, phases + 1, 5000, length - 100}) {
        if (n < 0 || n + 100 > length) continue;
        resampled->Seek(n);
        EXPECT_EQ(resampled->Position(), n);
        const std::vector<std::int32_t> after_seek = ReadAll(*resampled, 100);
        EXPECT_EQ(resampled->Position(), n + 100);
        const std::vector<std::int32_t> expected(whole.begin() + static_cast<std::ptrdiff_t>(n) * channels,
                                                 whole.begin() + static_cast<std::ptrdiff_t>(n + 100) * channels);
        ASSERT_EQ(after_seek, expected) << from << " → " << to << ", " << int{channels} << " channels, frame " << n;
      }
      if (channels != 2 || interpolated) continue;
      // Taps interpolated from the prototype instead of the table: at most one unit off.
      HighQualityResampler from_prototype(Memory(input, from, channels), to, 0);
      ASSERT_TRUE(from_prototype.interpolated());
      const std::vector<std::int32_t> fine = ReadAll(from_prototype, length);
      for (std::size_t i = 0; i < whole.size(); ++i) ASSERT_NEAR(fine[i], whole[i], 1) << i;
    }
  }
  // Ratios beyond 16 go down in steps, their length still exact: 192000 → 128000 → 8000.
  SourceRef steps = MakeResampler(Memory(std::vector<std::int32_t>(10007, 0x1000), 192000), 8000, ResampleQuality::kHigh);
  EXPECT_EQ(steps->Length(), (10007 * 8000 + 191999) / 192000);
  const std::vector<std::int32_t> level = ReadAll(*steps, steps->Length());
  EXPECT_NEAR(level[level.size() / 2], 0x1000, 1);
}

TEST(Resampler, ToneKeepsItsPitchAndLevel) {
  const double amplitude = kFullScale / 2.0;
  SourceRef resampled = MakeResampler(Memory(Sine(1000, 44100, 3 * 44100, amplitude), 44100), 48000);
  ASSERT_EQ(resampled->Length(), 3 * 48000);
  const std::vector<std::int32_t> out = ReadAll(*resampled, resampled->Length());
  const std::vector<std::int32_t> steady(out.begin() + 48000, out.begin() + 2 * 48000);
  // The exact 160 / 147 ratio: 34 / 37 would make it 1000.16 Hz.
  EXPECT_NEAR(MeasureHz(steady, 48000), 1000.0, 0.005);
  const double level_db = 20 * std::log10(Rms(steady, 0, steady.size()) * std::sqrt(2.0) / amplitude);
  EXPECT_NEAR(level_db, 0.0, 0.1);

  // Downwards, in stereo.
  SourceRef down = MakeResampler(Memory(Sine(1000, 48000, 2 * 48000, amplitude, 2), 48000, 2), 44100);
  const std::vector<std::int32_t> stereo = ReadAll(*down, down->Length());
  const std::vector<std::int32_t> middle(stereo.begin() + 2 * 22050, stereo.begin() + 2 * 66150);
  EXPECT_NEAR(MeasureHz(middle, 44100, 2), 1000.0, 0.005);
  EXPECT_NEAR(20 * std::log10(Rms(middle, 0, middle.size()) * std::sqrt(2.0) / amplitude), 0.0, 0.1);
}

TEST(Resampler, EveryPairRunsAtItsExactRatio) {
  // An eighth of a second (and 3 frames) of a 997 Hz tone between every two of the common
  // rates and some odd ones, both ways: exactly the duration at the new rate, and the same
  // tone within 50 ppm. A ratio rounded to fewer phases, 8000 → 44100 as 80 / 440, made it
  // 999.3 Hz.
  const std::int32_t rates[] = {6000,  7999,  8000,  11025, 16000, 22050,  32000,  44100,
                                48000, 64000, 88200, 96000, 96001, 176400, 192000, 196000};
  for (const std::int32_t from : rates) {
    const std::int32_t frames = from / 8 + 3;
    const std::vector<std::int32_t> tone = Sine(997, from, frames, kFullScale / 2.0);
    for (const std::int32_t to : rates) {
      if (to == from) continue;
      SourceRef resampled = MakeResampler(Memory(tone, from), to);
      EXPECT_EQ(resampled->Length(), (std::int64_t{frames} * to + from - 1) / from) << from << " → " << to;
      const std::vector<std::int32_t> out = ReadAll(*resampled, resampled->Length());
      const auto tenth = static_cast<std::ptrdiff_t>(out.size() / 10);
      const std::vector<std::int32_t> steady(out.begin() + tenth, out.end() - tenth);
      EXPECT_NEAR(MeasureHz(steady, to), 997, 0.05) << from << " → " << to;
    }
  }
}

TEST(Resampler, TwoStagesRemoveWhatTheLowRateCannotHold) {
  // 3 kHz fits 8000 Hz; 5 kHz would fold back to 3 kHz and must be gone.
  SourceRef kept = MakeResampler(Memory(Sine(3000, 48000, 48000, 200000), 48000), 8000);
  SourceRef folded = MakeResampler(Memory(Sine(5000, 48000, 48000, 200000), 48000), 8000);
  const std::vector<std::int32_t> a = ReadAll(*kept, 8000);
  const std::vector<std::int32_t> b = ReadAll(*folded, 8000);
  EXPECT_NEAR(MeasureHz(std::vector<std::int32_t>(a.begin() + 2000, a.begin() + 6000), 8000), 3000, 0.5);
  EXPECT_GT(Rms(a, 2000, 4000), 100000);
  EXPECT_LT(Rms(b, 2000, 4000), 2000);  // below -40 dB
}

TEST(SpeedChanger, PlaysFasterAndHigher) {
  for (const double factor : {0.5, 1.5}) {
    SourceRef source = Memory(Sine(1000, 44100, 44100, 300000), 44100);
    SourceRef changed = MakeSpeedChanger(source, factor);
    EXPECT_EQ(changed->rate, 44100);
    const std::int32_t expected_length = static_cast<std::int32_t>(44100 / factor);
    EXPECT_EQ(changed->Length(), expected_length);
    const std::vector<std::int32_t> out = ReadAll(*changed, changed->Length());
    const std::size_t quarter = out.size() / 4;
    const std::vector<std::int32_t> steady(out.begin() + quarter, out.end() - quarter);
    EXPECT_NEAR(MeasureHz(steady, 44100), 1000 * factor, 0.01) << factor;
  }
  SourceRef source = Memory(std::vector<std::int32_t>(4410), 44100);
  EXPECT_EQ(MakeSpeedChanger(source, 1.0).get(), source.get());
  // Limited at 0.1: ten times as long.
  EXPECT_EQ(MakeSpeedChanger(source, 0.01)->Length(), 44100);
  EXPECT_EQ(MakeSpeedChanger(source, 0.01)->rate, 44100);
}

TEST(ChannelConverter, LeftOnlyOrCopied) {
  std::vector<std::int32_t> stereo;
  for (std::int32_t i = 0; i < 20000; ++i) {
    stereo.push_back(i);
    stereo.push_back(-i - 5);
  }
  SourceRef mono = MakeChannelConverter(Memory(stereo, 44100, 2), 1);
  ASSERT_EQ(mono->channels, 1);
  EXPECT_EQ(mono->Length(), 20000);
  std::vector<std::int32_t> left = ReadAll(*mono, 20000);
  for (std::int32_t i = 0; i < 20000; ++i) ASSERT_EQ(left[i], i);
  mono->Seek(12345);
  EXPECT_EQ(ReadAll(*mono, 2), (std::vector<std::int32_t>{12345, 12346}));

  SourceRef both = MakeChannelConverter(Memory(left, 44100, 1), 2);
  ASSERT_EQ(both->channels, 2);
  const std::vector<std::int32_t> copied = ReadAll(*both, 20000);
  for (std::int32_t i = 0; i < 20000; ++i) {
    ASSERT_EQ(copied[2 * i], i);
    ASSERT_EQ(copied[2 * i + 1], i);
  }

  SourceRef three = Memory(std::vector<std::int32_t>(30), 44100, 3);
  EXPECT_EQ(MakeChannelConverter(three, 1).get(), three.get());
  EXPECT_EQ(MakeChannelConverter(three, 2).get(), three.get());
  SourceRef failed = MakeCounted<MemorySource>(stereo, 44100, 2, kStatusCorrupt);
  EXPECT_EQ(MakeChannelConverter(failed, 1).get(), failed.get());
  ChannelConverter over_failed(failed, 1);
  EXPECT_EQ(over_failed.status, kStatusUpstreamFailed);
}

TEST(ConvertFormat, FewerChannelsFirstMoreChannelsLast) {
  SourceRef stereo = Memory(std::vector<std::int32_t>(2 * 48000, 0x1000), 48000, 2);
  SourceRef down = ConvertFormat(stereo, 44100, 1);
  ASSERT_NE(dynamic_cast<Resampler*>(down.get()), nullptr);
  EXPECT_NE(dynamic_cast<ChannelConverter*>(dynamic_cast<Resampler*>(down.get())->upstream.get()), nullptr);
  EXPECT_EQ(down->rate, 44100);
  EXPECT_EQ(down->channels, 1);
  EXPECT_EQ(down->Length(), 44100);

  SourceRef mono = Memory(std::vector<std::int32_t>(22050, 0x1000), 22050, 1);
  SourceRef up = ConvertFormat(mono, 44100, 2);
  auto* converter = dynamic_cast<ChannelConverter*>(up.get());
  ASSERT_NE(converter, nullptr);
  EXPECT_NE(dynamic_cast<Resampler*>(converter->upstream.get()), nullptr);
  EXPECT_EQ(up->rate, 44100);
  EXPECT_EQ(up->channels, 2);
  const std::vector<std::int32_t> out = ReadAll(*up, up->Length());
  // A steady level keeps its value within the filter's passband ripple (0.5 %).
  EXPECT_NEAR(out[20000], 0x1000, 0x1000 / 200);
  EXPECT_EQ(out[20001], out[20000]);

  EXPECT_EQ(ConvertFormat(mono, 22050, 1).get(), mono.get());
  SourceRef failed = MakeCounted<MemorySource>(std::vector<std::int32_t>(10), 8000, 1, kStatusCodecMissing);
  EXPECT_EQ(ConvertFormat(failed, 44100, 2).get(), failed.get());
}

}  // namespace
}  // namespace sonavel
