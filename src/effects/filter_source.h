#pragma once
// The base of every sound-changing filter: a source that wraps another one. It takes the
// format (rate, peak bound, channels) of the source it wraps and by default forwards
// position, length and seek to it; filters that change the format or the timing override
// those.

#include <cstdint>

#include "store/stream.h"

namespace sonavel {

class FilterSource : public SampleSource {
 public:
  // Holds one reference to `source`; a null reference is replaced by a placeholder. The
  // status is 2 when the wrapped source is not usable.
  explicit FilterSource(SourceRef source);

  std::int32_t Position() const override { return upstream->Position(); }
  std::int32_t Length() const override { return upstream->Length(); }
  void Seek(std::int32_t frame) override { upstream->Seek(frame); }

  SourceRef upstream;  // the wrapped source, never null

 protected:
  // Call after reading from upstream: a failure there makes this filter report status 2.
  void CheckUpstream() {
    if (upstream->status != kStatusOk) status = kStatusUpstreamFailed;
  }
};

}  // namespace sonavel
