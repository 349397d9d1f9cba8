#pragma once
// The renders of the gain effects that need more than a filter chain: amplify and
// normalise (segment gains only), fade out and trim, cross fade, DC offset correction and
// reverse. Each works on [start, end) of a sound and returns kDone, kCancelled
// (the sound untouched) or kFailed.

#include <cstdint>

#include "platform/progress.h"
#include "store/sound.h"
#include "store/stream.h"
#include "platform/result.h"

namespace sonavel {

// Multiplies the gains of the segments covering [start, end) by percent / 100 (negative
// percentages count as 0), saturating at 0x7FFFFFFF; 100 % changes and splits nothing.
Result AmplifyRange(Sound& sound, std::int32_t percent, std::int32_t start, std::int32_t end);

// The largest sample magnitude in [start, end) as the reader delivers it, -1 when cancelled.
std::int64_t PeakOfRange(const Sound& sound, std::int32_t start, std::int32_t end, Progress& progress);
// The amplification that brings `peak` to `level` % of full scale: level × 0x7FFF0 / peak,
// at most 400; 100 for a silent range (nothing to do).
std::int32_t NormalisePercent(std::int32_t level, std::int64_t peak);
// Finds the peak of the range, then amplifies it by NormalisePercent.
Result NormaliseRange(Sound& sound, std::int32_t level, std::int32_t start, std::int32_t end, Progress& progress);

// Fades [start, end) out, then deletes everything after `end`.
Result FadeOutAndTrim(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress);

// The frame positions of a cross fade over the selection [S, E), relative to the render
// start `a` except `a` itself.
struct CrossFadePlan {
  std::int64_t gap = 0;       // g
  std::int64_t fade_in = 0;   // i
  std::int64_t fade_out = 0;  // o
  std::int64_t a = 0;         // where the first stream starts and the render lands
  std::int64_t lead = 0;      // k = S - a
  std::int64_t fade_out_end = 0;   // Eo = k + o
  std::int64_t fade_in_start = 0;  // Fi = k + g - i
  std::int64_t fade_in_end = 0;    // Gi = k + g
  std::int64_t length = 0;         // H = max(Gi, Eo)
};
// Times in ms become rate × ms / 1000 frames (negative ones 0).
CrossFadePlan PlanCrossFade(std::int32_t rate, std::int32_t start, std::int32_t gap_ms,
                            std::int32_t fade_in_ms, std::int32_t fade_out_ms);
// Gains (Q24) of the fading-out stream A and the fading-in stream B at render frame n.
std::int32_t CrossFadeGainA(const CrossFadePlan& plan, std::int64_t n);
std::int32_t CrossFadeGainB(const CrossFadePlan& plan, std::int64_t n);
// Removes the selection, overlapping the sound from its start (fading out) with the sound
// leading up to its end (fading in). kFailed when the lengths do not fit 31 bits.
Result CrossFadeRange(Sound& sound, std::int32_t start, std::int32_t end, std::int32_t gap_ms,
                   std::int32_t fade_in_ms, std::int32_t fade_out_ms, Progress& progress);

// Subtracts each channel's mean (truncated toward zero) over [start, end) from it.
Result RemoveDcOffset(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress, SourceRef input = {},
                   SinkRef output = {});

// Reverses the order of the frames in [start, end); the channels of a frame keep their order.
Result ReverseRange(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress, SourceRef input = {},
                 SinkRef output = {});

}  // namespace sonavel
