#include "formats/vox_adpcm.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/file.h"

namespace sonavel {

namespace {

constexpr std::int32_t kStepSizes[49] = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,  45,   50,   55,   60,   66,   73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209, 230,  253,  279,  307,  337,  371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr int kIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

// +16 × (2 × (n & 7) + 1), negative for n ≥ 8.
constexpr std::int32_t Multiplier(unsigned nibble) {
  const std::int32_t magnitude = 16 * (2 * static_cast<std::int32_t>(nibble & 7) + 1);
  return (nibble & 8) != 0 ? -magnitude : magnitude;
}

void ClampIndex(VoxState& state) { state.index = std::clamp(state.index, 0, 48); }

class VoxReader final : public SampleSource {
 public:
  VoxReader(std::unique_ptr<ByteSource> file, std::int32_t sample_rate)
      : SampleSource(sample_rate, 1, kVoxPeak), file_(std::move(file)), buffer_(kChunkFrames) {
    file_->Seek(0);
  }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    std::int64_t position = position_;
    std::int64_t n = count;
    position_ = static_cast<std::int32_t>(std::min(position + count, kMaxFrames));
    if (position < 0) {  // frames before frame 0 are silence
      const std::int64_t k = std::min(-position, n);
      std::fill_n(out, k, 0);
      out += k;
      n -= k;
      position += k;
    }
    const std::int64_t length = status == kStatusOk ? Length() : 0;
    while (n > 0 && position < length) {
      if (position % 2 != 0 && !pending_) StartInsideByte(position);
      if (pending_) {
        *out++ = DecodeVoxNibble(state_, low_nibble_);
        pending_ = false;
        ++position;
        --n;
        continue;
      }
      const std::int64_t samples = std::min({n, length - position, std::int64_t{2} * kChunkFrames});
      const std::size_t bytes = static_cast<std::size_t>((samples + 1) / 2);
      const std::size_t got = file_->Read(buffer_.data(), bytes);
      const std::int64_t decoded = std::min<std::int64_t>(samples, 2 * static_cast<std::int64_t>(got));
      for (std::int64_t i = 0; i < decoded; ++i) {
        const std::uint8_t byte = buffer_[static_cast<std::size_t>(i / 2)];
        out[i] = DecodeVoxNibble(state_, i % 2 == 0 ? byte >> 4 : byte & 15u);
      }
      // An odd count leaves the low nibble of the last byte for the next read.
      if (decoded % 2 != 0) {
        pending_ = true;
        low_nibble_ = buffer_[static_cast<std::size_t>(decoded / 2)] & 15u;
      }
      out += decoded;
      n -= decoded;
      position += decoded;
      if (decoded < samples) break;  // the file ends sooner than its size said
    }
    if (n > 0) {
      std::fill_n(out, n, 0);
      pending_ = false;
    }
  }

  std::int32_t Position() const override { return position_; }
  // Two samples per byte of the file as it is now.
  std::int32_t Length() const override {
    return static_cast<std::int32_t>(std::min(2 * std::max<std::int64_t>(file_->Size(), 0), kMaxFrames));
  }

  // The decoder keeps its state across a seek, except to the start, which decodes as a
  // fresh reader does. An odd frame starts with the low nibble of its byte.
  void Seek(std::int32_t frame) override {
    position_ = frame;
    pending_ = false;
    if (frame <= 0) {
      state_ = VoxState{};
      file_->Seek(0);
      return;
    }
    const std::int64_t target = std::min<std::int64_t>(frame, Length());
    if (target % 2 != 0)
      StartInsideByte(target);
    else
      file_->Seek(target / 2);
  }

 private:
  // Reads the byte holding the odd sample `position`: its high nibble runs through the
  // decoder, its low nibble comes next.
  void StartInsideByte(std::int64_t position) {
    file_->Seek(position / 2);
    std::uint8_t byte = 0;
    if (file_->Read(&byte, 1) != 1) return;
    DecodeVoxNibble(state_, byte >> 4);
    low_nibble_ = byte & 15u;
    pending_ = true;
  }

  std::unique_ptr<ByteSource> file_;
  VoxState state_;
  std::int32_t position_ = 0;
  bool pending_ = false;
  unsigned low_nibble_ = 0;
  std::vector<std::uint8_t> buffer_;
};

class VoxWriter final : public SampleSink {
 public:
  VoxWriter(const std::string& path, std::int32_t sample_rate) : SampleSink(sample_rate, 1) {
    if (!file_.Open(path, File::Mode::kCreate)) status |= kSinkUnusable;
    buffer_.reserve(kChunkFrames / 2 + 1);
  }

  // A nibble still waiting is written with a zero low nibble, so no sample is lost.
  ~VoxWriter() override {
    if (!file_.IsOpen() || !pending_) return;
    const std::uint8_t byte = static_cast<std::uint8_t>(high_nibble_ << 4);
    file_.Write(&byte, 1);
  }

  void Write(const std::int32_t* in, std::int32_t count) override {
    if (count <= 0 || (status & kSinkUnusable) != 0) return;
    while (count > 0) {
      const std::int32_t piece = std::min(count, kChunkFrames);
      buffer_.clear();
      for (std::int32_t i = 0; i < piece; ++i) {
        const unsigned nibble = EncodeVoxSample(state_, in[i]);
        if (pending_) {
          buffer_.push_back(static_cast<std::uint8_t>(high_nibble_ << 4 | nibble));
          pending_ = false;
        } else {
          high_nibble_ = nibble;
          pending_ = true;
        }
      }
      if (!buffer_.empty() && !file_.Write(buffer_.data(), buffer_.size())) status |= kSinkWriteFailed;
      frames_ += piece;
      in += piece;
      count -= piece;
    }
    position = static_cast<std::int32_t>(std::min(frames_, kMaxFrames));
  }

  // Cuts the file back to `frame` samples; an odd count keeps the high nibble of the last
  // byte waiting. The encoder goes on from its present state.
  void Seek(std::int32_t frame) override {
    if ((status & kSinkUnusable) != 0 || frame > frames_) return;
    const std::int64_t kept = std::max(frame, 0);
    if (kept % 2 != 0 && kept / 2 < frames_ / 2) {
      std::uint8_t byte = 0;
      if (!file_.Seek(kept / 2) || file_.Read(&byte, 1) != 1) status |= kSinkWriteFailed;
      high_nibble_ = byte >> 4;
    }
    pending_ = kept % 2 != 0;
    frames_ = kept;
    position = static_cast<std::int32_t>(frames_);
    if (!file_.Truncate(kept / 2) || !file_.Seek(kept / 2)) status |= kSinkWriteFailed;
  }

 private:
  File file_;
  VoxState state_;
  std::int64_t frames_ = 0;
  bool pending_ = false;
  unsigned high_nibble_ = 0;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

std::int32_t DecodeVoxNibble(VoxState& state, unsigned nibble) {
  ClampIndex(state);
  state.predictor += kStepSizes[state.index] * Multiplier(nibble) - (state.predictor >> 6);
  state.index += kIndexChange[nibble & 7];
  // The predictor itself runs free (it stays far inside 32 bits); what is delivered keeps
  // to the announced peak even for a file that is not ADPCM at all.
  return std::clamp(state.predictor, -kVoxPeak, kVoxPeak);
}

unsigned EncodeVoxSample(VoxState& state, std::int32_t sample) {
  ClampIndex(state);
  state.predictor -= state.predictor >> 6;
  const std::int32_t step = kStepSizes[state.index];
  const std::int64_t a = (std::int64_t{sample} - state.predictor) / step;  // truncated towards zero
  std::int64_t m = a < 0 ? -a : a;
  unsigned nibble = 0;
  if (m >= 132) {
    nibble |= 4;
    m -= 132;
  }
  if (m >= 66) {
    nibble |= 2;
    m -= 66;
  }
  if (m > 32) nibble |= 1;
  if (a < 0) nibble |= 8;
  state.predictor += step * Multiplier(nibble);
  state.index += kIndexChange[nibble & 7];
  return nibble;
}

SourceRef OpenVoxReader(std::unique_ptr<ByteSource> file, std::int32_t rate) {
  if (!file) return MakeNullSource(kStatusCannotOpen);
  return MakeCounted<VoxReader>(std::move(file), rate);
}

bool IsVoxReader(const SampleSource& source) { return dynamic_cast<const VoxReader*>(&source) != nullptr; }

SinkRef CreateVoxWriter(const std::string& path, std::int32_t rate) { return MakeCounted<VoxWriter>(path, rate); }

}  // namespace sonavel
