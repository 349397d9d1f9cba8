#include "formats/raw_file.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "formats/g711.h"
#include "formats/read_start.h"
#include "formats/sample_words.h"

namespace sonavel {

namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

// The 8-bit rule of every writer: (s + 2048) >> 12, limited to -128..127.
std::int32_t StoreTo8(std::int32_t sample) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>((std::int64_t{sample} + 2048) >> 12, -128, 127));
}

void Decode(SampleCoding coding, const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  switch (coding) {
    case SampleCoding::kUnsigned8:
      for (std::size_t i = 0; i < samples; ++i) out[i] = (std::int32_t{in[i]} - 128) * 4096;
      break;
    case SampleCoding::kSigned8:
      for (std::size_t i = 0; i < samples; ++i) out[i] = std::int32_t{static_cast<std::int8_t>(in[i])} * 4096;
      break;
    case SampleCoding::kLinear16Le:
    case SampleCoding::kLinear16Be:
      Words16ToStore(in, out, samples, coding == SampleCoding::kLinear16Be);
      break;
    case SampleCoding::kMuLaw:
      for (std::size_t i = 0; i < samples; ++i) out[i] = ExpandMuLaw(in[i]);
      break;
    case SampleCoding::kALaw:
      for (std::size_t i = 0; i < samples; ++i) out[i] = ExpandALaw(in[i]);
      break;
  }
}

void Encode(SampleCoding coding, const std::int32_t* in, std::uint8_t* out, std::size_t samples) {
  switch (coding) {
    case SampleCoding::kUnsigned8:
      for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<std::uint8_t>(StoreTo8(in[i]) + 128);
      break;
    case SampleCoding::kSigned8:
      for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<std::uint8_t>(StoreTo8(in[i]));
      break;
    case SampleCoding::kLinear16Le:
    case SampleCoding::kLinear16Be:
      StoreToWords16(in, out, samples, coding == SampleCoding::kLinear16Be);
      break;
    case SampleCoding::kMuLaw:
      for (std::size_t i = 0; i < samples; ++i) out[i] = CompressMuLaw(in[i]);
      break;
    case SampleCoding::kALaw:
      for (std::size_t i = 0; i < samples; ++i) out[i] = CompressALaw(in[i]);
      break;
  }
}

class RawFileWriter final : public SampleSink {
 public:
  RawFileWriter(const std::string& path, std::int32_t sample_rate, std::uint8_t channel_count,
                SampleCoding coding, RawHeaderWriter header, std::int64_t most_frames)
      : SampleSink(sample_rate, channel_count), coding_(coding), header_(std::move(header)), most_frames_(most_frames) {
    frame_size_ = BytesPerSample(coding) * channels;
    if (rate < 1) status |= kSinkUnusable;
    if ((status & kSinkUnusable) != 0 || !file_.Open(path, File::Mode::kCreate)) {
      status |= kSinkUnusable;
      file_.Close();
      return;
    }
    if (header_) header_length_ = header_(file_, false, 0);
    if (!file_.Truncate(header_length_) || !file_.Seek(header_length_)) status |= kSinkWriteFailed;
    buffer_.resize(static_cast<std::size_t>(kChunkFrames) * frame_size_);
  }

  ~RawFileWriter() override {
    if (!file_.IsOpen() || !header_) return;
    file_.Seek(0);
    header_(file_, true, frames_);
  }

  void Write(const std::int32_t* in, std::int32_t count) override {
    if (count <= 0 || (status & kSinkUnusable) != 0) return;
    if (count > most_frames_ - frames_) {
      status |= kSinkWriteFailed;  // the header could not describe the file
      return;
    }
    const std::size_t channel_count = channels;
    while (count > 0) {
      const std::int32_t piece = std::min(count, kChunkFrames);
      Encode(coding_, in, buffer_.data(), piece * channel_count);
      if (!file_.Write(buffer_.data(), static_cast<std::size_t>(piece) * frame_size_))
        status |= kSinkWriteFailed;
      frames_ += piece;
      in += piece * channel_count;
      count -= piece;
    }
    position = static_cast<std::int32_t>(std::min(frames_, kMaxFrames));
  }

  // Cuts the file back to `frame` frames; writing continues there.
  void Seek(std::int32_t frame) override {
    if ((status & kSinkUnusable) != 0 || frame > frames_) return;
    frames_ = std::max(frame, 0);
    position = static_cast<std::int32_t>(frames_);
    const std::int64_t end = header_length_ + frames_ * frame_size_;
    if (!file_.Truncate(end) || !file_.Seek(end)) status |= kSinkWriteFailed;
  }

 private:
  File file_;
  SampleCoding coding_;
  RawHeaderWriter header_;
  std::int64_t most_frames_;
  std::int64_t header_length_ = 0;
  int frame_size_ = 0;
  std::int64_t frames_ = 0;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

int BytesPerSample(SampleCoding coding) {
  return coding == SampleCoding::kLinear16Le || coding == SampleCoding::kLinear16Be ? 2 : 1;
}

std::int32_t PeakBoundOf(SampleCoding coding) {
  return coding == SampleCoding::kMuLaw || coding == SampleCoding::kALaw ? 0x7E000 : kFullScale;
}

RawFileReader::RawFileReader(std::unique_ptr<ByteSource> file, const RawLayout& layout)
    : SampleSource(layout.rate, layout.channels, PeakBoundOf(layout.coding)),
      file_(std::move(file)),
      layout_(layout) {
  frame_size_ = BytesPerSample(layout.coding) * channels;
  if (layout_.data_offset < 0 || (layout_.data_bytes && *layout_.data_bytes < 0)) status = kStatusCorrupt;
  buffer_.resize(static_cast<std::size_t>(kChunkFrames) * frame_size_);
}

std::int32_t RawFileReader::Length() const {
  if (status != kStatusOk) return 0;
  // The file's size is asked at every request: a file still being written grows.
  const std::int64_t in_file = std::max<std::int64_t>(file_->Size() - layout_.data_offset, 0);
  const std::int64_t bytes = layout_.data_bytes ? std::min(*layout_.data_bytes, in_file) : in_file;
  return static_cast<std::int32_t>(std::min(bytes / frame_size_, kMaxFrames));
}

void RawFileReader::Read(std::int32_t* out, std::int32_t count) {
  if (count <= 0) return;
  const std::size_t channel_count = channels;
  auto [position, n] = BeginRead(out, position_, count, channel_count);
  // The file's size is asked again only when the read goes past what it last gave.
  if (position + n > known_length_) known_length_ = Length();
  const std::int64_t length = known_length_;
  if (n > 0 && position < length) file_->Seek(layout_.data_offset + position * frame_size_);
  while (n > 0) {
    // Only frames up to the length come from the file; the rest is silence.
    const std::int64_t wanted = std::clamp<std::int64_t>(length - position, 0, std::min<std::int64_t>(n, kChunkFrames));
    std::int64_t got = 0;
    if (wanted > 0) {
      got = static_cast<std::int64_t>(file_->Read(buffer_.data(), wanted * frame_size_)) / frame_size_;
      Decode(layout_.coding, buffer_.data(), out, got * channel_count);
    }
    if (got < wanted || wanted == 0) {
      std::fill_n(out + got * channel_count, (n - got) * channel_count, 0);
      return;
    }
    out += got * channel_count;
    n -= got;
    position += got;
  }
}

void RawFileReader::Seek(std::int32_t frame) {
  position_ = frame;
  const std::int64_t start = frame > 0 ? std::min<std::int64_t>(frame, Length()) : 0;
  file_->Seek(layout_.data_offset + start * frame_size_);
}

SourceRef OpenRawFileReader(std::unique_ptr<ByteSource> file, const RawLayout& layout) {
  if (!file) return MakeNullSource(kStatusCannotOpen);
  return MakeCounted<RawFileReader>(ReadAheadBytes(std::move(file)), layout);
}

SinkRef CreateRawFileWriter(const std::string& path, std::int32_t rate, std::uint8_t channels, SampleCoding coding,
                            RawHeaderWriter header, std::int64_t most_frames) {
  return MakeCounted<RawFileWriter>(path, rate, channels, coding, std::move(header), most_frames);
}

}  // namespace sonavel
