#include "formats/mp3_synthesis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "formats/mp3_decoder.h"
#include "store/vector_clones.h"

namespace sonavel::mp3 {

namespace detail {

namespace {

// The 512 coefficients of the standard's synthesis window in its order and with its signs,
// in whole steps of 2^-16: the table prints each to nine places, and each is a whole
// number of such steps. scripts/measure_synthesis_window.py measures them again from a
// reference decoder's output.
constexpr std::int32_t kWindowSteps[512] = {
    0, -1, -1, -1, -1, -1, -1, -2, -2, -2, -2, -3, -3, -4, -4, -5,
    -5, -6, -7, -7, -8, -9, -10, -11, -13, -14, -16, -17, -19, -21, -24, -26,
    -29, -31, -35, -38, -41, -45, -49, -53, -58, -63, -68, -73, -79, -85, -91, -97,
    -104, -111, -117, -125, -132, -139, -147, -154, -161, -169, -176, -183, -190, -196, -202, -208,
    213, 218, 222, 225, 227, 228, 228, 227, 224, 221, 215, 208, 200, 189, 177, 163,
    146, 127, 106, 83, 57, 29, -2, -36, -72, -111, -153, -197, -244, -294, -347, -401,
    -459, -519, -581, -645, -711, -779, -848, -919, -991, -1064, -1137, -1210, -1283, -1356, -1428, -1498,
    -1567, -1634, -1698, -1759, -1817, -1870, -1919, -1962, -2001, -2032, -2057, -2075, -2085, -2087, -2080, -2063,
    2037, 2000, 1952, 1893, 1822, 1739, 1644, 1535, 1414, 1280, 1131, 970, 794, 605, 402, 185,
    -45, -288, -545, -814, -1095, -1388, -1692, -2006, -2330, -2663, -3004, -3351, -3705, -4063, -4425, -4788,
    -5153, -5517, -5879, -6237, -6589, -6935, -7271, -7597, -7910, -8209, -8491, -8755, -8998, -9219, -9416, -9585,
    -9727, -9838, -9916, -9959, -9966, -9935, -9863, -9750, -9592, -9389, -9139, -8840, -8492, -8092, -7640, -7134,
    6574, 5959, 5288, 4561, 3776, 2935, 2037, 1082, 70, -998, -2122, -3300, -4533, -5818, -7154, -8540,
    -9975, -11455, -12980, -14548, -16155, -17799, -19478, -21189, -22929, -24694, -26482, -28289, -30112, -31947, -33791, -35640,
    -37489, -39336, -41176, -43006, -44821, -46617, -48390, -50137, -51853, -53534, -55178, -56778, -58333, -59838, -61289, -62684,
    -64019, -65290, -66494, -67629, -68692, -69679, -70590, -71420, -72169, -72835, -73415, -73908, -74313, -74630, -74856, -74992,
    75038, 74992, 74856, 74630, 74313, 73908, 73415, 72835, 72169, 71420, 70590, 69679, 68692, 67629, 66494, 65290,
    64019, 62684, 61289, 59838, 58333, 56778, 55178, 53534, 51853, 50137, 48390, 46617, 44821, 43006, 41176, 39336,
    37489, 35640, 33791, 31947, 30112, 28289, 26482, 24694, 22929, 21189, 19478, 17799, 16155, 14548, 12980, 11455,
    9975, 8540, 7154, 5818, 4533, 3300, 2122, 998, -70, -1082, -2037, -2935, -3776, -4561, -5288, -5959,
    6574, 7134, 7640, 8092, 8492, 8840, 9139, 9389, 9592, 9750, 9863, 9935, 9966, 9959, 9916, 9838,
    9727, 9585, 9416, 9219, 8998, 8755, 8491, 8209, 7910, 7597, 7271, 6935, 6589, 6237, 5879, 5517,
    5153, 4788, 4425, 4063, 3705, 3351, 3004, 2663, 2330, 2006, 1692, 1388, 1095, 814, 545, 288,
    45, -185, -402, -605, -794, -970, -1131, -1280, -1414, -1535, -1644, -1739, -1822, -1893, -1952, -2000,
    2037, 2063, 2080, 2087, 2085, 2075, 2057, 2032, 2001, 1962, 1919, 1870, 1817, 1759, 1698, 1634,
    1567, 1498, 1428, 1356, 1283, 1210, 1137, 1064, 991, 919, 848, 779, 711, 645, 581, 519,
    459, 401, 347, 294, 244, 197, 153, 111, 72, 36, 2, -29, -57, -83, -106, -127,
    -146, -163, -177, -189, -200, -208, -215, -221, -224, -227, -228, -228, -227, -225, -222, -218,
    213, 208, 202, 196, 190, 183, 176, 169, 161, 154, 147, 139, 132, 125, 117, 111,
    104, 97, 91, 85, 79, 73, 68, 63, 58, 53, 49, 45, 41, 38, 35, 31,
    29, 26, 24, 21, 19, 17, 16, 14, 13, 11, 10, 9, 8, 7, 7, 6,
    5, 5, 4, 4, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1,
};

constexpr std::array<double, 512> WindowFromSteps() {
  std::array<double, 512> window{};
  for (std::size_t i = 0; i < window.size(); ++i) window[i] = kWindowSteps[i] / 65536.0;
  return window;
}

}  // namespace

const std::array<double, 512> kSynthesisWindow = WindowFromSteps();

}  // namespace detail

namespace {

constexpr int kSubbands = 32;
constexpr int kSlots = 18;
// The 18 time slots padded to whole vectors, for the DCT that runs across all of them.
constexpr int kLanes = 24;
constexpr int kHistory = 15;
constexpr int kRow = 40;  // kHistory + kLanes, rounded up to whole vectors
constexpr float kPeak = static_cast<float>(kDecodedPeak);
// Eight floats in one vector register where there is one (two halves where not). The sums
// over 24 lanes are written with three of them outright: as plain loops they are unrolled
// before they could be vectorised.
typedef float Lanes8 __attribute__((vector_size(32)));
static_assert(kLanes == 3 * 8);

// Vectors are passed by reference only: passing them by value changes the calling
// convention between the vector variants.
[[gnu::always_inline]] inline void Load(const float* p, Lanes8& a, Lanes8& b, Lanes8& c) {
  std::memcpy(&a, p, sizeof a);
  std::memcpy(&b, p + 8, sizeof b);
  std::memcpy(&c, p + 16, sizeof c);
}

[[gnu::always_inline]] inline void Store(float* p, const Lanes8& a, const Lanes8& b, const Lanes8& c) {
  std::memcpy(p, &a, sizeof a);
  std::memcpy(p + 8, &b, sizeof b);
  std::memcpy(p + 16, &c, sizeof c);
}

// Everything the filter banks multiply by, worked out once: no trigonometry per granule.
//
// The inverse transform of n lines into 2n outputs is a DCT-IV of n points y followed by a
// fixed rearrangement: with h = n / 4, outputs 0 ... h - 1 are y[h + i], the next n are
// -y reversed and the last h are -y[i - 3h]. The signs of that rearrangement, the block
// type's window and the frequency inversion (odd outputs negated in odd subbands) are
// folded into one factor per output.
struct Tables {
  alignas(32) float dct18[kSlots][kLanes];  // row k: cos(pi (2n + 1)(2k + 1) / 72), padded with 0
  alignas(32) float dct6[6][6];             // row k: cos(pi (2n + 1)(2k + 1) / 24)
  // [block type][subband parity][output]; block type 2 (short) stays unused.
  alignas(32) float long_window[4][2][36];
  alignas(32) float short_window[2][12];  // [subband parity][output]
  // The polyphase window. Output j of a slot sums D[32 m + j] times V[32 (m mod 2) + j] of
  // the vector made m slots before, m = 0 ... 15. V is made of the DCT X of the slot's
  // samples: V[i] = X[16 + i] up to 15, V[16] = 0, V[i] = -X[48 - i] up to 47, -X[i - 48]
  // after. So output j takes X[row[m mod 2][j]] of slot s - m times coefficient[m][j], the
  // window scaled to the output's full scale with V's sign.
  alignas(32) float coefficient[16][32];
  int row[2][32];
  // The butterfly factors 1 / (2 cos(pi (2k + 1) / 2N)) of the DCT of N points, N = 32 ... 2,
  // at offsets 0, 16, 24, 28 and 30.
  float dct_factor[31];
};

double LongWindow(int block_type, int i) {
  const double normal = std::sin(std::numbers::pi / 36 * (i + 0.5));
  switch (block_type) {
    case 1:  // start: normal, flat, the right half of a short window, nothing
      if (i < 18) return normal;
      if (i < 24) return 1;
      if (i < 30) return std::sin(std::numbers::pi / 12 * (i - 18 + 0.5));
      return 0;
    case 3:  // stop: the mirror image of start
      if (i < 6) return 0;
      if (i < 12) return std::sin(std::numbers::pi / 12 * (i - 6 + 0.5));
      if (i < 18) return 1;
      return normal;
    default:
      return normal;
  }
}

// The sign of output i of the rearrangement, times the frequency inversion's.
double OutputSign(int n, int i, int parity) {
  const double rearranged = i < n / 4 ? 1 : -1;
  return parity == 1 && i % 2 == 1 ? -rearranged : rearranged;
}

Tables BuildTables() {
  Tables t{};
  constexpr double kPi = std::numbers::pi;
  for (int k = 0; k < kSlots; ++k)
    for (int n = 0; n < kSlots; ++n) t.dct18[k][n] = static_cast<float>(std::cos(kPi / 72 * (2 * n + 1) * (2 * k + 1)));
  for (int k = 0; k < 6; ++k)
    for (int n = 0; n < 6; ++n) t.dct6[k][n] = static_cast<float>(std::cos(kPi / 24 * (2 * n + 1) * (2 * k + 1)));
  for (int parity = 0; parity < 2; ++parity) {
    for (int type : {0, 1, 3})
      for (int i = 0; i < 36; ++i)
        t.long_window[type][parity][i] = static_cast<float>(LongWindow(type, i) * OutputSign(36, i, parity));
    for (int i = 0; i < 12; ++i)
      t.short_window[parity][i] = static_cast<float>(std::sin(kPi / 12 * (i + 0.5)) * OutputSign(12, i, parity));
  }
  for (int m = 0; m < 16; ++m)
    for (int j = 0; j < 32; ++j) {
      const int i = 32 * (m % 2) + j;
      const double sign = i < 16 ? 1 : i == 16 ? 0 : -1;
      t.coefficient[m][j] = static_cast<float>(sign * detail::kSynthesisWindow[32 * m + j] * kDecodedFullScale);
      t.row[m % 2][j] = i < 16 ? 16 + i : i == 16 ? 0 : i < 48 ? 48 - i : i - 48;
    }
  int offset = 0;
  for (int n = 32; n >= 2; n /= 2)
    for (int k = 0; k < n / 2; ++k)
      t.dct_factor[offset++] = static_cast<float>(0.5 / std::cos(kPi * (2 * k + 1) / (2 * n)));
  return t;
}

const Tables& GetTables() {
  static const Tables tables = BuildTables();
  return tables;
}

constexpr int DctFactorOffset(int n) { return n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30; }

// out[u] = sum over k of in[k] cos(pi u (2k + 1) / 2N), for all time slots at once: each
// element is a row of kLanes, the output rows lie `stride` floats apart. The even outputs
// are the DCT of the folded sums, the odd ones follow from the DCT of the scaled
// differences. Always inlined, so that it is compiled into each vector variant of its caller.
template <int N>
[[gnu::always_inline]] inline void Dct(const float (*in)[kLanes], float* out, int stride, const float* factors) {
  if constexpr (N == 1) {
    for (int l = 0; l < kLanes; ++l) out[l] = in[0][l];
  } else {
    constexpr int kHalf = N / 2;
    const float* f = factors + DctFactorOffset(N);
    alignas(32) float sums[kHalf][kLanes], differences[kHalf][kLanes], odd[kHalf][kLanes];
    for (int k = 0; k < kHalf; ++k)
      for (int l = 0; l < kLanes; ++l) {
        sums[k][l] = in[k][l] + in[N - 1 - k][l];
        differences[k][l] = (in[k][l] - in[N - 1 - k][l]) * f[k];
      }
    Dct<kHalf>(sums, out, 2 * stride, factors);
    Dct<kHalf>(differences, &odd[0][0], kLanes, factors);
    for (int m = 0; m + 1 < kHalf; ++m)
      for (int l = 0; l < kLanes; ++l) out[(2 * m + 1) * stride + l] = odd[m][l] + odd[m + 1][l];
    for (int l = 0; l < kLanes; ++l) out[(N - 1) * stride + l] = odd[kHalf - 1][l];
  }
}

// One subband's 36 outputs of the inverse transform, windowed and with the frequency
// inversion applied. Short blocks take the lines of window w at 3k + w, the order the
// spectrum stage hands them over in.
[[gnu::always_inline]] inline void InverseTransform(const float* lines, int line_count, int block_type, int parity, const Tables& t,
                             float* z) {
  if (block_type != 2) {
    Lanes8 y0 = {}, y1 = {}, y2 = {};
    for (int k = 0; k < line_count; ++k) {
      const float x = lines[k];
      Lanes8 r0, r1, r2;
      Load(t.dct18[k], r0, r1, r2);
      y0 += x * r0;
      y1 += x * r1;
      y2 += x * r2;
    }
    alignas(32) float y[kLanes];
    Store(y, y0, y1, y2);
    const float* w = t.long_window[block_type][parity];
    for (int i = 0; i < 9; ++i) z[i] = w[i] * y[9 + i];
    for (int i = 9; i < 27; ++i) z[i] = w[i] * y[26 - i];
    for (int i = 27; i < 36; ++i) z[i] = w[i] * y[i - 27];
    return;
  }
  std::memset(z, 0, 36 * sizeof(float));
  const float* w = t.short_window[parity];
  for (int window = 0; window < 3; ++window) {
    float y[6] = {};
    for (int k = 0; 3 * k + window < line_count; ++k) {
      const float x = lines[3 * k + window];
      for (int n = 0; n < 6; ++n) y[n] += x * t.dct6[k][n];
    }
    float* target = z + 6 + 6 * window;
    for (int i = 0; i < 3; ++i) target[i] += w[i] * y[3 + i];
    for (int i = 3; i < 9; ++i) target[i] += w[i] * y[8 - i];
    for (int i = 9; i < 12; ++i) target[i] += w[i] * y[i - 9];
  }
}

SONAVEL_AVX2_CLONES
void Synthesize(const GranuleSpectrum& spectrum, float (*overlap)[kSlots], float (*history)[kRow], std::int32_t* out,
                int stride) {
  const Tables& t = GetTables();
  const int nonzero = std::clamp(spectrum.nonzero_lines, 0, kGranuleLines);
  const int block_type = spectrum.block_type >= 1 && spectrum.block_type <= 3 ? spectrum.block_type : 0;

  // The hybrid filter bank: subband sb's 18 time samples in hybrid[sb].
  alignas(32) float hybrid[kSubbands][kLanes];
  for (int sb = 0; sb < kSubbands; ++sb) {
    float* previous = overlap[sb];
    float* samples = hybrid[sb];
    const int line_count = std::clamp(nonzero - sb * kSlots, 0, kSlots);
    if (line_count == 0) {
      for (int s = 0; s < kSlots; ++s) samples[s] = previous[s];
      std::memset(previous, 0, kSlots * sizeof(float));
    } else {
      const int type = block_type == 2 && spectrum.mixed_block && sb < 2 ? 0 : block_type;
      alignas(32) float z[36];
      InverseTransform(spectrum.lines + sb * kSlots, line_count, type, sb & 1, t, z);
      for (int s = 0; s < kSlots; ++s) {
        samples[s] = z[s] + previous[s];
        previous[s] = z[kSlots + s];
      }
    }
    for (int s = kSlots; s < kLanes; ++s) samples[s] = 0;
  }

  // The matrixing: the DCT of 32 points of every slot, each kept as a row across the time
  // slots after the last kHistory of the previous granule.
  Dct<32>(hybrid, history[0] + kHistory, kRow, t.dct_factor);

  // The window, for all slots at once: sums[j][s] is output j of slot s. Outputs j and
  // 32 - j take the same rows, so they are summed together.
  alignas(32) float sums[32][kLanes];
  for (int j = 0; j <= 16; ++j) {
    const bool paired = j != 0 && j != 16;
    Lanes8 a0 = {}, a1 = {}, a2 = {}, b0 = {}, b1 = {}, b2 = {};
    const float* rows[2] = {history[t.row[0][j]] + kHistory, history[t.row[1][j]] + kHistory};
#pragma GCC unroll 16
    for (int m = 0; m < 16; ++m) {
      Lanes8 v0, v1, v2;
      Load(rows[m & 1] - m, v0, v1, v2);
      const float c = t.coefficient[m][j];
      a0 += c * v0;
      a1 += c * v1;
      a2 += c * v2;
      if (paired) {
        const float d = t.coefficient[m][32 - j];
        b0 += d * v0;
        b1 += d * v1;
        b2 += d * v2;
      }
    }
    Store(sums[j], a0, a1, a2);
    if (paired) Store(sums[32 - j], b0, b1, b2);
  }
  // Limited (NaN ends up at -kPeak, never undefined) and rounded to the nearest whole
  // number by adding and taking away 1.5 * 2^23, in loops without branches.
  for (int j = 0; j < 32; ++j) {
    float* sum = sums[j];
    for (int l = 0; l < kLanes; ++l) sum[l] = sum[l] > -kPeak ? sum[l] : -kPeak;
    for (int l = 0; l < kLanes; ++l) sum[l] = sum[l] < kPeak ? sum[l] : kPeak;
    for (int l = 0; l < kLanes; ++l) sum[l] = (sum[l] + 12582912.0f) - 12582912.0f;
  }
  for (int s = 0; s < kSlots; ++s) {
    std::int32_t* target = out + static_cast<std::ptrdiff_t>(s) * 32 * stride;
    for (int j = 0; j < 32; ++j) target[static_cast<std::ptrdiff_t>(j) * stride] = static_cast<std::int32_t>(sums[j][s]);
  }
  for (int u = 0; u < kSubbands; ++u) std::memcpy(history[u], history[u] + kSlots, kHistory * sizeof(float));
}

}  // namespace

ChannelSynthesis::ChannelSynthesis() { Reset(); }

void ChannelSynthesis::Reset() {
  std::memset(overlap_, 0, sizeof overlap_);
  std::memset(history_, 0, sizeof history_);
}

void ChannelSynthesis::Granule(const GranuleSpectrum& spectrum, std::int32_t* out, int stride) {
  Synthesize(spectrum, overlap_, history_, out, stride);
}

}  // namespace sonavel::mp3
