#include "store/block_writer.h"

#include <algorithm>

#include "store/vector_clones.h"

namespace sonavel {

namespace {
constexpr std::int64_t kMaxFramePosition = 0x7FFFFFFF;
}  // namespace

BlockWriter::BlockWriter(Sound& target, std::int32_t sample_rate, std::uint8_t channel_count)
    : SampleSink(sample_rate, channel_count), target_(target) {
  segment_.block = AllocateBlock();
  segment_.length = 0;
  segment_.gain = kUnityGain;
  segment_.offset = 0;
  audio_.Open(BlockAudioPath(segment_.block), File::Mode::kCreate);
  peaks_.Open(BlockPeakPath(segment_.block), File::Mode::kCreate);
  maximum_.assign(channels, 0);
  minimum_.assign(channels, 0);
}

BlockWriter::~BlockWriter() {
  if (accumulated_ > 0) EmitPeaks();
  FlushPeaks();
  segment_.length = position;  // the position at the end, not the furthest reached
  FreeSegments(target_);
  AppendSegment(target_, CopySegment(segment_));
  target_.rate = rate;
  target_.channels = channels;
  peaks_.Close();
  audio_.Close();
  ReleaseBlock(segment_.block);  // the target's segment is now the only holder
}

void BlockWriter::Write(const std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0 || (status & kSinkUnusable) != 0) return;
  const std::size_t channel_count = channels;
  position = static_cast<std::int32_t>(
      std::min<std::int64_t>(std::int64_t{position} + frames, kMaxFramePosition));
  if (!audio_.Write(buffer, static_cast<std::size_t>(frames) * channel_count * 4))
    status |= kSinkWriteFailed;
  while (frames > 0) {
    const std::int32_t k = std::min(kPeakRunFrames - accumulated_, frames);
    Fold(buffer, k);
    accumulated_ += k;
    if (accumulated_ == kPeakRunFrames) EmitPeaks();
    buffer += static_cast<std::size_t>(k) * channel_count;
    frames -= k;
  }
  FlushPeaks();
}

void BlockWriter::Seek(std::int32_t frame) {
  frame = std::max<std::int32_t>(frame, 0);
  FlushPeaks();
  position = frame;
  const std::int64_t channel_count = channels;
  audio_.Seek(frame * channel_count * 4);
  peaks_.Seek((frame / kPeakRunFrames) * channel_count * 2);
  std::fill(maximum_.begin(), maximum_.end(), 0);
  std::fill(minimum_.begin(), minimum_.end(), 0);
  accumulated_ = 0;
  // The run that holds `frame` is emitted again when it fills; fold in the frames of it
  // already in the file before `frame`, so its peaks cover the whole run.
  const std::int32_t run_start = frame - frame % kPeakRunFrames;
  if (run_start < frame) {
    std::vector<std::int32_t> head(static_cast<std::size_t>(frame - run_start) * channels, 0);
    audio_.Seek(run_start * channel_count * 4);
    audio_.Read(head.data(), head.size() * 4);
    audio_.Seek(frame * channel_count * 4);
    Fold(head.data(), frame - run_start);
  }
  accumulated_ = frame % kPeakRunFrames;
}

namespace {

// The fold for a fixed channel count, which the compiler turns into vector min/max.
template <std::size_t kChannels>
SONAVEL_SSE41_CLONES void FoldFrames(const std::int32_t* buffer, std::int32_t frames,
                                     std::int32_t* maximum, std::int32_t* minimum) {
  std::int32_t high[kChannels];
  std::int32_t low[kChannels];
  for (std::size_t c = 0; c < kChannels; ++c) {
    high[c] = maximum[c];
    low[c] = minimum[c];
  }
  for (std::int32_t i = 0; i < frames; ++i, buffer += kChannels) {
    for (std::size_t c = 0; c < kChannels; ++c) {
      high[c] = std::max(high[c], buffer[c]);
      low[c] = std::min(low[c], buffer[c]);
    }
  }
  for (std::size_t c = 0; c < kChannels; ++c) {
    maximum[c] = high[c];
    minimum[c] = low[c];
  }
}

}  // namespace

void BlockWriter::Fold(const std::int32_t* buffer, std::int32_t frames) {
  if (channels == 1) return FoldFrames<1>(buffer, frames, maximum_.data(), minimum_.data());
  if (channels == 2) return FoldFrames<2>(buffer, frames, maximum_.data(), minimum_.data());
  const std::size_t channel_count = channels;
  for (std::size_t c = 0; c < channel_count; ++c) {
    std::int32_t high = maximum_[c];
    std::int32_t low = minimum_[c];
    const std::int32_t* sample = buffer + c;
    for (std::int32_t i = 0; i < frames; ++i, sample += channel_count) {
      high = std::max(high, *sample);
      low = std::min(low, *sample);
    }
    maximum_[c] = high;
    minimum_[c] = low;
  }
}

void BlockWriter::EmitPeaks() {
  for (std::size_t c = 0; c < maximum_.size(); ++c) {
    // Negate in 64 bits so that -2^31 gives 255 too.
    const std::int64_t high = maximum_[c] >> 11;
    const std::int64_t low = (-static_cast<std::int64_t>(minimum_[c])) >> 11;
    pending_.push_back(static_cast<std::uint8_t>(std::min<std::int64_t>(255, high)));
    pending_.push_back(static_cast<std::uint8_t>(std::min<std::int64_t>(255, low)));
    maximum_[c] = 0;
    minimum_[c] = 0;
  }
  accumulated_ = 0;
}

// Peak records are collected per write call and written together: one file call per
// write instead of one per 256 frames.
void BlockWriter::FlushPeaks() {
  if (pending_.empty()) return;
  if (!peaks_.Write(pending_.data(), pending_.size()))
    status |= kSinkWriteFailed;
  pending_.clear();
}

SinkRef CreateBlockWriter(Sound& target, std::int32_t sample_rate, std::uint8_t channels) {
  return MakeCounted<BlockWriter>(target, sample_rate, channels);
}

}  // namespace sonavel
