#pragma once
// Reading RIFF/WAVE files. PCM of 8, 16, 24 and 32 bits is converted here; every other
// format tag is decoded to 16-bit PCM through the codec table. Either way the reader is a
// SampleSource delivering store-scale samples (a 16-bit sample times 16).

#include <cstdint>
#include <string>

#include "formats/wave_format.h"
#include "store/stream.h"

namespace sonavel {

// Status values of file readers.
namespace WavStatus {
inline constexpr std::uint8_t Ok = 0;
inline constexpr std::uint8_t Failed = 1;
inline constexpr std::uint8_t Corrupt = 3;
inline constexpr std::uint8_t CannotOpen = 4;
inline constexpr std::uint8_t CodecMissing = 5;
}  // namespace WavStatus

inline constexpr std::int32_t kPieceFrames = 8192;  // the most one read or write moves
inline constexpr std::uint32_t kMaxWavRate = 196000;

// The common part of both readers: the file's own format.
class WavReader : public SampleSource {
 public:
  WavReader(const WaveFormat& format, std::uint8_t channel_count)
      : SampleSource(static_cast<std::int32_t>(format.rate), channel_count, kFullScale),
        format_(format) {}
  const WaveFormat& format() const { return format_; }
  // True when Length() is known exactly (PCM, or a coded file read to its end).
  virtual bool LengthIsExact() const { return true; }

 private:
  WaveFormat format_;
};

// Never fails to return a source: failures show in its status (CannotOpen, Corrupt,
// CodecMissing), and such a source delivers silence and has length 0.
SourceRef OpenWavReader(const std::string& path);

// The message that tells the user why `path` did not open, for a reader's status.
std::string WavOpenErrorText(std::uint8_t status, const std::string& path);

// The WAV reader behind `source`, or null when it is another kind of source.
WavReader* AsWavReader(SampleSource* source);

}  // namespace sonavel
