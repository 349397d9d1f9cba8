// IMA ADPCM in WAV blocks, 4 bits per sample. A block starts with one 4-byte header per
// channel (first sample as int16, step index, a zero byte); then come 4-byte words in
// channel order, each holding the next 8 samples of its channel, low nibble first. A block
// of block_align bytes holds 1 + 8 × (block_align / (4 × channels) - 1) frames.

#include <algorithm>
#include <vector>

#include "formats/codecs_internal.h"

namespace sonavel::codecs {
namespace {

constexpr std::int32_t kStepSize[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kMaxIndex = 88;

// The decoder's state for one channel: last sample and step index.
struct Predictor {
  std::int32_t sample = 0;
  int index = 0;
};

// The change a nibble's magnitude (0..7) makes at a step size.
std::int32_t Difference(std::int32_t step, unsigned magnitude) {
  std::int32_t difference = step >> 3;
  if ((magnitude & 4) != 0) difference += step;
  if ((magnitude & 2) != 0) difference += step >> 1;
  if ((magnitude & 1) != 0) difference += step >> 2;
  return difference;
}

void Apply(Predictor& state, unsigned nibble) {
  const std::int32_t difference = Difference(kStepSize[state.index], nibble & 7);
  const std::int32_t sample = state.sample + ((nibble & 8) != 0 ? -difference : difference);
  state.sample = std::clamp(sample, -32768, 32767);
  state.index = std::clamp(state.index + kIndexChange[nibble & 7], 0, kMaxIndex);
}

// The nibble that brings the decoder closest to `target` from `state`.
unsigned BestNibble(const Predictor& state, std::int32_t target) {
  const std::int32_t step = kStepSize[state.index];
  const bool negative = target < state.sample;
  unsigned best = 0;
  std::int32_t best_error = 0x7FFFFFFF;
  for (unsigned magnitude = 0; magnitude < 8; ++magnitude) {
    const std::int32_t difference = Difference(step, magnitude);
    const std::int32_t sample =
        std::clamp(state.sample + (negative ? -difference : difference), -32768, 32767);
    const std::int32_t error = sample > target ? sample - target : target - sample;
    if (error < best_error) {
      best_error = error;
      best = magnitude;
    }
  }
  return best | (negative ? 8u : 0u);
}

// Frames in `bytes` of a block (a short final block counts its whole words only).
std::size_t FramesIn(std::size_t bytes, std::size_t channels) {
  const std::size_t words = bytes / (4 * channels);
  return words == 0 ? 0 : 1 + 8 * (words - 1);
}

class ImaDecoder : public BlockStream {
 public:
  ImaDecoder(std::uint16_t channels, std::size_t block_align)
      : BlockStream(block_align, FramesIn(block_align, channels) * 2 * channels),
        channels_(channels),
        block_align_(block_align) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                            std::size_t count) override {
    const std::size_t frames = FramesIn(block_align_, channels_);
    for (std::size_t block = 0; block < count; ++block) {
      if (!Decode(source + block * block_align_, block_align_,
                  destination + block * frames * 2 * channels_))
        return block;
    }
    return count;
  }
  std::size_t TailSize(std::size_t source_bytes) const override {
    return FramesIn(source_bytes, channels_) * 2 * channels_;
  }
  bool ConvertTail(const std::uint8_t* source, std::size_t source_bytes,
                   std::uint8_t* destination) override {
    return Decode(source, source_bytes, destination);
  }

 private:
  bool Decode(const std::uint8_t* block, std::size_t bytes, std::uint8_t* out) const {
    const std::size_t channels = channels_;
    for (std::size_t channel = 0; channel < channels; ++channel)
      if (block[4 * channel + 2] > kMaxIndex) return false;
    const std::size_t groups = bytes / (4 * channels) - 1;
    for (std::size_t channel = 0; channel < channels; ++channel) {
      Predictor state;
      state.sample = ReadSample(block + 4 * channel);
      state.index = block[4 * channel + 2];
      WriteSample(out + 2 * channel, state.sample);
      for (std::size_t group = 0; group < groups; ++group) {
        const std::uint8_t* word = block + 4 * channels * (group + 1) + 4 * channel;
        const std::size_t first_frame = 1 + 8 * group;
        for (std::size_t k = 0; k < 8; ++k) {
          const unsigned nibble = (k % 2 == 0) ? word[k / 2] & 15u : word[k / 2] >> 4;
          Apply(state, nibble);
          WriteSample(out + 2 * ((first_frame + k) * channels + channel), state.sample);
        }
      }
    }
    return true;
  }

  std::uint16_t channels_;
  std::size_t block_align_;
};

class ImaEncoder : public BlockStream {
 public:
  ImaEncoder(std::uint16_t channels, std::size_t block_align)
      : BlockStream(FramesIn(block_align, channels) * 2 * channels, block_align),
        channels_(channels),
        block_align_(block_align),
        frames_per_block_(FramesIn(block_align, channels)),
        indices_(channels, 0),
        samples_(frames_per_block_) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                            std::size_t count) override {
    for (std::size_t block = 0; block < count; ++block)
      Encode(source + block * frames_per_block_ * 2 * channels_, frames_per_block_,
             destination + block * block_align_);
    return count;
  }
  std::size_t TailSize(std::size_t source_bytes) const override {
    const std::size_t frames = source_bytes / (2 * channels_);
    return frames == 0 ? 0 : 4 * channels_ * (1 + (frames - 1 + 7) / 8);
  }
  bool ConvertTail(const std::uint8_t* source, std::size_t source_bytes,
                   std::uint8_t* destination) override {
    Encode(source, source_bytes / (2 * channels_), destination);
    return true;
  }
  void Restart() override { std::fill(indices_.begin(), indices_.end(), 0); }

 private:
  // Encodes `frames` frames (at most a block) as a block of whole words; the unused end
  // of the last word repeats the last sample.
  void Encode(const std::uint8_t* source, std::size_t frames, std::uint8_t* out) {
    const std::size_t channels = channels_;
    const std::size_t groups = (frames - 1 + 7) / 8;
    const std::size_t coded_frames = 1 + 8 * groups;
    for (std::size_t channel = 0; channel < channels; ++channel) {
      for (std::size_t i = 0; i < coded_frames; ++i) {
        const std::size_t frame = std::min(i, frames - 1);
        samples_[i] = ReadSample(source + 2 * (frame * channels + channel));
      }
      Predictor state;
      state.sample = samples_[0];
      state.index = StartIndex(coded_frames, indices_[channel]);
      WriteSample(out + 4 * channel, state.sample);
      out[4 * channel + 2] = static_cast<std::uint8_t>(state.index);
      out[4 * channel + 3] = 0;
      for (std::size_t group = 0; group < groups; ++group) {
        std::uint8_t* word = out + 4 * channels * (group + 1) + 4 * channel;
        for (std::size_t k = 0; k < 8; k += 2) {
          const unsigned low = BestNibble(state, samples_[1 + 8 * group + k]);
          Apply(state, low);
          const unsigned high = BestNibble(state, samples_[2 + 8 * group + k]);
          Apply(state, high);
          word[k / 2] = static_cast<std::uint8_t>(low | (high << 4));
        }
      }
      indices_[channel] = state.index;
    }
  }

  // The step index to start a block with: the one whose first samples code with the
  // least squared error (the index carried from the previous block wins ties).
  int StartIndex(std::size_t frames, int carried) const {
    const std::size_t probe = std::min<std::size_t>(frames, 17);
    auto error_from = [&](int index) {
      Predictor state{samples_[0], index};
      std::int64_t error = 0;
      for (std::size_t i = 1; i < probe; ++i) {
        Apply(state, BestNibble(state, samples_[i]));
        const std::int64_t miss = state.sample - samples_[i];
        error += miss * miss;
      }
      return error;
    };
    int best = carried;
    std::int64_t best_error = error_from(carried);
    for (int index = 0; index <= kMaxIndex && best_error > 0; ++index) {
      const std::int64_t error = error_from(index);
      if (error < best_error) {
        best_error = error;
        best = index;
      }
    }
    return best;
  }

  std::uint16_t channels_;
  std::size_t block_align_;
  std::size_t frames_per_block_;
  std::vector<int> indices_;
  std::vector<std::int32_t> samples_;
};

}  // namespace

bool ImaAdpcmLayoutValid(const WaveFormat& coded) {
  return coded.bits == 4 && coded.channels > 0 && coded.block_align != 0 &&
         coded.block_align % (4u * coded.channels) == 0;
}

std::unique_ptr<CodecStream> OpenImaAdpcmStream(const WaveFormat& coded, bool encode) {
  if (!ImaAdpcmLayoutValid(coded)) return nullptr;
  if (encode) return std::make_unique<ImaEncoder>(coded.channels, coded.block_align);
  return std::make_unique<ImaDecoder>(coded.channels, coded.block_align);
}

// As sox writes it: 256 bytes per channel in every block, whatever the rate.
WaveFormat SuggestImaAdpcm(std::uint32_t rate, std::uint16_t channels) {
  WaveFormat format;
  format.tag = kTagImaAdpcm;
  format.channels = channels;
  format.rate = rate;
  format.bits = 4;
  format.block_align = static_cast<std::uint16_t>(256u * channels);
  const std::size_t frames = FramesIn(format.block_align, channels);
  format.avg_bytes_per_sec = AverageBytes(rate, format.block_align, frames);
  format.extra.resize(2);
  WriteLe16(format.extra.data(), static_cast<std::uint16_t>(frames));
  return format;
}

}  // namespace sonavel::codecs
