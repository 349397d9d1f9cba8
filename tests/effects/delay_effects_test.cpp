#include "effects/delay_effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "effects/dsp/fft.h"
#include "effects/dsp/sine.h"
#include "effects/effect.h"
#include "memory_source.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::ReadInOddChunks;
using Samples = std::vector<std::int32_t>;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

Samples Impulse(std::size_t samples, std::int32_t value = kFullScale) {
  Samples out(samples, 0);
  out[0] = value;
  return out;
}

Samples Noise(std::size_t samples, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> value(-kFullScale, kFullScale);
  Samples out(samples);
  for (std::int32_t& s : out) s = value(random);
  return out;
}

std::int32_t Saturated(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), kMax));
}

// The past of one interleaved signal as the swept delays see it: the sample `back`
// frames before frame n of channel c, zero before the start.
std::int32_t Past(const Samples& in, int channels, std::int64_t n, std::int64_t back, int c) {
  return n - back < 0 ? 0 : in[static_cast<std::size_t>((n - back) * channels + c)];
}

std::int64_t Tap(double delay, const Samples& in, int channels, std::int64_t n, int c, double gain) {
  const auto h = static_cast<std::int64_t>(delay);
  const double a = delay - static_cast<double>(h);
  return static_cast<std::int64_t>(((1 - a) * Past(in, channels, n, h, c) + a * Past(in, channels, n, h + 1, c)) *
                                   gain);
}

TEST(Echo, ImpulseRepeatsHalvedAndTheShortestRingIsTwentySamples) {
  // 8 kHz mono, 100 ms, 50 %: L = 800, g = 256.
  SourceRef echo = MakeEcho(Memory(Impulse(3000), 8000), 100, 50);
  EXPECT_EQ(echo->peak_bound, kMax);
  const Samples out = ReadInOddChunks(*echo, 3000);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::int32_t expected =
        i == 0 ? kFullScale : i == 800 ? 262136 : i == 1600 ? 131068 : i == 2400 ? 65534 : 0;
    ASSERT_EQ(out[i], expected) << i;
  }
  // 1 ms at 8 kHz would be 8 samples: the ring holds 20. A gain of 100 becomes 99 (506).
  SourceRef shortest = MakeEcho(Memory(Impulse(100), 8000), 1, 100);
  auto* filter = dynamic_cast<EchoFilter*>(shortest.get());
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->length(), 20);
  EXPECT_EQ(filter->gain(), 506);
  const Samples repeats = ReadInOddChunks(*shortest, 100);
  EXPECT_EQ(repeats[19], 0);
  EXPECT_EQ(repeats[20], (std::int64_t{kFullScale} * 506) >> 9);
  EXPECT_EQ(repeats[40], (std::int64_t{repeats[20]} * 506) >> 9);
  // Stereo: each channel echoes itself, L = frames × 2.
  SourceRef stereo = MakeEcho(Memory({1600, -3200, 0, 0, 0, 0}, 1000, 2), 2, 50);
  EXPECT_EQ(dynamic_cast<EchoFilter*>(stereo.get())->length(), 20);
  // Time 0: the source itself.
  SourceRef source = Memory(Impulse(10), 8000);
  EXPECT_EQ(MakeEcho(source, 0, 50).get(), source.get());
}

TEST(Echo, BuildUpAtNinetyNinePercentNeitherWrapsNorOverflows) {
  // A square of period 8 frames at full scale under an 80-frame delay: every repeat adds
  // in phase and the sum reaches about 85 × full scale, where 32-bit products would wrap.
  Samples square(80000);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 4) % 2 == 0 ? kFullScale : -kFullScale;
  const Samples out = ReadInOddChunks(*MakeEcho(Memory(square, 8000), 10, 99), 80000);
  Samples ring(80, 0);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::int32_t y = Saturated(square[i] + ((std::int64_t{ring[i % 80]} * 506) >> 9));
    ring[i % 80] = y;
    ASSERT_EQ(out[i], y) << i;
    ASSERT_EQ(out[i] > 0, square[i] > 0) << i;
  }
  EXPECT_GT(out.back() / -kFullScale, 84);
  // A larger input builds beyond 32 bits: held at the largest value, never wrapped.
  const Samples large(4000, 1 << 28);
  const Samples held = ReadInOddChunks(*MakeEcho(Memory(large, 8000), 10, 99), 4000);
  EXPECT_EQ(held.back(), kMax);
  for (std::int32_t y : held) ASSERT_GE(y, 1 << 28);
}

TEST(Reverb, ShortestRingTapsAndGainsAndTheModel) {
  // 10 ms at 8000 Hz mono is 80 samples, raised to 128.
  SourceRef made = MakeReverb(Memory(Impulse(1000), 8000), 10, 100);
  auto* reverb = dynamic_cast<ReverbFilter*>(made.get());
  ASSERT_NE(reverb, nullptr);
  EXPECT_EQ(reverb->length(), 128);
  EXPECT_EQ(reverb->taps(), (std::array<std::int32_t, 4>{94, 71, 48, 27}));
  EXPECT_EQ(reverb->gains(), (std::array<std::int32_t, 5>{204, 51, 153, 35, 66}));
  const Samples out = ReadInOddChunks(*made, 1000);
  // The first reflections: 34, 57, 80, 101 and 128 samples after the impulse.
  EXPECT_EQ(out[33], 0);
  EXPECT_EQ(out[34], (kFullScale * 204) >> 9);
  EXPECT_EQ(out[57], (kFullScale * 51) >> 9);
  EXPECT_EQ(out[80], (kFullScale * 153) >> 9);
  EXPECT_EQ(out[101], (kFullScale * 35) >> 9);
  EXPECT_EQ(out[128], (kFullScale * 66) >> 9);

  // Stereo noise through 50 ms at level 75 against the taps written out, sample by sample.
  const Samples noise = Noise(2 * 20000, 7);
  const Samples got = ReadInOddChunks(*MakeReverb(Memory(noise, 11025, 2), 50, 75), 20000);
  const std::int64_t l = 2 * 551;  // 11025 × 0.05 = 551.25 frames
  const std::int64_t g = 75 * 512 / 100;
  const std::int64_t gains[5] = {static_cast<std::int64_t>(0.4 * g), static_cast<std::int64_t>(0.1 * g),
                                 static_cast<std::int64_t>(0.3 * g), static_cast<std::int64_t>(0.07 * g),
                                 static_cast<std::int64_t>(0.13 * g)};
  const std::int64_t back[5] = {l - static_cast<std::int64_t>(l * 0.7413), l - static_cast<std::int64_t>(l * 0.5581),
                                l - static_cast<std::int64_t>(l * 0.3823), l - static_cast<std::int64_t>(l * 0.211), l};
  Samples model(noise.size());
  for (std::size_t n = 0; n < noise.size(); ++n) {
    std::int64_t y = noise[n];
    for (int k = 0; k < 5; ++k)
      if (static_cast<std::int64_t>(n) >= back[k]) y += (model[n - back[k]] * gains[k]) >> 9;
    model[n] = Saturated(y);
  }
  EXPECT_EQ(got, model);

  // Level 100 (loop gain unity) on a loud constant grows past 32 bits: held, never wrapped.
  const Samples constant(40000, 1 << 26);
  const Samples grown = ReadInOddChunks(*MakeReverb(Memory(constant, 8000), 16, 100), 40000);
  EXPECT_EQ(grown.back(), kMax);
  for (std::int32_t y : grown) ASSERT_GE(y, 1 << 26);
}

TEST(SweptDelays, TheSweepSineIsWithinTwoUnitsInTheLastPlaceOfTheLibrarys) {
  // The phases a sweep reaches (steps of 1.5π × 2 Hz / 44100 over a day) and random ones.
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> far(0, 1e6);
  double phase = 0;
  for (int i = 0; i < 2000000; ++i) {
    const double x = i % 2 == 0 ? phase : far(random);
    phase += 2 * 4.71238898038469 / 44100 * 37;
    const double exact = std::sin(x);
    const double ulp = std::nextafter(std::abs(exact), 2.0) - std::abs(exact);
    ASSERT_LE(std::abs(Sine(x) - exact), 2 * std::max(ulp, 0x1p-60)) << x;
  }
  EXPECT_EQ(Sine(0.0), 0.0);
  EXPECT_EQ(Sine(-1.0), -Sine(1.0));
}

TEST(SweptDelays, ChorusAndFlangerFollowTheirSweptTaps) {
  // Stereo chorus at 8 kHz: 40 ms, depth 25 % (d = 320, f = 80), gain 70 %, 1.5 Hz.
  const Samples noise = Noise(2 * 6000, 11);
  SourceRef chorus = MakeChorus(Memory(noise, 8000, 2), 40, 25, 70, 1.5);
  auto* filter = dynamic_cast<ChorusFilter*>(chorus.get());
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->delay(), 320);
  EXPECT_EQ(filter->depth(), 80.0);
  EXPECT_EQ(filter->ring_frames(), 402);
  const Samples got = ReadInOddChunks(*chorus, 6000);
  const double g1 = 0.7, g2 = 0.35;
  double p1 = 0, p2 = 0;
  for (std::int64_t n = 0; n < 6000; ++n) {
    const double d1 = std::sin(p1) * 80 + 320, d2 = std::sin(p2) * 80 + 320;
    p1 += 1.5 * 4.71238898038469 / 8000;
    p2 += 1.5 * 7.85398163397448 / 8000;
    const std::int64_t left = noise[2 * n] + Tap(d1, noise, 2, n, 0, g1) + Tap(d2, noise, 2, n, 0, g2);
    const std::int64_t right = noise[2 * n + 1] + Tap(d1, noise, 2, n, 1, g2) + Tap(d2, noise, 2, n, 1, g1);
    ASSERT_EQ(got[2 * n], left) << n;
    ASSERT_EQ(got[2 * n + 1], right) << n;
  }

  // On mono the chorus runs on the doubled signal and comes back as one channel (the left).
  const Samples mono = Noise(3000, 12);
  SourceRef mono_chorus = MakeChorus(Memory(mono, 8000, 1), 20, 30, 100, 2.0);
  EXPECT_EQ(mono_chorus->channels, 1);
  const Samples mono_out = ReadInOddChunks(*mono_chorus, 3000);
  p1 = p2 = 0;
  for (std::int64_t n = 0; n < 3000; ++n) {
    const double d1 = std::sin(p1) * 48 + 160, d2 = std::sin(p2) * 48 + 160;
    p1 += 2.0 * 4.71238898038469 / 8000;
    p2 += 2.0 * 7.85398163397448 / 8000;
    ASSERT_EQ(mono_out[n], mono[n] + Tap(d1, mono, 1, n, 0, 1.0) + Tap(d2, mono, 1, n, 0, 0.5)) << n;
  }

  // Flanger on three channels: 10 ms, depth 100 % (the sweep reaches 0 frames back), 5 Hz.
  const Samples three = Noise(3 * 4000, 13);
  const Samples flanged = ReadInOddChunks(*MakeFlanger(Memory(three, 8000, 3), 10, 100, 90, 5.0), 4000);
  double phase = 0;
  for (std::int64_t n = 0; n < 4000; ++n) {
    const double delay = std::sin(phase) * 80 + 80;
    phase += 5.0 * 2 * std::numbers::pi / 8000;
    for (int c = 0; c < 3; ++c)
      ASSERT_EQ(flanged[3 * n + c], three[3 * n + c] + Tap(delay, three, 3, n, c, 0.9)) << n << " " << c;
  }
}

TEST(SweptDelays, PhaserIsAFixedCombWithNotchesBetweenTheHarmonicsOfItsDelay) {
  // Time 0: the delayed tap is the current sample, y = x × (1 + g).
  const Samples values = {1000, -2001, kFullScale, -kFullScale, 7};
  Samples out = ReadInOddChunks(*MakePhaser(Memory(values, 8000), 0, 100), 5);
  EXPECT_EQ(out, (Samples{2000, -4002, 2 * kFullScale, -2 * kFullScale, 14}));
  out = ReadInOddChunks(*MakePhaser(Memory(values, 8000), 0, 50), 5);
  EXPECT_EQ(out, (Samples{1500, -3001, kFullScale + kFullScale / 2, -kFullScale - kFullScale / 2, 10}));

  // 5 ms at 6400 Hz is 32 frames: H(k) = 1 + g e^(−iπk/64) over 4096 bins, notches at odd
  // multiples of 64 (100 Hz, 300 Hz, ...), peaks at multiples of 128 (200 Hz, ...).
  const FftPlan plan(12);
  for (const int gain : {100, 50}) {
    const Samples response = ReadInOddChunks(*MakePhaser(Memory(Impulse(4096), 6400), 5, gain), 4096);
    std::vector<double> re(response.begin(), response.end()), im(4096, 0.0);
    plan.Forward(re.data(), im.data());
    const double g = gain / 100.0;
    for (int k = 0; k < 2048; ++k) {
      const double magnitude = std::hypot(re[k], im[k]) * 4096 / kFullScale;
      const double expected = std::abs(1.0 + g * std::polar(1.0, -std::numbers::pi * k / 64));
      ASSERT_NEAR(magnitude, expected, 1e-6) << gain << " bin " << k;
    }
    // 300 Hz is a notch, 400 Hz a peak: silent and doubled at 100 %, 9.5 dB apart at 50 %.
    const double notch = std::hypot(re[192], im[192]) * 4096 / kFullScale;
    const double peak = std::hypot(re[256], im[256]) * 4096 / kFullScale;
    EXPECT_NEAR(peak, 1 + g, 1e-9);
    EXPECT_NEAR(notch, 1 - g, 1e-9);
  }
}

TEST(DelayFilters, SeekEmptiesTheRingsSoThatReadingAgainEqualsReadingFromTheStart) {
  const Samples noise = Noise(2 * 5000, 21);
  const std::vector<std::function<SourceRef(SourceRef)>> chains = {
      [](SourceRef s) { return MakeEcho(s, 30, 80); },
      [](SourceRef s) { return MakeReverb(s, 60, 100); },
      [](SourceRef s) { return MakePhaser(s, 3, 70); },
      [](SourceRef s) { return MakeFlanger(s, 4, 0, 60, 3.0); },
  };
  for (std::size_t i = 0; i < chains.size(); ++i) {
    SourceRef fresh = chains[i](Memory(noise, 8000, 2));
    const Samples first = ReadInOddChunks(*fresh, 5000);
    fresh->Seek(0);
    EXPECT_EQ(ReadInOddChunks(*fresh, 5000), first) << i;
    // From the middle: as a fresh filter over the rest of the input.
    fresh->Seek(2000);
    const Samples rest(noise.begin() + 4000, noise.end());
    EXPECT_EQ(ReadInOddChunks(*fresh, 3000), ReadInOddChunks(*chains[i](Memory(rest, 8000, 2)), 3000)) << i;
  }
  // The chorus keeps its sweep across a seek: the second pass reads other taps.
  SourceRef chorus = MakeChorus(Memory(noise, 8000, 2), 30, 30, 100, 2.0);
  const Samples first = ReadInOddChunks(*chorus, 5000);
  chorus->Seek(0);
  const Samples again = ReadInOddChunks(*chorus, 5000);
  EXPECT_EQ(Samples(again.begin(), again.begin() + 300), Samples(first.begin(), first.begin() + 300));  // dry at first
  EXPECT_NE(again, first);
}

}  // namespace
}  // namespace sonavel
