// IEEE float samples (32 or 64 bits, little-endian) to and from 16-bit PCM. Full scale is
// ±1.0 = ±32768.

#include <algorithm>
#include <bit>
#include <cmath>

#include "formats/codecs_internal.h"

namespace sonavel::codecs {

std::int32_t FloatToSample(double value) {
  if (std::isnan(value)) return 0;
  const double scaled = std::clamp(value * 32768.0, -32768.0, 32767.0);
  return static_cast<std::int32_t>(std::round(scaled));
}

namespace {

class FloatStream : public BlockStream {
 public:
  FloatStream(unsigned bytes, bool encode, std::uint16_t channels)
      : BlockStream(encode ? 2u * channels : bytes * channels,
                    encode ? bytes * channels : 2u * channels),
        bytes_(bytes),
        encode_(encode),
        channels_(channels) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                            std::size_t count) override {
    const std::size_t samples = count * channels_;
    if (encode_) {
      for (std::size_t i = 0; i < samples; ++i) {
        const double value = ReadSample(source + 2 * i) / 32768.0;
        if (bytes_ == 4) {
          WriteLe32(destination + 4 * i, std::bit_cast<std::uint32_t>(static_cast<float>(value)));
        } else {
          const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
          WriteLe32(destination + 8 * i, static_cast<std::uint32_t>(bits));
          WriteLe32(destination + 8 * i + 4, static_cast<std::uint32_t>(bits >> 32));
        }
      }
    } else {
      for (std::size_t i = 0; i < samples; ++i) {
        double value;
        if (bytes_ == 4) {
          value = std::bit_cast<float>(ReadLe32(source + 4 * i));
        } else {
          const std::uint64_t bits = ReadLe32(source + 8 * i) |
                                     (std::uint64_t{ReadLe32(source + 8 * i + 4)} << 32);
          value = std::bit_cast<double>(bits);
        }
        WriteSample(destination + 2 * i, FloatToSample(value));
      }
    }
    return count;
  }
  std::size_t TailSize(std::size_t) const override { return 0; }
  bool ConvertTail(const std::uint8_t*, std::size_t, std::uint8_t*) override { return true; }

 private:
  unsigned bytes_;
  bool encode_;
  std::uint16_t channels_;
};

}  // namespace

bool FloatLayoutValid(const WaveFormat& coded) {
  return (coded.bits == 32 || coded.bits == 64) && coded.channels > 0 &&
         coded.block_align == coded.channels * (coded.bits / 8);
}

std::unique_ptr<CodecStream> OpenFloatStream(const WaveFormat& coded, bool encode) {
  if (!FloatLayoutValid(coded)) return nullptr;
  return std::make_unique<FloatStream>(coded.bits / 8u, encode, coded.channels);
}

}  // namespace sonavel::codecs
