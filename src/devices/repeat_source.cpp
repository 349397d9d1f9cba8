#include "devices/repeat_source.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "store/time.h"

namespace sonavel {

namespace {

constexpr std::int64_t kMaxFrame = std::numeric_limits<std::int32_t>::max();

SourceRef OrPlaceholder(SourceRef inner) { return inner ? std::move(inner) : MakeNullSource(); }

std::int32_t LoopFrame(std::int64_t ms, std::int32_t rate) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(MsToFrames(ms, rate), 0, kMaxFrame));
}

}  // namespace

RepeatSource::RepeatSource(SourceRef inner, std::int64_t loop_start_ms, std::int64_t loop_end_ms)
    : SampleSource(0, 0, 0), inner_(OrPlaceholder(std::move(inner))) {
  rate = inner_->rate;
  channels = inner_->channels;
  peak_bound = inner_->peak_bound;
  status = inner_->status == kStatusOk ? kStatusOk : kStatusUpstreamFailed;
  const std::int32_t first = LoopFrame(loop_start_ms, rate);
  const std::int32_t second = LoopFrame(loop_end_ms, rate);
  loop_start_ = std::min(first, second);
  loop_end_ = std::max(first, second);
  lap_end_ = std::max<std::int64_t>(loop_end_, std::int64_t{loop_start_} + kRepeatMinimumLap);
  length_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(std::int64_t{loop_end_} + 8 * std::int64_t{rate}, kMaxFrame));
}

void RepeatSource::Read(std::int32_t* buffer, std::int32_t frames) {
  while (frames > 0) {
    std::int64_t position = inner_->Position();
    if (position >= lap_end_) {
      inner_->Seek(loop_start_);
      position = inner_->Position();
    }
    // An inner source that does not go where it is sought still gets read, so that every
    // call delivers its frames and never loops without progress.
    const std::int32_t n = position >= lap_end_
                               ? frames
                               : static_cast<std::int32_t>(
                                     std::min<std::int64_t>(frames, lap_end_ - position));
    inner_->Read(buffer, n);
    buffer += static_cast<std::int64_t>(n) * channels;
    frames -= n;
  }
  if (inner_->status != kStatusOk) status = kStatusUpstreamFailed;
}

void RepeatSource::Seek(std::int32_t frame) {
  if (frame < loop_end_) {
    inner_->Seek(frame);
    return;
  }
  const std::int64_t loop = std::int64_t{loop_end_} - loop_start_;
  if (loop == 0) {
    inner_->Seek(loop_start_);
    return;
  }
  inner_->Seek(static_cast<std::int32_t>(loop_start_ + (std::int64_t{frame} - loop_end_) % loop));
}

SourceRef MakeRepeatSource(SourceRef inner, std::int64_t loop_start_ms, std::int64_t loop_end_ms) {
  return MakeCounted<RepeatSource>(std::move(inner), loop_start_ms, loop_end_ms);
}

}  // namespace sonavel
