#pragma once
// The multi-band noise gate: the signal is split into four bands (below 400 Hz, 400 to
// 1100 Hz, 1100 to 2600 Hz and above), each band is opened or closed per block by its
// own peak against a threshold, and the gains glide from block to block, looking one
// block ahead. The part below 50 Hz is always removed. Integer arithmetic throughout.

#include <array>
#include <cstdint>
#include <vector>

#include "effects/filter_source.h"

namespace sonavel {

class NoiseGateFilter final : public FilterSource {
 public:
  static constexpr int kBands = 4;
  // The gate level's range in dB; stored values beyond it are limited to it, so that no
  // band's threshold reaches silence.
  static constexpr int kLowestLevel = -40;
  static constexpr int kHighestLevel = 0;

  NoiseGateFilter(SourceRef source, int level_db);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;
  std::int32_t Position() const override { return position_; }

  // The target gain (Q24) of a band for a block level and a threshold factor.
  static std::int32_t GateGain(std::int64_t level, std::int64_t factor);

  std::array<std::int32_t, kBands> k{};          // Q8 one-pole coefficients: 50, 400, 1100, 2600 Hz
  std::array<std::int64_t, kBands> threshold{};  // Q24 scale factors per band
  std::int32_t block = 0;                        // W frames
  std::array<std::int32_t, kBands> gain{};       // Q24
  std::array<std::int32_t, kBands> slope{};      // Q24 per frame

 private:
  struct Accumulators {
    std::int64_t f = 0, b = 0, c = 0, a = 0;
  };
  // Reads the next block from upstream and splits it into `set` (band-major, W × channels
  // per band).
  void SplitBlock(std::vector<std::int32_t>& set);
  // The target gains from a set's band peaks.
  std::array<std::int32_t, kBands> Targets(const std::vector<std::int32_t>& set) const;
  void Start();

  std::vector<Accumulators> accumulators_;
  std::vector<std::int32_t> current_;
  std::vector<std::int32_t> ahead_;
  std::vector<std::int32_t> input_;
  std::int32_t offset_ = 0;  // frames of the current block already used
  std::int32_t position_ = 0;
  bool started_ = false;
};

}  // namespace sonavel
