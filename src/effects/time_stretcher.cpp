#include "effects/time_stretcher.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

#include "effects/dsp/worker_pool.h"
#include "effects/resampler.h"

namespace sonavel {

namespace {

// fmod(x, 2π) (the remainder keeps the sign of x) without the library's exact division,
// which would cost more than the whole transform here.
inline double Remainder2Pi(double x) {
  constexpr double kTurn = 2.0 * std::numbers::pi;
  return x - kTurn * std::trunc(x / kTurn);
}


constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr std::int64_t kMillion = 1000000;
constexpr int kMinOrder = 3;
constexpr int kMaxOrder = 16;
constexpr double kMinFactor = 0.01;
constexpr double kMaxVocoderFactor = 8;
constexpr double kMaxOverlapFactor = 100;
// The most a frame's level is raised to restore the analysis frame's energy (6 dB).
constexpr double kMaxFrameGain = 2;
// Input ring of the vocoder: five seconds at the usual rates, never less than two frames.
constexpr std::int64_t kRingSeconds = 5;
constexpr std::int64_t kRingRateLimit = 192000;

std::int32_t ClampToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

int FftOrderForRate(std::int32_t rate) {
  const std::int64_t fraction = std::max<std::int32_t>(rate, 0) / 32;
  const std::int64_t wanted = fraction - fraction / 4;
  int order = kMinOrder;
  while (order < kMaxOrder && (std::int64_t{1} << order) < wanted) ++order;
  return order;
}

double LimitFactor(double x, double high) {
  if (!(x >= kMinFactor)) return kMinFactor;  // also NaN
  return std::min(x, high);
}

// floor(a × b / c), or with `up` the ceiling, for non-negative a, b and positive c,
// without overflow.
std::int64_t MultiplyDivide(std::int64_t a, std::int64_t b, std::int64_t c, bool up = false) {
  __extension__ using Wide = __int128;
  const Wide product = static_cast<Wide>(a) * b;
  const Wide quotient = product / c + (up && product % c != 0 ? 1 : 0);
  return static_cast<std::int64_t>(std::min<Wide>(quotient, std::numeric_limits<std::int64_t>::max()));
}

}  // namespace

std::int32_t TimeStretchFftSize(std::int32_t rate) { return std::int32_t{1} << FftOrderForRate(rate); }

std::int32_t OverlapAddSegmentFrames(std::int32_t rate) {
  return std::clamp<std::int32_t>(std::max<std::int32_t>(rate, 0) / 90, 20, 2730) & ~1;
}

// ---------------------------------------------------------------------------------------
// Phase vocoder

TimeStretcher::TimeStretcher(SourceRef source, double x, StretchPrecision precision)
    : FilterSource(std::move(source)),
      plan_(FftOrderForRate(rate)),
      precision_(precision),
      size_(plan_.size()),
      hop_(size_ / 8) {
  x = LimitFactor(x, kMaxVocoderFactor);
  const double analysis_hop = hop_ * x;
  hop_whole_ = static_cast<std::int32_t>(analysis_hop);
  hop_fraction_ = static_cast<std::int32_t>((analysis_hop - hop_whole_) * 1e6);
  phase_scale_ = hop_ / (hop_whole_ + hop_fraction_ * 1e-6);
  peak_bound = peak_bound > 0xFFFFF ? 0x200000 : 2 * std::max(peak_bound, 0);

  window_.resize(size_);
  for (std::int32_t i = 0; i < size_; ++i) window_[i] = 0.54 - 0.46 * std::cos(kTwoPi * i / size_);
  bin_step_.resize(size_ / 2);
  for (std::int32_t j = 0; j < size_ / 2; ++j) bin_step_[j] = kTwoPi * j / size_;

  const std::int64_t usual = kRingSeconds * std::min<std::int64_t>(rate, kRingRateLimit);
  // A whole batch of analysis windows must fit behind the current one (see ComputeBatch).
  const std::int64_t batch_span = std::int64_t{kBatch} * (hop_whole_ + 1) + size_;
  ring_frames_ = static_cast<std::int32_t>(std::max({usual, 2 * std::int64_t{size_} + 2, batch_span}));
  ring_.assign(static_cast<std::size_t>(ring_frames_) * channels, 0);
  const std::size_t channel_count = channels;
  const std::size_t pairs = (channel_count + 1) / 2;
  const std::size_t half = size_ / 2;
  frames_.assign(kSlots * channel_count * 2 * size_, 0.0);
  pair_buffers_.assign(kBatch * pairs * 2 * size_, 0.0);
  batch_.resize(kBatch);
  analysis_energy_.assign(kBatch * channel_count, 0.0);
  fade_.resize(hop_);
  for (std::int32_t f = 0; f < hop_; ++f) fade_[f] = static_cast<double>(hop_ - f) / hop_;
  phases_.assign(channel_count * half, 0.0);
  phase_start_.assign(phases_.size(), 0.0);
  magnitude_.assign(channel_count * half, 0.0);
  angle_.assign(channel_count * half, 0.0);
  synthesis_.assign(channel_count * half, 0.0);
  lock_base_.assign(channel_count * half, 0.0);
  peak_synthesis_.assign(channel_count * half, 0.0);
  peaks_.assign(channel_count * half, 0);
  boundaries_.assign(channel_count * (half + 1), 0);
  Reset(0);
}

void TimeStretcher::Fetch(std::int32_t* into, std::int32_t frames) {
  if (frames <= 0) return;
  const auto zeros = static_cast<std::int32_t>(std::min<std::int64_t>(lead_zeros_, frames));
  std::fill_n(into, static_cast<std::size_t>(zeros) * channels, 0);
  lead_zeros_ -= zeros;
  if (frames > zeros) upstream->Read(into + static_cast<std::size_t>(zeros) * channels, frames - zeros);
  CheckUpstream();
}

void TimeStretcher::Reset(std::int64_t center) {
  // The first analysis frame covers input [center − N/2, center + N/2); the frame step
  // below reads its last c0 frames, the rest go into the ring now.
  const std::int64_t first = center - size_ / 2;
  lead_zeros_ = first < 0 ? -first : 0;
  ring_position_ = 0;
  accumulator_ = 0;
  input_counter_ = 0;
  output_counter_ = 0;
  std::fill(phases_.begin(), phases_.end(), 0.0);
  Fetch(ring_.data() + static_cast<std::size_t>(hop_whole_) * channels, size_ - hop_whole_);
  computed_ = 0;
  ComputeBatch();
  current_ = 0;
  read_index_ = size_ / 2;
}

double* TimeStretcher::Frame(std::int64_t number, std::size_t channel) {
  const auto slot = static_cast<std::size_t>(number % kSlots);
  return frames_.data() + (slot * channels + channel) * 2 * size_;
}

void TimeStretcher::Parallel(std::int32_t count, const std::function<void(std::int32_t)>& task) {
  if (parallel_) {
    WorkerPool::Shared().Run(count, task);
  } else {
    for (std::int32_t i = 0; i < count; ++i) task(i);
  }
}

void TimeStretcher::ComputeBatch() {
  // The frames of a batch depend on each other only through the running phases of each
  // channel: the transforms run in parallel over frames and channel pairs, the bins and
  // the fades in parallel over channels, each channel's frames in order.
  const std::int32_t n = size_;
  const std::int32_t half = n / 2;
  const std::size_t channel_count = channels;
  const std::int32_t pairs = (channels + 1) / 2;
  const bool first_batch = computed_ == 0;

  // Frame steps, in order: the next analysis window, c0 or c0 + 1 frames on each time.
  // When the ring has no room for the whole batch behind the current window, that window
  // moves to the front first, so the batch's windows all stay in place until transformed.
  if (ring_position_ + std::int64_t{kBatch} * (hop_whole_ + 1) + n > ring_frames_) {
    std::copy_n(ring_.data() + static_cast<std::size_t>(ring_position_) * channel_count,
                static_cast<std::size_t>(n) * channel_count, ring_.data());
    ring_position_ = 0;
  }
  for (std::int32_t s = 0; s < kBatch; ++s) {
    accumulator_ += hop_fraction_;
    std::int32_t step = hop_whole_;
    if (accumulator_ > 999999) {
      ++step;
      accumulator_ -= 1000000;
    }
    ring_position_ += step;
    Fetch(ring_.data() + static_cast<std::size_t>(ring_position_ + n - step) * channel_count, step);
    input_counter_ += step;
    output_counter_ += hop_;
    // The middle bin alternates in sign from frame to frame of the input; it keeps its
    // value where the output has moved on as far as the input (always at x = 1).
    batch_[s] = {static_cast<double>(input_counter_ % n), static_cast<double>(output_counter_ % n),
                 (output_counter_ - input_counter_) % 2 != 0 ? -1.0 : 1.0, ring_position_};
  }

  // Forward transforms and the two real spectra of each pair, bins below N / 2; the
  // middle bin (real for a real signal) is kept apart in the unused element half of the
  // real part.
  Parallel(kBatch * pairs, [&](std::int32_t task) {
    const std::int32_t s = task / pairs;
    const std::int32_t p = task % pairs;
    const std::size_t channel = 2 * static_cast<std::size_t>(p);
    const bool pair = channel + 1 < channel_count;
    double* re = PairBuffer(s, p);
    double* im = re + n;
    // The window over the pair's samples, two channels as the real and imaginary parts of
    // one transform, a last channel of an odd count alone; and the energy of each
    // channel's windowed input where the output is taken from.
    const std::int32_t* samples =
        ring_.data() + static_cast<std::size_t>(batch_[s].ring_position) * channel_count + channel;
    const double* window = window_.data();
    if (channel_count == 2) {
      // Stereo, the usual case, with the stride known so that the loop vectorises.
      for (std::int32_t i = 0; i < n; ++i) {
        re[i] = window[i] * samples[2 * i];
        im[i] = window[i] * samples[2 * i + 1];
      }
    } else {
      for (std::int32_t i = 0; i < n; ++i) re[i] = window[i] * samples[i * channel_count];
      if (pair) {
        for (std::int32_t i = 0; i < n; ++i) im[i] = window[i] * samples[i * channel_count + 1];
      } else {
        std::fill_n(im, n, 0.0);
      }
    }
    double first_energy = 0;
    double second_energy = 0;
    for (std::int32_t i = half - hop_; i < half + hop_; ++i) {
      first_energy += re[i] * re[i];
      second_energy += im[i] * im[i];
    }
    analysis_energy_[s * channel_count + channel] = first_energy;
    if (pair) analysis_energy_[s * channel_count + channel + 1] = second_energy;
    plan_.Forward(re, im);
    double* first = Frame(computed_ + s, channel);
    first[half] = re[half];
    if (pair) {
      double* second = Frame(computed_ + s, channel + 1);
      second[half] = im[half];
      first[0] = re[0];
      first[n] = 0;
      second[0] = im[0];
      second[n] = 0;
      for (std::int32_t j = 1; j < half; ++j) {
        first[j] = 0.5 * (re[j] + re[n - j]);
        first[n + j] = 0.5 * (im[j] - im[n - j]);
        second[j] = 0.5 * (im[j] + im[n - j]);
        second[n + j] = 0.5 * (re[n - j] - re[j]);
      }
    } else {
      std::copy_n(re, half, first);
      std::copy_n(im, half, first + n);
    }
  });

  Parallel(channels, [&](std::int32_t channel) {
    for (std::int32_t s = 0; s < kBatch; ++s) {
      double* frame = Frame(computed_ + s, channel);
      ProcessBins(frame, frame + n, channel, batch_[s].h, batch_[s].o, first_batch && s == 0);
    }
  });

  // Both synthesis spectra of a pair in one: each is that of a real signal (its negative
  // bins the conjugate mirror of its positive ones, the middle and the constant bin real),
  // so the inverse gives the first channel as the real part and the second as the
  // imaginary.
  Parallel(kBatch * pairs, [&](std::int32_t task) {
    const std::int32_t s = task / pairs;
    const std::int32_t p = task % pairs;
    const std::size_t channel = 2 * static_cast<std::size_t>(p);
    const bool pair = channel + 1 < channel_count;
    const double nyquist_sign = batch_[s].nyquist_sign;
    double* re = PairBuffer(s, p);
    double* im = re + n;
    double* first = Frame(computed_ + s, channel);
    double* second = pair ? Frame(computed_ + s, channel + 1) : nullptr;
    if (pair) {
      re[0] = first[0];
      im[0] = second[0];
      re[half] = nyquist_sign * first[half];
      im[half] = nyquist_sign * second[half];
      for (std::int32_t k = 1; k < half; ++k) {
        re[k] = first[k] - second[n + k];
        im[k] = first[n + k] + second[k];
        re[n - k] = first[k] + second[n + k];
        im[n - k] = second[k] - first[n + k];
      }
    } else {
      re[0] = first[0];
      im[0] = 0;
      re[half] = nyquist_sign * first[half];
      im[half] = 0;
      for (std::int32_t k = 1; k < half; ++k) {
        re[k] = first[k];
        im[k] = first[n + k];
        re[n - k] = first[k];
        im[n - k] = -first[n + k];
      }
    }
    plan_.Inverse(re, im);
    std::copy_n(re, n, first);
    NormaliseFrame(first, analysis_energy_[s * channel_count + channel]);
    if (pair) {
      std::copy_n(im, n, second);
      NormaliseFrame(second, analysis_energy_[s * channel_count + channel + 1]);
    }
  });

  // The fades, each channel's frames in order (the first frame after a reset is never
  // faded from its predecessor, which it overwrites nothing of).
  Parallel(channels, [&](std::int32_t channel) {
    for (std::int32_t s = 0; s < kBatch; ++s) {
      const std::int64_t number = computed_ + s;
      FadeFrame(Frame(number, channel), Frame(number + kSlots - 1, channel));
    }
  });
  computed_ += kBatch;
}

void TimeStretcher::FadeFrame(double* newer, const double* older) const {
  // How alike the frame is to the one before where the two are faded into each other: 1
  // for a steady tone, less for noise, whose successive frames the phase changes
  // decorrelate.
  const std::int32_t half = size_ / 2;
  double product = 0;
  double newer_energy = 0;
  double older_energy = 0;
  for (std::int32_t i = half - hop_; i < half; ++i) {
    product += newer[i] * older[i + hop_];
    newer_energy += newer[i] * newer[i];
    older_energy += older[i + hop_] * older[i + hop_];
  }
  const double energy = newer_energy * older_energy;
  const double loss = 1 - (energy > 0 ? std::clamp(product / std::sqrt(energy), 0.0, 1.0) : 1.0);
  // The fade from the older frame (one hop further into it) to the newer one, in place of
  // the newer frame's first heard half (its second half is still the older one of the next
  // fade): linear, divided by the level the sum of two frames of that correlation has, so
  // that alike frames fade linearly and unlike ones keep their power; limited to the peak
  // bound.
  const double bound = peak_bound;
  for (std::int32_t f = 0; f < hop_; ++f) {
    const std::int32_t i = half - hop_ + f;
    const double q = fade_[f];
    const double level = std::sqrt(1 - 2 * q * (1 - q) * loss);
    newer[i] = std::clamp(((1 - q) * newer[i] + q * older[i + hop_]) / level, -bound, bound);
  }
}

void TimeStretcher::NormaliseFrame(double* frame, double analysis_energy) const {
  // Only [N/2 − H, N/2 + H) of a frame is ever heard: the first half while it is the newer
  // frame of a fade, the second while it is the older one. Changing the phases spreads a
  // frame's energy over its whole length, so that region holds less of it than the
  // windowed input did (noise loses up to 1 dB at most factors, tones nothing): the gain
  // gives the region back the energy of the analysis frame's same region. Dividing by the
  // window then makes each frame an estimate of the signal itself.
  const std::int32_t half = size_ / 2;
  double synthesis = 0;
  for (std::int32_t i = half - hop_; i < half + hop_; ++i) synthesis += frame[i] * frame[i];
  const double gain = synthesis > 0 ? std::min(std::sqrt(analysis_energy / synthesis), kMaxFrameGain) : 1.0;
  for (std::int32_t i = half - hop_; i < half + hop_; ++i) frame[i] *= gain / window_[i];
}

void TimeStretcher::ProcessBins(double* real, double* imaginary, std::size_t channel, double h, double o,
                                bool first_frame) {
  const std::size_t half = size_ / 2;
  double* phase = phases_.data() + channel * half;
  double* start = phase_start_.data() + channel * half;
  double* magnitude = magnitude_.data() + channel * half;
  double* angle = angle_.data() + channel * half;
  double* synthesis = synthesis_.data() + channel * half;
  const auto count = static_cast<std::int32_t>(half);
  if (precision_ == StretchPrecision::kFast && !first_frame) {
    AnalyseBinsFast({real, imaginary, bin_step_.data(), start, phase, magnitude, angle, synthesis, h, o, phase_scale_},
                    count);
    LockPhases(channel);
    PolarToRectangularFast(magnitude, synthesis, real, imaginary, count);
    return;
  }
  // The exact path, which also sets the start phases on the first frame.
  for (std::int32_t j = 0; j < count; ++j) {
    angle[j] = std::atan2(imaginary[j], real[j]);
    magnitude[j] = std::sqrt(real[j] * real[j] + imaginary[j] * imaginary[j]);
    // The running phase moves on by the measured deviation from the bin's own advance,
    // wrapped into ±π.
    const double delta = Remainder2Pi(angle[j] - (phase[j] + bin_step_[j] * h) + std::numbers::pi);
    phase[j] += delta >= 0 ? delta - std::numbers::pi : delta + std::numbers::pi;
    // The synthesis phase starts at the first frame's analysis phase and then advances
    // by the output hop at the bin's measured frequency.
    if (first_frame) start[j] = (1 - phase_scale_) * phase[j] + bin_step_[j] * (hop_whole_ - hop_);
    synthesis[j] = bin_step_[j] * o + phase_scale_ * phase[j] + start[j];
  }
  LockPhases(channel);
  for (std::int32_t j = 0; j < count; ++j) {
    real[j] = magnitude[j] * std::cos(synthesis[j]);
    imaginary[j] = magnitude[j] * std::sin(synthesis[j]);
  }
}

void TimeStretcher::LockPhases(std::size_t channel) {
  // Every bin takes the synthesis phase of the spectral peak whose region it lies in, plus
  // its analysis phase difference to that peak, so that the bins of one partial keep the
  // relation they have in the current frame. Regions end at the weakest bin between peaks
  // (the first of equal ones); the bins before the first peak belong to it.
  const std::int32_t half = size_ / 2;
  const std::size_t offset = channel * half;
  const double* magnitude = magnitude_.data() + offset;
  const double* angle = angle_.data() + offset;
  double* synthesis = synthesis_.data() + offset;
  double* base = lock_base_.data() + offset;
  double* peak_synthesis = peak_synthesis_.data() + offset;
  std::int32_t* peaks = peaks_.data() + offset;
  std::int32_t* boundaries = boundaries_.data() + channel * (half + 1);
  // The peaks, and the region boundary before each, in one pass without branches. A peak
  // is a bin louder than the one below and at least as loud as the one above (the
  // outermost bins compare with their one neighbour). Between two peaks the magnitudes
  // cannot rise and then fall again (that would be a peak), so they first do not rise and
  // then rise strictly: their first weakest bin is the last one weaker than the bin before
  // it, or the one after the first peak when none is.
  std::int32_t count = 0;
  std::int32_t previous_peak = -1;
  std::int32_t last_fall = -1;
  auto visit = [&](std::int32_t j, int rises, int holds, int falls) {
    const int peak = rises & holds;
    last_fall = falls ? j : last_fall;
    peaks[count] = j;
    boundaries[count] = last_fall > previous_peak ? last_fall : previous_peak + 1;
    previous_peak = peak ? j : previous_peak;
    count += peak;
  };
  visit(0, 1, magnitude[0] >= magnitude[1], 0);
  for (std::int32_t j = 1; j + 1 < half; ++j) {
    const double m = magnitude[j];
    visit(j, m > magnitude[j - 1], m >= magnitude[j + 1], m < magnitude[j - 1]);
  }
  visit(half - 1, magnitude[half - 1] > magnitude[half - 2], 1, magnitude[half - 1] < magnitude[half - 2]);
  // Each peak's offset between synthesis and analysis phase over its region.
  boundaries[0] = 0;
  boundaries[count] = half;
  for (std::int32_t p = 0; p < count; ++p) {
    const std::int32_t peak = peaks[p];
    const double offset = synthesis[peak] - angle[peak];
    for (std::int32_t k = boundaries[p]; k < boundaries[p + 1]; ++k) base[k] = offset;
    // The peak keeps its own phase: base + angle need not give it back exactly.
    peak_synthesis[p] = synthesis[peak];
  }
  for (std::int32_t j = 0; j < half; ++j) synthesis[j] = base[j] + angle[j];
  for (std::int32_t p = 0; p < count; ++p) synthesis[peaks[p]] = peak_synthesis[p];
}

void TimeStretcher::Read(std::int32_t* buffer, std::int32_t frames) {
  if (buffer == nullptr || frames <= 0) return;
  const std::int32_t half = size_ / 2;
  const std::size_t channel_count = channels;
  while (frames > 0) {
    if (read_index_ >= half) {
      if (current_ + 1 == computed_) ComputeBatch();
      ++current_;
      read_index_ -= hop_;
      continue;
    }
    // The output is the faded first heard half of the current frame.
    const std::int32_t count = std::min(frames, half - read_index_);
    for (std::size_t channel = 0; channel < channel_count; ++channel) {
      const double* faded = Frame(current_, channel) + read_index_;
      for (std::int32_t f = 0; f < count; ++f)
        buffer[f * channel_count + channel] = static_cast<std::int32_t>(faded[f]);
    }
    read_index_ += count;
    position_ += count;
    buffer += static_cast<std::size_t>(count) * channel_count;
    frames -= count;
  }
}

std::int32_t TimeStretcher::Position() const { return ClampToInt32(position_); }

std::int32_t TimeStretcher::Length() const {
  const std::int64_t source_length = upstream->Length();
  if (source_length <= 0) return 0;
  // ceil(length × H / analysis hop), the hop in millionths
  return ClampToInt32(MultiplyDivide(source_length * hop_, kMillion, HopMillionths(), true));
}

void TimeStretcher::Seek(std::int32_t frame) {
  const std::int64_t target = std::max<std::int32_t>(frame, 0);
  const std::int64_t center = MultiplyDivide(target, HopMillionths(), std::int64_t{hop_} * kMillion);
  upstream->Seek(ClampToInt32(std::max<std::int64_t>(center - size_ / 2, 0)));
  Reset(center);
  position_ = target;
}

// ---------------------------------------------------------------------------------------
// Overlap-add

OverlapAddStretcher::OverlapAddStretcher(SourceRef source, double x)
    : FilterSource(std::move(source)),
      factor_(LimitFactor(x, kMaxOverlapFactor)),
      segment_(OverlapAddSegmentFrames(rate)),
      half_(segment_ / 2),
      search_(segment_ / 4) {
  fade_.resize(segment_);
  for (std::int32_t i = 0; i < segment_; ++i) fade_[i] = 0.5 - 0.5 * std::cos(kTwoPi * i / segment_);
  buffer_.assign(static_cast<std::size_t>(segment_ + 2 * search_) * channels, 0);
  tail_.assign(static_cast<std::size_t>(half_) * channels, 0);
  mixed_.assign(static_cast<std::size_t>(half_) * channels, 0);
  Reset(0);
}

void OverlapAddStretcher::Reset(std::int64_t input_start) {
  input_base_ = input_start;
  segment_index_ = 0;
  buffer_start_ = input_start;
  buffer_frames_ = 0;
  upstream_next_ = input_start;
  Gather(input_start, segment_);
  // The first segment fades against its own first half, so the output starts with the
  // input unchanged.
  std::copy_n(buffer_.begin(), tail_.size(), tail_.begin());
  mixed_read_ = half_;
}

void OverlapAddStretcher::Gather(std::int64_t from, std::int32_t frames) {
  const std::size_t channel_count = channels;
  const std::int64_t buffer_end = buffer_start_ + buffer_frames_;
  if (from >= buffer_end) {
    // Skip the input between the segments.
    for (std::int64_t skip = from - upstream_next_; skip > 0;) {
      const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(skip, segment_));
      upstream->Read(buffer_.data(), count);
      skip -= count;
    }
    upstream_next_ = std::max(upstream_next_, from);
    buffer_frames_ = 0;
  } else if (from > buffer_start_) {
    const auto drop = static_cast<std::int32_t>(from - buffer_start_);
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(drop * channel_count),
              buffer_.begin() + static_cast<std::ptrdiff_t>(buffer_frames_ * channel_count), buffer_.begin());
    buffer_frames_ -= drop;
  }
  buffer_start_ = from;
  if (buffer_frames_ < frames) {
    upstream->Read(buffer_.data() + static_cast<std::size_t>(buffer_frames_) * channel_count, frames - buffer_frames_);
    upstream_next_ += frames - buffer_frames_;
    buffer_frames_ = frames;
  }
  CheckUpstream();
}

double OverlapAddStretcher::Similarity(std::int32_t offset) const {
  // Normalised cross-correlation of the candidate's first half with the fading tail.
  const std::size_t count = static_cast<std::size_t>(half_) * channels;
  const std::int32_t* candidate = buffer_.data() + static_cast<std::size_t>(offset) * channels;
  double product = 0;
  double energy = 0;
  for (std::size_t i = 0; i < count; ++i) {
    product += static_cast<double>(candidate[i]) * tail_[i];
    energy += static_cast<double>(candidate[i]) * candidate[i];
  }
  return energy > 0 ? product / std::sqrt(energy) : 0;
}

void OverlapAddStretcher::NextSegment() {
  const std::size_t channel_count = channels;
  // The segment's place by the factor, moved by up to a quarter segment to where its start
  // best continues the waveform of the fading one; the nearest of equal candidates wins.
  const std::int64_t nominal =
      input_base_ + static_cast<std::int64_t>(std::floor(static_cast<double>(segment_index_) * half_ * factor_));
  const std::int64_t low = std::max(nominal - search_, input_base_);
  const std::int64_t high = nominal + search_;
  Gather(low, static_cast<std::int32_t>(high - low) + segment_);
  auto best = static_cast<std::int32_t>(nominal - low);
  double best_score = Similarity(best);
  for (std::int32_t distance = 1; distance <= search_; ++distance) {
    for (const std::int64_t candidate : {nominal - distance, nominal + distance}) {
      if (candidate < low) continue;
      const auto offset = static_cast<std::int32_t>(candidate - low);
      const double score = Similarity(offset);
      if (score > best_score + 1e-9 * std::fabs(best_score)) {
        best_score = score;
        best = offset;
      }
    }
  }

  const std::int32_t* segment = buffer_.data() + static_cast<std::size_t>(best) * channel_count;
  for (std::int32_t j = 0; j < half_; ++j) {
    const double fade_in = fade_[j];
    const double fade_out = fade_[j + half_];
    for (std::size_t channel = 0; channel < channel_count; ++channel) {
      const std::size_t at = j * channel_count + channel;
      mixed_[at] = static_cast<std::int32_t>(std::lround(fade_out * tail_[at] + fade_in * segment[at]));
    }
  }
  std::copy_n(segment + tail_.size(), tail_.size(), tail_.begin());
  ++segment_index_;
  mixed_read_ = 0;
}

void OverlapAddStretcher::Read(std::int32_t* buffer, std::int32_t frames) {
  if (buffer == nullptr || frames <= 0) return;
  const std::size_t channel_count = channels;
  while (frames > 0) {
    if (mixed_read_ == half_) NextSegment();
    const std::int32_t count = std::min(frames, half_ - mixed_read_);
    std::copy_n(mixed_.begin() + static_cast<std::ptrdiff_t>(mixed_read_ * channel_count), count * channel_count,
                buffer);
    mixed_read_ += count;
    position_ += count;
    buffer += static_cast<std::size_t>(count) * channel_count;
    frames -= count;
  }
}

std::int32_t OverlapAddStretcher::Position() const { return ClampToInt32(position_); }

std::int32_t OverlapAddStretcher::Length() const {
  const std::int64_t source_length = upstream->Length();
  if (source_length <= 0) return 0;
  return ClampToInt32(static_cast<std::int64_t>(std::ceil(static_cast<double>(source_length) / factor_)));
}

void OverlapAddStretcher::Seek(std::int32_t frame) {
  const std::int64_t target = std::max<std::int32_t>(frame, 0);
  const auto start = static_cast<std::int64_t>(std::floor(static_cast<double>(target) * factor_));
  upstream->Seek(ClampToInt32(start));
  Reset(start);
  position_ = target;
}

// ---------------------------------------------------------------------------------------

SourceRef MakeTimeStretcher(SourceRef source, double x, StretchPrecision precision) {
  if (!source) return MakeNullSource();
  if (source->status != kStatusOk) return source;
  const bool negative = x < 0;
  const double magnitude = LimitFactor(std::fabs(x), kMaxOverlapFactor);
  if (negative || magnitude > kMaxVocoderFactor)
    return MakeCounted<OverlapAddStretcher>(std::move(source), magnitude);
  return MakeCounted<TimeStretcher>(std::move(source), magnitude, precision);
}

SourceRef MakePitchShifter(SourceRef source, double x, StretchPrecision precision) {
  if (!source) return MakeNullSource();
  if (source->status != kStatusOk) return source;
  if (!(x >= 0.1)) x = 0.1;  // also NaN
  return MakeTimeStretcher(MakeSpeedChanger(std::move(source), x), 1 / x, precision);
}

}  // namespace sonavel
