#pragma once
// Reading RIFF/WAVE files. PCM of 8, 16, 24 and 32 bits is converted here; every other
// format tag is decoded to 16-bit PCM through the codec table. Either way the reader is a
// SampleSource delivering store-scale samples (a 16-bit sample times 16).

#include <cstdint>
#include <memory>
#include <string>

#include "formats/wave_format.h"
#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr std::uint32_t kMaxWavRate = 196000;

// Where a file's "data" chunk lies and how much of it the file really holds.
struct WavData {
  std::int64_t offset = 0;   // of the first byte of the chunk body
  std::int64_t claimed = 0;  // bytes the chunk header states (the file's rest for 0xFFFFFFFF)
  std::int64_t present = 0;  // of those, the bytes the file holds
  bool open_ended = false;   // the size was left at 0xFFFFFFFF by a writer that never finished
  std::string form = "RIFF"; // "RF64" and "BW64" files take their sizes from a "ds64" chunk
};

// The common part of both readers: the file's own format. A reader's length is what the
// file holds, never more than its header claims: a header claiming more than a cut or
// damaged file holds does not invent audio.
class WavReader : public SampleSource {
 public:
  WavReader(const WaveFormat& format, const WavData& data)
      : SampleSource(static_cast<std::int32_t>(format.rate), static_cast<std::uint8_t>(format.channels),
                     kFullScale),
        format_(format),
        data_(data) {}
  const WaveFormat& format() const { return format_; }
  // True when Length() is known exactly (PCM, or a coded file read to its end).
  virtual bool LengthIsExact() const { return true; }
  // The data bytes the header claims and the bytes of them the file holds; they differ
  // for a file cut short or a header that lies.
  std::int64_t ClaimedDataBytes() const { return data_.claimed; }
  std::int64_t PresentDataBytes() const { return data_.present; }
  // "RIFF", or "RF64" / "BW64" for the forms with 64-bit sizes.
  const std::string& Form() const { return data_.form; }

 private:
  WaveFormat format_;
  WavData data_;
};

// Never fails to return a source: failures show in its status (CannotOpen, Corrupt,
// CodecMissing), and such a source delivers silence and has length 0.
SourceRef OpenWavReader(const std::string& path);
// The same over bytes already at hand (a null source: the file could not be opened).
SourceRef OpenWavReader(std::unique_ptr<ByteSource> bytes);

// The message that tells the user why `path` did not open, for a reader's status.
std::string WavOpenErrorText(std::uint8_t status, const std::string& path);

// The WAV reader behind `source`, or null when it is another kind of source.
WavReader* AsWavReader(SampleSource* source);

}  // namespace sonavel
