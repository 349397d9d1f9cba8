// Microsoft ADPCM in WAV blocks, 4 bits per sample. A block starts with a header of
// predictor indices (1 byte per channel), step sizes ("deltas"), second samples and first
// samples (int16 each per channel, in that order); the first two frames come out as
// first sample, second sample. Then nibbles follow frame by frame in channel order, high
// nibble first. Each predictor is a pair of coefficients (÷256) from the format's extra
// data: samples per block, number of pairs, the pairs.

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "formats/codecs_internal.h"

namespace sonavel::codecs {
namespace {

constexpr std::int32_t kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                          768, 614, 512, 409, 307, 230, 230, 230};
constexpr std::int16_t kStandardCoefficients[7][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
constexpr std::size_t kMaxPredictors = 256;  // a header byte picks one
constexpr std::int32_t kMinDelta = 16;

struct Coefficients {
  std::int32_t first;
  std::int32_t second;
};

// Decoder state of one channel. Products wrap at 32 bits, as other decoders compute them,
// so that even damaged data decodes to the same samples everywhere.
struct Channel {
  Coefficients coefficients{};
  std::int32_t delta = kMinDelta;
  std::int32_t sample1 = 0;  // the latest sample
  std::int32_t sample2 = 0;  // the one before it

  std::int32_t Prediction() const {
    const std::int64_t sum = std::int64_t{sample1} * coefficients.first +
                             std::int64_t{sample2} * coefficients.second;
    return static_cast<std::int32_t>(sum) >> 8;
  }
  // Reconstructs the sample of a nibble and adapts the step size.
  std::int32_t Apply(std::int32_t prediction, unsigned nibble) {
    const std::int32_t signed_nibble = nibble >= 8 ? static_cast<std::int32_t>(nibble) - 16
                                                   : static_cast<std::int32_t>(nibble);
    const std::int32_t sample = std::clamp(prediction + signed_nibble * delta, -32768, 32767);
    sample2 = sample1;
    sample1 = sample;
    delta = std::max(kMinDelta, static_cast<std::int32_t>(std::int64_t{delta} * kAdaptation[nibble]) >> 8);
    return sample;
  }
};

struct Layout {
  std::size_t channels = 0;
  std::size_t block_align = 0;
  std::size_t frames_per_block = 0;
  std::vector<Coefficients> predictors;
  std::size_t predictor_count = 0;  // as declared (may exceed the pairs kept)
};

// Frames that `bytes` of a block can hold (header included).
std::size_t FramesIn(std::size_t bytes, std::size_t channels) {
  if (bytes < 7 * channels) return 0;
  return 2 + 2 * (bytes - 7 * channels) / channels;
}

bool ReadLayout(const WaveFormat& coded, Layout& layout) {
  if (coded.bits != 4 || coded.channels == 0 || coded.extra.size() < 4) return false;
  const std::size_t channels = coded.channels;
  const std::size_t frames = ReadLe16(&coded.extra[0]);
  const std::size_t count = ReadLe16(&coded.extra[2]);
  if (count == 0 || coded.extra.size() < 4 + 4 * count) return false;
  if (frames == 0 || frames > FramesIn(coded.block_align, channels)) return false;
  layout.channels = channels;
  layout.block_align = coded.block_align;
  layout.frames_per_block = frames;
  layout.predictor_count = count;
  layout.predictors.clear();
  for (std::size_t i = 0; i < std::min(count, kMaxPredictors); ++i) {
    const std::uint8_t* pair = &coded.extra[4 + 4 * i];
    layout.predictors.push_back({ReadSample(pair), ReadSample(pair + 2)});
  }
  return true;
}

class MsDecoder : public BlockStream {
 public:
  explicit MsDecoder(Layout layout)
      : BlockStream(layout.block_align, layout.frames_per_block * 2 * layout.channels),
        layout_(std::move(layout)),
        channels_(layout_.channels) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                            std::size_t count) override {
    const std::size_t out_block = layout_.frames_per_block * 2 * layout_.channels;
    for (std::size_t block = 0; block < count; ++block) {
      if (!Decode(source + block * layout_.block_align, layout_.frames_per_block,
                  destination + block * out_block))
        return block;
    }
    return count;
  }
  std::size_t TailSize(std::size_t source_bytes) const override {
    return Frames(source_bytes) * 2 * layout_.channels;
  }
  bool ConvertTail(const std::uint8_t* source, std::size_t source_bytes,
                   std::uint8_t* destination) override {
    return Decode(source, Frames(source_bytes), destination);
  }

 private:
  std::size_t Frames(std::size_t bytes) const {
    return std::min(layout_.frames_per_block, FramesIn(bytes, layout_.channels));
  }

  bool Decode(const std::uint8_t* block, std::size_t frames, std::uint8_t* out) {
    const std::size_t channels = layout_.channels;
    for (std::size_t c = 0; c < channels; ++c) {
      if (block[c] >= layout_.predictor_count) return false;
      Channel& channel = channels_[c];
      channel.coefficients = layout_.predictors[block[c]];
      channel.delta = ReadSample(block + channels + 2 * c);
      channel.sample1 = ReadSample(block + 3 * channels + 2 * c);
      channel.sample2 = ReadSample(block + 5 * channels + 2 * c);
      WriteSample(out + 2 * c, channel.sample2);
      if (frames > 1) WriteSample(out + 2 * (channels + c), channel.sample1);
    }
    const std::size_t nibbles = frames > 2 ? (frames - 2) * channels : 0;
    const std::uint8_t* data = block + 7 * channels;
    std::uint8_t* samples = out + 4 * channels;
    for (std::size_t k = 0; k < nibbles; ++k) {
      const unsigned nibble = k % 2 == 0 ? data[k / 2] >> 4 : data[k / 2] & 15u;
      Channel& channel = channels_[k % channels];
      WriteSample(samples + 2 * k, channel.Apply(channel.Prediction(), nibble));
    }
    return true;
  }

  Layout layout_;
  std::vector<Channel> channels_;
};

class MsEncoder : public BlockStream {
 public:
  explicit MsEncoder(Layout layout)
      : BlockStream(layout.frames_per_block * 2 * layout.channels, layout.block_align),
        layout_(std::move(layout)),
        samples_(layout_.frames_per_block),
        nibbles_(layout_.frames_per_block) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                            std::size_t count) override {
    const std::size_t in_block = layout_.frames_per_block * 2 * layout_.channels;
    for (std::size_t block = 0; block < count; ++block)
      Encode(source + block * in_block, layout_.frames_per_block,
             destination + block * layout_.block_align, layout_.block_align);
    return count;
  }
  std::size_t TailSize(std::size_t source_bytes) const override {
    const std::size_t frames = source_bytes / (2 * layout_.channels);
    return frames == 0 ? 0 : BytesFor(frames);
  }
  bool ConvertTail(const std::uint8_t* source, std::size_t source_bytes,
                   std::uint8_t* destination) override {
    const std::size_t frames = source_bytes / (2 * layout_.channels);
    Encode(source, frames, destination, BytesFor(frames));
    return true;
  }

 private:
  // Size of a short block of `frames` frames: the header and the bytes its nibbles need.
  std::size_t BytesFor(std::size_t frames) const {
    const std::size_t nibbles = frames > 2 ? (frames - 2) * layout_.channels : 0;
    return 7 * layout_.channels + (nibbles + 1) / 2;
  }

  void Encode(const std::uint8_t* source, std::size_t frames, std::uint8_t* out,
              std::size_t bytes) {
    const std::size_t channels = layout_.channels;
    std::fill(out, out + bytes, std::uint8_t{0});
    for (std::size_t c = 0; c < channels; ++c) {
      for (std::size_t i = 0; i < frames; ++i)
        samples_[i] = ReadSample(source + 2 * (i * channels + c));
      const std::int32_t second = frames > 1 ? samples_[1] : samples_[0];
      const Start start = ChooseStart(frames, second);
      out[c] = static_cast<std::uint8_t>(start.predictor);
      WriteSample(out + channels + 2 * c, start.delta);
      WriteSample(out + 3 * channels + 2 * c, second);
      WriteSample(out + 5 * channels + 2 * c, samples_[0]);
      Run(frames, second, layout_.predictors[start.predictor], start.delta, 0, true);
      for (std::size_t i = 2; i < frames; ++i) {
        const std::size_t k = (i - 2) * channels + c;
        std::uint8_t& byte = out[7 * channels + k / 2];
        byte = static_cast<std::uint8_t>(k % 2 == 0 ? byte | (nibbles_[i] << 4) : byte | nibbles_[i]);
      }
    }
  }

  struct Start {
    std::size_t predictor = 0;
    std::int32_t delta = kMinDelta;
  };

  // The predictor and initial step size with the least squared error over the block: each
  // predictor gets the step size that codes its first frames best, then the predictors
  // are compared over the whole block.
  Start ChooseStart(std::size_t frames, std::int32_t second) {
    Start best;
    if (frames <= 2) return best;
    static constexpr std::int32_t kDeltas[] = {16,   22,   32,   45,   64,    90,    128,   181,
                                               256,  362,  512,  724,  1024,  1448,  2048,  2896,
                                               4096, 5793, 8192, 11585, 16384, 23170};
    const std::size_t probe = std::min<std::size_t>(frames, 34);
    std::int64_t best_error = std::numeric_limits<std::int64_t>::max();
    for (std::size_t p = 0; p < layout_.predictors.size(); ++p) {
      const Coefficients& coefficients = layout_.predictors[p];
      std::int32_t delta = kDeltas[0];
      std::int64_t probe_error = std::numeric_limits<std::int64_t>::max();
      for (std::int32_t candidate : kDeltas) {
        const std::int64_t error = Run(probe, second, coefficients, candidate, probe_error, false);
        if (error < probe_error) {
          probe_error = error;
          delta = candidate;
        }
      }
      const std::int64_t error = Run(frames, second, coefficients, delta, best_error, false);
      if (error < best_error) {
        best_error = error;
        best = {p, delta};
        if (error == 0) break;
      }
    }
    return best;
  }

  // Codes samples_[2..frames) from the given start; returns the squared error, stopping
  // early once it reaches `give_up` (0: never). With `keep` the nibbles go to nibbles_.
  std::int64_t Run(std::size_t frames, std::int32_t second, const Coefficients& coefficients,
                   std::int32_t delta, std::int64_t give_up, bool keep) {
    Channel channel;
    channel.coefficients = coefficients;
    channel.delta = delta;
    channel.sample1 = second;
    channel.sample2 = samples_[0];
    std::int64_t error = 0;
    for (std::size_t i = 2; i < frames; ++i) {
      const std::int32_t prediction = channel.Prediction();
      const std::int32_t target = samples_[i];
      const std::int32_t miss = target - prediction;
      const std::int32_t step = channel.delta;
      std::int32_t quotient = miss >= 0 ? (miss + step / 2) / step : -((step / 2 - miss) / step);
      quotient = std::clamp(quotient, -8, 7);
      const unsigned nibble = static_cast<unsigned>(quotient) & 15u;
      const std::int64_t difference = channel.Apply(prediction, nibble) - target;
      error += difference * difference;
      if (keep) nibbles_[i] = static_cast<std::uint8_t>(nibble);
      if (give_up != 0 && error >= give_up) break;
    }
    return error;
  }

  Layout layout_;
  std::vector<std::int32_t> samples_;
  std::vector<std::uint8_t> nibbles_;
};

}  // namespace

bool MsAdpcmLayoutValid(const WaveFormat& coded) {
  Layout layout;
  return ReadLayout(coded, layout);
}

std::unique_ptr<CodecStream> OpenMsAdpcmStream(const WaveFormat& coded, bool encode) {
  Layout layout;
  if (!ReadLayout(coded, layout)) return nullptr;
  if (encode) return std::make_unique<MsEncoder>(std::move(layout));
  return std::make_unique<MsDecoder>(std::move(layout));
}

// As sox writes it: 256 bytes per channel for every 11008 Hz of rate (at least 256), the
// seven standard predictors. Blocks are kept within the 16-bit fields.
WaveFormat SuggestMsAdpcm(std::uint32_t rate, std::uint16_t channels) {
  std::size_t units = std::max<std::size_t>(1, rate / 11008);
  units = std::min<std::size_t>({units, 128, 65535 / (256u * channels)});
  WaveFormat format;
  format.tag = kTagMsAdpcm;
  format.channels = channels;
  format.rate = rate;
  format.bits = 4;
  format.block_align = static_cast<std::uint16_t>(256 * units * channels);
  const std::size_t frames = FramesIn(format.block_align, channels);
  format.avg_bytes_per_sec = AverageBytes(rate, format.block_align, frames);
  format.extra.resize(4 + 4 * 7);
  WriteLe16(&format.extra[0], static_cast<std::uint16_t>(frames));
  WriteLe16(&format.extra[2], 7);
  for (std::size_t i = 0; i < 7; ++i) {
    WriteLe16(&format.extra[4 + 4 * i], static_cast<std::uint16_t>(kStandardCoefficients[i][0]));
    WriteLe16(&format.extra[6 + 4 * i], static_cast<std::uint16_t>(kStandardCoefficients[i][1]));
  }
  return format;
}

}  // namespace sonavel::codecs
