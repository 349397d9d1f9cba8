#pragma once
// The cue source, used while fast forward or rewind is held: it plays short windows of the
// inner source taken further and further along in the chosen direction, each cross-faded
// into the next, so that the sound is heard speeding through.
//
// A window is N = rate / 90 frames (20 … 2730). The first half of each window's output is
// the window itself; over the second half its samples fade out along a raised cosine while
// the frames leading up to the next window's start fade in, so that the output arrives at
// the next window's first frame without a jump (and a hop of exactly N frames would play
// the inner source unchanged). Output sample = (current × f + lead-in × (2^24 - f) + 2^23)
// >> 24, f being the fade table entry; a constant input therefore comes out unchanged.
//
// The hop between window starts is kept in samples (frames × channels). It starts at
// truncate(p1 × N × channels) and moves towards truncate(p2 × N × channels) over the span,
// counted as channels × frames of output: after each window
//   hop += (final - hop) × (N × channels) / remaining   (integer division),
//   remaining -= N × channels,
// and once the span is used up the hop is the final one. The next window starts at the
// previous start plus the hop rounded down to whole frames, kept within 0 … length.
//
// A window that would move past the inner source's start (rewinding) or end (forwarding)
// stays where it is and plays silence; the ramp goes on, so a hop that changes direction
// moves it again. Frames before 0 or at and beyond the inner length are never read: they
// count as silence.
//
// Inner samples are read through a cache of eight windows (8 × N frames). When a window is
// not in it, the cache is refilled with the eight windows' worth that lie ahead in the
// direction of travel: from the window's lead-in onwards when moving forwards, ending at
// the window's end when moving backwards. Slow rewinding is thus served from memory for
// many windows, instead of a seek and a read for every one of them.

#include <cstdint>
#include <vector>

#include "store/stream.h"

namespace sonavel {

inline constexpr std::int32_t kCueFadeUnity = 1 << 24;

// Window length for a sample rate: rate / 90, clamped to 20 … 2730 frames.
std::int32_t CueWindowFrames(std::int32_t rate);
// The fade table of a window of `window` frames: the first window / 2 entries are 2^24, the
// remaining M = window - window / 2 are round((0.5 cos(πk / M) + 0.5) × 2^24), k = 0 … M-1.
std::vector<std::int32_t> CueFadeTable(std::int32_t window);

class CueSource final : public SampleSource {
 public:
  // Holds one reference to `inner` (a null one reads as a placeholder) and starts at its
  // current position. p1 and p2 are the starting and final speed (negative: backwards),
  // span_ms the time of output over which the speed moves from one to the other.
  CueSource(SourceRef inner, double p1, double p2, std::int32_t span_ms);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  // The inner frame where the window now playing starts.
  std::int32_t Position() const override { return static_cast<std::int32_t>(start_); }
  std::int32_t Length() const override { return inner_->Length(); }
  // Starts a new window at `frame` (within 0 … length); the speed ramp goes on where it was.
  void Seek(std::int32_t frame) override;

  std::int32_t window_frames() const { return window_; }
  const std::vector<std::int32_t>& fade_table() const { return fade_; }
  // The hop in samples that the window now playing moves on by.
  std::int64_t hop() const { return hop_; }
  std::int64_t final_hop() const { return final_hop_; }
  // Samples of output left before the hop reaches its final value.
  std::int64_t remaining_span() const { return remaining_; }

 private:
  std::int64_t InnerLength() const;
  // Sets up the window at start_: where the next one starts, and the samples of both.
  void PrepareWindow();
  // Moves on to the next window and advances the speed ramp.
  void FinishWindow();
  // Copies `count` inner frames from `first` on into `target`, zeros outside the source.
  void Fetch(std::int64_t first, std::int32_t count, std::int64_t window_start,
             std::int32_t* target);
  // Fills the cache with the eight windows around the window starting at `window_start`.
  void Refill(std::int64_t window_start);

  SourceRef inner_;
  std::int32_t window_;  // N
  std::int32_t fade_frames_;  // M = N - N / 2
  std::vector<std::int32_t> fade_;

  std::int64_t hop_ = 0;        // samples
  std::int64_t final_hop_ = 0;  // samples
  std::int64_t remaining_ = 0;  // samples of output

  std::int64_t start_ = 0;  // where the window now playing starts
  std::int64_t next_ = 0;   // where the one after it starts
  std::int32_t offset_ = 0;  // frames of the window already delivered
  bool prepared_ = false;
  bool parked_ = false;  // at the source's start or end, heading out: silence
  bool forward_ = true;  // direction of the window now playing, for the cache placement

  std::vector<std::int32_t> current_;  // the window's N frames
  std::vector<std::int32_t> lead_in_;  // the M frames before the next window's start

  std::vector<std::int32_t> cache_;  // 8 × N frames
  std::int64_t cache_start_ = 0;
  std::int64_t cache_end_ = 0;  // empty while equal to cache_start_
};

// A cue source over `inner` (see CueSource).
SourceRef MakeCueSource(SourceRef inner, double p1, double p2, std::int32_t span_ms);

}  // namespace sonavel
