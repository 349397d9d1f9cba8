// GSM 06.10 in WAV: mono, blocks of 65 bytes holding two frames (320 samples), coded
// from and to 16-bit PCM with the codec's own 13-bit pre- and post-processing.

#include <algorithm>

#include "formats/codecs_internal.h"
#include "formats/gsm610.h"

namespace sonavel::codecs {
namespace {

constexpr std::size_t kPcmBlockBytes = 2 * kGsmWavBlockSamples;

class GsmWavDecoder : public BlockStream {
 public:
  GsmWavDecoder() : BlockStream(kGsmWavBlockBytes, kPcmBlockBytes) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination, std::size_t count) override {
    std::int16_t pcm[kGsmWavBlockSamples];
    for (std::size_t block = 0; block < count; ++block) {
      GsmFrame first;
      GsmFrame second;
      UnpackGsmWavBlock(source + block * kGsmWavBlockBytes, first, second);
      decoder_.DecodePcm16(first, pcm);
      decoder_.DecodePcm16(second, pcm + kGsmFrameSamples);
      std::uint8_t* out = destination + block * kPcmBlockBytes;
      for (int i = 0; i < kGsmWavBlockSamples; ++i) WriteSample(out + 2 * i, pcm[i]);
    }
    return count;
  }
  // A piece shorter than a block holds no whole pair of frames: it is dropped.
  std::size_t TailSize(std::size_t) const override { return 0; }
  bool ConvertTail(const std::uint8_t*, std::size_t, std::uint8_t*) override { return true; }
  void Restart() override { decoder_.Reset(); }

 private:
  GsmDecoder decoder_;
};

class GsmWavEncoder : public BlockStream {
 public:
  GsmWavEncoder() : BlockStream(kPcmBlockBytes, kGsmWavBlockBytes) {}

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination, std::size_t count) override {
    for (std::size_t block = 0; block < count; ++block)
      Encode(source + block * kPcmBlockBytes, kGsmWavBlockSamples, destination + block * kGsmWavBlockBytes);
    return count;
  }
  // The last samples are completed with silence to a whole block.
  std::size_t TailSize(std::size_t source_bytes) const override {
    return source_bytes >= 2 ? kGsmWavBlockBytes : 0;
  }
  bool ConvertTail(const std::uint8_t* source, std::size_t source_bytes, std::uint8_t* destination) override {
    Encode(source, source_bytes / 2, destination);
    return true;
  }
  void Restart() override { encoder_.Reset(); }

 private:
  void Encode(const std::uint8_t* source, std::size_t samples, std::uint8_t* out) {
    std::int16_t pcm[kGsmWavBlockSamples] = {};
    for (std::size_t i = 0; i < samples; ++i) pcm[i] = ReadSample(source + 2 * i);
    GsmFrame first;
    GsmFrame second;
    encoder_.EncodePcm16(pcm, first);
    encoder_.EncodePcm16(pcm + kGsmFrameSamples, second);
    PackGsmWavBlock(first, second, out);
  }

  GsmEncoder encoder_;
};

}  // namespace

// Mono, 65-byte blocks; the samples per block, when the extra bytes give them, are 320.
bool Gsm610LayoutValid(const WaveFormat& coded) {
  if (coded.channels != 1 || coded.block_align != kGsmWavBlockBytes) return false;
  return coded.extra.size() < 2 || ReadLe16(coded.extra.data()) == kGsmWavBlockSamples;
}

std::unique_ptr<CodecStream> OpenGsm610Stream(const WaveFormat& coded, bool encode) {
  if (!Gsm610LayoutValid(coded)) return nullptr;
  if (encode) return std::make_unique<GsmWavEncoder>();
  return std::make_unique<GsmWavDecoder>();
}

// As other writers make it: bits 0, two extra bytes giving 320 samples per block, and
// 65 bytes per 320 samples (1625 bytes per second at 8000 Hz).
WaveFormat SuggestGsm610(std::uint32_t rate) {
  WaveFormat format;
  format.tag = kTagGsm610;
  format.channels = 1;
  format.rate = rate;
  format.bits = 0;
  format.block_align = kGsmWavBlockBytes;
  format.avg_bytes_per_sec = AverageBytes(rate, kGsmWavBlockBytes, kGsmWavBlockSamples);
  format.extra.resize(2);
  WriteLe16(format.extra.data(), kGsmWavBlockSamples);
  return format;
}

}  // namespace sonavel::codecs
