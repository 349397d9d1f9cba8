#include "effects/filter_source.h"

#include <utility>

namespace sonavel {

FilterSource::FilterSource(SourceRef source)
    : SampleSource(source ? source->rate : 44100, source ? source->channels : 1,
                   source ? source->peak_bound : 0),
      upstream(source ? std::move(source) : MakeNullSource()) {
  rate = upstream->rate;
  channels = upstream->channels;
  peak_bound = upstream->peak_bound;
  status = upstream->status == kStatusOk ? kStatusOk : kStatusUpstreamFailed;
}

}  // namespace sonavel
