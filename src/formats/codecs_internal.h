#pragma once
// Pieces shared by the codec table's streams: the block-by-block conversion loop and the
// per-codec layout checks, stream factories and suggested records.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/codec_stream.h"
#include "formats/wave_format.h"

namespace sonavel::codecs {

// Converts whole blocks of `source_block` bytes into blocks of `destination_block` bytes.
// With kConvertEnd a trailing source piece shorter than a block is converted as well.
// A block of bad data stops the call; when it is the first block, ok is false and nothing
// is used.
class BlockStream : public CodecStream {
 public:
  BlockStream(std::size_t source_block, std::size_t destination_block);

  std::size_t SourceSizeFor(std::size_t destination_bytes) const override;
  std::size_t DestinationSizeFor(std::size_t source_bytes) const override;
  ConvertResult Convert(const std::uint8_t* source, std::size_t source_bytes,
                        std::uint8_t* destination, std::size_t destination_bytes,
                        unsigned flags) final;

 protected:
  // Converts up to `count` whole blocks; returns how many were converted (fewer when the
  // block after them holds bad data).
  virtual std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                                    std::size_t count) = 0;
  // Output bytes of a trailing piece of `source_bytes` (less than a block); 0 when such a
  // piece holds nothing that converts.
  virtual std::size_t TailSize(std::size_t source_bytes) const = 0;
  // Converts a trailing piece into TailSize(source_bytes) bytes; false for bad data.
  virtual bool ConvertTail(const std::uint8_t* source, std::size_t source_bytes,
                           std::uint8_t* destination) = 0;
  // Forgets any state carried from block to block.
  virtual void Restart() {}

 private:
  std::size_t source_block_;
  std::size_t destination_block_;
};

// Average bytes per second of a block layout, rounded to the nearest and saturated.
std::uint32_t AverageBytes(std::uint32_t rate, std::size_t block_align,
                           std::size_t samples_per_block);

// A float sample (full scale ±1.0) as 16 bits: rounded to the nearest (ties away from zero)
// and clamped; NaN gives 0. Every reader of float samples goes this way, so a float file
// reads the same whatever its container.
std::int32_t FloatToSample(double value);

inline std::int16_t ReadSample(const std::uint8_t* p) { return static_cast<std::int16_t>(ReadLe16(p)); }
inline void WriteSample(std::uint8_t* p, std::int32_t sample) {
  WriteLe16(p, static_cast<std::uint16_t>(sample));
}

// Each codec: whether a coded format has a layout it can convert, a stream between that
// format and 16-bit PCM (`encode`: from PCM to the coded format; null when the layout is
// unusable), and the record it suggests for writing.
bool FloatLayoutValid(const WaveFormat& coded);
std::unique_ptr<CodecStream> OpenFloatStream(const WaveFormat& coded, bool encode);

bool ImaAdpcmLayoutValid(const WaveFormat& coded);
std::unique_ptr<CodecStream> OpenImaAdpcmStream(const WaveFormat& coded, bool encode);
WaveFormat SuggestImaAdpcm(std::uint32_t rate, std::uint16_t channels);

bool MsAdpcmLayoutValid(const WaveFormat& coded);
std::unique_ptr<CodecStream> OpenMsAdpcmStream(const WaveFormat& coded, bool encode);
WaveFormat SuggestMsAdpcm(std::uint32_t rate, std::uint16_t channels);

bool Gsm610LayoutValid(const WaveFormat& coded);
std::unique_ptr<CodecStream> OpenGsm610Stream(const WaveFormat& coded, bool encode);
WaveFormat SuggestGsm610(std::uint32_t rate);

// MPEG Layer III: decoding only (`encode` gives null).
bool Mp3LayoutValid(const WaveFormat& coded);
std::unique_ptr<CodecStream> OpenMp3Stream(const WaveFormat& coded, bool encode);

}  // namespace sonavel::codecs
