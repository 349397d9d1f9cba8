#include "store/stream.h"

#include <algorithm>

namespace sonavel {

namespace {

class NullSource final : public SampleSource {
 public:
  explicit NullSource(std::uint8_t failure) : SampleSource(11025, 1, 0x200000) {
    status = failure;
  }
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    if (frames > 0) std::fill_n(buffer, frames, 0);
  }
};

class NullSink final : public SampleSink {
 public:
  NullSink() : SampleSink(44100, 1) { status = kSinkUnusable; }
  void Write(const std::int32_t*, std::int32_t) override {}
};

}  // namespace

SampleSource::SampleSource(std::int32_t sample_rate, std::uint8_t channel_count,
                           std::int32_t peak)
    : rate(sample_rate), peak_bound(peak), channels(channel_count) {
  if (rate <= 0) {
    rate = 44100;
    status = kStatusCorrupt;
  }
  if (channels == 0) {
    channels = 1;
    status = kStatusCorrupt;
  }
}

SampleSink::SampleSink(std::int32_t sample_rate, std::uint8_t channel_count)
    : rate(sample_rate), channels(channel_count) {
  if (channels == 0) {
    channels = 1;
    status = kSinkUnusable;
  }
}

SourceRef MakeNullSource(std::uint8_t status) { return MakeCounted<NullSource>(status); }
SinkRef MakeNullSink() { return MakeCounted<NullSink>(); }

}  // namespace sonavel
