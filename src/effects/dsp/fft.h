#pragma once
// A complex FFT plan: the tables for one size, reused by every transform of that size.
// Transforms work in place on separate arrays of real and imaginary parts:
//
//   forward  X[k] = (1 / N) Σ x[n] e^(−2πi kn / N)
//   inverse  x[n] =         Σ X[k] e^(+2πi kn / N)
//
// so an inverse after a forward transform gives the input back. Both run radix-4
// butterflies in natural input order (decimation in frequency; one radix-2 stage first
// when the order is odd), and the last two levels together with the bit-reversal
// permutation in one pass. A plan is immutable after construction and may be shared
// between threads.
//
// The loops run on four values at a time as AVX2 and FMA instructions where the processor
// has them, elsewhere on two at a time as portable code; the two differ only in rounding
// (fused multiply-adds).

#include <cstdint>
#include <span>
#include <vector>

namespace sonavel {

class FftPlan {
 public:
  static constexpr int kMaxOrder = 20;

  // Which code runs the transforms: the fastest the processor supports, or the portable
  // one (for comparing the two).
  enum class Code { kFastest, kPortable };

  // Size N = 2^order; the order is clamped into 0..kMaxOrder.
  explicit FftPlan(int order, Code code = Code::kFastest);

  int order() const { return order_; }
  std::int32_t size() const { return size_; }
  // Whether the transforms run as AVX2 and FMA instructions.
  bool uses_avx2() const { return avx2_; }

  // Index i with its `order` low bits reversed, for i = 0..N−1.
  std::span<const std::int32_t> bit_reversal() const { return bit_reversal_; }
  // cos(2π i / N) and sin(2π i / N) for i = 0..N−1.
  std::span<const double> cos_table() const { return cos_; }
  std::span<const double> sin_table() const { return sin_; }

  // Both arrays hold size() values; the result replaces them.
  void Forward(double* real, double* imaginary) const;
  void Inverse(double* real, double* imaginary) const;

 private:
  int order_;
  std::int32_t size_;
  bool avx2_;
  std::vector<std::int32_t> bit_reversal_;
  std::vector<double> cos_;
  std::vector<double> sin_;
  // The radix-4 stages' twiddles in the order the butterflies read them (see
  // UnorderedFft::twiddles_); the same values as the tables above.
  std::vector<double> twiddles_;
};

// The FFT of N = 2^order real values through an N / 2-point FftPlan: the even values as
// real parts, the odd ones as imaginary parts, then the two spectra separated.
class RealFftPlan {
 public:
  // The order is clamped into 1..FftPlan::kMaxOrder.
  explicit RealFftPlan(int order, FftPlan::Code code = FftPlan::Code::kFastest);

  std::int32_t size() const { return 2 * half_.size(); }
  bool uses_avx2() const { return half_.uses_avx2(); }

  // samples[0..N−1] to X[0..N/2] as FftPlan::Forward defines them (scaled by 1 / N); the
  // bins above N / 2 are the conjugates of those below. `real` and `imaginary` hold
  // N / 2 + 1 values each; imaginary[0] and imaginary[N / 2] come out 0.
  void Forward(const double* samples, double* real, double* imaginary) const;
  // The inverse, unscaled as FftPlan::Inverse, from X[0..N/2] (the imaginary parts of
  // bins 0 and N / 2 are taken as 0, as a real signal has them) to samples[0..N−1].
  // `real` and `imaginary` serve as work space and are overwritten.
  void Inverse(double* real, double* imaginary, double* samples) const;

 private:
  FftPlan half_;
  // cos(2π k / N) and sin(2π k / N) for k = 0..N/4.
  std::vector<double> cos_;
  std::vector<double> sin_;
};

// A complex FFT of 4^k points for fast convolution, where the order of the bins does not
// matter: the forward transform (unscaled, X[k] = Σ x[n] e^(−2πi kn / N)) leaves the
// spectrum in base-4 digit-reversed order, and the inverse takes a spectrum in that order
// back to natural order (unscaled too, so inverse after forward gives N × the input).
// The radix-4 butterflies of FftPlan and no permutation pass.
class UnorderedFft {
 public:
  // Size N = 4^(order / 2): an odd order is lowered by one; at most FftPlan::kMaxOrder.
  explicit UnorderedFft(int order);

  std::int32_t size() const { return size_; }

  void Forward(double* real, double* imaginary) const;
  void Inverse(double* real, double* imaginary) const;

 private:
  std::int32_t size_;
  bool avx2_;
  // Per stage (span N first, down to 4), for j below a quarter span: cos and sin of
  // 2π j / span, 2π 2j / span and 2π 3j / span, each run of a quarter span side by side.
  std::vector<double> twiddles_;
};

}  // namespace sonavel
