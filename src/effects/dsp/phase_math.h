#pragma once
// The per-bin arithmetic of the phase vocoder in a fast form: atan2, sin and cos from our
// own polynomials in loops the compiler vectorises, with AVX2 and FMA when the processor
// has them (chosen at run time) and a portable version otherwise.
//
// Error bound: the polynomials are Taylor series cut where the first omitted term is below
// 2e-17 of the result; with the argument reductions, atan2 is within 1e-15 rad of the exact
// angle, and sin and cos within 1e-15 for |x| < 1e6 (beyond that within a few units in
// the last place of x, the precision the argument itself has). A store sample resolves
// 2^-19 of full scale, so the output of the vocoder moves by far less than one unit.

#include <cstdint>

namespace sonavel {

// Whether the vocoder uses the C library's functions, one bin at a time (the reference
// the tests compare with), or these.
enum class StretchPrecision { kExact, kFast };

// One frame's analysis for bins 0..count−1: magnitude and phase of (real, imaginary); the
// running phase moves on by the deviation from the bin's own advance bin_step × h,
// wrapped into ±π; the synthesis phase is bin_step × o + scale × running + start. The
// magnitude is computed exactly as sqrt(real² + imaginary²), so the spectral peaks found
// from it are the same as on the exact path.
struct BinAnalysis {
  const double* real;
  const double* imaginary;
  const double* bin_step;
  const double* start;
  double* running;
  double* magnitude;
  double* angle;
  double* synthesis;
  double h;
  double o;
  double scale;
};
void AnalyseBinsFast(const BinAnalysis& bins, std::int32_t count);

// real = magnitude × cos(phase), imaginary = magnitude × sin(phase) for count bins.
void PolarToRectangularFast(const double* magnitude, const double* phase, double* real, double* imaginary,
                            std::int32_t count);

// The fast forms one value at a time, for tests of their error bound.
double FastAtan2(double y, double x);
void FastSinCos(double x, double* sine, double* cosine);

}  // namespace sonavel
