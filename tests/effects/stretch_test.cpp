#include "memory_source.h"
#include "peer_files.h"
#include "effects/dsp/fft.h"
#include "effects/dsp/worker_pool.h"
#include "effects/resampler.h"
#include "effects/time_stretcher.h"
#include "radix2_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sonavel {
namespace {

using testing::Memory;
using testing::MemorySource;

constexpr std::int32_t kRate = 44100;
constexpr double kAmplitude = 0x40000;

std::vector<std::int32_t> Sine(double hz, std::int32_t frames, double amplitude = kAmplitude) {
  std::vector<std::int32_t> out(frames);
  for (std::int32_t f = 0; f < frames; ++f)
    out[f] = static_cast<std::int32_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * f / kRate)));
  return out;
}

std::vector<std::int32_t> ReadAll(SampleSource& source, std::int32_t frames) {
  return testing::ReadInOddChunks(source, frames);
}

std::vector<std::int32_t> Channel(const std::vector<std::int32_t>& samples, int channels, int channel) {
  std::vector<std::int32_t> out;
  for (std::size_t i = channel; i < samples.size(); i += channels) out.push_back(samples[i]);
  return out;
}

// Frequency from the first and last rising zero crossing (interpolated) in [from, to).
double MeasureHz(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t to) {
  double first = -1;
  double last = -1;
  int rising = 0;
  for (std::size_t f = from + 1; f < to; ++f) {
    const double a = samples[f - 1];
    const double b = samples[f];
    if (a < 0 && b >= 0) {
      const double at = static_cast<double>(f - 1) + a / (a - b);
      if (first < 0) first = at;
      last = at;
      ++rising;
    }
  }
  return rising < 2 ? 0 : (rising - 1) * kRate / (last - first);
}

// Frequency of the strongest spectral peak of [from, from + 2^m) (the largest 2^m that
// fits, at most 2^15), Hann-windowed, interpolated between bins on the log magnitudes.
double PeakHz(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t to) {
  int order = 15;
  while (order > 4 && (std::size_t{1} << order) > to - from) --order;
  const FftPlan plan(order);
  const std::int32_t n = plan.size();
  std::vector<double> re(n), im(n, 0.0);
  for (std::int32_t i = 0; i < n; ++i)
    re[i] = samples[from + i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n));
  plan.Forward(re.data(), im.data());
  std::vector<double> level(n / 2);
  for (std::int32_t k = 0; k < n / 2; ++k) level[k] = std::log(std::hypot(re[k], im[k]) + 1e-12);
  const auto best = static_cast<std::int32_t>(std::max_element(level.begin() + 1, level.end() - 1) - level.begin());
  const double a = level[best - 1];
  const double b = level[best];
  const double c = level[best + 1];
  const double offset = 0.5 * (a - c) / (a - 2 * b + c);
  return (best + offset) * kRate / n;
}

double Rms(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

// Pink noise (equal energy per octave from about 20 Hz): white noise through a bank of
// first-order low-passes whose sum falls by 3 dB per octave, scaled to `rms`.
std::vector<std::int32_t> PinkNoise(std::int32_t frames, double rms, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::normal_distribution<double> white(0, 1);
  constexpr double kPoles[] = {0.99886, 0.99332, 0.96900, 0.86650, 0.55000, -0.7616};
  constexpr double kGains[] = {0.0555179, 0.0750759, 0.1538520, 0.3104856, 0.5329522, -0.0168980};
  double state[6] = {};
  std::vector<double> pink(frames);
  for (auto& v : pink) {
    const double w = white(random);
    v = 0.5362 * w;
    for (int k = 0; k < 6; ++k) v += state[k] = kPoles[k] * state[k] + kGains[k] * w;
  }
  double sum = 0;
  for (const double v : pink) sum += v * v;
  const double scale = rms / std::sqrt(sum / frames);
  std::vector<std::int32_t> out(frames);
  for (std::int32_t f = 0; f < frames; ++f) out[f] = static_cast<std::int32_t>(std::lround(scale * pink[f]));
  return out;
}

// Speech-like: a voice at 100..140 Hz (slow vibrato) whose harmonics pass three formants,
// in syllables of 4 Hz with short pauses.
std::vector<std::int32_t> SpeechLike(std::int32_t frames, double amplitude = kAmplitude) {
  std::vector<std::int32_t> out(frames);
  constexpr double kFormants[] = {500, 1500, 2500};
  double phase = 0;
  for (std::int32_t f = 0; f < frames; ++f) {
    const double t = static_cast<double>(f) / kRate;
    const double pitch = 120 + 20 * std::sin(2 * std::numbers::pi * 0.7 * t);
    phase += 2 * std::numbers::pi * pitch / kRate;
    double sum = 0;
    for (int k = 1; k * pitch < 4000; ++k) {
      double weight = 0;
      for (const double formant : kFormants) weight += 1 / (1 + std::pow((k * pitch - formant) / 150, 2));
      sum += weight / k * std::sin(k * phase);
    }
    const double syllable = std::max(0.0, std::sin(2 * std::numbers::pi * 4 * t));
    out[f] = static_cast<std::int32_t>(std::lround(amplitude * 0.4 * syllable * sum));
  }
  return out;
}

// Interleaved channels: speech-like, a chord of three tones, pink noise, then again.
std::vector<std::int32_t> SpeechAndChord(std::int32_t length, int channels) {
  const std::vector<std::int32_t> speech = SpeechLike(length);
  const std::vector<std::int32_t> low = Sine(220, length, kAmplitude / 3);
  const std::vector<std::int32_t> middle = Sine(277.2, length, kAmplitude / 3);
  const std::vector<std::int32_t> high = Sine(1318.5, length, kAmplitude / 3);
  const std::vector<std::int32_t> noise = PinkNoise(length, kAmplitude / 4);
  std::vector<std::int32_t> out(static_cast<std::size_t>(channels) * length);
  for (std::int32_t f = 0; f < length; ++f) {
    const std::int32_t kinds[] = {speech[f], low[f] + middle[f] + high[f], noise[f]};
    for (int c = 0; c < channels; ++c) out[static_cast<std::size_t>(f) * channels + c] = kinds[c % 3];
  }
  return out;
}

// The last sample louder than a quarter of the test amplitude.
std::int64_t LastLoud(const std::vector<std::int32_t>& samples) {
  for (std::size_t i = samples.size(); i-- > 0;)
    if (std::abs(samples[i]) > kAmplitude / 4) return static_cast<std::int64_t>(i);
  return -1;
}

// ---------------------------------------------------------------------------------------

TEST(FftPlan, TablesForEightPoints) {
  const FftPlan plan(3);
  EXPECT_EQ(plan.size(), 8);
  const std::vector<std::int32_t> reversal(plan.bit_reversal().begin(), plan.bit_reversal().end());
  EXPECT_EQ(reversal, (std::vector<std::int32_t>{0, 4, 2, 6, 1, 5, 3, 7}));
  for (int i = 0; i < 8; ++i) {
    EXPECT_NEAR(plan.cos_table()[i], std::cos(2 * std::numbers::pi * i / 8), 1e-15);
    EXPECT_NEAR(plan.sin_table()[i], std::sin(2 * std::numbers::pi * i / 8), 1e-15);
  }
  // Orders outside the range are clamped; one point transforms to itself.
  const FftPlan single(-4);
  EXPECT_EQ(single.size(), 1);
  double re = 3;
  double im = -2;
  single.Forward(&re, &im);
  EXPECT_EQ(re, 3);
  EXPECT_EQ(im, -2);
}

TEST(FftPlan, MatchesDirectTransformsAndRoundTrips) {
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> value(-1000, 1000);
  for (int order = 1; order <= 10; ++order) {
    const FftPlan plan(order);
    const std::int32_t n = plan.size();
    std::vector<double> re(n), im(n);
    for (std::int32_t i = 0; i < n; ++i) {
      re[i] = value(random);
      im[i] = value(random);
    }
    std::vector<std::complex<double>> forward(n), inverse(n);
    for (std::int32_t k = 0; k < n; ++k) {
      for (std::int32_t t = 0; t < n; ++t) {
        const double angle = 2 * std::numbers::pi * static_cast<double>((std::int64_t{k} * t) % n) / n;
        forward[k] += std::complex<double>(re[t], im[t]) * std::polar(1.0, -angle);
        inverse[k] += std::complex<double>(re[t], im[t]) * std::polar(1.0, angle);
      }
      forward[k] /= n;  // the forward transform is scaled by 1 / N, the inverse is not
    }
    const double tolerance = 1e-9 * 1000 * n;

    std::vector<double> fr = re, fi = im;
    plan.Forward(fr.data(), fi.data());
    std::vector<double> ir = re, ii = im;
    plan.Inverse(ir.data(), ii.data());
    for (std::int32_t k = 0; k < n; ++k) {
      ASSERT_NEAR(fr[k], forward[k].real(), tolerance) << "order " << order << " bin " << k;
      ASSERT_NEAR(fi[k], forward[k].imag(), tolerance) << "order " << order << " bin " << k;
      ASSERT_NEAR(ir[k], inverse[k].real(), tolerance) << "order " << order << " bin " << k;
      ASSERT_NEAR(ii[k], inverse[k].imag(), tolerance) << "order " << order << " bin " << k;
    }
    plan.Inverse(fr.data(), fi.data());
    for (std::int32_t i = 0; i < n; ++i) {
      ASSERT_NEAR(fr[i], re[i], 1e-9);
      ASSERT_NEAR(fi[i], im[i], 1e-9);
    }
  }
}

// Both codes of the plan against the radix-2 transform it replaced, for every order up to
// 2^16 and both directions: each result within 2^−52 × 2 (order + 1) of the largest
// result (their two roundings, each growing with the number of levels), and forward then
// inverse gives the input back within 2^−52 × 2 (order + 1) of its largest value.
TEST(FftPlan, BothCodesEqualTheRadix2TransformAndRoundTrip) {
  std::mt19937 random(20261208);
  std::uniform_real_distribution<double> value(-1000, 1000);
  for (int order = 0; order <= 16; ++order) {
    const FftPlan fastest(order);
    const FftPlan portable(order, FftPlan::Code::kPortable);
    ASSERT_FALSE(portable.uses_avx2());
    const std::int32_t n = fastest.size();
    const double bound = std::ldexp(2.0 * (order + 1), -52);
    std::vector<double> re(n), im(n);
    for (std::int32_t i = 0; i < n; ++i) {
      re[i] = value(random);
      im[i] = value(random);
    }
    const auto largest = [](const std::vector<double>& a, const std::vector<double>& b) {
      double most = 0;
      for (std::size_t i = 0; i < a.size(); ++i)
        most = std::max({most, std::abs(a[i]), std::abs(b[i])});
      return most;
    };
    const auto difference = [](const std::vector<double>& a, const std::vector<double>& b,
                               const std::vector<double>& c, const std::vector<double>& d) {
      double most = 0;
      for (std::size_t i = 0; i < a.size(); ++i)
        most = std::max({most, std::abs(a[i] - c[i]), std::abs(b[i] - d[i])});
      return most;
    };
    for (const bool inverse : {false, true}) {
      std::vector<double> want_re = re, want_im = im;
      testing::Radix2Fft(fastest, want_re.data(), want_im.data(), inverse);
      const double peak = largest(want_re, want_im);
      for (const FftPlan* plan : {&fastest, &portable}) {
        std::vector<double> got_re = re, got_im = im;
        if (inverse) {
          plan->Inverse(got_re.data(), got_im.data());
        } else {
          plan->Forward(got_re.data(), got_im.data());
        }
        const double worst = difference(got_re, got_im, want_re, want_im);
        EXPECT_LE(worst, bound * peak) << "order " << order << (inverse ? " inverse" : " forward")
                                       << (plan->uses_avx2() ? " avx2" : " portable");
      }
    }
    std::vector<double> back_re = re, back_im = im;
    fastest.Forward(back_re.data(), back_im.data());
    fastest.Inverse(back_re.data(), back_im.data());
    EXPECT_LE(difference(back_re, back_im, re, im), bound * largest(re, im)) << "order " << order;
  }
}

// The real transform against the complex plan of the same size for orders 1 to 16, both
// ways: forward on real input, inverse on the conjugate-symmetric extension of a random
// half spectrum (whose bins 0 and N / 2 have imaginary parts the real inverse must
// ignore), each within 2^−52 × 2 (order + 1) of the largest value.
TEST(RealFftPlan, EqualsTheComplexTransformOfRealValuesBothWays) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-1000, 1000);
  for (int order = 1; order <= 16; ++order) {
    const RealFftPlan real(order);
    const FftPlan complex(order);
    const std::int32_t n = complex.size();
    ASSERT_EQ(real.size(), n);
    const double bound = std::ldexp(2.0 * (order + 1), -52);
    std::vector<double> samples(n);
    for (double& s : samples) s = value(random);
    std::vector<double> want_re = samples, want_im(n, 0.0);
    complex.Forward(want_re.data(), want_im.data());
    std::vector<double> got_re(n / 2 + 1), got_im(n / 2 + 1, 1.0);
    real.Forward(samples.data(), got_re.data(), got_im.data());
    double peak = 0;
    double worst = 0;
    for (std::int32_t k = 0; k <= n / 2; ++k) {
      peak = std::max({peak, std::abs(want_re[k]), std::abs(want_im[k])});
      worst = std::max({worst, std::abs(got_re[k] - want_re[k]), std::abs(got_im[k] - want_im[k])});
    }
    EXPECT_LE(worst, bound * peak) << "forward, order " << order;
    EXPECT_EQ(got_im[0], 0);
    EXPECT_EQ(got_im[n / 2], 0);

    std::vector<double> half_re(n / 2 + 1), half_im(n / 2 + 1);
    for (std::int32_t k = 0; k <= n / 2; ++k) {
      half_re[k] = value(random);
      half_im[k] = value(random);
    }
    std::vector<double> full_re(n), full_im(n);
    for (std::int32_t k = 0; k < n; ++k) {
      const std::int32_t mirror = k <= n / 2 ? k : n - k;
      full_re[k] = half_re[mirror];
      full_im[k] = k == 0 || k == n / 2 ? 0 : (k < n / 2 ? half_im[k] : -half_im[mirror]);
    }
    complex.Inverse(full_re.data(), full_im.data());
    std::vector<double> back(n);
    real.Inverse(half_re.data(), half_im.data(), back.data());
    peak = 0;
    worst = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      peak = std::max(peak, std::abs(full_re[i]));
      worst = std::max(worst, std::abs(back[i] - full_re[i]));
    }
    EXPECT_LE(worst, bound * peak) << "inverse, order " << order;
  }
}

// ---------------------------------------------------------------------------------------

TEST(TimeStretch, FrameSizeAndHopsFollowRateAndFactor) {
  EXPECT_EQ(TimeStretchFftSize(44100), 2048);
  EXPECT_EQ(TimeStretchFftSize(8000), 256);
  EXPECT_EQ(TimeStretchFftSize(22050), 1024);  // 689 − 172 = 517
  EXPECT_EQ(TimeStretchFftSize(96000), 4096);  // 3000 − 750 = 2250
  EXPECT_EQ(TimeStretchFftSize(0), 8);
  EXPECT_EQ(TimeStretchFftSize(1000000000), 65536);

  const TimeStretcher stretcher(Memory({}, kRate), 1.1);
  EXPECT_EQ(stretcher.frame_size(), 2048);
  EXPECT_EQ(stretcher.synthesis_hop(), 256);
  EXPECT_EQ(stretcher.analysis_hop(), 281);  // 256 × 1.1 = 281.6
  EXPECT_EQ(stretcher.analysis_hop_millionths(), 600000);
  const TimeStretcher narrow(Memory({}, 8000), 1.5);
  EXPECT_EQ(narrow.frame_size(), 256);
  EXPECT_EQ(narrow.analysis_hop(), 48);
  EXPECT_EQ(narrow.analysis_hop_millionths(), 0);

  EXPECT_EQ(OverlapAddSegmentFrames(44100), 490);
  EXPECT_EQ(OverlapAddSegmentFrames(8000), 88);
  EXPECT_EQ(OverlapAddSegmentFrames(1000), 20);
  EXPECT_EQ(OverlapAddSegmentFrames(1000000), 2730);
}

TEST(TimeStretch, SpeedOnlyKeepsThePitchAndScalesTheDuration) {
  const std::int32_t length = kRate;
  for (const double x : {0.5, 1.25, 2.0}) {
    SCOPED_TRACE(x);
    SourceRef stretched = MakeTimeStretcher(Memory(Sine(440, length), kRate), x);
    const std::int32_t expected = static_cast<std::int32_t>(std::ceil(length / x));
    EXPECT_EQ(stretched->Length(), expected);
    const std::vector<std::int32_t> out = ReadAll(*stretched, expected + 4096);
    EXPECT_EQ(stretched->Position(), expected + 4096);

    EXPECT_NEAR(MeasureHz(out, 2048, expected - 2048), 440, 0.5);
    // The level is the input's.
    EXPECT_NEAR(Rms(out, 2048, expected - 2048), kAmplitude / std::sqrt(2.0), 0.01 * kAmplitude);
    // The tone starts at once and ends where the input's end lands.
    EXPECT_GT(std::abs(out[20]) + std::abs(out[21]) + std::abs(out[22]), 0);
    EXPECT_NEAR(static_cast<double>(LastLoud(out)), length / x, 1024);
  }
}

TEST(TimeStretch, UnitSpeedReturnsTheInput) {
  // Each frame is resynthesised unchanged and the window divided out again, so the input
  // comes back within 1 in the 16-bit scale (16 in the store's), to its last frame.
  std::vector<std::int32_t> input = SpeechLike(kRate);
  const std::vector<std::int32_t> noise = PinkNoise(kRate, kAmplitude / 8);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] += noise[i];
  TimeStretcher stretcher(Memory(input, kRate), 1.0);
  ASSERT_EQ(stretcher.Length(), kRate);
  const std::vector<std::int32_t> out = ReadAll(stretcher, kRate);
  for (std::int32_t i = 0; i < kRate; ++i) ASSERT_NEAR(out[i], input[i], 16) << i;
}

// RMS level of [from, to) in dB of full scale.
double LevelDb(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t to) {
  return 20 * std::log10(Rms(samples, from, to) / kFullScale);
}

// sox as a black box: `effect` applied to the mono input handed over as raw 16-bit samples
// (the store's scale over 16), the output read back in the store's scale.
std::vector<std::int32_t> Sox(const std::vector<std::int32_t>& input, const std::string& effect) {
  const std::string folder = ::testing::TempDir();
  const std::string in = folder + "/stretch-sox-in.raw";
  const std::string out = folder + "/stretch-sox-out.raw";
  std::vector<std::int16_t> narrow(input.size());
  for (std::size_t i = 0; i < input.size(); ++i)
    narrow[i] = static_cast<std::int16_t>(std::clamp<long>(std::lround(input[i] / 16.0), -32768, 32767));
  testing::WriteRaw16(in, narrow);
  const std::string format = "-t raw -r 44100 -e signed -b 16 -c 1 ";
  const std::string command = "sox -D " + format + "'" + in + "' " + format + "'" + out + "' " + effect + " 2>/dev/null";
  EXPECT_EQ(testing::RunCommand(command), 0) << command;
  std::vector<std::int32_t> result;
  for (const std::int16_t v : testing::ReadRaw16(out)) result.push_back(16 * std::int32_t{v});
  std::filesystem::remove(in);
  std::filesystem::remove(out);
  return result;
}

TEST(TimeStretch, SpeedOnlyAndPitchOnlyKeepTheLevelBesideSox) {
  // Tones, pink noise and speech keep their RMS level within 0.5 dB at every speed; the
  // pitch change keeps the level of what its speed changer hands the stretcher (which lost
  // what moved beyond the Nyquist frequency). sox's levels on the same inputs are printed
  // beside ours.
  if (testing::RunCommand("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const std::int32_t length = 2 * kRate;
  const std::int32_t margin = 8192;
  const std::pair<const char*, std::vector<std::int32_t>> inputs[] = {
      {"tone 1 kHz", Sine(1000, length)},
      {"pink noise", PinkNoise(length, kFullScale * std::pow(10.0, -23.8 / 20))},
      {"speech-like", SpeechLike(length)}};
  std::printf("%-12s %5s %7s | %7s %7s | %7s %7s %7s\n", "input", "speed", "in dB", "tempo", "sox", "spd chg",
              "pitch", "sox");
  for (const auto& [name, input] : inputs) {
    const double level = LevelDb(input, margin, length - margin);
    for (const int percent : {50, 80, 125, 200, 300}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(percent) + " %");
      const double x = percent / 100.0;
      const auto from = static_cast<std::size_t>(margin / x);
      const auto to = static_cast<std::size_t>((length - margin) / x);
      SourceRef stretched = MakeTimeStretcher(Memory(input, kRate), x);
      const double tempo = LevelDb(ReadAll(*stretched, stretched->Length()), from, to);
      const double sox_tempo = LevelDb(Sox(input, "tempo " + std::to_string(x)), from, to);

      SourceRef changed = MakeSpeedChanger(Memory(input, kRate), x);
      const double changed_level = LevelDb(ReadAll(*changed, changed->Length()), from, to);
      SourceRef shifted = MakePitchShifter(Memory(input, kRate), x);
      const double pitch = LevelDb(ReadAll(*shifted, length), margin, length - margin);
      const double cents = 1200 * std::log2(x);
      const double sox_pitch = LevelDb(Sox(input, "pitch " + std::to_string(cents)), margin, length - margin);
      std::printf("%-12s %4d%% %7.2f | %7.2f %7.2f | %7.2f %7.2f %7.2f\n", name, percent, level, tempo, sox_tempo,
                  changed_level, pitch, sox_pitch);
      EXPECT_NEAR(tempo, level, 0.5);
      EXPECT_NEAR(pitch, changed_level, 0.5);
    }
  }
}

TEST(TimeStretch, FastPathEqualsTheExactOne) {
  // The polynomials keep their stated bound against the C library...
  std::mt19937 random(11);
  std::uniform_real_distribution<double> coordinate(-1e6, 1e6);
  std::uniform_real_distribution<double> angle(-1e6, 1e6);
  double atan_error = 0;
  double trig_error = 0;
  for (int i = 0; i < 200000; ++i) {
    const double y = coordinate(random) * (i % 3 == 0 ? 1e-9 : 1);
    const double x = coordinate(random);
    atan_error = std::max(atan_error, std::fabs(FastAtan2(y, x) - std::atan2(y, x)));
    const double a = i % 2 ? angle(random) : angle(random) * 1e-5;
    double sine;
    double cosine;
    FastSinCos(a, &sine, &cosine);
    trig_error = std::max({trig_error, std::fabs(sine - std::sin(a)), std::fabs(cosine - std::cos(a))});
  }
  for (const double y : {0.0, -0.0, 1.0, -1.0})
    for (const double x : {0.0, -0.0, 1.0, -1.0}) EXPECT_EQ(FastAtan2(y, x), std::atan2(y, x)) << y << " " << x;
  std::printf("largest error: atan2 %.2g rad, sin and cos %.2g\n", atan_error, trig_error);
  EXPECT_LT(atan_error, 1e-15);
  EXPECT_LT(trig_error, 1e-15);

  // ...and the vocoder's output (on this machine's vector unit) is the exact path's within
  // 1 in the store's scale, for speech and a chord in stereo, at several speeds and pitches.
  const std::vector<std::int32_t> stereo = SpeechAndChord(kRate + kRate / 2, 2);
  for (const bool pitch : {false, true}) {
    for (const double x : pitch ? std::vector<double>{0.5, 1.19, 2.0} : std::vector<double>{0.5, 0.8, 1.25, 3.0}) {
      SCOPED_TRACE((pitch ? "pitch " : "tempo ") + std::to_string(x));
      auto make = [&](StretchPrecision precision) {
        return pitch ? MakePitchShifter(Memory(stereo, kRate, 2), x, precision)
                     : MakeTimeStretcher(Memory(stereo, kRate, 2), x, precision);
      };
      SourceRef exact = make(StretchPrecision::kExact);
      SourceRef fast = make(StretchPrecision::kFast);
      const std::vector<std::int32_t> expected = ReadAll(*exact, exact->Length());
      const std::vector<std::int32_t> actual = ReadAll(*fast, fast->Length());
      ASSERT_EQ(actual.size(), expected.size());
      std::int32_t worst = 0;
      for (std::size_t i = 0; i < actual.size(); ++i) worst = std::max(worst, std::abs(actual[i] - expected[i]));
      EXPECT_LE(worst, 1);
    }
  }
}

TEST(WorkerPool, RunsEveryTaskOnceAlsoNestedAndFromTwoCallers) {
  WorkerPool pool(3);
  EXPECT_EQ(pool.workers(), 3);
  for (const std::int32_t count : {0, 1, 2, 7, 1000}) {
    std::vector<int> runs(count, 0);
    pool.Run(count, [&](std::int32_t i) { ++runs[i]; });
    EXPECT_EQ(std::count(runs.begin(), runs.end(), 1), count);
  }
  // A task that runs tasks itself runs them in its own thread.
  std::vector<int> inner(8 * 8, 0);
  pool.Run(8, [&](std::int32_t i) { pool.Run(8, [&](std::int32_t j) { ++inner[8 * i + j]; }); });
  EXPECT_EQ(std::count(inner.begin(), inner.end(), 1), 64);
  // Two callers at once: the second finds the pool busy and runs its tasks itself.
  std::vector<int> a(500, 0);
  std::vector<int> b(500, 0);
  std::thread other([&] {
    for (int round = 0; round < 20; ++round) pool.Run(25, [&](std::int32_t i) { ++a[25 * round + i]; });
  });
  for (int round = 0; round < 20; ++round) pool.Run(25, [&](std::int32_t i) { ++b[25 * round + i]; });
  other.join();
  EXPECT_EQ(std::count(a.begin(), a.end(), 1), 500);
  EXPECT_EQ(std::count(b.begin(), b.end(), 1), 500);
  // Without workers everything runs in the caller, in order.
  WorkerPool alone(0);
  std::vector<std::int32_t> order;
  alone.Run(5, [&](std::int32_t i) { order.push_back(i); });
  EXPECT_EQ(order, (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
}

TEST(TimeStretchThreaded, WorkerPoolGivesTheSameOutput) {
  // Frames and channels computed on the shared pool give exactly the samples of one
  // thread: two channels (one pair) and three (a pair and one alone), tempo and pitch,
  // read across several batches and a seek.
  for (const int channel_count : {2, 3}) {
    const std::vector<std::int32_t> input = SpeechAndChord(kRate / 2, channel_count);
    for (const bool pitch : {false, true}) {
      const double x = pitch ? 0.8 : 1.25;
      SCOPED_TRACE(std::to_string(channel_count) + (pitch ? " channels, pitch" : " channels, tempo"));
      auto make = [&](bool parallel) {
        SourceRef source = Memory(input, kRate, static_cast<std::uint8_t>(channel_count));
        SourceRef stretcher = pitch ? MakePitchShifter(source, x) : MakeTimeStretcher(source, x);
        dynamic_cast<TimeStretcher&>(*stretcher).set_parallel(parallel);
        return stretcher;
      };
      SourceRef serial = make(false);
      SourceRef parallel = make(true);
      EXPECT_EQ(ReadAll(*parallel, serial->Length()), ReadAll(*serial, serial->Length()));
      serial->Seek(5000);
      parallel->Seek(5000);
      EXPECT_EQ(ReadAll(*parallel, 9000), ReadAll(*serial, 9000));
    }
  }
}

TEST(TimeStretch, PitchOnlyMovesThePitchAndKeepsTheDuration) {
  const std::int32_t length = kRate;
  for (const double x : {0.5, 1.5}) {
    SCOPED_TRACE(x);
    SourceRef shifted = MakePitchShifter(Memory(Sine(440, length), kRate), x);
    EXPECT_EQ(shifted->rate, kRate);
    EXPECT_NEAR(shifted->Length(), length, 256);
    const std::vector<std::int32_t> out = ReadAll(*shifted, length + 4096);
    EXPECT_NEAR(MeasureHz(out, 2048, length - 2048), 440 * x, 440 * x * 0.002);
    EXPECT_NEAR(static_cast<double>(LastLoud(out)), length, 1024);
  }
}

TEST(TimeStretch, PitchBelowTheLimitStillKeepsTheDuration) {
  // Pitch 5 % is taken as 10 % for both the speed changer and the stretcher (×10, the
  // overlap-add path), so the sound still lasts as long as before.
  const std::int32_t length = kRate;
  SourceRef shifted = MakePitchShifter(Memory(Sine(200, length), kRate), 0.05);
  EXPECT_NEAR(shifted->Length(), length, 256);
  const std::vector<std::int32_t> out = ReadAll(*shifted, length + 4096);
  EXPECT_NEAR(static_cast<double>(LastLoud(out)), length, 1024);
  // And the pitch is a tenth: 2000 Hz comes out at 200 Hz (the upward resampling of the
  // speed changer keeps its anti-imaging filter however large the ratio).
  SourceRef lower = MakePitchShifter(Memory(Sine(2000, length), kRate), 0.05);
  const std::vector<std::int32_t> low = ReadAll(*lower, length);
  EXPECT_NEAR(PeakHz(low, 4096, length - 4096), 200, 5);
}

TEST(TimeStretch, OverlapAddForLargeAndNegativeFactors) {
  const std::int32_t length = kRate;
  const std::vector<std::int32_t> input = Sine(440, length);

  SourceRef fast = MakeTimeStretcher(Memory(input, kRate), 10);
  ASSERT_NE(dynamic_cast<OverlapAddStretcher*>(fast.get()), nullptr);
  EXPECT_EQ(fast->peak_bound, kFullScale);
  EXPECT_EQ(fast->Length(), 4410);
  const std::vector<std::int32_t> out = ReadAll(*fast, 4410 + 1000);
  EXPECT_NEAR(PeakHz(out, 0, 4410), 440, 10);
  EXPECT_NEAR(static_cast<double>(LastLoud(out)), 4410, 490);
  for (const std::int32_t v : out) ASSERT_LE(std::abs(v), static_cast<std::int32_t>(kAmplitude));

  // A negative factor counts by its magnitude on the overlap-add path: −1 copies exactly.
  SourceRef same = MakeTimeStretcher(Memory(input, kRate), -1);
  ASSERT_NE(dynamic_cast<OverlapAddStretcher*>(same.get()), nullptr);
  EXPECT_EQ(same->Length(), length);
  EXPECT_EQ(ReadAll(*same, length), input);

  SourceRef half = MakeTimeStretcher(Memory(input, kRate), -2);
  EXPECT_EQ(half->Length(), length / 2);
  EXPECT_NEAR(PeakHz(ReadAll(*half, length / 2), 0, length / 2), 440, 4);

  // Up to 8 the vocoder runs; a zero factor counts as 0.01.
  EXPECT_NE(dynamic_cast<TimeStretcher*>(MakeTimeStretcher(Memory(input, kRate), 8).get()), nullptr);
  SourceRef slowest = MakeTimeStretcher(Memory(input, kRate), 0);
  ASSERT_NE(dynamic_cast<TimeStretcher*>(slowest.get()), nullptr);
  EXPECT_EQ(slowest->Length(), 100 * length);

  SourceRef failed = MakeCounted<MemorySource>(input, kRate, 1, kStatusCannotOpen);
  EXPECT_EQ(MakeTimeStretcher(failed, 1.5).get(), failed.get());
}

TEST(TimeStretch, StereoChannelsStaySeparate) {
  const std::int32_t length = kRate / 2;
  const std::vector<std::int32_t> tone = Sine(440, length);
  for (const double x : {1.25, 10.0}) {
    SCOPED_TRACE(x);
    for (int loud = 0; loud < 2; ++loud) {
      std::vector<std::int32_t> stereo(2 * static_cast<std::size_t>(length), 0);
      for (std::int32_t f = 0; f < length; ++f) stereo[2 * f + loud] = tone[f];
      SourceRef stretched = MakeTimeStretcher(Memory(stereo, kRate, 2), x);
      ASSERT_EQ(stretched->channels, 2);
      const std::int32_t frames = stretched->Length();
      const std::vector<std::int32_t> out = ReadAll(*stretched, frames);
      const std::vector<std::int32_t> quiet = Channel(out, 2, 1 - loud);
      EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](std::int32_t v) { return v == 0; }));
      EXPECT_NEAR(PeakHz(Channel(out, 2, loud), 0, frames), 440, 10);
    }
  }
}

TEST(TimeStretch, FullScaleStaysWithinThePeakBound) {
  // A full-scale square wave: the richest overshoot, which the phase changes of low
  // factors raise further.
  std::vector<std::int32_t> square(kRate / 2);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? -kFullScale : kFullScale;
  for (const double x : {0.1, 0.5, 2.0, 7.5}) {
    SCOPED_TRACE(x);
    SourceRef stretched = MakeTimeStretcher(Memory(square, kRate), x);
    ASSERT_EQ(stretched->peak_bound, 2 * kFullScale);
    const std::vector<std::int32_t> out = ReadAll(*stretched, stretched->Length());
    std::int64_t peak = 0;
    for (const std::int32_t v : out) peak = std::max<std::int64_t>(peak, std::abs(std::int64_t{v}));
    EXPECT_LE(peak, 2 * kFullScale);
    EXPECT_GT(peak, kFullScale / 2);
  }
  // At the lowest factors the overshoot meets the bound.
  {
    SourceRef slow = MakeTimeStretcher(Memory(square, kRate), 0.1);
    const std::vector<std::int32_t> out = ReadAll(*slow, 20000);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 2 * kFullScale);
  }
  // A source beyond 0xFFFFF gives the bound 0x200000.
  SourceRef loud = Memory(square, kRate);
  loud->peak_bound = 0x100000;
  EXPECT_EQ(TimeStretcher(loud, 1.0).peak_bound, 0x200000);
}

TEST(TimeStretch, SeekKeepsPositionAndTimeAlignment) {
  // Silence, then a tone from input frame 30000: the onset lands at 30000 / x.
  const std::int32_t length = 60000;
  const std::int32_t onset = 30000;
  std::vector<std::int32_t> input(length, 0);
  const std::vector<std::int32_t> tone = Sine(660, length - onset);
  std::copy(tone.begin(), tone.end(), input.begin() + onset);
  auto first_loud = [](const std::vector<std::int32_t>& v) {
    for (std::size_t i = 0; i < v.size(); ++i)
      if (std::abs(v[i]) > kAmplitude / 4) return static_cast<std::int64_t>(i);
    return std::int64_t{-1};
  };

  for (const double x : {1.0, 1.25, 0.8}) {
    SCOPED_TRACE(x);
    TimeStretcher continuous(Memory(input, kRate), x);
    const std::vector<std::int32_t> whole = ReadAll(continuous, continuous.Length());
    const std::int64_t landing = first_loud(whole);
    EXPECT_NEAR(static_cast<double>(landing), onset / x, 256);

    TimeStretcher seeking(Memory(input, kRate), x);
    ReadAll(seeking, 5000);
    const std::int32_t target = static_cast<std::int32_t>(onset / x) - 3000;
    seeking.Seek(target);
    EXPECT_EQ(seeking.Position(), target);
    const std::vector<std::int32_t> after = ReadAll(seeking, 8000);
    EXPECT_EQ(seeking.Position(), target + 8000);
    EXPECT_NEAR(static_cast<double>(target + first_loud(after)), static_cast<double>(landing), 64);
    if (x == 1.0) {
      // Without a change of speed the seek reproduces the continuous read.
      for (std::int32_t i = 0; i < 8000; ++i) ASSERT_NEAR(after[i], whole[target + i], 16) << i;
    }

    // Seeking back to the start is the same as a new stretcher.
    seeking.Seek(0);
    EXPECT_EQ(ReadAll(seeking, 3000), std::vector<std::int32_t>(whole.begin(), whole.begin() + 3000));
  }

  OverlapAddStretcher overlap(Memory(input, kRate), 10);
  overlap.Seek(2000);
  EXPECT_EQ(overlap.Position(), 2000);
  // Input frame 20000 on: silence for 10000 input frames, then the tone, which appears
  // within a segment of output frame 1000.
  const std::vector<std::int32_t> after = ReadAll(overlap, 2000);
  EXPECT_NEAR(static_cast<double>(first_loud(after)), 1000, overlap.segment_frames());
  EXPECT_EQ(overlap.Position(), 4000);
}

}  // namespace
}  // namespace sonavel
