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

UnorderedFft::UnorderedFft(int order) {
  const int even = std::clamp(order, 0, FftPlan::kMaxOrder) & ~1;
  size_ = std::int32_t{1} << even;
  for (std::int32_t span = size_; span >= 4; span >>= 2) {
    const std::int32_t quarter = span / 4;
    for (int multiple = 1; multiple <= 3; ++multiple) {
      for (std::int32_t j = 0; j < quarter; ++j)
        twiddles_.push_back(std::cos(2 * std::numbers::pi * multiple * j / span));
      for (std::int32_t j = 0; j < quarter; ++j)
        twiddles_.push_back(std::sin(2 * std::numbers::pi * multiple * j / span));
    }
  }
}

// Decimation in frequency: each block of `span` becomes its four interleaved sub-spectra,
// each a quarter span long, twiddled for the next stage.
void UnorderedFft::Forward(double* re, double* im) const {
  const double* twiddle = twiddles_.data();
  for (std::int32_t span = size_; span >= 4; span >>= 2) {
    const std::int32_t q = span / 4;
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
        const double t0r = ar[j] + cr[j], t0i = ai[j] + ci[j];
        const double t1r = ar[j] - cr[j], t1i = ai[j] - ci[j];
        const double t2r = br[j] + dr[j], t2i = bi[j] + di[j];
        // −i (b − d)
        const double t3r = bi[j] - di[j], t3i = dr[j] - br[j];
        ar[j] = t0r + t2r;
        ai[j] = t0i + t2i;
        // Multiplied by e^(−iθ) = cos θ − i sin θ.
        const double y1r = t1r + t3r, y1i = t1i + t3i;
        br[j] = y1r * c1[j] + y1i * s1[j];
        bi[j] = y1i * c1[j] - y1r * s1[j];
        const double y2r = t0r - t2r, y2i = t0i - t2i;
        cr[j] = y2r * c2[j] + y2i * s2[j];
        ci[j] = y2i * c2[j] - y2r * s2[j];
        const double y3r = t1r - t3r, y3i = t1i - t3i;
        dr[j] = y3r * c3[j] + y3i * s3[j];
        di[j] = y3i * c3[j] - y3r * s3[j];
      }
    }
    twiddle += 6 * q;
  }
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
