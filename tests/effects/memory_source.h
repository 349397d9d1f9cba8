#pragma once
// A sample source over samples held in memory, for feeding filters in tests.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "store/stream.h"

namespace sonavel::testing {

// Interleaved samples held in memory; zeros outside them.
class MemorySource final : public SampleSource {
 public:
  MemorySource(std::vector<std::int32_t> samples, std::int32_t rate, std::uint8_t channels,
               std::uint8_t failure = kStatusOk)
      : SampleSource(rate, channels, kFullScale), samples_(std::move(samples)) {
    status = failure;
  }
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    for (std::int64_t i = 0; i < std::int64_t{frames} * channels; ++i) {
      const std::int64_t at = std::int64_t{position_} * channels + i;
      buffer[i] = at >= 0 && at < static_cast<std::int64_t>(samples_.size()) ? samples_[at] : 0;
    }
    position_ += frames;
  }
  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override { return static_cast<std::int32_t>(samples_.size() / channels); }
  void Seek(std::int32_t frame) override { position_ = frame; }

 private:
  std::vector<std::int32_t> samples_;
  std::int32_t position_ = 0;
};

inline SourceRef Memory(std::vector<std::int32_t> samples, std::int32_t rate, std::uint8_t channels = 1) {
  return MakeCounted<MemorySource>(std::move(samples), rate, channels);
}

// Reads `frames` frames in chunks of an odd size, so that reads end in the middle of a
// filter's blocks and refills.
inline std::vector<std::int32_t> ReadInOddChunks(SampleSource& source, std::int32_t frames) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * source.channels, -7);
  for (std::int32_t done = 0; done < frames;) {
    const std::int32_t k = std::min(frames - done, 1237);
    source.Read(out.data() + static_cast<std::size_t>(done) * source.channels, k);
    done += k;
  }
  return out;
}

}  // namespace sonavel::testing
