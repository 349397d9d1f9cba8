// MPEG Layer III in WAV files (tag 0x55), decoded to 16-bit PCM. The data chunk holds
// frames one after another, as an ".mp3" file does; the stream finds them with the same
// search and decodes whole frames, leaving a frame cut by the end of a call for the next.
// Frames of another rate or channel count than the record states are passed over.

#include <algorithm>
#include <vector>

#include "formats/codecs_internal.h"
#include "formats/mp3_decoder.h"
#include "formats/mp3_frames.h"
#include "store/stream.h"

namespace sonavel::codecs {
namespace {

// The longest frame of any version: 144 × 320 kbit/s ÷ 32 kHz plus padding (and the
// lower-sampling versions' 72 × 160 kbit/s ÷ 8 kHz plus padding).
constexpr std::size_t kLongestFrame = 1441;
constexpr std::uint32_t kRates[] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};
// The extra bytes of the MPEGLAYER3WAVEFORMAT record and its identifier for MPEG audio.
constexpr std::size_t kLayer3Extra = 12;
constexpr std::uint16_t kMpegId = 1;

class Mp3Stream final : public CodecStream {
 public:
  explicit Mp3Stream(const WaveFormat& coded)
      : rate_(coded.rate),
        channels_(coded.channels),
        samples_per_frame_(coded.rate >= 32000 ? 1152 : 576),
        frame_output_(samples_per_frame_ * channels_ * 2),
        samples_(samples_per_frame_ * channels_) {
    // Until frames are seen, a frame is reckoned at the record's average bytes, else at a
    // middle bit rate (128 kbit/s, 64 kbit/s for the lower rates).
    const double seconds = static_cast<double>(samples_per_frame_) / rate_;
    average_frame_ = coded.avg_bytes_per_sec > 0 ? coded.avg_bytes_per_sec * seconds
                                                 : (samples_per_frame_ == 1152 ? 128000 : 64000) / 8.0 * seconds;
    average_frame_ = std::clamp(average_frame_, 1.0, static_cast<double>(kLongestFrame));
  }

  std::size_t SourceSizeFor(std::size_t destination_bytes) const override {
    return (destination_bytes / frame_output_ + 2) * kLongestFrame;
  }

  // An estimate by the average frame length so far: frames vary in length.
  std::size_t DestinationSizeFor(std::size_t source_bytes) const override {
    return static_cast<std::size_t>(static_cast<double>(source_bytes) / average_frame_) * frame_output_;
  }

  ConvertResult Convert(const std::uint8_t* source, std::size_t source_bytes, std::uint8_t* destination,
                        std::size_t destination_bytes, unsigned flags) override {
    ConvertResult result;
    if ((flags & kConvertStart) != 0) decoder_.Reset();
    if (source == nullptr) source_bytes = 0;
    if (destination == nullptr) destination_bytes = 0;
    const bool end = (flags & kConvertEnd) != 0;
    std::size_t at = 0;
    while (destination_bytes - result.destination_used >= frame_output_) {
      const std::size_t rest = source_bytes - at;
      const auto found = mp3::SearchHeader(source + at, rest);
      if (!found) {
        // What was searched holds no header: all of it but a header's start at its end.
        if (end) at = source_bytes;
        else if (rest >= mp3::kHeaderBytes) at += std::min(rest - mp3::kHeaderBytes + 1, mp3::kSearchSpan);
        break;
      }
      at += found->offset;
      const mp3::FrameHeader& header = found->header;
      if (header.sample_rate != static_cast<int>(rate_) || header.channels != channels_) {
        ++at;  // not this stream's: perhaps no header at all
        continue;
      }
      const std::size_t frame_bytes = static_cast<std::size_t>(header.frame_bytes);
      if (frame_bytes > source_bytes - at && !end) break;  // the rest of it comes next time
      const std::size_t bytes = std::min(frame_bytes, source_bytes - at);
      decoder_.Decode(header, source + at, bytes, samples_.data());
      std::uint8_t* out = destination + result.destination_used;
      for (std::size_t i = 0; i < samples_.size(); ++i) WriteSample(out + 2 * i, StoreTo16(samples_[i]));
      at += bytes;
      result.destination_used += frame_output_;
      average_frame_ += (static_cast<double>(frame_bytes) - average_frame_) / 8;
    }
    result.source_used = at;
    return result;
  }

 private:
  std::uint32_t rate_;
  int channels_;
  std::size_t samples_per_frame_;
  std::size_t frame_output_;
  double average_frame_ = 0;
  mp3::FrameDecoder decoder_;
  std::vector<std::int32_t> samples_;
};

}  // namespace

bool Mp3LayoutValid(const WaveFormat& coded) {
  if (coded.channels < 1 || coded.channels > 2) return false;
  if (std::find(std::begin(kRates), std::end(kRates), coded.rate) == std::end(kRates)) return false;
  // The MPEGLAYER3WAVEFORMAT record names MPEG audio in its first extra word.
  if (coded.extra.empty()) return true;
  return coded.extra.size() >= kLayer3Extra && ReadLe16(coded.extra.data()) == kMpegId;
}

std::unique_ptr<CodecStream> OpenMp3Stream(const WaveFormat& coded, bool encode) {
  if (encode || !Mp3LayoutValid(coded)) return nullptr;
  return std::make_unique<Mp3Stream>(coded);
}

}  // namespace sonavel::codecs
