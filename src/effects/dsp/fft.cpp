#include "effects/dsp/fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace sonavel {

FftPlan::FftPlan(int order)
    : order_(std::clamp(order, 0, kMaxOrder)), size_(std::int32_t{1} << order_) {
  bit_reversal_.resize(size_);
  cos_.resize(size_);
  sin_.resize(size_);
  for (std::int32_t i = 0; i < size_; ++i) {
    std::int32_t reversed = 0;
    for (int bit = 0; bit < order_; ++bit)
      if ((i >> bit) & 1) reversed |= std::int32_t{1} << (order_ - 1 - bit);
    bit_reversal_[i] = reversed;
    const double angle = 2 * std::numbers::pi * i / size_;
    cos_[i] = std::cos(angle);
    sin_[i] = std::sin(angle);
  }
  // Exact values at the quarter points, so that the trivial twiddles add no rounding.
  for (int quarter = 0; quarter < 4 && size_ >= 4; ++quarter) {
    static constexpr double kCos[4] = {1, 0, -1, 0};
    static constexpr double kSin[4] = {0, 1, 0, -1};
    cos_[quarter * (size_ / 4)] = kCos[quarter];
    sin_[quarter * (size_ / 4)] = kSin[quarter];
  }
  for (std::int32_t span = size_; span >= 4; span >>= 1) {
    const std::int32_t stride = size_ / span;
    for (std::int32_t j = 0; j < span / 2; ++j) {
      stage_cos_.push_back(cos_[j * stride]);
      stage_sin_.push_back(sin_[j * stride]);
    }
  }
}

void FftPlan::Forward(double* real, double* imaginary) const {
  Transform(real, imaginary, -1.0, 1.0 / size_);
}

void FftPlan::Inverse(double* real, double* imaginary) const {
  Transform(real, imaginary, 1.0, 1.0);
}

void FftPlan::Transform(double* real, double* imaginary, double sign, double scale) const {
  const std::int32_t n = size_;
  const double* cos_table = stage_cos_.data();
  const double* sin_table = stage_sin_.data();

  // Decimation in frequency: each stage splits blocks of `span` into sums (first half)
  // and twiddled differences (second half).
  for (std::int32_t span = n; span >= 4; span >>= 1) {
    const std::int32_t half = span >> 1;
    for (std::int32_t start = 0; start < n; start += span) {
      double* re_a = real + start;
      double* im_a = imaginary + start;
      double* re_b = re_a + half;
      double* im_b = im_a + half;
      for (std::int32_t j = 0; j < half; ++j) {
        const double c = cos_table[j];
        const double s = sign * sin_table[j];
        const double dr = re_a[j] - re_b[j];
        const double di = im_a[j] - im_b[j];
        re_a[j] += re_b[j];
        im_a[j] += im_b[j];
        re_b[j] = dr * c - di * s;
        im_b[j] = dr * s + di * c;
      }
    }
    cos_table += half;
    sin_table += half;
  }
  // The last stage has only the twiddle 1.
  if (n >= 2) {
    for (std::int32_t a = 0; a < n; a += 2) {
      const double dr = real[a] - real[a + 1];
      const double di = imaginary[a] - imaginary[a + 1];
      real[a] += real[a + 1];
      imaginary[a] += imaginary[a + 1];
      real[a + 1] = dr;
      imaginary[a + 1] = di;
    }
  }

  // Back to natural order, scaling on the way.
  const std::int32_t* reversal = bit_reversal_.data();
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t r = reversal[i];
    if (i < r) {
      std::swap(real[i], real[r]);
      std::swap(imaginary[i], imaginary[r]);
      if (scale != 1.0) {
        real[i] *= scale;
        imaginary[i] *= scale;
        real[r] *= scale;
        imaginary[r] *= scale;
      }
    } else if (i == r && scale != 1.0) {
      real[i] *= scale;
      imaginary[i] *= scale;
    }
  }
}

}  // namespace sonavel
