#include "effects/dsp/phase_math.h"

#include <bit>
#include <cmath>
#include <numbers>

// This file is built without contraction into fused multiply-adds (the magnitudes and the
// phase bookkeeping must round as on the exact path) and without errno for sqrt (so that
// it vectorises); the polynomials use fused multiply-adds explicitly where the processor
// has them.

namespace sonavel {

namespace {

#define SONAVEL_INLINE inline __attribute__((always_inline))

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;
// Adding and subtracting 1.5 × 2^52 rounds a double below 2^51 in magnitude to the nearest
// integer; the sum's low mantissa bits are that integer modulo 4.
constexpr double kRounder = 0x1.8p52;
// π / 2 in two parts: the first with 33 significant bits, so that n × it is exact for
// |n| < 2^20; the second the rest (to 4e-27).
constexpr double kHalfPiHigh = 0x1.921fb544p+0;
constexpr double kHalfPiLow = 0x1.0b4611a626331p-34;
constexpr double kTanEighthPi = 0x1.a827999fcef32p-2;  // √2 − 1
// Where the reduction of atan switches its centre: tan(π / 16) and tan(3π / 16).
constexpr double kTanSixteenth = 0.198912367379658;
constexpr double kTanThreeSixteenths = 0.6681786379192989;

// Taylor coefficients: (−1)^k / (2k + 1) for atan, (−1)^k / (2k + 1)! for sin and
// (−1)^k / (2k)! for cos.
constexpr double AtanTerm(int k) { return (k % 2 ? -1.0 : 1.0) / (2 * k + 1); }
constexpr double Factorial(int n) { return n <= 1 ? 1.0 : n * Factorial(n - 1); }
constexpr double SinTerm(int k) { return (k % 2 ? -1.0 : 1.0) / Factorial(2 * k + 1); }
constexpr double CosTerm(int k) { return (k % 2 ? -1.0 : 1.0) / Factorial(2 * k); }

template <bool kFma>
SONAVEL_INLINE double Mad(double a, double b, double c) {
  if constexpr (kFma) return __builtin_fma(a, b, c);
  return a * b + c;
}

// atan of |u| ≤ tan(π / 16): terms up to u^21; the first omitted one, u^23 / 23, is below
// 1.6e-17 |u|.
template <bool kFma>
SONAVEL_INLINE double AtanSmall(double u) {
  const double z = u * u;
  double p = AtanTerm(10);
  p = Mad<kFma>(p, z, AtanTerm(9));
  p = Mad<kFma>(p, z, AtanTerm(8));
  p = Mad<kFma>(p, z, AtanTerm(7));
  p = Mad<kFma>(p, z, AtanTerm(6));
  p = Mad<kFma>(p, z, AtanTerm(5));
  p = Mad<kFma>(p, z, AtanTerm(4));
  p = Mad<kFma>(p, z, AtanTerm(3));
  p = Mad<kFma>(p, z, AtanTerm(2));
  p = Mad<kFma>(p, z, AtanTerm(1));
  return Mad<kFma>(p * z, u, u);
}

// atan2 with the C library's conventions for signed zeros, without branches: the ratio
// of the smaller to the larger magnitude in [0, 1], moved by the centre 0, tan(π / 8) or 1
// into ±tan(π / 16), then folded into the octant of (x, y).
template <bool kFma>
SONAVEL_INLINE double Atan2(double y, double x) {
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  const bool steep = ay > ax;
  const double big = steep ? ay : ax;
  const double small = steep ? ax : ay;
  // t = small / big moved by the centre c: (t − c) / (1 + c t), with one division.
  const bool upper = small > kTanThreeSixteenths * big;
  const bool middle = small > kTanSixteenth * big;
  const double centre = upper ? 1.0 : (middle ? kTanEighthPi : 0.0);
  const double base = upper ? kPi / 4 : (middle ? kPi / 8 : 0.0);
  const double divisor = Mad<kFma>(centre, small, big);
  const double u = Mad<kFma>(-centre, big, small) / (divisor > 0 ? divisor : 1.0);
  double a = base + AtanSmall<kFma>(u);
  a = steep ? kPi / 2 - a : a;
  // The sign bits through copysign, which vectorises where signbit does not.
  a = std::copysign(1.0, x) < 0 ? kPi - a : a;
  return std::copysign(a, y);
}

// sin and cos: x less the nearest multiple n of π / 2 (|r| ≤ π / 4), Taylor series up to
// r^17 and r^16 (first omitted terms below 1e-19 and 2e-18), the quadrant n mod 4.
template <bool kFma>
SONAVEL_INLINE void SinCos(double x, double& sine, double& cosine) {
  const double shifted = x * (2 / kPi) + kRounder;
  const double n = shifted - kRounder;
  const std::uint64_t quadrant = std::bit_cast<std::uint64_t>(shifted) & 3;
  const double r = Mad<kFma>(-n, kHalfPiLow, Mad<kFma>(-n, kHalfPiHigh, x));
  const double z = r * r;
  double s = SinTerm(8);
  s = Mad<kFma>(s, z, SinTerm(7));
  s = Mad<kFma>(s, z, SinTerm(6));
  s = Mad<kFma>(s, z, SinTerm(5));
  s = Mad<kFma>(s, z, SinTerm(4));
  s = Mad<kFma>(s, z, SinTerm(3));
  s = Mad<kFma>(s, z, SinTerm(2));
  s = Mad<kFma>(s, z, SinTerm(1));
  s = Mad<kFma>(s * z, r, r);
  double c = CosTerm(8);
  c = Mad<kFma>(c, z, CosTerm(7));
  c = Mad<kFma>(c, z, CosTerm(6));
  c = Mad<kFma>(c, z, CosTerm(5));
  c = Mad<kFma>(c, z, CosTerm(4));
  c = Mad<kFma>(c, z, CosTerm(3));
  c = Mad<kFma>(c, z, CosTerm(2));
  c = Mad<kFma>(c, z, CosTerm(1));
  c = Mad<kFma>(c, z, 1.0);
  // Quadrant 1 swaps the two and negates the cosine, 2 negates both, 3 both.
  const bool swap = (quadrant & 1) != 0;
  const double sine_sign = (quadrant & 2) != 0 ? -1.0 : 1.0;
  const double cosine_sign = ((quadrant + 1) & 2) != 0 ? -1.0 : 1.0;
  sine = (swap ? c : s) * sine_sign;
  cosine = (swap ? s : c) * cosine_sign;
}

// trunc for |v| < 2^51.
SONAVEL_INLINE double Truncate(double v) {
  const double nearest = (v + kRounder) - kRounder;
  const double down = v >= 0 && nearest > v ? nearest - 1 : nearest;
  return v < 0 && nearest < v ? nearest + 1 : down;
}

// The pointers are parameters (not read from the struct inside) so that the compiler
// knows they do not alias.
template <bool kFma>
SONAVEL_INLINE void AnalyseLoop(const double* __restrict real, const double* __restrict imaginary,
                                const double* __restrict bin_step, const double* __restrict start,
                                double* __restrict running, double* __restrict magnitude, double* __restrict angle,
                                double* __restrict synthesis, double h, double o, double scale, std::int32_t count) {
  for (std::int32_t j = 0; j < count; ++j) {
    const double re = real[j];
    const double im = imaginary[j];
    magnitude[j] = std::sqrt(re * re + im * im);
    const double a = Atan2<kFma>(im, re);
    angle[j] = a;
    // As on the exact path: the deviation wrapped by fmod into ±2π, then into ±π.
    double delta = a - (running[j] + bin_step[j] * h) + kPi;
    delta = delta - kTwoPi * Truncate(delta / kTwoPi);
    const double phase = running[j] + (delta >= 0 ? delta - kPi : delta + kPi);
    running[j] = phase;
    synthesis[j] = bin_step[j] * o + scale * phase + start[j];
  }
}

template <bool kFma>
SONAVEL_INLINE void PolarLoop(const double* __restrict magnitude, const double* __restrict phase,
                              double* __restrict real, double* __restrict imaginary, std::int32_t count) {
  for (std::int32_t j = 0; j < count; ++j) {
    double s;
    double c;
    SinCos<kFma>(phase[j], s, c);
    real[j] = magnitude[j] * c;
    imaginary[j] = magnitude[j] * s;
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define SONAVEL_HAVE_AVX2_PATH 1
__attribute__((target("avx2,fma"))) void AnalyseAvx2(const BinAnalysis& bins, std::int32_t count) {
  AnalyseLoop<true>(bins.real, bins.imaginary, bins.bin_step, bins.start, bins.running, bins.magnitude, bins.angle,
                    bins.synthesis, bins.h, bins.o, bins.scale, count);
}
__attribute__((target("avx2,fma"))) void PolarAvx2(const double* magnitude, const double* phase, double* real,
                                                   double* imaginary, std::int32_t count) {
  PolarLoop<true>(magnitude, phase, real, imaginary, count);
}
// Checked once; no resolver runs before the program starts (which a thread-sanitized
// program would not survive).
bool HaveAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  }();
  return have;
}
#endif

}  // namespace

void AnalyseBinsFast(const BinAnalysis& bins, std::int32_t count) {
#ifdef SONAVEL_HAVE_AVX2_PATH
  if (HaveAvx2()) return AnalyseAvx2(bins, count);
#endif
  AnalyseLoop<false>(bins.real, bins.imaginary, bins.bin_step, bins.start, bins.running, bins.magnitude,
                     bins.angle, bins.synthesis, bins.h, bins.o, bins.scale, count);
}

void PolarToRectangularFast(const double* magnitude, const double* phase, double* real, double* imaginary,
                            std::int32_t count) {
#ifdef SONAVEL_HAVE_AVX2_PATH
  if (HaveAvx2()) return PolarAvx2(magnitude, phase, real, imaginary, count);
#endif
  PolarLoop<false>(magnitude, phase, real, imaginary, count);
}

double FastAtan2(double y, double x) { return Atan2<false>(y, x); }

void FastSinCos(double x, double* sine, double* cosine) { SinCos<false>(x, *sine, *cosine); }

}  // namespace sonavel
