#pragma once
// The dynamic range compressor: a filter that measures the loudness of blocks of 45 ms
// and scales each block by a gain looked up from a table of 256 levels, gliding from one
// block's gain to the next. It reads one block ahead, so the gain is already falling when
// a loud block arrives.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "effects/filter_source.h"

namespace sonavel {

// A row of the ratio drop-down: its name and the gain factor per dB above the threshold.
struct CompressorRatio {
  const char* name;
  double factor;
};
inline constexpr int kCompressorRatioRows = 7;
// 1, 10^(-1/60), 10^(-1/40), 10^(-1/30), 10^(-3/80), 10^(-1/25), 10^(-1/20).
inline constexpr CompressorRatio kCompressorRatios[kCompressorRatioRows] = {
    {"1:1", 1.0},
    {"3:2", 0.9623506263981255},
    {"2:1", 0.9440608762859234},
    {"3:1", 0.9261187281287935},
    {"4:1", 0.9172759353897796},
    {"5:1", 0.9120108393559098},
    {"Limit", 0.8912509382363546},
};

// The compressor's output bound.
inline constexpr std::int32_t kCompressorPeak = 0x3FFFFF;

using CompressorTable = std::array<std::int32_t, 256>;

// The Q24 gain for every block level (index level + 128). `threshold` and `limit` are
// limited to -127 … 127; `factor` is the ratio's gain per dB. Below the threshold every
// entry is the make-up gain 2^24 / factor^(-threshold) (2^24 for a threshold of 0 or
// more); from the threshold to the limit each dB multiplies by `factor`, above the limit
// by 0.8913. Entries beyond 0x7FFFFFFF are held there.
CompressorTable CompressorGainTable(int threshold, double factor, int limit);

// Frames per block: 45 ms at `rate`, limited to 128 … 8192.
std::int32_t CompressorBlockLength(std::int32_t rate);

// The block's loudness: 10 × log10(mean square of (s >> 5) × 2^-23) as a decibel byte.
int CompressorBlockLevel(const std::int32_t* samples, std::int32_t count);

class CompressorFilter final : public FilterSource {
 public:
  CompressorFilter(SourceRef source, const CompressorTable& table);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  // The frame the next read delivers: the upstream position less the block read ahead and
  // the rest of the current block.
  std::int32_t Position() const override;
  void Seek(std::int32_t frame) override;

  std::int32_t block_length() const { return block_; }

 private:
  std::int32_t GainOf(const std::vector<std::int32_t>& block) const;
  // Moves to the next block: takes the look-ahead block (the first time, reads it), reads
  // a new look-ahead block and sets the slope towards its gain.
  void NextBlock();

  CompressorTable table_;
  std::int32_t block_;  // W
  std::vector<std::int32_t> current_;
  std::vector<std::int32_t> ahead_;
  std::int32_t position_in_block_;  // p
  std::int32_t gain_ = 1 << 24;
  std::int32_t gain_previous_ = 1 << 24;
  std::int32_t gain_next_ = 1 << 24;
  std::int32_t slope_ = 0;
  bool first_block_ = true;
};

// The compressor over `source` for a threshold and limit in dB and a ratio index 0 … 6;
// `source` itself (one more reference) when every table entry is unity. An index outside
// the drop-down gives a null reference.
SourceRef MakeCompressor(SourceRef source, int threshold, int ratio_index, int limit);

}  // namespace sonavel
