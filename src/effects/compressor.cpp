#include "effects/compressor.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "effects/block_level.h"
#include "effects/dsp/fixed_point.h"

namespace sonavel {

namespace {

// One dB down per dB above the limit.
constexpr double kLimitingFactor = 0.8913;
// 10 × log10(m × 2^-23): the mean square is taken relative to 2^23.
constexpr double kLevelReference = 8388608.0;

std::int32_t TableEntry(double gain) {
  return gain >= 2147483647.0 ? 0x7FFFFFFF : static_cast<std::int32_t>(gain);
}

}  // namespace

CompressorTable CompressorGainTable(int threshold, double factor, int limit) {
  threshold = std::clamp(threshold, -127, 127);
  limit = std::clamp(limit, -127, 127);
  CompressorTable table{};
  // Make-up gain: a block at 0 dB leaves the ratio stretch at unity.
  double gain = threshold < 0 ? 16777216.0 / std::pow(factor, -threshold) : 16777216.0;
  int index = 0;
  for (; index <= threshold + 127; ++index) table[index] = TableEntry(gain);
  for (; index <= limit + 127; ++index) {
    table[index] = TableEntry(gain);
    gain *= factor;
  }
  for (; index < 256; ++index) {
    table[index] = TableEntry(gain);
    gain *= kLimitingFactor;
  }
  return table;
}

std::int32_t CompressorBlockLength(std::int32_t rate) { return std::clamp(EffectMsToFrames(rate, 45), 128, 8192); }

int CompressorBlockLevel(const std::int32_t* samples, std::int32_t count) {
  return MeanSquareLevel(MeanSquare(samples, count), kLevelReference);
}

CompressorFilter::CompressorFilter(SourceRef source, const CompressorTable& table)
    : FilterSource(std::move(source)), table_(table), block_(CompressorBlockLength(rate)) {
  peak_bound = kCompressorPeak;
  const std::size_t samples = static_cast<std::size_t>(block_) * channels;
  current_.assign(samples, 0);
  ahead_.assign(samples, 0);
  position_in_block_ = block_;
}

std::int32_t CompressorFilter::GainOf(const std::vector<std::int32_t>& block) const {
  return table_[CompressorBlockLevel(block.data(), static_cast<std::int32_t>(block.size())) + 128];
}

void CompressorFilter::NextBlock() {
  if (first_block_) {
    upstream->Read(current_.data(), block_);
    gain_ = GainOf(current_);
    gain_next_ = gain_;
    first_block_ = false;
  } else {
    std::swap(current_, ahead_);
  }
  gain_previous_ = gain_next_;
  upstream->Read(ahead_.data(), block_);
  CheckUpstream();
  gain_next_ = GainOf(ahead_);
  const std::int64_t g = gain_;
  if (gain_next_ < gain_) {
    // Attack: most of the way down by the end of this block.
    slope_ = static_cast<std::int32_t>((gain_next_ - g) / (block_ + block_ / 4));
  } else {
    // Release: half way to the mean of the neighbouring gains by the end of this block.
    const std::int64_t mean = (std::int64_t{gain_next_} + gain_previous_) / 2;
    slope_ = static_cast<std::int32_t>((mean - g) / (2 * std::int64_t{block_}));
  }
  position_in_block_ = 0;
}

void CompressorFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0) return;
  const std::size_t channel_count = channels;
  if (status != kStatusOk) {
    std::fill_n(buffer, static_cast<std::size_t>(frames) * channel_count, 0);
    return;
  }
  while (frames > 0) {
    if (position_in_block_ == block_) NextBlock();
    const std::int32_t k = std::min(frames, block_ - position_in_block_);
    const std::int32_t* from = current_.data() + static_cast<std::size_t>(position_in_block_) * channel_count;
    for (std::int32_t f = 0; f < k; ++f) {
      for (std::size_t c = 0; c < channel_count; ++c) *buffer++ = Q24Multiply(*from++, gain_);
      gain_ += slope_;
    }
    position_in_block_ += k;
    frames -= k;
  }
}

std::int32_t CompressorFilter::Position() const {
  if (first_block_) return upstream->Position();
  return static_cast<std::int32_t>(std::int64_t{upstream->Position()} + position_in_block_ - 2 * std::int64_t{block_});
}

void CompressorFilter::Seek(std::int32_t frame) {
  std::fill(current_.begin(), current_.end(), 0);
  std::fill(ahead_.begin(), ahead_.end(), 0);
  position_in_block_ = block_;
  first_block_ = true;
  upstream->Seek(frame);
}

SourceRef MakeCompressor(SourceRef source, int threshold, int ratio_index, int limit) {
  if (ratio_index < 0 || ratio_index >= kCompressorRatioRows) return {};
  const CompressorTable table = CompressorGainTable(threshold, kCompressorRatios[ratio_index].factor, limit);
  if (std::all_of(table.begin(), table.end(), [](std::int32_t g) { return g == kQ24Unity; })) return source;
  return MakeCounted<CompressorFilter>(std::move(source), table);
}

}  // namespace sonavel
