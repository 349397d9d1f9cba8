#include "effects/resampler.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "store/vector_clones.h"

namespace sonavel {

namespace {

constexpr std::int32_t kBlock = 8192;                        // input frames per refill
constexpr std::int32_t kCapacity = 32768 + kPolyphaseTaps;   // window frames
constexpr std::int32_t kHalf = kPolyphaseTaps / 2;           // 31 frames before the centre
constexpr int kPadded = 64;                                  // taps per phase with a zero pad
constexpr std::uint32_t kNormalised = 0x7FFF;                // window samples fit 15 bits

std::int32_t ClampToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Where output frame n is centred: n × M = frame × L + phase, 0 ≤ phase < L.
struct Centre {
  std::int64_t frame;
  std::int32_t phase;
};

Centre CentreOf(std::int64_t n, PolyphaseRatio ratio) {
  const std::int64_t whole = FloorDivide(n, ratio.L);
  const std::int64_t within = n - whole * ratio.L;
  return {whole * ratio.M + within * ratio.M / ratio.L, static_cast<std::int32_t>(within * ratio.M % ratio.L)};
}

// The output frame centred on input frame `center` with `phase`: the inverse of CentreOf.
std::int32_t OutputAt(std::int64_t center, std::int32_t phase, PolyphaseRatio ratio) {
  return ClampToInt32(FloorDivide(center * ratio.L + phase, ratio.M));
}

// ceil(source length × L / M): every output frame centred inside the source.
std::int32_t ConvertedLength(std::int64_t source_length, PolyphaseRatio ratio) {
  if (source_length <= 0) return 0;
  return ClampToInt32((source_length * ratio.L + ratio.M - 1) / ratio.M);
}

// The output sample from the sums of taps 0..31 (a) and 32..62 (b): both halved, rounded
// and shifted back to the input scale by the block shift s.
inline std::int32_t Combine(std::int64_t a, std::int64_t b, int s) {
  std::int64_t sum = (a >> 1) + (b >> 1);
  if (s < 15) {
    sum = (sum + (std::int64_t{1} << (14 - s))) >> (15 - s);
  } else {
    sum *= std::int64_t{1} << (s - 15);
  }
  return ClampToInt32(sum);
}

// What one run of the kernel needs. Each product of a tap (|t| < 2^16) and a window sample
// (|x| ≤ 2^15) fits 32 bits; the 32-term sums may not for full-scale material near the
// cutoff, so they are taken in 64 bits.
struct KernelRun {
  const std::int32_t* taps;
  const std::int32_t* step;
  const std::int32_t* next;
  const std::int32_t* window;
  std::int32_t end;
  int shift;
  int channels;
  std::int32_t read;
  std::int32_t phase;
  // Interpolated taps only: L, and M = whole × L + rest.
  std::int64_t phases;
  std::int32_t whole;
  std::int64_t rest;
};

// The taps of phase j / L between prototype phases q and q + 1, where j × P = q × L + r: the
// prototype's taps (2^24 scale) weighted by w ≈ r × 2^15 / L and rounded to 2^16 scale.
// Neighbouring prototype taps differ by less than 1.4 × 2^24 / P = 2^14.5 (the steepest
// slope of the windowed sinc), so each difference times w fits 32 bits.
[[gnu::always_inline]] inline void InterpolateTaps(const std::int32_t* low, std::int32_t weight, int count,
                                                   std::int32_t* taps) {
  const std::int32_t* high = low + count;
  for (int i = 0; i < count; ++i) taps[i] = (low[i] + (((high[i] - low[i]) * weight) >> 15) + 128) >> 8;
}

// Output frames until `frames` are done or the window runs out, for one channel (kLanes 1),
// interleaved stereo against taps stored twice each (kLanes 2: t0 t0 t1 t1 ..., even lanes
// sum the left channel, odd lanes the right) or any count (kLanes 0), with the taps from the
// table or interpolated.
template <int kLanes, bool kInterpolated>
[[gnu::always_inline]] inline std::int32_t Run(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  const std::ptrdiff_t channels = kLanes == 0 ? run.channels : kLanes;
  constexpr int kStride = kLanes == 2 ? 2 * kPadded : kPadded;
  std::int32_t made = 0;
  std::int32_t read = run.read;
  std::int32_t phase = run.phase;

  // Interpolation state: phase × P = q × L + r, stepped along with the phase, and the
  // weight r × 2^15 / L as a product with the reciprocal 2^47 / L (rounded up), which stays
  // below 2^47 + L.
  alignas(32) std::int32_t interpolated[kStride];
  alignas(32) std::int32_t once[kPadded];
  std::int64_t q = 0;
  std::int64_t r = 0;
  std::int64_t q_step = 0;
  std::int64_t r_step = 0;
  std::uint64_t reciprocal = 0;
  if constexpr (kInterpolated) {
    const std::int64_t scaled = std::int64_t{phase} * kPrototypePhases;
    q = scaled / run.phases;
    r = scaled % run.phases;
    q_step = run.rest * kPrototypePhases / run.phases;
    r_step = run.rest * kPrototypePhases % run.phases;
    reciprocal = ((std::uint64_t{1} << 47) + static_cast<std::uint64_t>(run.phases) - 1) /
                 static_cast<std::uint64_t>(run.phases);
  }

  while (made < frames && read + kPolyphaseTaps <= run.end) {
    const std::int32_t* t;
    if constexpr (kInterpolated) {
      const auto weight = static_cast<std::int32_t>((static_cast<std::uint64_t>(r) * reciprocal) >> 32);
      // The prototype holds each tap once; stereo doubles them after interpolating.
      if constexpr (kLanes == 2) {
        InterpolateTaps(run.taps + q * kPadded, weight, kPadded, once);
        for (int i = 0; i < kPadded; ++i) interpolated[2 * i] = interpolated[2 * i + 1] = once[i];
      } else {
        InterpolateTaps(run.taps + q * kPadded, weight, kPadded, interpolated);
      }
      t = interpolated;
    } else {
      t = run.taps + static_cast<std::ptrdiff_t>(phase) * kStride;
    }
    const std::int32_t* x = run.window + static_cast<std::ptrdiff_t>(read) * channels;
    if constexpr (kLanes == 1) {
      std::int64_t a = 0;
      std::int64_t b = 0;
      for (int i = 0; i < 32; ++i) a += t[i] * x[i];
      for (int i = 32; i < kPadded; ++i) b += t[i] * x[i];
      out[made] = Combine(a, b, run.shift);
    } else if constexpr (kLanes == 2) {
      std::int64_t a[4] = {0, 0, 0, 0};
      std::int64_t b[4] = {0, 0, 0, 0};
      for (int i = 0; i < 64; i += 4)
        for (int lane = 0; lane < 4; ++lane) a[lane] += t[i + lane] * x[i + lane];
      for (int i = 64; i < 2 * kPadded; i += 4)
        for (int lane = 0; lane < 4; ++lane) b[lane] += t[i + lane] * x[i + lane];
      out[2 * made] = Combine(a[0] + a[2], b[0] + b[2], run.shift);
      out[2 * made + 1] = Combine(a[1] + a[3], b[1] + b[3], run.shift);
    } else {
      for (std::ptrdiff_t c = 0; c < channels; ++c) {
        std::int64_t a = 0;
        std::int64_t b = 0;
        for (int i = 0; i < 32; ++i) a += t[i] * x[i * channels + c];
        for (int i = 32; i < kPolyphaseTaps; ++i) b += t[i] * x[i * channels + c];
        out[made * channels + c] = Combine(a, b, run.shift);
      }
    }
    ++made;

    if constexpr (kInterpolated) {
      std::int64_t next = phase + run.rest;
      read += run.whole;
      q += q_step;
      r += r_step;
      if (r >= run.phases) {
        r -= run.phases;
        ++q;
      }
      if (next >= run.phases) {
        next -= run.phases;
        ++read;
        q -= kPrototypePhases;
      }
      phase = static_cast<std::int32_t>(next);
    } else {
      read += run.step[phase];
      phase = run.next[phase];
    }
  }
  run.read = read;
  run.phase = phase;
  return made;
}

SONAVEL_AVX2_CLONES std::int32_t RunMono(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  return Run<1, false>(run, out, frames);
}

SONAVEL_AVX2_CLONES std::int32_t RunStereo(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  return Run<2, false>(run, out, frames);
}

SONAVEL_AVX2_CLONES std::int32_t RunMonoInterpolated(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  return Run<1, true>(run, out, frames);
}

SONAVEL_AVX2_CLONES std::int32_t RunStereoInterpolated(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  return Run<2, true>(run, out, frames);
}

std::int32_t RunAnyChannels(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  return Run<0, false>(run, out, frames);
}

std::int32_t RunAnyChannelsInterpolated(KernelRun& run, std::int32_t* out, std::int32_t frames) {
  return Run<0, true>(run, out, frames);
}

// Rows of the windowed sinc in `scale`: row j centred on 31 + j / denominator, each tap
// rounded to the nearest integer (halves away from zero).
std::vector<std::int32_t> SincRows(std::int32_t from_rate, std::int32_t to_rate, int rows, int denominator,
                                   bool narrow, double scale) {
  const bool up = from_rate < to_rate;
  const double beta = kKaiserBeta;
  const double ratio = static_cast<double>(to_rate) / std::max(from_rate, 1);
  double cutoff = up ? 0.975 : ratio - (narrow ? 0.09375 : 0.046875);
  // Only downward ratios far outside the program's rate range push the cutoff below half
  // the target's band; keep a usable filter there. Upwards the cutoff stays put: raising
  // it would let the images of the old band through.
  if (!up) cutoff = std::max(cutoff, ratio / 2);
  const double gain = cutoff * scale / BesselI0(beta);

  std::vector<std::int32_t> table(static_cast<std::size_t>(rows) * kPolyphaseTaps);
  for (int j = 0; j < rows; ++j) {
    for (int t = 0; t < kPolyphaseTaps; ++t) {
      const double u = t - kHalf - static_cast<double>(j) / denominator;
      double tap;
      if (u == 0) {
        tap = cutoff * scale;
      } else {
        const double x = std::numbers::pi * cutoff * u;
        tap = gain * BesselI0(beta * std::sqrt(1 - u * u / (32.0 * 32.0))) * std::sin(x) / x;
      }
      table[static_cast<std::size_t>(j) * kPolyphaseTaps + t] = static_cast<std::int32_t>(std::lround(tap));
    }
  }
  return table;
}

}  // namespace

PolyphaseRatio ChoosePolyphaseRatio(std::int32_t from_rate, std::int32_t to_rate) {
  if (from_rate <= 0 || to_rate <= 0) return {1, 1};
  const std::int32_t common = std::gcd(from_rate, to_rate);
  return {to_rate / common, from_rate / common};
}

double BesselI0(double x) {
  const double y = x * x / 4;
  double term = 1;
  double sum = 1;
  for (int k = 1; k <= 6; ++k) {
    term *= y / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

namespace {

// Gives a resampler its target rate (one ≤ 0 is corrupt: 44100 with status 3) and room for
// the filter's overshoot in the peak bound; returns the ratio from the source's rate.
PolyphaseRatio TakeTargetRate(SampleSource& resampler, std::int32_t target_rate) {
  const std::int32_t from_rate = resampler.rate;
  if (target_rate > 0) {
    resampler.rate = target_rate;
  } else {
    resampler.rate = 44100;
    resampler.status = kStatusCorrupt;
  }
  if (resampler.peak_bound <= 0x100000) resampler.peak_bound *= 2;
  return ChoosePolyphaseRatio(from_rate, resampler.rate);
}

}  // namespace

std::vector<std::int32_t> PolyphaseTable(std::int32_t from_rate, std::int32_t to_rate,
                                         int phases, bool narrow) {
  phases = std::max(phases, 1);
  return SincRows(from_rate, to_rate, phases, phases, narrow, 65536);
}

Resampler::Resampler(SourceRef source, std::int32_t target_rate, bool narrow, std::size_t table_bytes)
    : FilterSource(std::move(source)), narrow_(narrow) {
  const std::int32_t from_rate = rate;
  ratio_ = TakeTargetRate(*this, target_rate);

  // A table holds L phases of 64 ints, each twice in stereo; the prototype holds each once
  // and keeps 8 more bits than the taps made from it.
  const int table_copies = channels == 2 ? 2 : 1;
  const std::uint64_t table_size =
      static_cast<std::uint64_t>(ratio_.L) * kPadded * table_copies * sizeof(std::int32_t);
  interpolated_ = table_size > table_bytes;
  const int copies = interpolated_ ? 1 : table_copies;
  tap_stride_ = kPadded * copies;
  const int rows = interpolated_ ? kPrototypePhases + 1 : ratio_.L;
  const std::vector<std::int32_t> table =
      interpolated_ ? SincRows(from_rate, rate, rows, kPrototypePhases, narrow_, 65536.0 * 256)
                    : PolyphaseTable(from_rate, rate, rows, narrow_);
  taps_.assign(static_cast<std::size_t>(rows) * tap_stride_, 0);
  for (int j = 0; j < rows; ++j)
    for (int t = 0; t < kPolyphaseTaps; ++t)
      for (int copy = 0; copy < copies; ++copy)
        taps_[static_cast<std::size_t>(j) * tap_stride_ + t * copies + copy] =
            table[static_cast<std::size_t>(j) * kPolyphaseTaps + t];

  if (!interpolated_) {
    step_.resize(ratio_.L);
    next_.resize(ratio_.L);
    for (int j = 0; j < ratio_.L; ++j) {
      step_[j] = static_cast<std::int32_t>((std::int64_t{j} + ratio_.M) / ratio_.L);
      next_[j] = static_cast<std::int32_t>((std::int64_t{j} + ratio_.M) % ratio_.L);
    }
  }

  // One spare frame behind the capacity: the zero pad tap reads it.
  window_.assign(static_cast<std::size_t>(kCapacity + 1) * channels, 0);
  Start(0, 0, false);
}

void Resampler::Fetch(std::int32_t* into, std::int32_t frames) {
  const std::int32_t zeros = static_cast<std::int32_t>(std::min<std::int64_t>(lead_zeros_, frames));
  std::fill_n(into, static_cast<std::size_t>(zeros) * channels, 0);
  lead_zeros_ -= zeros;
  if (frames > zeros) upstream->Read(into + static_cast<std::size_t>(zeros) * channels, frames - zeros);
}

void Resampler::Start(std::int64_t center, std::int32_t phase, bool seek_upstream) {
  const std::int64_t first = center - kHalf;
  if (seek_upstream) upstream->Seek(ClampToInt32(std::max<std::int64_t>(first, 0)));
  lead_zeros_ = first < 0 ? -first : 0;
  base_ = first;
  read_ = 0;
  phase_ = phase;
  shift_ = 0;
  Fetch(window_.data(), kHalf);
  end_ = kHalf;
  CheckUpstream();
}

void Resampler::Refill() {
  const std::size_t channel_count = channels;
  std::int32_t* window = window_.data();
  if (end_ + kBlock > kCapacity) {
    // Keep the last 63 frames (all that the next output can need) at the front.
    const std::int32_t drop = end_ - kPolyphaseTaps;
    std::copy(window + drop * channel_count, window + end_ * channel_count, window);
    base_ += drop;
    read_ -= drop;
    end_ = kPolyphaseTaps;
  }

  // The history goes back to the input scale, so that it is normalised with the new block.
  const std::int32_t history = std::max(0, end_ - kPolyphaseTaps);
  std::int32_t* first = window + history * channel_count;
  std::int32_t* fresh = window + end_ * channel_count;
  if (shift_ > 0)
    for (std::int32_t* x = first; x != fresh; ++x) *x = ClampToInt32(std::int64_t{*x} << shift_);
  Fetch(fresh, kBlock);
  CheckUpstream();

  std::int32_t* last = fresh + static_cast<std::size_t>(kBlock) * channel_count;
  std::uint32_t peak = 0;
  for (const std::int32_t* x = first; x != last; ++x) {
    const auto magnitude = *x < 0 ? 0u - static_cast<std::uint32_t>(*x) : static_cast<std::uint32_t>(*x);
    peak = std::max(peak, magnitude);
  }
  int shift = 0;
  while ((peak >> shift) > kNormalised) ++shift;
  if (shift > 0) {
    const std::int64_t half = std::int64_t{1} << (shift - 1);
    for (std::int32_t* x = first; x != last; ++x)
      *x = static_cast<std::int32_t>((std::int64_t{*x} + half) >> shift);
  }
  shift_ = shift;
  end_ += kBlock;
}

void Resampler::Read(std::int32_t* buffer, std::int32_t frames) {
  if (buffer == nullptr || frames <= 0) return;
  while (frames > 0) {
    KernelRun run{taps_.data(), step_.data(), next_.data(), window_.data(), end_,
                  shift_,       channels,     read_,        phase_,         ratio_.L,
                  ratio_.M / ratio_.L,        ratio_.M % ratio_.L};
    std::int32_t made;
    if (channels == 1) {
      made = interpolated_ ? RunMonoInterpolated(run, buffer, frames) : RunMono(run, buffer, frames);
    } else if (channels == 2) {
      made = interpolated_ ? RunStereoInterpolated(run, buffer, frames) : RunStereo(run, buffer, frames);
    } else {
      made = interpolated_ ? RunAnyChannelsInterpolated(run, buffer, frames) : RunAnyChannels(run, buffer, frames);
    }
    read_ = run.read;
    phase_ = run.phase;
    buffer += static_cast<std::size_t>(made) * channels;
    frames -= made;
    if (frames > 0) Refill();
  }
}

std::int32_t Resampler::Position() const { return OutputAt(base_ + read_ + kHalf, phase_, ratio_); }

std::int32_t Resampler::Length() const { return ConvertedLength(upstream->Length(), ratio_); }

void Resampler::Seek(std::int32_t frame) {
  const Centre centre = CentreOf(frame, ratio_);
  Start(centre.frame, centre.phase, true);
}

namespace {

constexpr int kHighLanes = 8;  // taps per phase are a multiple of this

// The modified Bessel function of order 0, its power series summed until the terms no
// longer change the sum (the six terms of BesselI0 do not suffice for the large shape
// parameters of a long window).
double ConvergedBesselI0(double x) {
  const double y = x * x / 4;
  double term = 1;
  double sum = 1;
  for (int k = 1; term > sum * 1e-18; ++k) {
    term *= y / (static_cast<double>(k) * k);
    sum += term;
  }
  return sum;
}

// The Kaiser-windowed sinc of the high-quality converter, in input frames: cutoff halfway
// between the passband edge and the lower Nyquist frequency, transition width the gap
// between them, length and shape from Kaiser's formulas for the stopband.
class HighQualityDesign {
 public:
  HighQualityDesign(std::int32_t from_rate, std::int32_t to_rate) {
    const double lower_nyquist = std::min(from_rate, to_rate) / 2.0;
    // Cycles per input frame.
    const double transition = (1 - kHighQualityPassband) * lower_nyquist / from_rate;
    cutoff_ = (1 + kHighQualityPassband) / 2 * lower_nyquist / from_rate;
    const double length = (kHighQualityStopbandDb - 7.95) / (2.285 * 2 * std::numbers::pi * transition) + 1;
    half_ = static_cast<int>(std::ceil(length / 2 / (kHighLanes / 2))) * (kHighLanes / 2);
    beta_ = 0.1102 * (kHighQualityStopbandDb - 8.7);
    scale_ = 2 * cutoff_ / ConvergedBesselI0(beta_);
  }

  int half() const { return half_; }

  // The taps of an output centred `fraction` (in input frames) past window frame half - 1.
  void Row(double fraction, double* taps) const {
    for (int t = 0; t < 2 * half_; ++t) {
      const double u = t - (half_ - 1) - fraction;
      const double r = u / half_;
      if (r <= -1 || r >= 1) {
        taps[t] = 0;
        continue;
      }
      const double x = std::numbers::pi * 2 * cutoff_ * u;
      const double sinc = x == 0 ? 1 : std::sin(x) / x;
      taps[t] = scale_ * sinc * ConvergedBesselI0(beta_ * std::sqrt(1 - r * r));
    }
  }

 private:
  double cutoff_ = 0;
  double beta_ = 0;
  double scale_ = 0;
  int half_ = 0;
};

// The dot products of the taps with one channel or two, summed in lanes of 8 in a fixed
// order: ((0 + 4) + (1 + 5)) + ((2 + 6) + (3 + 7)). The vector version adds the same terms
// in the same order but rounds each product and sum once (FMA), so the two may differ in
// the last bit of a sum, which moves an output sample by at most one unit now and then.
double SumLanes(const double* lanes) {
  return ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
}

double Dot(const double* taps, const double* x, int count) {
  double lanes[kHighLanes] = {};
  for (int i = 0; i < count; i += kHighLanes)
    for (int lane = 0; lane < kHighLanes; ++lane) lanes[lane] += taps[i + lane] * x[i + lane];
  return SumLanes(lanes);
}

void StereoDot(const double* taps, const double* x, const double* y, int count, double* sums) {
  sums[0] = Dot(taps, x, count);
  sums[1] = Dot(taps, y, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define SONAVEL_AVX2_FMA_KERNELS 1

__attribute__((target("avx2,fma"))) double SumLanesAvx(__m256d low, __m256d high) {
  const __m256d sum = _mm256_add_pd(low, high);
  const __m128d pairs = _mm_hadd_pd(_mm256_castpd256_pd128(sum), _mm256_extractf128_pd(sum, 1));
  return _mm_cvtsd_f64(_mm_add_sd(pairs, _mm_unpackhi_pd(pairs, pairs)));
}

__attribute__((target("avx2,fma"))) double DotAvx(const double* taps, const double* x, int count) {
  __m256d low = _mm256_setzero_pd();
  __m256d high = _mm256_setzero_pd();
  for (int i = 0; i < count; i += kHighLanes) {
    low = _mm256_fmadd_pd(_mm256_loadu_pd(taps + i), _mm256_loadu_pd(x + i), low);
    high = _mm256_fmadd_pd(_mm256_loadu_pd(taps + i + 4), _mm256_loadu_pd(x + i + 4), high);
  }
  return SumLanesAvx(low, high);
}

// Both channels against one load of the taps.
__attribute__((target("avx2,fma"))) void StereoDotAvx(const double* taps, const double* x, const double* y,
                                                      int count, double* sums) {
  __m256d left_low = _mm256_setzero_pd();
  __m256d left_high = _mm256_setzero_pd();
  __m256d right_low = _mm256_setzero_pd();
  __m256d right_high = _mm256_setzero_pd();
  for (int i = 0; i < count; i += kHighLanes) {
    const __m256d t_low = _mm256_loadu_pd(taps + i);
    const __m256d t_high = _mm256_loadu_pd(taps + i + 4);
    left_low = _mm256_fmadd_pd(t_low, _mm256_loadu_pd(x + i), left_low);
    left_high = _mm256_fmadd_pd(t_high, _mm256_loadu_pd(x + i + 4), left_high);
    right_low = _mm256_fmadd_pd(t_low, _mm256_loadu_pd(y + i), right_low);
    right_high = _mm256_fmadd_pd(t_high, _mm256_loadu_pd(y + i + 4), right_high);
  }
  sums[0] = SumLanesAvx(left_low, left_high);
  sums[1] = SumLanesAvx(right_low, right_high);
}
#endif

struct DotKernels {
  double (*mono)(const double*, const double*, int);
  void (*stereo)(const double*, const double*, const double*, int, double*);
};

// The vector kernels where the processor has them (chosen once, at the first use).
const DotKernels& ChosenDotKernels() {
  static const DotKernels kernels = [] {
#ifdef SONAVEL_AVX2_FMA_KERNELS
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return DotKernels{DotAvx, StereoDotAvx};
#endif
    return DotKernels{Dot, StereoDot};
  }();
  return kernels;
}

inline std::int32_t Saturate(double value) {
  return static_cast<std::int32_t>(std::nearbyint(std::clamp(
      value, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
      static_cast<double>(std::numeric_limits<std::int32_t>::max()))));
}

struct HighQualityRun {
  const DotKernels& dot;
  const double* taps;
  double* scratch;         // interpolated taps of one output
  const double* window;    // channel c at window + c × capacity
  std::int32_t capacity;
  std::int32_t end;
  std::int32_t read;
  std::int32_t phase;
  int count;               // taps per phase
  int channels;
  PolyphaseRatio ratio;
  bool interpolated;
};

// The taps of output phase j / L, cubic (Lagrange) between the prototype rows around
// j × P / L: row k holds the taps for fraction (k - 1) / P.
[[gnu::always_inline]] inline const double* HighQualityTaps(const HighQualityRun& run, std::int32_t phase) {
  if (!run.interpolated) return run.taps + static_cast<std::ptrdiff_t>(phase) * run.count;
  const std::int64_t scaled = std::int64_t{phase} * kHighQualityPrototypePhases;
  const std::int64_t q = scaled / run.ratio.L;
  const double x = static_cast<double>(scaled % run.ratio.L) / run.ratio.L;
  const double w0 = -x * (x - 1) * (x - 2) / 6;
  const double w1 = (x + 1) * (x - 1) * (x - 2) / 2;
  const double w2 = -(x + 1) * x * (x - 2) / 2;
  const double w3 = (x + 1) * x * (x - 1) / 6;
  const double* r0 = run.taps + q * run.count;
  const double* r1 = r0 + run.count;
  const double* r2 = r1 + run.count;
  const double* r3 = r2 + run.count;
  for (int t = 0; t < run.count; ++t) run.scratch[t] = w0 * r0[t] + w1 * r1[t] + w2 * r2[t] + w3 * r3[t];
  return run.scratch;
}

// Output frames until `frames` are done or the window runs out; kChannels 0 takes any count.
template <int kChannels>
[[gnu::always_inline]] inline std::int32_t RunHighQuality(HighQualityRun& run, std::int32_t* out,
                                                          std::int32_t frames) {
  const int channels = kChannels == 0 ? run.channels : kChannels;
  const std::int32_t whole = run.ratio.M / run.ratio.L;
  const std::int32_t rest = run.ratio.M % run.ratio.L;
  std::int32_t made = 0;
  while (made < frames && run.read + run.count <= run.end) {
    const double* t = HighQualityTaps(run, run.phase);
    const double* x = run.window + run.read;
    if constexpr (kChannels == 2) {
      double sums[2];
      run.dot.stereo(t, x, x + run.capacity, run.count, sums);
      out[2 * made] = Saturate(sums[0]);
      out[2 * made + 1] = Saturate(sums[1]);
    } else {
      for (int c = 0; c < channels; ++c)
        out[made * channels + c] =
            Saturate(run.dot.mono(t, x + static_cast<std::ptrdiff_t>(c) * run.capacity, run.count));
    }
    ++made;
    run.read += whole;
    run.phase += rest;
    if (run.phase >= run.ratio.L) {
      run.phase -= run.ratio.L;
      ++run.read;
    }
  }
  return made;
}

std::int32_t RunHighQualityMono(HighQualityRun& run, std::int32_t* out, std::int32_t frames) {
  return RunHighQuality<1>(run, out, frames);
}

std::int32_t RunHighQualityStereo(HighQualityRun& run, std::int32_t* out, std::int32_t frames) {
  return RunHighQuality<2>(run, out, frames);
}

std::int32_t RunHighQualityAnyChannels(HighQualityRun& run, std::int32_t* out, std::int32_t frames) {
  return RunHighQuality<0>(run, out, frames);
}

}  // namespace

HighQualityResampler::HighQualityResampler(SourceRef source, std::int32_t target_rate, std::size_t table_bytes)
    : FilterSource(std::move(source)) {
  const std::int32_t from_rate = rate;
  ratio_ = TakeTargetRate(*this, target_rate);

  const HighQualityDesign design(from_rate, rate);
  half_ = design.half();
  taps_per_phase_ = 2 * half_;
  const std::uint64_t table_size =
      static_cast<std::uint64_t>(ratio_.L) * static_cast<std::uint64_t>(taps_per_phase_) * sizeof(double);
  interpolated_ = table_size > table_bytes;
  const int rows = interpolated_ ? kHighQualityPrototypePhases + 3 : ratio_.L;
  taps_.resize(static_cast<std::size_t>(rows) * taps_per_phase_);
  for (int j = 0; j < rows; ++j) {
    const double fraction = interpolated_ ? static_cast<double>(j - 1) / kHighQualityPrototypePhases
                                          : static_cast<double>(j) / ratio_.L;
    design.Row(fraction, taps_.data() + static_cast<std::size_t>(j) * taps_per_phase_);
  }
  if (interpolated_) scratch_.resize(taps_per_phase_);

  // The block plus the frames the next output needs; an output's step is far below its taps.
  capacity_ = kBlock + taps_per_phase_ + ratio_.M / ratio_.L + 1;
  window_.assign(static_cast<std::size_t>(capacity_) * channels, 0.0);
  block_.assign(static_cast<std::size_t>(kBlock) * channels, 0);
  Start(0, 0, false);
}

void HighQualityResampler::Start(std::int64_t center, std::int32_t phase, bool seek_upstream) {
  const std::int64_t first = center - (half_ - 1);
  if (seek_upstream) upstream->Seek(ClampToInt32(std::max<std::int64_t>(first, 0)));
  lead_zeros_ = first < 0 ? -first : 0;
  base_ = first;
  read_ = 0;
  end_ = 0;
  phase_ = phase;
}

void HighQualityResampler::Refill() {
  const std::int32_t drop = std::min(read_, end_);
  const std::int32_t keep = end_ - drop;
  for (int c = 0; c < channels; ++c) {
    double* channel = window_.data() + static_cast<std::size_t>(c) * capacity_;
    std::copy(channel + drop, channel + end_, channel);
  }
  base_ += drop;
  read_ -= drop;
  end_ = keep;

  const std::int32_t zeros = static_cast<std::int32_t>(std::min<std::int64_t>(lead_zeros_, kBlock));
  std::fill_n(block_.data(), static_cast<std::size_t>(zeros) * channels, 0);
  lead_zeros_ -= zeros;
  if (zeros < kBlock) upstream->Read(block_.data() + static_cast<std::size_t>(zeros) * channels, kBlock - zeros);
  CheckUpstream();
  for (int c = 0; c < channels; ++c) {
    double* into = window_.data() + static_cast<std::size_t>(c) * capacity_ + end_;
    for (std::int32_t f = 0; f < kBlock; ++f) into[f] = block_[static_cast<std::size_t>(f) * channels + c];
  }
  end_ += kBlock;
}

void HighQualityResampler::Read(std::int32_t* buffer, std::int32_t frames) {
  if (buffer == nullptr || frames <= 0) return;
  while (frames > 0) {
    HighQualityRun run{ChosenDotKernels(), taps_.data(), scratch_.data(), window_.data(), capacity_, end_,
                       read_,              phase_,       taps_per_phase_, channels,      ratio_,    interpolated_};
    std::int32_t made;
    if (channels == 1) {
      made = RunHighQualityMono(run, buffer, frames);
    } else if (channels == 2) {
      made = RunHighQualityStereo(run, buffer, frames);
    } else {
      made = RunHighQualityAnyChannels(run, buffer, frames);
    }
    read_ = run.read;
    phase_ = run.phase;
    buffer += static_cast<std::size_t>(made) * channels;
    frames -= made;
    if (frames > 0) Refill();
  }
}

std::int32_t HighQualityResampler::Position() const { return OutputAt(base_ + read_ + half_ - 1, phase_, ratio_); }

std::int32_t HighQualityResampler::Length() const { return ConvertedLength(upstream->Length(), ratio_); }

void HighQualityResampler::Seek(std::int32_t frame) {
  const Centre centre = CentreOf(frame, ratio_);
  Start(centre.frame, centre.phase, true);
}

ResampleQuality StoredResampleQuality(const SettingsReader& settings) {
  return settings.Read(setting::kResampleQuality) == 1 ? ResampleQuality::kHigh : ResampleQuality::kDefault;
}

SourceRef MakeResampler(SourceRef source, std::int32_t target_rate, ResampleQuality quality) {
  if (!source) return MakeNullSource();
  if (source->status != kStatusOk || target_rate == source->rate) return source;
  if (quality == ResampleQuality::kHigh) {
    // The taps grow with the ratio: far larger ones go down in steps of at most 16.
    if (target_rate > 0 && target_rate < source->rate / 16)
      source = MakeResampler(std::move(source), 16 * target_rate, quality);
    return MakeCounted<HighQualityResampler>(std::move(source), target_rate);
  }
  if (target_rate > 0 && target_rate < source->rate / 4) {
    SourceRef first = MakeCounted<Resampler>(std::move(source), 2 * target_rate, true);
    return MakeCounted<Resampler>(std::move(first), target_rate, false);
  }
  return MakeCounted<Resampler>(std::move(source), target_rate, false);
}

SourceRef MakeSpeedChanger(SourceRef source, double factor) {
  if (!source) return MakeNullSource();
  if (source->status != kStatusOk) return source;
  if (!(factor >= 0.1)) factor = 0.1;  // also catches NaN
  const std::int32_t source_rate = source->rate;
  const double target = std::round(source_rate / factor);
  const std::int32_t target_rate =
      static_cast<std::int32_t>(std::clamp(target, 1.0, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
  if (target_rate == source_rate) return source;
  SourceRef changed = MakeResampler(std::move(source), target_rate);
  changed->rate = source_rate;
  return changed;
}

ChannelConverter::ChannelConverter(SourceRef source, std::uint8_t target_channels)
    : FilterSource(std::move(source)) {
  const std::uint8_t from = upstream->channels;
  if ((from == 2 && target_channels == 1) || (from == 1 && target_channels == 2)) {
    channels = target_channels;
    buffer_.assign(static_cast<std::size_t>(kBlock) * from, 0);
  }
}

void ChannelConverter::Read(std::int32_t* buffer, std::int32_t frames) {
  if (buffer == nullptr || frames <= 0) return;
  const std::uint8_t from = upstream->channels;
  if (from == channels) {
    upstream->Read(buffer, frames);
    CheckUpstream();
    return;
  }
  while (frames > 0) {
    const std::int32_t k = std::min(frames, kBlock);
    upstream->Read(buffer_.data(), k);
    const std::int32_t* in = buffer_.data();
    if (from == 2) {
      for (std::int32_t f = 0; f < k; ++f) buffer[f] = in[2 * f];
    } else {
      for (std::int32_t f = 0; f < k; ++f) buffer[2 * f] = buffer[2 * f + 1] = in[f];
    }
    buffer += static_cast<std::size_t>(k) * channels;
    frames -= k;
  }
  CheckUpstream();
}

SourceRef MakeChannelConverter(SourceRef source, std::uint8_t channels) {
  if (!source) return MakeNullSource();
  if (source->status != kStatusOk) return source;
  const std::uint8_t from = source->channels;
  if ((from == 2 && channels == 1) || (from == 1 && channels == 2))
    return MakeCounted<ChannelConverter>(std::move(source), channels);
  return source;
}

SourceRef ConvertFormat(SourceRef source, std::int32_t rate, std::uint8_t channels, ResampleQuality quality) {
  if (!source) return MakeNullSource();
  if (source->status != kStatusOk) return source;
  SourceRef converted = std::move(source);
  if (channels < converted->channels) converted = MakeChannelConverter(std::move(converted), channels);
  if (rate != converted->rate) converted = MakeResampler(std::move(converted), rate, quality);
  if (converted->channels != channels) converted = MakeChannelConverter(std::move(converted), channels);
  return converted;
}

}  // namespace sonavel
