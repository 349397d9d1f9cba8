// The distortion family: the soft clipper's curve, the second-order high-pass against its
// model and against sox's high-pass, the AM radio's band by its impulse response.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "effects/clip_filters.h"
#include "effects/dsp/fft.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "memory_source.h"
#include "peer_files.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::ReadInOddChunks;
using testing::ReadRaw16;
using testing::RunCommand;
using testing::WriteRaw16;

constexpr int kRate = 44100;

// The magnitude in dB of the impulse response `response` at `hz`, relative to `scale`.
class Spectrum {
 public:
  Spectrum(const std::vector<std::int32_t>& response, double scale, int rate) : rate_(rate) {
    constexpr int kOrder = 17;
    const FftPlan plan(kOrder);
    real_.assign(static_cast<std::size_t>(plan.size()), 0.0);
    imaginary_.assign(real_.size(), 0.0);
    for (std::size_t i = 0; i < response.size() && i < real_.size(); ++i) real_[i] = response[i] / scale;
    plan.Forward(real_.data(), imaginary_.data());
    for (std::size_t i = 0; i < real_.size(); ++i) {
      real_[i] *= static_cast<double>(real_.size());  // the forward transform divides by N
      imaginary_[i] *= static_cast<double>(real_.size());
    }
  }
  // Linear between bins.
  double Db(double hz) const {
    const double bin = hz * static_cast<double>(real_.size()) / rate_;
    const auto low = static_cast<std::size_t>(bin);
    const double a = std::hypot(real_[low], imaginary_[low]);
    const double b = std::hypot(real_[low + 1], imaginary_[low + 1]);
    return 20 * std::log10(a + (b - a) * (bin - static_cast<double>(low)));
  }
  // The frequency between `from` and `to` where the level crosses `db`, by bisection.
  double Crossing(double db, double from, double to) const {
    const bool rising = Db(from) < Db(to);
    for (int i = 0; i < 60; ++i) {
      const double middle = (from + to) / 2;
      ((Db(middle) < db) == rising ? from : to) = middle;
    }
    return (from + to) / 2;
  }

 private:
  int rate_;
  std::vector<double> real_, imaginary_;
};

std::vector<std::int32_t> ImpulseResponse(const std::function<SourceRef(SourceRef)>& chain, std::int32_t amplitude,
                                          std::int32_t frames, int rate = kRate) {
  std::vector<std::int32_t> impulse(static_cast<std::size_t>(frames), 0);
  impulse[0] = amplitude;
  SourceRef filter = chain(Memory(impulse, rate));
  return ReadInOddChunks(*filter, frames);
}

// ---- The soft clipper.

TEST(SoftClip, SlopesThresholdsAndTheCurvesEnds) {
  // Degree 0: every slope is exactly 1 and the curve passes every sample unchanged, the
  // extremes of 32 bits included; the builder then leaves the filter out.
  {
    std::vector<std::int32_t> input = {0, 1, -1, 4095, -4096, 13045, -52180, 524272, -524272, 1 << 30, INT32_MAX,
                                       INT32_MIN};
    SourceRef source = Memory(input, kRate);
    SoftClipFilter identity(source, -3, 0.0);
    EXPECT_TRUE(identity.Identity());
    EXPECT_EQ(ReadInOddChunks(identity, static_cast<std::int32_t>(input.size())), input);
    EXPECT_EQ(MakeSoftClip(source, -3, 0.0).get(), source.get());
  }
  // Degree 1 at -8 dB: T = 52180, slopes 1.66, 0.78 and 0; everything from T up is held at
  // the level the middle slope reaches there, which is T itself within rounding.
  SoftClipFilter hard(Memory({}, kRate), -8, 1.0);
  EXPECT_EQ(hard.t2, 52180);
  EXPECT_EQ(hard.t1, 13045);
  EXPECT_EQ(hard.k_lo, 27850178);
  EXPECT_EQ(hard.k_mid, 13086228);
  EXPECT_EQ(hard.k_hi, 0);
  EXPECT_NEAR(hard.o_hi, 52180, 2);
  for (std::int32_t x : {52180, 60000, 524272, INT32_MAX}) {
    EXPECT_EQ(hard.Clip(x), hard.o_hi) << x;
    EXPECT_EQ(hard.Clip(-x), -hard.o_hi) << x;
  }
  EXPECT_EQ(hard.Clip(10000), 16599);  // k_lo is just below 1.66; the split multiply floors
  // Continuous and rising: no step larger than the steepest slope anywhere on the way up.
  std::int32_t last = hard.Clip(0);
  for (std::int32_t x = 1; x <= 70000; ++x) {
    const std::int32_t y = hard.Clip(x);
    ASSERT_GE(y, last) << x;
    ASSERT_LE(y - last, 3) << x;
    last = y;
  }
}

TEST(SoftClip, StoredLevelsAbove84DecibelsSaturateInsteadOfWrapping) {
  // 10^(100 / 20) × 131072 is far beyond 32 bits: the threshold is the largest int, so the
  // whole store scale lies on the low slope and the curve keeps rising to the end.
  for (int level : {85, 100, 127, 1000}) {
    SoftClipFilter clip(Memory({}, kRate), level, 0.5);
    EXPECT_EQ(clip.t2, INT32_MAX) << level;
    EXPECT_EQ(clip.Clip(524272), Q24Multiply(524272, clip.k_lo)) << level;
    std::int32_t last = 0;
    for (std::int64_t x = 0; x <= INT32_MAX; x += 1 << 20) {
      const std::int32_t y = clip.Clip(static_cast<std::int32_t>(x));
      ASSERT_GE(y, last) << level << " at " << x;
      last = y;
    }
    EXPECT_GE(clip.Clip(INT32_MAX), INT32_MAX - 64) << level;
  }
}

// ---- The second-order high-pass.

TEST(HighPass, CoefficientsCornerAndSlopeByTheImpulseResponse) {
  // The Q24 coefficients at 250 Hz, 44.1 kHz.
  HighPassFilter filter(Memory({}, kRate), 250);
  EXPECT_EQ(filter.a1, -32709367);
  EXPECT_EQ(filter.a2, 15952911);
  EXPECT_EQ(filter.b0, 16359873);
  EXPECT_EQ(filter.b1, -32719747);
  EXPECT_EQ(filter.peak_bound, 0x3FFFFF);

  for (int cut_off : {100, 250, 1000, 4000}) {
    SCOPED_TRACE(cut_off);
    const std::vector<std::int32_t> response = ImpulseResponse(
        [cut_off](SourceRef s) { return MakeCounted<HighPassFilter>(s, cut_off); }, 1 << 28, 1 << 17);
    // A large impulse: the integer output's last fraction, frozen once the response dies
    // away, then weighs nothing beside the response far below the cut-off.
    const Spectrum spectrum(response, 1 << 28, kRate);
    EXPECT_NEAR(spectrum.Db(15000), 0.0, 0.05);
    // -3 dB at the cut-off within 2 %, and 12 dB per octave well below it.
    EXPECT_NEAR(spectrum.Crossing(-3.0, cut_off / 2.0, cut_off * 2.0) / cut_off, 1.0, 0.02);
    EXPECT_NEAR(spectrum.Db(cut_off / 8.0) - spectrum.Db(cut_off / 16.0), 12.0, 0.3);
  }
}

TEST(HighPass, NoDcOffsetAtLowCutOffsAndHighCutOffsStayStable) {
  // A 1 kHz tone at half scale over whole periods has no DC: neither may the output. With
  // floored products at 40 Hz it would sit about 1190 16-bit steps below zero.
  std::vector<std::int32_t> tone(2 * kRate);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<std::int32_t>(std::lround(262136 * std::sin(2 * std::numbers::pi * 1000 * i / kRate)));
  for (int cut_off : {40, 10, 0}) {
    HighPassFilter filter(Memory(tone, kRate), cut_off);
    const std::vector<std::int32_t> out = ReadInOddChunks(filter, 2 * kRate);
    double sum = 0;
    for (std::size_t i = kRate; i < out.size(); ++i) sum += out[i];
    EXPECT_NEAR(sum / kRate / 16, 0.0, 0.05) << cut_off;  // in 16-bit steps
  }
  // A cut-off of 0 is taken as 10 Hz.
  EXPECT_EQ(HighPassFilter(Memory({}, kRate), 0).a1, HighPassFilter(Memory({}, kRate), 10).a1);

  // At and above half the rate the filter would not be stable: the cut-off is limited to
  // 0.49 × rate, and the impulse response dies away.
  const int rate = 8000;
  auto response = [rate](int cut_off) {
    return ImpulseResponse([cut_off](SourceRef s) { return MakeCounted<HighPassFilter>(s, cut_off); }, 524272,
                           rate, rate);
  };
  const std::vector<std::int32_t> limited = response(3920);
  EXPECT_EQ(response(4000), limited);
  EXPECT_EQ(response(100000), limited);
  for (std::size_t i = rate / 2; i < limited.size(); ++i) ASSERT_EQ(limited[i], 0) << i;
}

TEST(HighPass, EqualsSoxHighpassWithinTwoSteps) {
  if (RunCommand("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  // Two seconds of stereo: tones below, at and above the cut-off and noise, at most half
  // scale so that neither side clips.
  const std::int32_t frames = 2 * kRate;
  std::vector<std::int16_t> input(2 * static_cast<std::size_t>(frames));
  std::uint32_t noise = 12345;
  for (std::int32_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double t = static_cast<double>(i) / kRate;
      const double v = 5000 * std::sin(2 * std::numbers::pi * (c == 0 ? 60 : 90) * t) +
                       4000 * std::sin(2 * std::numbers::pi * 250 * t) +
                       3000 * std::sin(2 * std::numbers::pi * 3000 * t) +
                       static_cast<double>(static_cast<std::int32_t>(noise >> 20) - 2048);
      input[2 * static_cast<std::size_t>(i) + c] = static_cast<std::int16_t>(std::lround(v));
    }
  }
  char folder[] = "/tmp/sonavel-highpass-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string in = std::string(folder) + "/in.raw";
  const std::string out = std::string(folder) + "/out.raw";
  WriteRaw16(in, input);
  const std::string format = " -t raw -r 44100 -e signed -b 16 -c 2 -L ";
  ASSERT_EQ(RunCommand("sox -D" + format + in + format + out + " highpass 250 2>/dev/null"), 0);
  const std::vector<std::int16_t> peer = ReadRaw16(out);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(peer.size(), input.size());

  std::vector<std::int32_t> store(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) store[i] = input[i] * 16;
  HighPassFilter filter(Memory(store, kRate, 2), 250);
  const std::vector<std::int32_t> ours = ReadInOddChunks(filter, frames);
  int worst = 0;
  for (std::size_t i = 0; i < ours.size(); ++i)
    worst = std::max(worst, std::abs(static_cast<int>(std::lround(ours[i] / 16.0)) - peer[i]));
  EXPECT_LE(worst, 2);
}

// ---- The AM radio.

// |H(f)| of the ideal one-pole pair with the filters' Q8 coefficients.
double AmBandModelDb(double hz) {
  const double high = OnePoleCoefficient(100, kRate) / 256.0;
  const double low = OnePoleCoefficient(5000, kRate) / 256.0;
  const std::complex<double> z1 = std::polar(1.0, -2 * std::numbers::pi * hz / kRate);  // z^-1
  const std::complex<double> high_pass = 1.0 - high * z1 / (1.0 - (1.0 - high) * z1);
  const std::complex<double> low_pass = low / (1.0 - (1.0 - low) * z1);
  return 20 * std::log10(std::abs(high_pass * low_pass));
}

TEST(AmRadio, TheBandFollowsTheOnePoleModelAndItsCorners) {
  EXPECT_EQ(OnePoleCoefficient(100, kRate), 3);
  EXPECT_EQ(OnePoleCoefficient(5000, kRate), 130);
  // The band without the clipper, from a large impulse: within 0.1 dB of the model.
  const std::vector<std::int32_t> response = ImpulseResponse(
      [](SourceRef s) { return SourceRef(MakeCounted<OnePoleLow>(MakeCounted<OnePoleHigh>(s, 100.0), 5000.0)); },
      1 << 22, 1 << 17);
  const Spectrum spectrum(response, 1 << 22, kRate);
  for (double hz : {40.0, 80.0, 100.0, 300.0, 1000.0, 3000.0, 5000.0, 8000.0, 15000.0})
    EXPECT_NEAR(spectrum.Db(hz), AmBandModelDb(hz), 0.1) << hz;
  // The corners, 3 dB below the middle of the band: about 83 Hz (the truncated k = 3 lowers
  // the 100 Hz) and near 5 kHz.
  const double middle = spectrum.Db(1000);
  const double low_corner = spectrum.Crossing(middle - 3, 20, 1000);
  const double high_corner = spectrum.Crossing(middle - 3, 1000, 20000);
  EXPECT_NEAR(low_corner, 83, 4);
  EXPECT_NEAR(high_corner, 5000, 500);
  // The whole chain: a quiet tone in the band passes with the clipper's small-signal gain,
  // a loud one is held near T = 10^(-8 / 20) × 131072.
  const EffectDefinition* am = FindEffect(4029);
  ASSERT_NE(am, nullptr);
  EXPECT_EQ(am->undo_name, "AM Radioeffekt");
  EXPECT_FALSE(am->has_dialog);
  // The whole chain is the band followed by the clipper at -8 dB, degree 0.05: the
  // highest sample of a tone through it is the curve's value at the band's highest sample
  // (the curve rises), for a quiet tone on the low slope and a loud one above T.
  const SoftClipFilter curve(Memory({}, kRate), -8, 0.05);
  for (double amplitude : {5000.0, 524272.0}) {
    std::vector<std::int32_t> tone(kRate);
    for (std::size_t i = 0; i < tone.size(); ++i)
      tone[i] = static_cast<std::int32_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * 1000 * i / kRate)));
    auto highest = [](SourceRef chain) {
      const std::vector<std::int32_t> out = ReadInOddChunks(*chain, kRate);
      return *std::max_element(out.begin() + kRate / 2, out.end());
    };
    const std::int32_t band =
        highest(MakeCounted<OnePoleLow>(MakeCounted<OnePoleHigh>(Memory(tone, kRate), 100.0), 5000.0));
    const std::int32_t chain = highest(MakeAmRadio(Memory(tone, kRate)));
    EXPECT_EQ(chain, curve.Clip(band)) << amplitude;
    EXPECT_NEAR(band / amplitude, std::pow(10, AmBandModelDb(1000) / 20), 0.002) << amplitude;
  }
  EXPECT_LT(curve.Clip(5000), 5200);
  EXPECT_GT(curve.Clip(524272), 52180);
}

TEST(ClipPreviews, ClampTheDegreeAndPlayTheHighPassAsOnePoleAtTwiceTheFrequency) {
  std::vector<std::int32_t> noise(4000);
  std::uint32_t state = 7;
  for (std::int32_t& x : noise) x = static_cast<std::int32_t>((state = state * 1664525u + 1013904223u) >> 12) - 524288;
  auto render = [&noise](SourceRef chain) { return ReadInOddChunks(*chain, 4000); };
  const EffectDefinition& distortion = *FindEffect(4028);
  EXPECT_EQ(render(distortion.preview(Memory(noise, kRate), {{"Degree", "3"}, {"Level", "-8"}})),
            render(MakeSoftClip(Memory(noise, kRate), -8, 1.0)));
  const EffectDefinition& high_pass = *FindEffect(4031);
  EXPECT_EQ(render(high_pass.preview(Memory(noise, kRate), {{"LowCutFreq", "250"}})),
            render(MakeCounted<OnePoleHigh>(Memory(noise, kRate), 500.0)));
  EXPECT_EQ(OnePoleCoefficient(500, kRate), 17);
}

}  // namespace
}  // namespace sonavel
