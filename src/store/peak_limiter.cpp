#include "store/peak_limiter.h"

#include <algorithm>
#include <utility>

namespace sonavel {

namespace {

SourceRef OrPlaceholder(SourceRef inner) { return inner ? std::move(inner) : MakeNullSource(); }

}  // namespace

std::int32_t LimiterBlockLength(std::int32_t rate) { return std::clamp(rate / 35, 20, 8192); }

std::int32_t LimiterBlockGain(std::int64_t peak, std::int32_t limit) {
  if (peak <= limit) return kLimiterUnity;
  // The divisor rounds the peak up to a multiple of 64 (plus one step when it already is
  // one), so the gain never lets the peak reach the limit.
  const std::int64_t divisor = (peak + 64) >> 6;
  return static_cast<std::int32_t>((std::int64_t{limit} * 512 / divisor) * 512);
}

std::int32_t LimiterScale(std::int32_t x, std::int32_t gain) {
  const std::int32_t gain_high = gain >> 12;
  const std::int32_t gain_low = gain & 0xFFF;
  const std::int32_t x_high = x >> 12;
  const std::int32_t x_low = x & 0xFFF;
  return ((x_low * gain_high) >> 12) + ((x_high * gain_low) >> 12) + x_high * gain_high;
}

PeakLimiter::PeakLimiter(SourceRef inner, std::int32_t bound)
    : SampleSource(0, 0, 0), inner_(OrPlaceholder(std::move(inner))) {
  rate = inner_->rate;
  channels = inner_->channels;
  status = inner_->status == kStatusOk ? kStatusOk : kStatusUpstreamFailed;
  peak_bound = std::clamp(bound, 0, kLimiterMaxLimit);
  block_ = LimiterBlockLength(rate);
  const std::size_t samples = static_cast<std::size_t>(block_) * channels;
  a_.assign(samples, 0);
  b_.assign(samples, 0);
  c_.assign(samples, 0);
  read_ = 3 * block_;
}

std::int32_t PeakLimiter::Fill(std::vector<std::int32_t>& block) {
  inner_->Read(block.data(), block_);
  if (inner_->status != kStatusOk) status = kStatusUpstreamFailed;
  std::int32_t largest = 0;
  std::int32_t smallest = 0;
  for (const std::int32_t x : block) {
    largest = std::max(largest, x);
    smallest = std::min(smallest, x);
  }
  return LimiterBlockGain(std::max<std::int64_t>(largest, -std::int64_t{smallest}), peak_bound);
}

void PeakLimiter::Prime() {
  gain_a_ = Fill(a_);
  gain_b_ = Fill(b_);
  gain_c_ = Fill(c_);
  gain_prev_ = gain_a_;
  gain_ = gain_a_;
  ComputeRamp();
  read_ = 0;
}

void PeakLimiter::Advance() {
  std::swap(a_, b_);  // B becomes A
  std::swap(b_, c_);  // C becomes B, and the old A is refilled as C
  gain_prev_ = gain_a_;
  gain_a_ = gain_b_;
  gain_b_ = gain_c_;
  gain_c_ = Fill(c_);
  ComputeRamp();
  read_ = 0;
}

void PeakLimiter::ComputeRamp() {
  const std::int32_t mean = static_cast<std::int32_t>(
      (std::int64_t{gain_c_} + gain_prev_ + gain_b_ + gain_a_) >> 2);
  const std::int32_t target = std::min(std::min(gain_a_, gain_b_) - gain_, mean - gain_);
  step_ = target / block_;
  gain_ += target % block_;
}

void PeakLimiter::Read(std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0) return;
  if (read_ == 3 * block_) Prime();
  const std::size_t channel_count = channels;
  while (frames > 0) {
    if (read_ == block_) Advance();
    const std::int32_t k = std::min(frames, block_ - read_);
    const std::int32_t* from = a_.data() + static_cast<std::size_t>(read_) * channel_count;
    const std::size_t samples = static_cast<std::size_t>(k) * channel_count;
    if (gain_ >= kLimiterUnity && step_ == 0) {
      std::copy_n(from, samples, buffer);
      buffer += samples;
    } else {
      // The partial products round towards minus infinity and can land a step or two
      // below -limit: the bound holds exactly.
      const std::int32_t limit = peak_bound;
      for (std::int32_t f = 0; f < k; ++f) {
        for (std::size_t c = 0; c < channel_count; ++c)
          *buffer++ = std::clamp(LimiterScale(*from++, gain_), -limit, limit);
        gain_ += step_;
      }
    }
    read_ += k;
    frames -= k;
  }
}

std::int32_t PeakLimiter::Position() const {
  return static_cast<std::int32_t>(std::int64_t{inner_->Position()} + read_ - 3 * std::int64_t{block_});
}

void PeakLimiter::Seek(std::int32_t frame) {
  inner_->Seek(frame);
  read_ = 3 * block_;  // the next read primes the filter from here
}

SourceRef MakePeakLimiter(SourceRef inner, std::int32_t bound) {
  return MakeCounted<PeakLimiter>(std::move(inner), bound);
}

SourceRef LimitTo(SourceRef source, std::int32_t bound) {
  if (source && source->peak_bound <= bound) return source;
  return MakePeakLimiter(std::move(source), bound);
}

}  // namespace sonavel
