#include "devices/cue_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "store/time.h"

namespace sonavel {

namespace {

constexpr std::int32_t kCacheWindows = 8;

SourceRef OrPlaceholder(SourceRef inner) { return inner ? std::move(inner) : MakeNullSource(); }

// truncate(p × samples), with speeds beyond any sensible value (and NaN) kept finite.
std::int64_t HopSamples(double p, std::int64_t samples) {
  if (!(p == p)) return 0;
  return static_cast<std::int64_t>(std::clamp(p, -1e6, 1e6) * static_cast<double>(samples));
}

// Rounds down, also for negative values.
std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

}  // namespace

std::int32_t CueWindowFrames(std::int32_t rate) { return std::clamp(rate / 90, 20, 2730); }

std::vector<std::int32_t> CueFadeTable(std::int32_t window) {
  window = std::max(window, 1);
  std::vector<std::int32_t> table(static_cast<std::size_t>(window), kCueFadeUnity);
  const std::int32_t held = window / 2;
  const std::int32_t fading = window - held;
  for (std::int32_t k = 0; k < fading; ++k) {
    const double weight = 0.5 * std::cos(std::numbers::pi * k / fading) + 0.5;
    table[static_cast<std::size_t>(held + k)] =
        static_cast<std::int32_t>(std::round(weight * kCueFadeUnity));
  }
  return table;
}

CueSource::CueSource(SourceRef inner, double p1, double p2, std::int32_t span_ms)
    : SampleSource(0, 0, 0), inner_(OrPlaceholder(std::move(inner))) {
  rate = inner_->rate;
  channels = inner_->channels;
  peak_bound = inner_->peak_bound;  // a cross-fade never exceeds its inputs
  status = inner_->status == kStatusOk ? kStatusOk : kStatusUpstreamFailed;
  window_ = CueWindowFrames(rate);
  fade_frames_ = window_ - window_ / 2;
  fade_ = CueFadeTable(window_);
  const std::int64_t window_samples = std::int64_t{window_} * channels;
  hop_ = HopSamples(p1, window_samples);
  final_hop_ = HopSamples(p2, window_samples);
  remaining_ = std::max<std::int64_t>(MsToFrames(span_ms, rate), 0) * channels;
  current_.assign(static_cast<std::size_t>(window_samples), 0);
  lead_in_.assign(static_cast<std::size_t>(fade_frames_) * channels, 0);
  cache_.assign(static_cast<std::size_t>(window_samples) * kCacheWindows, 0);
  start_ = std::clamp<std::int64_t>(inner_->Position(), 0, InnerLength());
}

std::int64_t CueSource::InnerLength() const { return std::max(inner_->Length(), 0); }

void CueSource::Read(std::int32_t* buffer, std::int32_t frames) {
  const std::int64_t held = window_ / 2;
  while (frames > 0) {
    if (!prepared_) PrepareWindow();
    const std::int32_t n = std::min(frames, window_ - offset_);
    const std::size_t samples = static_cast<std::size_t>(n) * channels;
    if (parked_) {
      std::fill_n(buffer, samples, 0);
    } else {
      for (std::int32_t i = offset_; i < offset_ + n; ++i) {
        const std::int32_t* now = current_.data() + static_cast<std::ptrdiff_t>(i) * channels;
        std::int32_t* out = buffer + static_cast<std::ptrdiff_t>(i - offset_) * channels;
        if (i <= held) {  // the fade table is 1.0 up to here: the window alone
          std::memcpy(out, now, sizeof(std::int32_t) * channels);
          continue;
        }
        const std::int64_t fade = fade_[static_cast<std::size_t>(i)];
        const std::int32_t* lead =
            lead_in_.data() + static_cast<std::ptrdiff_t>(i - held) * channels;
        for (int c = 0; c < channels; ++c)
          out[c] = static_cast<std::int32_t>(
              (now[c] * fade + lead[c] * (kCueFadeUnity - fade) + (kCueFadeUnity >> 1)) >> 24);
      }
    }
    buffer += samples;
    frames -= n;
    offset_ += n;
    if (offset_ == window_) FinishWindow();
  }
  if (inner_->status != kStatusOk) status = kStatusUpstreamFailed;
}

void CueSource::PrepareWindow() {
  const std::int64_t length = InnerLength();
  const std::int64_t step = FloorDivide(hop_, channels);
  parked_ = length == 0 || (step > 0 && start_ >= length) || (step < 0 && start_ <= 0);
  prepared_ = true;
  if (parked_) {
    next_ = start_;
    return;
  }
  forward_ = step >= 0;
  next_ = std::clamp<std::int64_t>(start_ + step, 0, length);
  Fetch(start_, window_, start_, current_.data());
  Fetch(next_ - fade_frames_, fade_frames_, next_, lead_in_.data());
}

void CueSource::FinishWindow() {
  start_ = next_;
  offset_ = 0;
  prepared_ = false;
  const std::int64_t window_samples = std::int64_t{window_} * channels;
  if (remaining_ > window_samples) {
    hop_ += (final_hop_ - hop_) * window_samples / remaining_;
    remaining_ -= window_samples;
  } else {
    hop_ = final_hop_;
    remaining_ = 0;
  }
}

void CueSource::Fetch(std::int64_t first, std::int32_t count, std::int64_t window_start,
                      std::int32_t* target) {
  const std::int64_t length = InnerLength();
  const std::int64_t begin = std::clamp<std::int64_t>(first, 0, length);
  const std::int64_t end = std::clamp<std::int64_t>(first + count, 0, length);
  std::fill_n(target, static_cast<std::size_t>(count) * channels, 0);
  if (begin >= end) return;
  if (begin < cache_start_ || end > cache_end_) Refill(window_start);
  std::copy_n(cache_.data() + (begin - cache_start_) * channels, (end - begin) * channels,
              target + (begin - first) * channels);
}

void CueSource::Refill(std::int64_t window_start) {
  const std::int64_t length = InnerLength();
  const std::int64_t size = std::int64_t{window_} * kCacheWindows;
  // Everything a window is needed for, its lead-in and its frames, lies within
  // [start - M, start + N); the rest of the cache goes ahead in the direction of travel.
  std::int64_t low = forward_ ? window_start - fade_frames_ : window_start + window_ - size;
  std::int64_t high = low + size;
  if (low < 0) {
    high -= low;
    low = 0;
  }
  if (high > length) {
    low -= high - length;
    high = length;
  }
  low = std::max<std::int64_t>(low, 0);
  cache_start_ = low;
  cache_end_ = high;
  inner_->Seek(static_cast<std::int32_t>(low));
  inner_->Read(cache_.data(), static_cast<std::int32_t>(high - low));
}

void CueSource::Seek(std::int32_t frame) {
  start_ = std::clamp<std::int64_t>(frame, 0, InnerLength());
  offset_ = 0;
  prepared_ = false;
}

SourceRef MakeCueSource(SourceRef inner, double p1, double p2, std::int32_t span_ms) {
  return MakeCounted<CueSource>(std::move(inner), p1, p2, span_ms);
}

}  // namespace sonavel
