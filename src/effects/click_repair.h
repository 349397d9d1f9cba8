#pragma once
// Click repair. Clicks are found in a copy of the sound high-passed at 1500 Hz: a click
// starts where the level rises from the frame a short lag before by far more than the
// window's usual frame-to-frame change, and ends at the first frame that falls below a
// third of that level. The audio across it is replaced by a straight line. The filter
// mends a short selection on the stream (manual repair); the automatic runner scans a
// whole selection and splices in only the mended spans, so undo keeps the rest.

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "effects/effect.h"
#include "effects/filter_source.h"

namespace sonavel {

inline constexpr int kClickDetectionHz = 1500;

class DetectionReader;

// The thresholds of one window and channel: a click's rise and its level.
struct ClickThresholds {
  std::int64_t jump = 0;
  std::int64_t level = 0;
};

// The thresholds from `length` high-passed frames of one channel (`h` points at the
// channel's first sample, `stride` samples per frame): c = mean |h|, e = mean |h[j] −
// h[j − lag]| over the pairs inside the window, σ = the root mean square of their
// deviation from e; jump = (trunc(σ) × s / 50 + e + 100) × (s / 10), level = e + c × s / 50.
ClickThresholds WindowThresholds(const std::int32_t* h, int stride, std::int32_t length, std::int32_t lag,
                                 std::int64_t sensitivity);

// How one channel of a window is scanned.
struct ClickScan {
  std::int32_t lag = 1;      // frames between the two levels compared
  std::int32_t longest = 1;  // frames searched for the click's end
  bool strict = false;       // the thresholds must be exceeded, not only reached
  std::int32_t left_extra = 0;  // the line starts this many frames before j − lag
};

// A mended click: the frames strictly between `left` and `right` of `channel` become the
// straight line between the samples at `left` and `right`.
struct ClickSpan {
  int channel = 0;
  std::int32_t left = 0;
  std::int32_t right = 0;
};

// Scans j from `first` to before `stop` over one channel of a window of `length` frames.
// A click starting at j ends at the first n after j (at most `longest` frames on) whose
// |h| is below |h[j]| / 3; n + lag must lie inside the window, so the search never reads
// past it. Found: the span (j − lag − left_extra, n + lag) is added and the scan resumes
// after n + lag; not found: both thresholds grow by half and the scan continues at the
// last frame searched. Returns the frame after the last span's end (or `first`).
std::int32_t FindClicks(const ClickScan& scan, const std::int32_t* h, int stride, std::int32_t length,
                        ClickThresholds thresholds, std::int32_t first, std::int32_t stop, int channel,
                        std::vector<ClickSpan>& spans);

// The line of `span` over one channel of `audio` (positions relative to `audio`).
void MendClick(std::int32_t* audio, int stride, std::int32_t left, std::int32_t right);

// Manual click repair on the stream: windows of W frames advance by S frames; each channel
// of each window is scanned with the window's thresholds and mended in place before its
// first S frames are delivered. No span reaches `end` (an absolute frame: the end of the
// selection being mended).
class ClickRepairFilter final : public FilterSource {
 public:
  ClickRepairFilter(SourceRef source, int sensitivity, int longest_us,
                    std::int32_t end = std::numeric_limits<std::int32_t>::max());
  ~ClickRepairFilter() override;
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;
  std::int32_t Position() const override { return position_; }

  std::int32_t sensitivity;  // signed byte
  std::int32_t window;       // W
  std::int32_t lag;          // d
  std::int32_t longest;      // M
  std::int32_t span;         // S

 private:
  void Pull(std::int32_t frames);
  void ProcessWindow();

  std::unique_ptr<DetectionReader> detection_;
  std::int32_t end_;
  std::vector<std::int32_t> audio_;  // frames from position_ on, interleaved
  std::vector<std::int32_t> high_;   // their high-passed copy
  std::vector<std::int32_t> pulled_;
  std::int32_t filled_ = 0;  // frames held
  std::int32_t ready_ = 0;   // frames held that are mended and may be delivered
  std::int32_t position_ = 0;
};

// The automatic repair of run.start … run.end with the given sensitivity (0 … 100, higher
// finds more) and longest click in microseconds. kDone or kCancelled.
Result RepairClicks(EffectRun& run, int sensitivity, int longest_us);

}  // namespace sonavel
