#include "store/peak_limiter.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include "store/vector_clones.h"

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

namespace {

// Frame f of `frames` times gain + f × step, each sample limited to ±limit. The partial
// products round towards minus infinity and can land a step or two below -limit: the
// bound holds exactly. A fixed channel count (kChannels, 0 for `channels`) lets the loop
// turn into vector code. Within a block the ramp stays between two gains, so gain + f ×
// step never overflows.
template <std::size_t kChannels>
SONAVEL_AVX2_CLONES void ScaleFrames(const std::int32_t* in, std::int32_t* out, std::int32_t frames,
                                     std::size_t channels, std::int32_t gain, std::int32_t step,
                                     std::int32_t limit) {
  const std::size_t width = kChannels != 0 ? kChannels : channels;
  for (std::int32_t f = 0; f < frames; ++f) {
    const std::int32_t frame_gain = gain + f * step;
    for (std::size_t c = 0; c < width; ++c)
      out[f * width + c] = std::clamp(LimiterScale(in[f * width + c], frame_gain), -limit, limit);
  }
}

// The largest magnitude in a block.
SONAVEL_AVX2_CLONES std::int64_t BlockPeak(const std::int32_t* samples, std::size_t count) {
  std::int32_t largest = 0;
  std::int32_t smallest = 0;
  for (std::size_t i = 0; i < count; ++i) {
    largest = std::max(largest, samples[i]);
    smallest = std::min(smallest, samples[i]);
  }
  return std::max<std::int64_t>(largest, -std::int64_t{smallest});
}

}  // namespace

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
  return LimiterBlockGain(BlockPeak(block.data(), block.size()), peak_bound);
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
      if (channel_count == 2) ScaleFrames<2>(from, buffer, k, 2, gain_, step_, peak_bound);
      else if (channel_count == 1) ScaleFrames<1>(from, buffer, k, 1, gain_, step_, peak_bound);
      else ScaleFrames<0>(from, buffer, k, channel_count, gain_, step_, peak_bound);
      gain_ += k * step_;
      buffer += samples;
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

namespace {

// Frames written to a LimitingSink, waiting for the limiter to take them.
class FifoSource final : public SampleSource {
 public:
  FifoSource(std::int32_t rate, std::uint8_t channels, std::int32_t peak) : SampleSource(rate, channels, peak) {}
  void Append(const std::int32_t* samples, std::size_t count) { held_.insert(held_.end(), samples, samples + count); }
  // Frames past the end of what was written read as silence (only ever the limiter's
  // look-ahead at the very end).
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    const std::size_t wanted = static_cast<std::size_t>(frames) * channels;
    const std::size_t available = std::min(wanted, held_.size());
    std::copy_n(held_.begin(), available, buffer);
    std::fill(buffer + available, buffer + wanted, 0);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(available));
    read_ += frames;
  }
  std::int32_t Position() const override { return static_cast<std::int32_t>(read_); }
  std::int32_t Length() const override { return 0x7FFFFFFF; }

 private:
  std::deque<std::int32_t> held_;
  std::int64_t read_ = 0;
};

class LimitingSink final : public SampleSink {
 public:
  LimitingSink(SinkRef target, std::int32_t bound, std::int32_t peak)
      : SampleSink(target->rate, target->channels), target_(std::move(target)) {
    status = target_->status;
    fifo_ = new FifoSource(rate, channels, peak);
    SourceRef held(fifo_);
    limiter_ = LimitTo(held, bound);
    lookahead_ = limiter_.get() == fifo_ ? 0 : 4 * LimiterBlockLength(rate);
  }
  ~LimitingSink() override { Pass(written_ - delivered_); }

  void Write(const std::int32_t* buffer, std::int32_t frames) override {
    if (frames <= 0) return;
    fifo_->Append(buffer, static_cast<std::size_t>(frames) * channels);
    written_ += frames;
    position += frames;
    Pass(written_ - delivered_ - lookahead_);
  }

 private:
  // Moves `frames` frames from the limiter to the target.
  void Pass(std::int64_t frames) {
    std::vector<std::int32_t> chunk;
    while (frames > 0) {
      const std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(frames, kChunkFrames));
      chunk.resize(static_cast<std::size_t>(n) * channels);
      limiter_->Read(chunk.data(), n);
      target_->Write(chunk.data(), n);
      delivered_ += n;
      frames -= n;
    }
    status = target_->status;
  }

  SinkRef target_;
  FifoSource* fifo_;  // owned through limiter_
  SourceRef limiter_;
  std::int64_t lookahead_ = 0;
  std::int64_t written_ = 0;
  std::int64_t delivered_ = 0;
};

}  // namespace

SinkRef MakeLimitingSink(SinkRef target, std::int32_t bound, std::int32_t peak) {
  return MakeCounted<LimitingSink>(std::move(target), bound, peak);
}

}  // namespace sonavel
