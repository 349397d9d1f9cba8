#include "effects/gain_control.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "effects/block_level.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "platform/paths.h"
#include "store/block_writer.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

// The gain curve: below kQuietLevel every block gets kQuietLevel × kCurveSlope; up to
// kLoudLevel the gain falls by the slope per dB, above it by 1 dB per dB.
constexpr int kQuietLevel = -9;
constexpr int kLoudLevel = 2;
constexpr double kCurveSlope = -0.5;
// The smoothed level rises only while below 8 and falls only while above -2.
constexpr int kSmoothHigh = 8;
constexpr int kSmoothLow = -2;
// 10 × log10(m / 8388626): 0 dB is an RMS about 15 dB below full scale.
constexpr double kLevelReference = 8388626.0;
constexpr std::int32_t kOutputLimit = 0x7FFF0;
constexpr std::int32_t kStagePeak = 0x200000;

int Saturate(int value) { return std::clamp(value, -127, 127); }

std::int32_t SaturateSample(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// The two first-order high-pass stages of the level weighting, one pair of accumulators
// per channel kept from block to block.
class Weighting {
 public:
  Weighting(std::int32_t rate, std::uint8_t channels) : a1_(channels, 0), a2_(channels, 0) {
    std::tie(k1_, k2_) = GainControlWeights(rate);
  }

  void Apply(std::int32_t* samples, std::int32_t frames) {
    const std::size_t channels = a1_.size();
    for (std::int32_t f = 0; f < frames; ++f) {
      for (std::size_t c = 0; c < channels; ++c) {
        std::int32_t& x = samples[static_cast<std::size_t>(f) * channels + c];
        const std::int64_t y = x - (a1_[c] >> 8);
        a1_[c] += k1_ * y;
        const std::int64_t e = y - (a2_[c] >> 8);
        a2_[c] += k2_ * e;
        x = SaturateSample(y + e);
      }
    }
  }

 private:
  // 64-bit so that loud material cannot overflow them.
  std::vector<std::int64_t> a1_, a2_;
  std::int64_t k1_ = 0, k2_ = 0;
};

// The second pass: the stored samples with a per-channel gain in Q24 that moves, block by
// block, towards the gain the tracker asks for one and a half blocks later. The last block
// fades to silence.
class GainControlStage final : public SampleSource {
 public:
  GainControlStage(std::int32_t sample_rate, std::uint8_t channel_count, std::int32_t block, std::int32_t blocks,
                   std::int32_t frames, TemporaryFile samples, TemporaryFile levels, std::vector<int> typical)
      : SampleSource(sample_rate, channel_count, kStagePeak),
        block_(block),
        blocks_(blocks),
        frames_(frames),
        samples_(std::move(samples)),
        levels_(std::move(levels)),
        typical_(std::move(typical)),
        table_(GainControlTable()),
        gains_(channels, 0),
        steps_(channels, 0),
        level_bytes_(channels, 0) {
    Restart();
  }

  void Read(std::int32_t* buffer, std::int32_t frames) override {
    if (frames <= 0) return;
    const std::size_t channel_count = channels;
    const std::int32_t available = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{frames_} - position_, 0, frames));
    const std::size_t bytes = static_cast<std::size_t>(available) * channel_count * sizeof(std::int32_t);
    if (bytes > 0 && samples_.file.Read(buffer, bytes) != bytes) {
      status = kStatusCorrupt;  // the sample file came back short
      std::fill_n(buffer, static_cast<std::size_t>(available) * channel_count, 0);
    }
    std::fill(buffer + static_cast<std::size_t>(available) * channel_count,
              buffer + static_cast<std::size_t>(frames) * channel_count, 0);
    std::int32_t* sample = buffer;
    for (std::int32_t f = 0; f < available; ++f) {
      if (in_block_ == 0) StartBlock();
      for (std::size_t c = 0; c < channel_count; ++c, ++sample) *sample = Q24Multiply(*sample, gains_[c]);
      for (std::size_t c = 0; c < channel_count; ++c) gains_[c] += steps_[c];
      if (++in_block_ == block_) in_block_ = 0;
    }
    position_ += frames;
  }

  std::int32_t Position() const override {
    return static_cast<std::int32_t>(std::min<std::int64_t>(position_, std::numeric_limits<std::int32_t>::max()));
  }
  std::int32_t Length() const override { return frames_; }

  // Starts again from the first block and skips to `frame`.
  void Seek(std::int32_t frame) override {
    Restart();
    std::vector<std::int32_t> scratch(static_cast<std::size_t>(block_) * channels);
    for (std::int64_t left = std::clamp(frame, 0, frames_); left > 0;) {
      const std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(left, block_));
      Read(scratch.data(), n);
      left -= n;
    }
  }

 private:
  void Restart() {
    if (!samples_.file.Seek(0) || !levels_.file.Seek(0)) status = kStatusCorrupt;
    tracker_ = LevelTracker();
    blocks_read_ = 0;
    blocks_left_ = blocks_;
    position_ = 0;
    in_block_ = 0;
    // The ring holds the next 50 blocks ahead of the one being rendered.
    for (int i = 0; i <= LevelTracker::kSize; ++i) PushNextBlock();
    for (std::size_t c = 0; c < channels; ++c) {
      gains_[c] = TargetGain(c);
      steps_[c] = 0;
    }
  }

  // The gain in Q24 that the tracker asks for on channel c.
  std::int32_t TargetGain(std::size_t c) const {
    const int level = tracker_.smoothed_level();
    const int curve = table_[Saturate(tracker_.current() - level) + 128];
    return DecibelToQ24(Saturate(curve + Saturate(-typical_[c] - level)));
  }

  // Pushes the next block's tracked value, or advances the tracker when there is none.
  void PushNextBlock() {
    if (blocks_read_ >= blocks_) {
      tracker_.Advance();
      return;
    }
    if (levels_.file.Read(level_bytes_.data(), level_bytes_.size()) != level_bytes_.size()) {
      status = kStatusCorrupt;  // the level file came back short
      tracker_.Advance();
      return;
    }
    ++blocks_read_;
    // Levels relative to each channel's typical level; the louder of the first two counts.
    int tracked = -127;
    for (std::size_t c = 0; c < std::min<std::size_t>(channels, 2); ++c) {
      const int relative = Saturate(static_cast<std::int8_t>(level_bytes_[c]) - typical_[c]);
      tracked = c == 0 ? relative : std::max(tracked, relative);
    }
    tracker_.Push(tracked);
  }

  void StartBlock() {
    for (std::size_t c = 0; c < channels; ++c) {
      if (blocks_left_ > 1) {
        // The target is reached one and a half blocks later.
        const std::int64_t change = std::int64_t{TargetGain(c)} - gains_[c];
        steps_[c] = static_cast<std::int32_t>(change / (block_ + block_ / 2));
      } else {
        // The last block fades to silence over the frames it really has.
        const std::int32_t last = frames_ - (blocks_ - 1) * block_;
        steps_[c] = -(gains_[c] / std::max(last, 1));
      }
    }
    --blocks_left_;
    if (blocks_left_ > LevelTracker::kSize)
      PushNextBlock();
    else
      tracker_.Advance();
  }

  std::int32_t block_;   // W
  std::int32_t blocks_;  // B
  std::int32_t frames_;  // the selection's length: B - 1 whole blocks and a last one
  TemporaryFile samples_;
  TemporaryFile levels_;
  std::vector<int> typical_;  // τ per channel
  std::array<int, 256> table_;
  LevelTracker tracker_;
  std::vector<std::int32_t> gains_;
  std::vector<std::int32_t> steps_;
  std::vector<std::uint8_t> level_bytes_;
  std::int32_t blocks_read_ = 0;
  std::int32_t blocks_left_ = 0;  // R
  std::int64_t position_ = 0;
  std::int32_t in_block_ = 0;
};

}  // namespace

std::int32_t GainControlBlockLength(std::int32_t rate) { return std::clamp(rate / 50, 20, 8192); }

std::pair<int, int> GainControlWeights(std::int32_t rate) {
  if (rate < 1) return {0, 0};
  const double k1 = (1.0 - std::exp(-2827.43338815 / rate)) * 256.0;
  const double k2 = (1.0 - std::exp(-13823.0076754 / rate)) * 256.0;
  return {static_cast<int>(k1), static_cast<int>(k2)};
}

std::array<int, 256> GainControlTable() {
  std::array<int, 256> table{};
  for (int index = 0; index < 256; ++index) {
    const int level = index - 128;
    double gain;
    if (level < kQuietLevel)
      gain = kQuietLevel * kCurveSlope;
    else if (level < kLoudLevel)
      gain = level * kCurveSlope;
    else
      gain = kLoudLevel * kCurveSlope - (level - kLoudLevel);
    table[index] = DecibelByte(gain);
  }
  return table;
}

int TypicalLevel(const LevelHistogram& histogram) {
  auto bin = [&histogram](int level) { return std::int64_t{histogram[level + 128]}; };
  std::int64_t total = 0;
  for (int level = -127; level <= 127; ++level) total += bin(level);
  const std::int64_t loudest = (total + 8) >> 3;
  std::int64_t left = total;
  int n = -127;
  int floor = -127;
  if (total > loudest) {
    // n: the level that only the loudest eighth of the blocks reach.
    while (left > loudest && n <= 127) left -= bin(n++);
    floor = n < -112 ? -127 : n - 15;
  }
  for (int level = floor; level < n; ++level) left += bin(level);
  // The median of the levels from the floor upwards.
  const std::int64_t half = (left + 2) >> 1;
  int typical = floor;
  while (left > half && typical <= 127) left -= bin(typical++);
  return Saturate(typical);
}

LevelTracker::LevelTracker() { histogram_[128] = kSize; }

void LevelTracker::Push(int value) {
  value = Saturate(value);
  const int old = ring_[write_];
  --histogram_[old + 128];
  if (old >= threshold_) --count_;
  ring_[write_] = value;
  ++histogram_[value + 128];
  if (value >= threshold_) ++count_;
  write_ = (write_ + 1) % kSize;
  // The threshold becomes the highest level that more than 12 values reach.
  while (count_ <= kTargetCount && threshold_ > -127) count_ += histogram_[--threshold_ + 128];
  while (count_ - histogram_[threshold_ + 128] > kTargetCount && threshold_ < 127)
    count_ -= histogram_[threshold_++ + 128];
  Smooth();
}

void LevelTracker::Advance() {
  write_ = (write_ + 1) % kSize;
  Smooth();
}

void LevelTracker::Smooth() {
  const int d = ring_[write_];
  // Up quickly towards a higher threshold, down slowly towards a lower one.
  if (smoothed_level_ < d && threshold_ > smoothed_level_ && smoothed_level_ < kSmoothHigh) {
    smoothed_ += (threshold_ - smoothed_) / 12.0;
    smoothed_level_ = static_cast<int>(smoothed_);
  }
  if (d < smoothed_level_ && threshold_ < smoothed_level_ && smoothed_level_ > kSmoothLow) {
    smoothed_ += (threshold_ - smoothed_) / 50.0;
    smoothed_level_ = static_cast<int>(smoothed_);
  }
}

TemporaryFile::TemporaryFile() {
  std::string pattern = JoinPath(TempFolder(), "tmpXXXXXX");
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) return;
  ::close(descriptor);
  path_ = pattern;
  if (!file.Open(path_, File::Mode::kReadWrite)) RemoveFile(path_);
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : file(std::move(other.file)), path_(std::move(other.path_)) {
  other.path_.clear();
}

TemporaryFile::~TemporaryFile() {
  file.Close();
  if (!path_.empty()) RemoveFile(path_);
}

Result RunGainControl(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress) {
  start = std::max(start, 0);
  end = std::min(end, SoundLength(sound));
  if (end <= start) return kDone;
  progress.SetTexts("Durchführen Der Automatischen Verstärkungsregelung", "Bitte Wartezeit...");
  const std::int32_t length = end - start;
  const std::uint8_t channels = std::max<std::uint8_t>(sound.channels, 1);
  const std::size_t channel_count = channels;

  Sound selection(sound.rate, channels);
  CopyRange(sound, selection, start, end);
  SourceRef reader = OpenSoundReader(selection);
  Sound rendered(sound.rate, channels);
  SinkRef writer = CreateBlockWriter(rendered, sound.rate, channels);

  TemporaryFile samples;
  TemporaryFile levels;
  if (!samples.IsOpen() || !levels.IsOpen()) return kFailed;

  // Analysis: store the samples and every block's level per channel, count the levels.
  const std::int32_t block = GainControlBlockLength(sound.rate);
  const std::int32_t blocks = static_cast<std::int32_t>((std::int64_t{length} + block - 1) / block);
  const std::int32_t chunk_blocks = std::max(1, kChunkFrames / block);
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(chunk_blocks) * block * channel_count);
  std::vector<std::int8_t> level_bytes(static_cast<std::size_t>(chunk_blocks) * channel_count);
  std::vector<LevelHistogram> histograms(channel_count, LevelHistogram{});
  Weighting weighting(sound.rate, channels);
  for (std::int32_t done = 0; done < blocks;) {
    if (progress.Pump()) return kCancelled;
    const std::int32_t n = std::min(chunk_blocks, blocks - done);
    const std::int32_t frames = n * block;
    reader->Read(buffer.data(), frames);
    if (!samples.file.Write(buffer.data(), static_cast<std::size_t>(frames) * channel_count * sizeof(std::int32_t)))
      return kFailed;
    weighting.Apply(buffer.data(), frames);
    for (std::int32_t b = 0; b < n; ++b) {
      const std::int32_t* first = buffer.data() + static_cast<std::size_t>(b) * block * channel_count;
      for (std::size_t c = 0; c < channel_count; ++c) {
        const std::uint64_t mean_square = MeanSquare(first + c, block, static_cast<std::int32_t>(channel_count));
        const int level = MeanSquareLevel(mean_square, kLevelReference);
        ++histograms[c][level + 128];
        level_bytes[static_cast<std::size_t>(b) * channel_count + c] = static_cast<std::int8_t>(level);
      }
    }
    if (!levels.file.Write(level_bytes.data(), static_cast<std::size_t>(n) * channel_count)) return kFailed;
    done += n;
    progress.SetFraction(std::min<double>(static_cast<double>(done) * block, length) / (2.0 * length));
  }
  reader.Reset();

  std::vector<int> typical(channel_count);
  for (std::size_t c = 0; c < channel_count; ++c) typical[c] = TypicalLevel(histograms[c]);
  SourceRef stage = MakeCounted<GainControlStage>(sound.rate, channels, block, blocks, length, std::move(samples),
                                                  std::move(levels), std::move(typical));
  SourceRef limited = MakePeakLimiter(stage, kOutputLimit);

  // Rendering: the second half of the bar.
  const std::int32_t chunk_frames = chunk_blocks * block;
  for (std::int32_t done = 0; done < length;) {
    if (progress.Pump()) return kCancelled;
    const std::int32_t n = std::min(chunk_frames, length - done);
    limited->Read(buffer.data(), n);
    writer->Write(buffer.data(), n);
    done += n;
    progress.SetFraction(0.5 + 0.5 * static_cast<double>(done) / length);
  }
  if (stage->status != kStatusOk || limited->status != kStatusOk || writer->status != kStatusOk)
    return kFailed;
  writer.Reset();  // finishes `rendered`
  limited.Reset();
  stage.Reset();  // removes the temporary files
  if (SoundLength(rendered) != length) return kFailed;
  ReplaceRange(sound, start, end, rendered);
  return kDone;
}

}  // namespace sonavel
