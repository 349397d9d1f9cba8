#include "effects/dsp/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <type_traits>
#include <utility>

// The butterflies are written once over vectors (GCC's vector extension) and compiled
// twice: on pairs of doubles as portable code, and on quads inside functions for AVX2 and
// FMA, chosen at run time (no IFUNC, which the thread sanitizer cannot start with). They
// are always inlined so that each copy is compiled for its caller's instructions; no
// function takes or returns a vector by value, whose passing would depend on those
// instructions.
#if defined(__x86_64__) && defined(__GNUC__)
#define SONAVEL_FFT_AVX2 1
#endif

namespace sonavel {
namespace {

typedef double Pair __attribute__((vector_size(16)));
typedef double Quad __attribute__((vector_size(32)));
// The same at the address of any double.
typedef double UnalignedPair __attribute__((vector_size(16), aligned(8), may_alias));
typedef double UnalignedQuad __attribute__((vector_size(32), aligned(8), may_alias));
typedef std::int64_t QuadIndex __attribute__((vector_size(32)));

// The loops are templates over their lanes: two or four values at a time, or one for the
// short runs of the smallest sizes.
template <class V>
struct Lanes;
template <>
struct Lanes<double> {
  static constexpr int kWidth = 1;
  using Memory = double;
};
template <>
struct Lanes<Pair> {
  static constexpr int kWidth = 2;
  using Memory = UnalignedPair;
};
template <>
struct Lanes<Quad> {
  static constexpr int kWidth = 4;
  using Memory = UnalignedQuad;
};

template <class V>
[[gnu::always_inline]] inline typename Lanes<V>::Memory& At(double* p) {
  return *reinterpret_cast<typename Lanes<V>::Memory*>(p);
}

template <class V>
[[gnu::always_inline]] inline const typename Lanes<V>::Memory& At(const double* p) {
  return *reinterpret_cast<const typename Lanes<V>::Memory*>(p);
}

// (re + i im) times e^(−iθ) = c − i s forward, e^(+iθ) = c + i s inverse.
template <bool kInverse, class V>
[[gnu::always_inline]] inline void Rotate(V& re, V& im, const double* c, const double* s) {
  const V cos = At<V>(c);
  const V sin = At<V>(s);
  const V r = re;
  if constexpr (kInverse) {
    re = r * cos - im * sin;
    im = im * cos + r * sin;
  } else {
    re = r * cos + im * sin;
    im = im * cos - r * sin;
  }
}

// One level of decimation in frequency on the whole array: sums into the first half,
// differences times e^(∓2πi j / 2 half) into the second.
template <bool kInverse, class V>
[[gnu::always_inline]] inline void Radix2Stage(double* re, double* im, std::int32_t half,
                                               const double* cos, const double* sin) {
  for (std::int32_t j = 0; j < half; j += Lanes<V>::kWidth) {
    const V ar = At<V>(re + j);
    const V ai = At<V>(im + j);
    const V br = At<V>(re + half + j);
    const V bi = At<V>(im + half + j);
    V dr = ar - br;
    V di = ai - bi;
    At<V>(re + j) = ar + br;
    At<V>(im + j) = ai + bi;
    Rotate<kInverse>(dr, di, cos + j, sin + j);
    At<V>(re + half + j) = dr;
    At<V>(im + half + j) = di;
  }
}

// Two levels of decimation in frequency on every block of 4q values, with the twiddles of
// AppendRadix4Twiddles: the quarters a, b, c, d of a block become, for j below q and
// w = e^(∓2πi / 4q),
//   y0 = (a + c) + (b + d)           y2 = ((a + c) − (b + d)) w^2j
//   y1 = ((a − c) ∓ i (b − d)) w^j   y3 = ((a − c) ± i (b − d)) w^3j
// stored as quarters y0 y1 y2 y3 (base-4 digit-reversed order in the end) or, with
// `bit_reversed`, y0 y2 y1 y3: the order two radix-2 levels leave.
template <bool kInverse, class V>
[[gnu::always_inline]] inline void Radix4Stage(double* re, double* im, std::int32_t n,
                                               std::int32_t q, const double* twiddles,
                                               bool bit_reversed) {
  const double* c1 = twiddles;
  const double* s1 = c1 + q;
  const double* c2 = s1 + q;
  const double* s2 = c2 + q;
  const double* c3 = s2 + q;
  const double* s3 = c3 + q;
  const std::int32_t y1_at = bit_reversed ? 2 * q : q;
  const std::int32_t y2_at = bit_reversed ? q : 2 * q;
  for (std::int32_t start = 0; start < n; start += 4 * q) {
    double* r = re + start;
    double* i = im + start;
    for (std::int32_t j = 0; j < q; j += Lanes<V>::kWidth) {
      const V ar = At<V>(r + j);
      const V ai = At<V>(i + j);
      const V br = At<V>(r + q + j);
      const V bi = At<V>(i + q + j);
      const V cr = At<V>(r + 2 * q + j);
      const V ci = At<V>(i + 2 * q + j);
      const V dr = At<V>(r + 3 * q + j);
      const V di = At<V>(i + 3 * q + j);
      const V t0r = ar + cr;
      const V t0i = ai + ci;
      const V t1r = ar - cr;
      const V t1i = ai - ci;
      const V t2r = br + dr;
      const V t2i = bi + di;
      // ∓i (b − d)
      const V t3r = kInverse ? di - bi : bi - di;
      const V t3i = kInverse ? br - dr : dr - br;
      At<V>(r + j) = t0r + t2r;
      At<V>(i + j) = t0i + t2i;
      V y1r = t1r + t3r;
      V y1i = t1i + t3i;
      Rotate<kInverse>(y1r, y1i, c1 + j, s1 + j);
      At<V>(r + y1_at + j) = y1r;
      At<V>(i + y1_at + j) = y1i;
      V y2r = t0r - t2r;
      V y2i = t0i - t2i;
      Rotate<kInverse>(y2r, y2i, c2 + j, s2 + j);
      At<V>(r + y2_at + j) = y2r;
      At<V>(i + y2_at + j) = y2i;
      V y3r = t1r - t3r;
      V y3i = t1i - t3i;
      Rotate<kInverse>(y3r, y3i, c3 + j, s3 + j);
      At<V>(r + 3 * q + j) = y3r;
      At<V>(i + 3 * q + j) = y3i;
    }
  }
}

// `out` takes the lanes of (a, b) the indexes name: 0–3 from a, 4–7 from b.
template <int kI0, int kI1, int kI2, int kI3>
[[gnu::always_inline]] inline void Pick(const Quad& a, const Quad& b, Quad& out) {
#if defined(__clang__)
  out = __builtin_shufflevector(a, b, kI0, kI1, kI2, kI3);
#else
  out = __builtin_shuffle(a, b, QuadIndex{kI0, kI1, kI2, kI3});
#endif
}

// Rows to columns of a 4 × 4 block.
[[gnu::always_inline]] inline void Transpose(Quad (&m)[4]) {
  Quad t0, t1, t2, t3;
  Pick<0, 4, 2, 6>(m[0], m[1], t0);  // m00 m10 m02 m12
  Pick<1, 5, 3, 7>(m[0], m[1], t1);  // m01 m11 m03 m13
  Pick<0, 4, 2, 6>(m[2], m[3], t2);  // m20 m30 m22 m32
  Pick<1, 5, 3, 7>(m[2], m[3], t3);  // m21 m31 m23 m33
  Pick<0, 1, 4, 5>(t0, t2, m[0]);
  Pick<0, 1, 4, 5>(t1, t3, m[1]);
  Pick<2, 3, 6, 7>(t0, t2, m[2]);
  Pick<2, 3, 6, 7>(t1, t3, m[3]);
}

// The last pass works on index triples (h, m, l): the two high bits h, the middle bits m
// and the two low bits l of i = h × N/4 + 4m + l. Its 4-point transforms run over l, and
// the bit-reversal permutation then sends (h, m, l) to (rev l, rev m, rev h), so the 16
// values of one m fill exactly the 16 places of rev m.
//
// For the 16 values at `re`, `im` + h × quarter + l (one m): their 4-point transforms,
// scaled, as they lie after the permutation: row f (the frequency) at f × quarter, lane
// rev h.
template <bool kInverse>
[[gnu::always_inline]] inline void LastLevels(const double* re, const double* im,
                                              std::int32_t quarter, double scale, Quad (&yr)[4],
                                              Quad (&yi)[4]) {
  // Row p holds h = rev p, so that after the transposition lane p does.
  static constexpr int kRow[4] = {0, 2, 1, 3};
  Quad xr[4];
  Quad xi[4];
  for (int p = 0; p < 4; ++p) {
    xr[p] = At<Quad>(re + kRow[p] * quarter);
    xi[p] = At<Quad>(im + kRow[p] * quarter);
  }
  Transpose(xr);
  Transpose(xi);
  const Quad s02r = xr[0] + xr[2];
  const Quad s02i = xi[0] + xi[2];
  const Quad d02r = xr[0] - xr[2];
  const Quad d02i = xi[0] - xi[2];
  const Quad s13r = xr[1] + xr[3];
  const Quad s13i = xi[1] + xi[3];
  // ∓i (x1 − x3)
  const Quad t13r = kInverse ? xi[3] - xi[1] : xi[1] - xi[3];
  const Quad t13i = kInverse ? xr[1] - xr[3] : xr[3] - xr[1];
  yr[0] = (s02r + s13r) * scale;
  yi[0] = (s02i + s13i) * scale;
  yr[1] = (d02r + t13r) * scale;
  yi[1] = (d02i + t13i) * scale;
  yr[2] = (s02r - s13r) * scale;
  yi[2] = (s02i - s13i) * scale;
  yr[3] = (d02r - t13r) * scale;
  yi[3] = (d02i - t13i) * scale;
}

// The same one value at a time, for the portable code: there the shuffles of the
// transposition cost more than they save.
struct Row {
  double lane[4];
};

template <bool kInverse>
[[gnu::always_inline]] inline void LastLevels(const double* re, const double* im,
                                              std::int32_t quarter, double scale, Row (&yr)[4],
                                              Row (&yi)[4]) {
  static constexpr int kReversed[4] = {0, 2, 1, 3};
  for (int h = 0; h < 4; ++h) {
    const double* xr = re + h * quarter;
    const double* xi = im + h * quarter;
    const double s02r = xr[0] + xr[2];
    const double s02i = xi[0] + xi[2];
    const double d02r = xr[0] - xr[2];
    const double d02i = xi[0] - xi[2];
    const double s13r = xr[1] + xr[3];
    const double s13i = xi[1] + xi[3];
    const double t13r = kInverse ? xi[3] - xi[1] : xi[1] - xi[3];
    const double t13i = kInverse ? xr[1] - xr[3] : xr[3] - xr[1];
    const int p = kReversed[h];
    yr[0].lane[p] = (s02r + s13r) * scale;
    yi[0].lane[p] = (s02i + s13i) * scale;
    yr[1].lane[p] = (d02r + t13r) * scale;
    yi[1].lane[p] = (d02i + t13i) * scale;
    yr[2].lane[p] = (s02r - s13r) * scale;
    yi[2].lane[p] = (s02i - s13i) * scale;
    yr[3].lane[p] = (d02r - t13r) * scale;
    yi[3].lane[p] = (d02i - t13i) * scale;
  }
}

[[gnu::always_inline]] inline void StoreRow(double* at, const Quad& row) {
  At<Quad>(at) = row;
}

[[gnu::always_inline]] inline void StoreRow(double* at, const Row& row) {
  for (int p = 0; p < 4; ++p) at[p] = row.lane[p];
}

// All groups, each with its mirror; `R` is Quad or Row.
template <bool kInverse, class R>
[[gnu::always_inline]] inline void LastLevelsAndPermutation(double* re, double* im, std::int32_t n,
                                                            const std::int32_t* reversal,
                                                            double scale) {
  const std::int32_t quarter = n / 4;
  const auto store = [&](std::int32_t m, const R(&yr)[4], const R(&yi)[4]) {
    for (int f = 0; f < 4; ++f) {
      StoreRow(re + f * quarter + 4 * m, yr[f]);
      StoreRow(im + f * quarter + 4 * m, yi[f]);
    }
  };
  for (std::int32_t m = 0; m < n / 16; ++m) {
    // Index 4m is (0, m, 0); its reversal (0, rev m, 0).
    const std::int32_t mirror = reversal[4 * m] >> 2;
    if (mirror < m) continue;  // done together with its mirror
    R yr[4];
    R yi[4];
    LastLevels<kInverse>(re + 4 * m, im + 4 * m, quarter, scale, yr, yi);
    if (mirror != m) {
      R zr[4];
      R zi[4];
      LastLevels<kInverse>(re + 4 * mirror, im + 4 * mirror, quarter, scale, zr, zi);
      store(m, zr, zi);
    }
    store(mirror, yr, yi);
  }
}

// A plan's tables as the loops read them.
struct Tables {
  int order;
  std::int32_t size;
  const double* cos;
  const double* sin;
  const double* twiddles;
  const std::int32_t* reversal;
};

// The levels the stages do before the last pass: all of them below order 4, where the
// permutation runs on its own.
int StageLevels(int order) {
  return order >= 4 ? order - 2 : order;
}

// The whole transform with the stages on vectors V, Pair or Quad.
template <bool kInverse, class V>
[[gnu::always_inline]] inline void Transform(const Tables& plan, double* re, double* im,
                                             double scale) {
  constexpr int kWidth = Lanes<V>::kWidth;
  const std::int32_t n = plan.size;
  int levels = StageLevels(plan.order);
  std::int32_t span = n;
  if (levels % 2 == 1) {
    if (span / 2 >= kWidth) {
      Radix2Stage<kInverse, V>(re, im, span / 2, plan.cos, plan.sin);
    } else {
      Radix2Stage<kInverse, double>(re, im, span / 2, plan.cos, plan.sin);
    }
    span /= 2;
    --levels;
  }
  const double* twiddles = plan.twiddles;
  for (; levels > 0; levels -= 2, span /= 4) {
    const std::int32_t q = span / 4;
    if (q >= kWidth) {
      Radix4Stage<kInverse, V>(re, im, n, q, twiddles, true);
    } else {
      Radix4Stage<kInverse, double>(re, im, n, q, twiddles, true);
    }
    twiddles += 6 * q;
  }
  if (plan.order >= 4) {
    LastLevelsAndPermutation<kInverse, std::conditional_t<kWidth == 4, Quad, Row>>(
        re, im, n, plan.reversal, scale);
    return;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t r = plan.reversal[i];
    if (i < r) {
      std::swap(re[i], re[r]);
      std::swap(im[i], im[r]);
    }
  }
  for (std::int32_t i = 0; i < n; ++i) {
    re[i] *= scale;
    im[i] *= scale;
  }
}

template <class V>
[[gnu::always_inline]] inline void UnorderedForward(double* re, double* im, std::int32_t n,
                                                    const double* twiddles) {
  for (std::int32_t span = n; span >= 4; span /= 4) {
    const std::int32_t q = span / 4;
    if (q >= Lanes<V>::kWidth) {
      Radix4Stage<false, V>(re, im, n, q, twiddles, false);
    } else {
      Radix4Stage<false, double>(re, im, n, q, twiddles, false);
    }
    twiddles += 6 * q;
  }
}

// The two compilations of the loops above.
void TransformPortable(const Tables& plan, double* re, double* im, bool inverse, double scale) {
  if (inverse) {
    Transform<true, Pair>(plan, re, im, scale);
  } else {
    Transform<false, Pair>(plan, re, im, scale);
  }
}

void UnorderedForwardPortable(double* re, double* im, std::int32_t n, const double* twiddles) {
  UnorderedForward<Pair>(re, im, n, twiddles);
}

#ifdef SONAVEL_FFT_AVX2
__attribute__((target("avx2,fma"))) void TransformAvx2(const Tables& plan, double* re, double* im,
                                                       bool inverse, double scale) {
  if (inverse) {
    Transform<true, Quad>(plan, re, im, scale);
  } else {
    Transform<false, Quad>(plan, re, im, scale);
  }
}

__attribute__((target("avx2,fma"))) void UnorderedForwardAvx2(double* re, double* im,
                                                              std::int32_t n,
                                                              const double* twiddles) {
  UnorderedForward<Quad>(re, im, n, twiddles);
}
#else
constexpr auto TransformAvx2 = TransformPortable;
constexpr auto UnorderedForwardAvx2 = UnorderedForwardPortable;
#endif

bool Avx2Available() {
#ifdef SONAVEL_FFT_AVX2
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

// cos(2π i / n) and sin(2π i / n) for i = 0..n−1, exact at the quarter points so that the
// trivial twiddles add no rounding.
void UnitCircle(std::int32_t n, std::vector<double>& cos, std::vector<double>& sin) {
  cos.resize(n);
  sin.resize(n);
  for (std::int32_t i = 0; i < n; ++i) {
    const double angle = 2 * std::numbers::pi * i / n;
    cos[i] = std::cos(angle);
    sin[i] = std::sin(angle);
  }
  for (int quarter = 0; quarter < 4 && n >= 4; ++quarter) {
    static constexpr double kCos[4] = {1, 0, -1, 0};
    static constexpr double kSin[4] = {0, 1, 0, -1};
    cos[quarter * (n / 4)] = kCos[quarter];
    sin[quarter * (n / 4)] = kSin[quarter];
  }
}

// The twiddles Radix4Stage reads for blocks of `span`, from the unit circle of n points:
// for j below span / 4, cos then sin of 2π kj / span for k = 1, 2, 3, six runs of span / 4.
void AppendRadix4Twiddles(std::int32_t span, const std::vector<double>& cos,
                          const std::vector<double>& sin, std::vector<double>& out) {
  const std::int32_t stride = static_cast<std::int32_t>(cos.size()) / span;
  for (std::int32_t k = 1; k <= 3; ++k) {
    for (const std::vector<double>* table : {&cos, &sin})
      for (std::int32_t j = 0; j < span / 4; ++j) out.push_back((*table)[k * j * stride]);
  }
}

}  // namespace

FftPlan::FftPlan(int order, Code code)
    : order_(std::clamp(order, 0, kMaxOrder)),
      size_(std::int32_t{1} << order_),
      avx2_(code == Code::kFastest && Avx2Available()) {
  bit_reversal_.resize(size_);
  for (std::int32_t i = 0; i < size_; ++i) {
    std::int32_t reversed = 0;
    for (int bit = 0; bit < order_; ++bit)
      if ((i >> bit) & 1) reversed |= std::int32_t{1} << (order_ - 1 - bit);
    bit_reversal_[i] = reversed;
  }
  UnitCircle(size_, cos_, sin_);
  // A radix-2 stage on the whole array first when the levels are odd, then radix-4 stages.
  const int levels = StageLevels(order_);
  for (std::int32_t span = size_ >> (levels % 2), level = levels & ~1; level > 0;
       level -= 2, span /= 4)
    AppendRadix4Twiddles(span, cos_, sin_, twiddles_);
}

void FftPlan::Forward(double* real, double* imaginary) const {
  const Tables tables{
      order_, size_, cos_.data(), sin_.data(), twiddles_.data(), bit_reversal_.data()};
  (avx2_ ? TransformAvx2 : TransformPortable)(tables, real, imaginary, false, 1.0 / size_);
}

void FftPlan::Inverse(double* real, double* imaginary) const {
  const Tables tables{
      order_, size_, cos_.data(), sin_.data(), twiddles_.data(), bit_reversal_.data()};
  (avx2_ ? TransformAvx2 : TransformPortable)(tables, real, imaginary, true, 1.0);
}

RealFftPlan::RealFftPlan(int order, FftPlan::Code code)
    : half_(std::clamp(order, 1, FftPlan::kMaxOrder) - 1, code) {
  const std::int32_t n = size();
  UnitCircle(n, cos_, sin_);
  cos_.resize(n / 4 + 1);
  sin_.resize(n / 4 + 1);
}

// With z = x[2n] + i x[2n + 1] and its M-point spectrum Z (M = N / 2), the spectra of the
// even and the odd values are E[k] = (Z[k] + Z*[M − k]) / 2 and O[k] = (Z[k] − Z*[M − k]) / 2i,
// and X[k] = E[k] + w^k O[k], X[M − k] = (E[k] − w^k O[k])* with w = e^(−2πi / N).
void RealFftPlan::Forward(const double* samples, double* real, double* imaginary) const {
  const std::int32_t m = half_.size();
  for (std::int32_t i = 0; i < m; ++i) {
    real[i] = samples[2 * i];
    imaginary[i] = samples[2 * i + 1];
  }
  half_.Forward(real, imaginary);  // Z / M, so X / N is half of E + w^k O from it
  const double z0r = real[0];
  const double z0i = imaginary[0];
  real[0] = 0.5 * (z0r + z0i);
  imaginary[0] = 0;
  real[m] = 0.5 * (z0r - z0i);
  imaginary[m] = 0;
  for (std::int32_t k = 1; k <= m / 2; ++k) {
    const std::int32_t j = m - k;
    const double even_r = 0.5 * (real[k] + real[j]);
    const double even_i = 0.5 * (imaginary[k] - imaginary[j]);
    const double odd_r = 0.5 * (imaginary[k] + imaginary[j]);
    const double odd_i = 0.5 * (real[j] - real[k]);
    const double w_odd_r = odd_r * cos_[k] + odd_i * sin_[k];
    const double w_odd_i = odd_i * cos_[k] - odd_r * sin_[k];
    real[k] = 0.5 * (even_r + w_odd_r);
    imaginary[k] = 0.5 * (even_i + w_odd_i);
    real[j] = 0.5 * (even_r - w_odd_r);
    imaginary[j] = 0.5 * (w_odd_i - even_i);
  }
}

// The steps of Forward undone: Z[k] = 2E[k] + 2i O[k] with 2E[k] = X[k] + X*[M − k] and
// 2O[k] = (X[k] − X*[M − k]) w^−k, then the M-point inverse gives x[2n] + i x[2n + 1].
void RealFftPlan::Inverse(double* real, double* imaginary, double* samples) const {
  const std::int32_t m = half_.size();
  const double x0 = real[0];
  const double xm = real[m];
  real[0] = x0 + xm;
  imaginary[0] = x0 - xm;
  for (std::int32_t k = 1; k <= m / 2; ++k) {
    const std::int32_t j = m - k;
    const double even_r = real[k] + real[j];
    const double even_i = imaginary[k] - imaginary[j];
    const double diff_r = real[k] - real[j];
    const double diff_i = imaginary[k] + imaginary[j];
    const double odd_r = diff_r * cos_[k] - diff_i * sin_[k];
    const double odd_i = diff_r * sin_[k] + diff_i * cos_[k];
    real[k] = even_r - odd_i;
    imaginary[k] = even_i + odd_r;
    real[j] = even_r + odd_i;
    imaginary[j] = odd_r - even_i;
  }
  half_.Inverse(real, imaginary);
  for (std::int32_t i = 0; i < m; ++i) {
    samples[2 * i] = real[i];
    samples[2 * i + 1] = imaginary[i];
  }
}

UnorderedFft::UnorderedFft(int order) : avx2_(Avx2Available()) {
  const int even = std::clamp(order, 0, FftPlan::kMaxOrder) & ~1;
  size_ = std::int32_t{1} << even;
  std::vector<double> cos;
  std::vector<double> sin;
  UnitCircle(size_, cos, sin);
  for (std::int32_t span = size_; span >= 4; span >>= 2)
    AppendRadix4Twiddles(span, cos, sin, twiddles_);
}

// Decimation in frequency: each block of `span` becomes its four interleaved sub-spectra,
// each a quarter span long, twiddled for the next stage.
void UnorderedFft::Forward(double* re, double* im) const {
  (avx2_ ? UnorderedForwardAvx2 : UnorderedForwardPortable)(re, im, size_, twiddles_.data());
}
// The forward stages undone in reverse order (times 4 each): decimation in time from the
// digit-reversed spectrum to natural order.
void UnorderedFft::Inverse(double* re, double* im) const {
  const double* twiddle = twiddles_.data() + twiddles_.size();
  for (std::int32_t span = 4; span <= size_; span <<= 2) {
    const std::int32_t q = span / 4;
    twiddle -= 6 * q;
    const double* c1 = twiddle;
    const double* s1 = c1 + q;
    const double* c2 = s1 + q;
    const double* s2 = c2 + q;
    const double* c3 = s2 + q;
    const double* s3 = c3 + q;
    for (std::int32_t start = 0; start < size_; start += span) {
      double* ar = re + start;
      double* ai = im + start;
      double* br = ar + q;
      double* bi = ai + q;
      double* cr = br + q;
      double* ci = bi + q;
      double* dr = cr + q;
      double* di = ci + q;
      for (std::int32_t j = 0; j < q; ++j) {
        // Multiplied by e^(+iθ) = cos θ + i sin θ.
        const double u1r = br[j] * c1[j] - bi[j] * s1[j], u1i = bi[j] * c1[j] + br[j] * s1[j];
        const double u2r = cr[j] * c2[j] - ci[j] * s2[j], u2i = ci[j] * c2[j] + cr[j] * s2[j];
        const double u3r = dr[j] * c3[j] - di[j] * s3[j], u3i = di[j] * c3[j] + dr[j] * s3[j];
        const double t0r = ar[j] + u2r, t0i = ai[j] + u2i;
        const double t2r = ar[j] - u2r, t2i = ai[j] - u2i;
        const double t1r = u1r + u3r, t1i = u1i + u3i;
        // i (u1 − u3)
        const double t3r = u3i - u1i, t3i = u1r - u3r;
        ar[j] = t0r + t1r;
        ai[j] = t0i + t1i;
        cr[j] = t0r - t1r;
        ci[j] = t0i - t1i;
        br[j] = t2r + t3r;
        bi[j] = t2i + t3i;
        dr[j] = t2r - t3r;
        di[j] = t2i - t3i;
      }
    }
  }
}

}  // namespace sonavel
