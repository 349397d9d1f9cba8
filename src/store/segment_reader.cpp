#include "store/segment_reader.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace sonavel {

static_assert(std::endian::native == std::endian::little,
              "block files hold little-endian samples and are read in place");

namespace {

// v × factor / 512, in 64 bits and saturated: samples beyond full scale times large gains
// would not fit 32 bits.
void ApplyGain(std::int32_t* samples, std::size_t count, std::int32_t factor) {
  constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
  for (std::size_t i = 0; i < count; ++i) {
    std::int64_t scaled = (static_cast<std::int64_t>(samples[i]) * factor) >> 9;
    samples[i] = static_cast<std::int32_t>(std::clamp(scaled, kLow, kHigh));
  }
}

}  // namespace

SegmentReader::SegmentReader(const Sound& sound)
    : SampleSource(sound.rate, sound.channels, kSegmentReaderPeak) {
  CopySound(sound, sound_);
  current_ = sound_.head;
  length_ = SoundLength(sound_);
}

void SegmentReader::OpenSegment(const Segment& segment, std::int64_t frame) {
  frames_left_ = segment.length - frame;
  if (segment.block == kNoBlock) return;
  if (!file_.Open(BlockAudioPath(segment.block), File::Mode::kRead)) return;
  const std::int64_t start = static_cast<std::int64_t>(segment.offset) + frame;
  if (start > 0) file_.Seek(start * channels * 4);
  gain_factor_ = segment.gain >> 15;
}

void SegmentReader::Read(std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0) return;
  const std::size_t channel_count = channels;
  std::int64_t n = frames;
  if (position_ < 0) {  // leading silence
    const std::int64_t k = std::min<std::int64_t>(-std::int64_t{position_}, n);
    std::fill_n(buffer, k * channel_count, 0);
    buffer += k * channel_count;
    n -= k;
    position_ += static_cast<std::int32_t>(k);
  }
  // The position advances by the full request, whatever the list holds.
  position_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(std::int64_t{position_} + n, std::numeric_limits<std::int32_t>::max()));
  while (n > 0) {
    if (frames_left_ > 0) {
      const std::int64_t k = std::min(frames_left_, n);
      const std::size_t samples = static_cast<std::size_t>(k) * channel_count;
      if (!file_.IsOpen()) {
        std::fill_n(buffer, samples, 0);
      } else {
        // A block file shorter than its segment (a write lost to a full disk) reads as
        // silence where it ends.
        const std::size_t got = file_.Read(buffer, samples * 4) / 4;
        std::fill(buffer + got, buffer + samples, 0);
        if (gain_factor_ != 512) ApplyGain(buffer, got, gain_factor_);
      }
      frames_left_ -= k;
      n -= k;
      buffer += samples;
      continue;
    }
    file_.Close();
    if (current_ == nullptr) break;
    OpenSegment(*current_, 0);
    current_ = current_->next;
  }
  if (n > 0) std::fill_n(buffer, static_cast<std::size_t>(n) * channel_count, 0);
}

void SegmentReader::Seek(std::int32_t frame) {
  file_.Close();
  frames_left_ = 0;
  position_ = frame;
  current_ = sound_.head;
  if (frame <= 0) return;
  std::int64_t f = frame;
  while (current_ != nullptr && f >= current_->length) {
    f -= current_->length;
    current_ = current_->next;
  }
  if (current_ == nullptr) return;  // past the end: reads deliver zeros
  OpenSegment(*current_, f);
  current_ = current_->next;
}

SourceRef OpenSoundReader(const Sound& sound) { return MakeCounted<SegmentReader>(sound); }

}  // namespace sonavel
