#include "formats/wav_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "formats/codec_table.h"
#include "formats/sample_words.h"
#include "formats/wav_reader.h"
#include "platform/file.h"

namespace sonavel {

static_assert(std::endian::native == std::endian::little, "samples are written in place");

namespace {

constexpr std::uint32_t kProvisional = 0xFFFFFFFF;

// A size field; sizes beyond 32 bits are written as "to the end of the file".
std::uint32_t SizeField(std::int64_t size) {
  return size >= std::int64_t{kProvisional} ? kProvisional : static_cast<std::uint32_t>(size);
}

int BytesPerSample(std::uint16_t bits) {
  if (bits <= 8) return 1;
  if (bits <= 16) return 2;
  if (bits <= 24) return 3;
  return 4;
}

// Store samples to file samples. Values beyond what the field holds saturate rather than
// wrap around (a wrapped full-scale sample would turn into a full-scale click).
void ConvertFromStore(const std::int32_t* in, std::uint8_t* out, std::size_t samples, int bytes) {
  switch (bytes) {
    case 1:
      for (std::size_t i = 0; i < samples; ++i) {
        const std::int64_t f = (std::int64_t{in[i]} + 2048) >> 12;
        out[i] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(f, -128, 127) + 128);
      }
      break;
    case 2:
      StoreToWords16(in, out, samples, false);
      break;
    case 3:
      for (std::size_t i = 0; i < samples; ++i) {
        const std::uint32_t f = static_cast<std::uint32_t>(std::clamp(in[i], -0x80000, 0x7FFFF)) << 4;
        out[3 * i] = static_cast<std::uint8_t>(f);
        out[3 * i + 1] = static_cast<std::uint8_t>(f >> 8);
        out[3 * i + 2] = static_cast<std::uint8_t>(f >> 16);
      }
      break;
    default:
      for (std::size_t i = 0; i < samples; ++i)
        WriteLe32(out + 4 * i, static_cast<std::uint32_t>(std::clamp(in[i], -0x80000, 0x7FFFF)) << 12);
  }
}

class PcmWriter final : public SampleSink {
 public:
  PcmWriter(const WaveFormat& format, const std::string& path)
      : SampleSink(static_cast<std::int32_t>(format.rate), static_cast<std::uint8_t>(format.channels)),
        format_(format),
        bytes_per_sample_(BytesPerSample(format.bits)) {
    frame_size_ = bytes_per_sample_ * channels;
    buffer_.resize(static_cast<std::size_t>(kChunkFrames) * frame_size_);
    if ((status & kSinkUnusable) != 0 || !file_.Open(path, File::Mode::kCreate)) {
      status |= kSinkUnusable;
      return;
    }
    WriteHeader(-1);
    file_.Truncate(kPcmHeaderSize);
  }

  ~PcmWriter() override {
    if (!file_.IsOpen()) return;
    file_.Seek(0);
    WriteHeader(frames_ * frame_size_);
  }

  void Write(const std::int32_t* in, std::int32_t count) override {
    if (count <= 0 || (status & kSinkUnusable) != 0) return;
    const std::size_t channel_count = channels;
    while (count > 0) {
      const std::int32_t piece = std::min(count, kChunkFrames);
      ConvertFromStore(in, buffer_.data(), piece * channel_count, bytes_per_sample_);
      if (!file_.Write(buffer_.data(), static_cast<std::size_t>(piece) * frame_size_))
        status |= kSinkWriteFailed;
      frames_ += piece;
      in += piece * channel_count;
      count -= piece;
    }
    position = static_cast<std::int32_t>(std::min<std::int64_t>(frames_, std::numeric_limits<std::int32_t>::max()));
  }

  // Cuts the file back to `frame` frames; writing continues there.
  void Seek(std::int32_t frame) override {
    if ((status & kSinkUnusable) != 0 || frame > frames_) return;
    frames_ = std::max(frame, 0);
    position = static_cast<std::int32_t>(frames_);
    file_.Truncate(kPcmHeaderSize + frames_ * frame_size_);
    file_.Seek(kPcmHeaderSize + frames_ * frame_size_);
  }

 private:
  void WriteHeader(std::int64_t data_bytes) {
    if (!file_.Write(PcmWavHeader(format_, data_bytes).data(), kPcmHeaderSize)) status |= kSinkWriteFailed;
  }

  File file_;
  WaveFormat format_;
  int bytes_per_sample_;
  int frame_size_ = 0;
  std::int64_t frames_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// Other formats: 16-bit PCM encoded through the codec table.
class CodedWriter final : public SampleSink {
 public:
  CodedWriter(const WaveFormat& format, const std::string& path)
      : SampleSink(static_cast<std::int32_t>(format.rate),
                   static_cast<std::uint8_t>(std::max<std::uint16_t>(format.channels, 1))),
        format_(format) {
    if (!file_.Open(path, File::Mode::kCreate)) {
      status |= kSinkUnusable;
      return;
    }
    const WaveFormat pcm = DefaultFormat(format.rate, channels);
    stream_ = OpenCodecStream(pcm, format_);
    // 8192 frames, or one block of input when a block takes more.
    std::size_t source_size = static_cast<std::size_t>(kChunkFrames) * 2 * channels;
    if (stream_) source_size = std::max(source_size, stream_->SourceSizeFor(1));
    source_.resize(source_size);
    const std::size_t destination_size = stream_ ? stream_->DestinationSizeFor(source_.size()) : 0;
    if (!stream_ || destination_size == 0) {
      stream_.reset();
      status |= kSinkUnusable;
    } else {
      destination_.resize(destination_size);
    }
    WriteHeader(kProvisional, kProvisional);
  }

  ~CodedWriter() override {
    if (!file_.IsOpen()) return;
    if (stream_) Flush(kConvertEnd);
    const std::int64_t fmt = static_cast<std::int64_t>(SerializeFormat(format_).size());
    file_.Seek(0);
    WriteHeader(SizeField(fmt + encoded_ + 20), SizeField(encoded_));
  }

  void Write(const std::int32_t* in, std::int32_t count) override {
    if (count <= 0 || (status & kSinkUnusable) != 0) return;
    const std::size_t channel_count = channels;
    std::size_t samples = static_cast<std::size_t>(count) * channel_count;
    position = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{position} + count, std::numeric_limits<std::int32_t>::max()));
    while (samples > 0) {
      const std::size_t room = (source_.size() - pending_) / 2;
      const std::size_t take = std::min(room, samples);
      for (std::size_t i = 0; i < take; ++i)
        WriteLe16(source_.data() + pending_ + 2 * i, static_cast<std::uint16_t>(StoreTo16(in[i])));
      pending_ += take * 2;
      in += take;
      samples -= take;
      const std::size_t before = pending_;
      Flush(kConvertBlockAlign);
      // A codec that takes nothing from a full buffer would never drain it: drop the rest.
      if (pending_ == before && pending_ == source_.size()) break;
    }
  }

 private:
  void Flush(unsigned flags) {
    const ConvertResult result =
        stream_->Convert(source_.data(), pending_, destination_.data(), destination_.size(), flags);
    if (result.destination_used > 0) {
      if (!file_.Write(destination_.data(), result.destination_used)) status |= kSinkWriteFailed;
      encoded_ += static_cast<std::int64_t>(result.destination_used);
    }
    const std::size_t used = std::min(result.source_used, pending_);
    std::memmove(source_.data(), source_.data() + used, pending_ - used);
    pending_ -= used;
  }

  void WriteHeader(std::uint32_t riff_size, std::uint32_t data_size) {
    const std::vector<std::uint8_t> record = SerializeFormat(format_);
    std::vector<std::uint8_t> header(20 + record.size() + 8);
    std::memcpy(header.data(), "RIFF", 4);
    WriteLe32(header.data() + 4, riff_size);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    WriteLe32(header.data() + 16, static_cast<std::uint32_t>(record.size()));
    std::copy(record.begin(), record.end(), header.begin() + 20);
    std::memcpy(header.data() + 20 + record.size(), "data", 4);
    WriteLe32(header.data() + 24 + record.size(), data_size);
    if (!file_.Write(header.data(), header.size())) status |= kSinkWriteFailed;
  }

  WaveFormat format_;
  File file_;
  std::unique_ptr<CodecStream> stream_;
  std::vector<std::uint8_t> source_;
  std::size_t pending_ = 0;
  std::vector<std::uint8_t> destination_;
  std::int64_t encoded_ = 0;
};

}  // namespace

std::array<std::uint8_t, kPcmHeaderSize> PcmWavHeader(const WaveFormat& format, std::int64_t data_bytes) {
  const std::uint32_t frame_size = static_cast<std::uint32_t>(BytesPerSample(format.bits)) * format.channels;
  std::array<std::uint8_t, kPcmHeaderSize> header{};
  std::memcpy(header.data(), "RIFF", 4);
  WriteLe32(header.data() + 4, data_bytes < 0 ? kProvisional : SizeField(data_bytes + 38));
  std::memcpy(header.data() + 8, "WAVEfmt ", 8);
  WriteLe32(header.data() + 16, 18);
  WriteLe16(header.data() + 20, kTagPcm);
  WriteLe16(header.data() + 22, format.channels);
  WriteLe32(header.data() + 24, format.rate);
  WriteLe32(header.data() + 28, format.rate * frame_size);
  WriteLe16(header.data() + 32, static_cast<std::uint16_t>(frame_size));
  WriteLe16(header.data() + 34, static_cast<std::uint16_t>(BytesPerSample(format.bits) * 8));
  WriteLe16(header.data() + 36, 0);
  std::memcpy(header.data() + 38, "data", 4);
  WriteLe32(header.data() + 42, data_bytes < 0 ? kProvisional : SizeField(data_bytes));
  return header;
}

SinkRef CreateWavWriter(const WaveFormat& format, const std::string& path) {
  if (format.tag == kTagPcm) return MakeCounted<PcmWriter>(format, path);
  return MakeCounted<CodedWriter>(format, path);
}

}  // namespace sonavel
