#pragma once
// The plain radix-2 transform FftPlan ran before its radix-4 stages, kept as the
// reference its results are held to (and timed against): the same definition and
// scaling, one level per pass over the array, then the bit-reversal permutation.

#include <cstdint>
#include <utility>

#include "effects/dsp/fft.h"

namespace sonavel::testing {

inline void Radix2Fft(const FftPlan& plan, double* re, double* im, bool inverse) {
  const std::int32_t n = plan.size();
  const double sign = inverse ? 1.0 : -1.0;
  const double* cos = plan.cos_table().data();
  const double* sin = plan.sin_table().data();
  for (std::int32_t span = n; span >= 2; span >>= 1) {
    const std::int32_t half = span >> 1;
    const std::int32_t stride = n / span;
    for (std::int32_t start = 0; start < n; start += span) {
      for (std::int32_t j = 0; j < half; ++j) {
        const double c = cos[j * stride];
        const double s = sign * sin[j * stride];
        const std::int32_t a = start + j;
        const std::int32_t b = a + half;
        const double dr = re[a] - re[b];
        const double di = im[a] - im[b];
        re[a] += re[b];
        im[a] += im[b];
        re[b] = dr * c - di * s;
        im[b] = dr * s + di * c;
      }
    }
  }
  const double scale = inverse ? 1.0 : 1.0 / n;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t r = plan.bit_reversal()[i];
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

}  // namespace sonavel::testing
