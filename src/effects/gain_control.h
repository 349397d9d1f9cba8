#pragma once
// Automatic gain control: raises quiet passages and lowers loud ones towards a typical
// level. A first pass stores the selection and one loudness byte per block and channel in
// two temporary files and collects a histogram of the levels per channel; the second pass
// plays the stored samples back through a gain that follows a level tracker looking about
// one second ahead, then through the peak limiter. Memory stays the same whatever the
// length of the sound.

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/progress.h"
#include "store/sound.h"
#include "platform/result.h"

namespace sonavel {

// Frames per block: rate / 50, limited to 20 … 8192.
std::int32_t GainControlBlockLength(std::int32_t rate);

// The two weighting coefficients (450 Hz and 2200 Hz) in eighths of a bit: truncate((1 -
// e^(-2π f / rate)) × 256); 0 for a rate below 1.
std::pair<int, int> GainControlWeights(std::int32_t rate);

// The gain in dB for every relative block level (index level + 128): +5 dB for quiet
// blocks, falling 0.5 dB per dB from -9 dB to +2 dB and 1 dB per dB above.
std::array<int, 256> GainControlTable();

// Block counts per level, index level + 128.
using LevelHistogram = std::array<std::uint32_t, 256>;

// The typical level of a histogram: the median of the levels that lie no more than 15 dB
// below the level that only the loudest eighth of the blocks reach; -127 … 127.
int TypicalLevel(const LevelHistogram& histogram);

// The level tracker: a ring of the 50 latest block values, a threshold that more than 12
// of them reach, and a smoothed level that follows the threshold (quickly upwards, slowly
// downwards).
class LevelTracker {
 public:
  static constexpr int kSize = 50;
  static constexpr int kTargetCount = 12;

  LevelTracker();

  // Stores `value` (limited to -127 … 127) over the oldest one and moves on.
  void Push(int value);
  // Moves on without a new value.
  void Advance();

  // The value at the write position (the oldest, the block being rendered next).
  int current() const { return ring_[write_]; }
  int threshold() const { return threshold_; }
  // Values at or above the threshold.
  int count() const { return count_; }
  double smoothed() const { return smoothed_; }
  int smoothed_level() const { return smoothed_level_; }

 private:
  void Smooth();

  std::array<int, kSize> ring_{};
  std::array<int, 256> histogram_{};
  int write_ = 0;
  int threshold_ = 0;
  int count_ = kSize;
  double smoothed_ = -2.0;
  int smoothed_level_ = 0;
};

// A file in the system temporary folder, named "tmp" and six more characters, open for
// reading and writing; removed again when the object goes.
class TemporaryFile {
 public:
  TemporaryFile();
  ~TemporaryFile();
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  TemporaryFile& operator=(TemporaryFile&&) = delete;

  bool IsOpen() const { return file.IsOpen(); }
  const std::string& path() const { return path_; }

  File file;

 private:
  std::string path_;
};

// Runs the automatic gain control over [start, end) of `sound` and replaces that range
// with the result. kDone; kCancelled with the sound unchanged; kFailed,
// also unchanged, when a temporary file could not be created, written or read back.
Result RunGainControl(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress);

}  // namespace sonavel
