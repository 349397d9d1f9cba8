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

// By step index and nibble: what the nibble adds to the predictor, and the next index
// (already limited to 0..48), so that the bulk decoder looks both up.
struct VoxTables {
  std::int32_t delta[49][16];
  std::uint8_t next[49][16];
};

constexpr VoxTables MakeVoxTables() {
  VoxTables tables{};
  for (int index = 0; index < 49; ++index) {
    for (unsigned nibble = 0; nibble < 16; ++nibble) {
      tables.delta[index][nibble] = kStepSizes[index] * Multiplier(nibble);
      tables.next[index][nibble] = static_cast<std::uint8_t>(std::clamp(index + kIndexChange[nibble & 7], 0, 48));
    }
  }
  return tables;
}

constexpr VoxTables kVoxTables = MakeVoxTables();

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
    // The file's size is asked again only when the read goes past what it last gave.
    if (position + n > known_length_) known_length_ = Length();
    const std::int64_t length = status == kStatusOk ? known_length_ : 0;
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
      const std::size_t whole = static_cast<std::size_t>(decoded / 2);
      DecodeVoxBytes(state_, buffer_.data(), whole, out);
      // An odd count leaves the low nibble of the last byte for the next read.
      if (decoded % 2 != 0) {
        out[decoded - 1] = DecodeVoxNibble(state_, buffer_[whole] >> 4);
        pending_ = true;
        low_nibble_ = buffer_[whole] & 15u;
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
  std::int64_t known_length_ = 0;
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

void DecodeVoxBytes(VoxState& state, const std::uint8_t* in, std::size_t bytes, std::int32_t* out) {
  // The same steps as DecodeVoxNibble with the index limited after each step instead of
  // before the next, which every later use does alike.
  unsigned index = static_cast<unsigned>(std::clamp(state.index, 0, 48));
  std::int32_t predictor = state.predictor;
  for (std::size_t i = 0; i < bytes; ++i) {
    const unsigned high = in[i] >> 4;
    const unsigned low = in[i] & 15u;
    predictor += kVoxTables.delta[index][high] - (predictor >> 6);
    index = kVoxTables.next[index][high];
    out[2 * i] = std::clamp(predictor, -kVoxPeak, kVoxPeak);
    predictor += kVoxTables.delta[index][low] - (predictor >> 6);
    index = kVoxTables.next[index][low];
    out[2 * i + 1] = std::clamp(predictor, -kVoxPeak, kVoxPeak);
  }
  state.index = static_cast<int>(index);
  state.predictor = predictor;
}

unsigned EncodeVoxSample(VoxState& state, std::int32_t sample) {
  ClampIndex(state);
  state.predictor -= state.predictor >> 6;
  const std::int32_t step = kStepSizes[state.index];
  // The quotient a = (sample - predictor) / step, truncated towards zero, decides the
  // nibble: bit 2 for |a| >= 132, then bit 1 for what is left >= 66, bit 0 for the rest
  // > 32, bit 3 for a < 0. Compared as multiples of the step instead of dividing, since
  // floor(r / step) >= k exactly when r >= k × step; a < 0 exactly when d <= -step.
  const std::int64_t d = std::int64_t{sample} - state.predictor;
  std::int64_t r = d < 0 ? -d : d;
  unsigned nibble = 0;
  if (r >= 132 * std::int64_t{step}) {
    nibble |= 4;
    r -= 132 * std::int64_t{step};
  }
  if (r >= 66 * std::int64_t{step}) {
    nibble |= 2;
    r -= 66 * std::int64_t{step};
  }
  if (r >= 33 * std::int64_t{step}) nibble |= 1;
  if (d <= -std::int64_t{step}) nibble |= 8;
  state.predictor += step * Multiplier(nibble);
  state.index += kIndexChange[nibble & 7];
  return nibble;
}

SourceRef OpenVoxReader(std::unique_ptr<ByteSource> file, std::int32_t rate) {
  if (!file) return MakeNullSource(kStatusCannotOpen);
  return MakeCounted<VoxReader>(ReadAheadBytes(std::move(file)), rate);
}

bool IsVoxReader(const SampleSource& source) { return dynamic_cast<const VoxReader*>(&source) != nullptr; }

SinkRef CreateVoxWriter(const std::string& path, std::int32_t rate) { return MakeCounted<VoxWriter>(path, rate); }

}  // namespace sonavel
