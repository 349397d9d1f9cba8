#include "formats/mp3_synthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

namespace sonavel::mp3 {
namespace {

constexpr double kPi = std::numbers::pi;

// The synthesis written the way the standard states it, in double precision: the inverse
// transform as a direct sum, the windows from their formulas, the 64 x 32 matrixing with
// the cosines, the 1024-value vector shifted by 64, the window D applied to the 512 values
// gathered from it.
class ModelSynthesis {
 public:
  // The 576 samples scaled to 524288 for full scale, neither rounded nor limited.
  void Granule(const GranuleSpectrum& g, double* out) {
    double slots[18][32];
    for (int sb = 0; sb < 32; ++sb) {
      const int type = g.block_type == 2 && g.mixed_block && sb < 2 ? 0 : g.block_type;
      const float* x = g.lines + sb * 18;
      double z[36] = {};
      if (type != 2) {
        for (int i = 0; i < 36; ++i) {
          double sum = 0;
          for (int k = 0; k < 18; ++k) sum += x[k] * std::cos(kPi / 72 * (2 * i + 1 + 18) * (2 * k + 1));
          z[i] = sum * LongWindow(type, i);
        }
      } else {
        for (int w = 0; w < 3; ++w)
          for (int i = 0; i < 12; ++i) {
            double sum = 0;
            for (int k = 0; k < 6; ++k) sum += x[3 * k + w] * std::cos(kPi / 24 * (2 * i + 1 + 6) * (2 * k + 1));
            z[6 * w + 6 + i] += sum * std::sin(kPi / 12 * (i + 0.5));
          }
      }
      for (int i = 0; i < 18; ++i) {
        double value = z[i] + overlap_[sb][i];
        overlap_[sb][i] = z[i + 18];
        if (sb % 2 == 1 && i % 2 == 1) value = -value;
        slots[i][sb] = value;
      }
    }
    for (int s = 0; s < 18; ++s) {
      for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
      for (int i = 0; i < 64; ++i) {
        double sum = 0;
        for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * kPi / 64) * slots[s][k];
        v_[i] = sum;
      }
      double u[512];
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 32; ++j) {
          u[i * 64 + j] = v_[i * 128 + j];
          u[i * 64 + 32 + j] = v_[i * 128 + 96 + j];
        }
      for (int j = 0; j < 32; ++j) {
        double sum = 0;
        for (int i = 0; i < 16; ++i) sum += u[j + 32 * i] * detail::kSynthesisWindow[j + 32 * i];
        out[s * 32 + j] = sum * 524288;
      }
    }
  }

 private:
  static double LongWindow(int type, int i) {
    if (type == 1) {
      if (i >= 30) return 0;
      if (i >= 24) return std::sin(kPi / 12 * (i - 18 + 0.5));
      if (i >= 18) return 1;
    }
    if (type == 3) {
      if (i < 6) return 0;
      if (i < 12) return std::sin(kPi / 12 * (i - 6 + 0.5));
      if (i < 18) return 1;
    }
    return std::sin(kPi / 36 * (i + 0.5));
  }

  double overlap_[32][18] = {};
  double v_[1024] = {};
};

// Granules through every block type, mixed blocks and switches between long and short,
// some cut short by nonzero_lines, one empty and one loud enough to be limited, against
// the model. Written with stride 2, so every other sample of the buffer stays untouched.
TEST(Mp3SynthesisTest, MatchesTheModelThroughEveryBlockType) {
  struct Step {
    int block_type;
    bool mixed;
    int nonzero;
    float amplitude;
    int tolerance;  // in steps of the output, 2^-19 of full scale
  };
  // Float arithmetic against double: one step for granules of ordinary loudness; more
  // for the loud granule, whose sums reach 2^22 before limiting, and the next, which still
  // adds up its large values.
  const Step steps[] = {{0, false, 576, 0.02f, 1}, {0, false, 300, 0.02f, 1}, {1, false, 576, 0.02f, 1},
                        {2, false, 576, 0.03f, 1}, {2, true, 576, 0.03f, 1},  {2, false, 100, 0.03f, 1},
                        {3, false, 576, 0.02f, 1}, {0, false, 0, 0, 1},       {0, false, 37, 0.05f, 1},
                        {1, false, 576, 0.02f, 1}, {2, true, 200, 0.03f, 1},  {2, false, 576, 0.03f, 1},
                        {3, false, 576, 0.02f, 1}, {0, false, 576, 0.4f, 4},  {0, false, 576, 0.02f, 4}};
  std::mt19937 random(576);
  std::uniform_real_distribution<float> line(-1.0f, 1.0f);
  ChannelSynthesis synthesis;
  ModelSynthesis model;
  std::vector<std::int32_t> ours(2 * kGranuleLines);
  double exact[kGranuleLines];
  std::int32_t loudest = 0;
  for (const Step& step : steps) {
    GranuleSpectrum g;
    for (int i = 0; i < kGranuleLines; ++i) g.lines[i] = i < step.nonzero ? step.amplitude * line(random) : 0.0f;
    g.block_type = step.block_type;
    g.mixed_block = step.mixed;
    g.nonzero_lines = step.nonzero;
    std::fill(ours.begin(), ours.end(), 12345);
    synthesis.Granule(g, ours.data(), 2);
    model.Granule(g, exact);
    for (int i = 0; i < kGranuleLines; ++i) {
      const double expected = std::clamp(std::nearbyint(exact[i]), -2097152.0, 2097152.0);
      ASSERT_LE(std::abs(ours[2 * i] - expected), step.tolerance) << "sample " << i << " of block type "
                                                                   << step.block_type;
      loudest = std::max(loudest, static_cast<std::int32_t>(std::abs(expected)));
      ASSERT_EQ(ours[2 * i + 1], 12345);
    }
  }
  // The loud granule reaches the limit, so the comparison covers it (and is not one of
  // silences, as it would be with an empty window table).
  EXPECT_EQ(loudest, 2097152);
}

TEST(Mp3SynthesisTest, SilenceGivesExactZeros) {
  ChannelSynthesis synthesis;
  GranuleSpectrum g;
  std::fill(std::begin(g.lines), std::end(g.lines), 0.0f);
  std::int32_t out[kGranuleLines];
  for (int type : {0, 1, 2, 3}) {
    g.block_type = type;
    g.mixed_block = type == 2;
    std::fill(std::begin(out), std::end(out), 7);
    synthesis.Granule(g, out, 1);
    for (std::int32_t sample : out) ASSERT_EQ(sample, 0);
  }
  // After a loud granule and a Reset, silence is exact again.
  for (float& value : g.lines) value = 0.1f;
  synthesis.Granule(g, out, 1);
  synthesis.Reset();
  std::fill(std::begin(g.lines), std::end(g.lines), 0.0f);
  synthesis.Granule(g, out, 1);
  for (std::int32_t sample : out) ASSERT_EQ(sample, 0);
}

// The table as entered: every coefficient is a whole multiple of 2^-16 printed to nine
// places, and the window is mirrored about D[256] (|D[512 - i]| = |D[i]|), so a mistyped
// digit shows twice over. D[0] is 0 and D[256], 1.144989014, the largest.
TEST(Mp3SynthesisTest, WindowTableHasItsSymmetries) {
  const double* d = detail::kSynthesisWindow.data();
  EXPECT_EQ(d[0], 0.0);
  EXPECT_NEAR(d[256], 1.144989014, 1e-9);
  int off_grid = -1, unmirrored = -1, too_large = -1;
  for (int i = 511; i >= 0; --i) {
    const double steps = d[i] * 65536;
    if (std::abs(steps - std::round(steps)) > 1e-4) off_grid = i;
    if (i > 0 && i < 256 && std::abs(d[i]) != std::abs(d[512 - i])) unmirrored = i;
    if (i != 256 && !(std::abs(d[i]) < std::abs(d[256]))) too_large = i;
  }
  EXPECT_EQ(off_grid, -1) << "the first coefficient off the grid of 2^-16";
  EXPECT_EQ(unmirrored, -1) << "the first coefficient unlike its mirror image";
  EXPECT_EQ(too_large, -1) << "the first coefficient not below D[256]";
}

}  // namespace
}  // namespace sonavel::mp3
