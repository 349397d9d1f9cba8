#include "formats/au_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "formats/codecs_internal.h"
#include "formats/g711.h"
#include "formats/raw_file.h"
#include "formats/read_start.h"
#include "formats/sample_words.h"
#include "formats/wav_reader.h"
#include "formats/wave_format.h"
#include "platform/file.h"

namespace sonavel {

namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();
// Peak bounds: the laws' largest expansion rounded up, and full scale for linear and
// float samples, as for WAV files. Their most negative value lies one 16-bit step beyond
// it; a bound of full scale lets a save write it as it came instead of limiting the
// whole block around it.
constexpr std::int32_t kLawPeak = 0x7E000;
// Bytes a reader or writer converts at a time: at least one frame, whatever the channels.
constexpr std::size_t kPieceBytes = 65536;

// File samples of one encoding to store samples.
using Converter = void (*)(const std::uint8_t* in, std::int32_t* out, std::size_t samples);


void FromMuLaw(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i) out[i] = ExpandMuLaw(in[i]);
}
void FromALaw(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i) out[i] = ExpandALaw(in[i]);
}
void FromLinear8(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<std::int8_t>(in[i]) * 4096;
}
void FromLinear16(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  Words16ToStore(in, out, samples, true);
}
void FromLinear24(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i) {
    const std::uint8_t* p = in + 3 * i;
    const std::int32_t f =
        static_cast<std::int32_t>(static_cast<std::uint32_t>((p[0] << 16) | (p[1] << 8) | p[2]) << 8) >> 8;
    out[i] = f >> 4;  // the lowest 4 bits are dropped
  }
}
void FromLinear32(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i) {
    const std::int64_t f = static_cast<std::int32_t>(ReadBe32(in + 4 * i));
    out[i] = static_cast<std::int32_t>((f + 2048) >> 12);  // no wrap-around: 0x7FFFFFFF gives 524288
  }
}
void FromFloat(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i)
    out[i] = codecs::FloatToSample(std::bit_cast<float>(ReadBe32(in + 4 * i))) * 16;
}
void FromDouble(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i) {
    const std::uint64_t bits = (std::uint64_t{ReadBe32(in + 8 * i)} << 32) | ReadBe32(in + 8 * i + 4);
    out[i] = codecs::FloatToSample(std::bit_cast<double>(bits)) * 16;
  }
}

struct Encoding {
  std::uint32_t number;
  int bytes;
  const char* name;
  std::int32_t peak;
  Converter convert;
};

constexpr Encoding kEncodings[] = {
    {kAuMuLaw, 1, "µ-law", kLawPeak, FromMuLaw},
    {kAuALaw, 1, "A-law", kLawPeak, FromALaw},
    {kAuLinear8, 1, "PCM", kFullScale, FromLinear8},
    {kAuLinear16, 2, "PCM", kFullScale, FromLinear16},
    {kAuLinear24, 3, "PCM", kFullScale, FromLinear24},
    {kAuLinear32, 4, "PCM", kFullScale, FromLinear32},
    {kAuFloat, 4, "float", kFullScale, FromFloat},
    {kAuDouble, 8, "float", kFullScale, FromDouble},
};

const Encoding* FindEncoding(std::uint32_t number) {
  for (const Encoding& encoding : kEncodings)
    if (encoding.number == number) return &encoding;
  return nullptr;
}

// What the header says, checked.
struct AuLayout {
  const Encoding* encoding = nullptr;
  std::int32_t rate = 0;
  std::uint8_t channels = 0;
  std::int64_t offset = 0;   // of the first sample
  std::int64_t claimed = 0;  // data bytes the header states; -1: to the end of the file
};

class AuFileReader final : public AuReader {
 public:
  AuFileReader(std::unique_ptr<ByteSource> file, const AuLayout& layout)
      : AuReader(layout.rate, layout.channels, layout.encoding->peak),
        file_(std::move(file)),
        encoding_(*layout.encoding),
        offset_(layout.offset),
        claimed_(layout.claimed),
        frame_size_(layout.encoding->bytes * std::int64_t{layout.channels}),
        piece_frames_(std::max<std::int64_t>(1, static_cast<std::int64_t>(kPieceBytes) / frame_size_)) {}

  std::uint32_t encoding() const override { return encoding_.number; }
  int bits() const override { return encoding_.bytes * 8; }
  std::int64_t ClaimedDataBytes() const override { return claimed_ >= 0 ? claimed_ : InFile(); }
  std::int64_t PresentDataBytes() const override {
    return claimed_ >= 0 ? std::min(claimed_, InFile()) : InFile();
  }

  // Whole frames of what the file holds, never more than the header claims. A file whose
  // size is "to the end" is measured again at every request, as it may still be growing.
  std::int32_t Length() const override {
    return static_cast<std::int32_t>(std::min(PresentDataBytes() / frame_size_, kMaxFrames));
  }
  std::int32_t Position() const override { return position_; }
  void Seek(std::int32_t frame) override { position_ = frame; }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    const std::size_t channel_count = channels;
    auto [position, n] = BeginRead(out, position_, count, channel_count);
    // The file's size is asked again only when the read goes past what it last gave.
    if (position + n > known_length_) known_length_ = Length();
    const std::int64_t length = known_length_;
    while (n > 0 && position < length) {
      const std::int64_t wanted = std::min({n, length - position, piece_frames_});
      if (buffer_.empty()) buffer_.resize(static_cast<std::size_t>(piece_frames_ * frame_size_));
      std::int64_t got = 0;
      if (file_->Seek(offset_ + position * frame_size_))
        got = static_cast<std::int64_t>(file_->Read(buffer_.data(), static_cast<std::size_t>(wanted * frame_size_))) /
              frame_size_;
      encoding_.convert(buffer_.data(), out, static_cast<std::size_t>(got) * channel_count);
      out += got * channel_count;
      n -= got;
      position += got;
      if (got < wanted) break;  // the file is shorter than it was: the rest is silence
    }
    std::fill_n(out, n * channel_count, 0);
  }

 private:
  std::int64_t InFile() const { return std::max<std::int64_t>(file_->Size() - offset_, 0); }

  std::unique_ptr<ByteSource> file_;
  const Encoding& encoding_;
  std::int64_t offset_;
  std::int64_t claimed_;
  std::int64_t frame_size_;
  std::int64_t piece_frames_;
  std::int32_t position_ = 0;
  std::int64_t known_length_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// Reads and checks the header; the status a failure gives, kStatusOk otherwise.
std::uint8_t ReadLayout(ByteSource& file, AuLayout& layout) {
  std::uint8_t header[kAuHeaderSize];
  if (file.Read(header, sizeof header) != sizeof header) return kStatusCorrupt;
  if (std::memcmp(header, ".snd", 4) != 0) return kStatusCorrupt;
  const std::uint32_t offset = ReadBe32(header + 4);
  const std::uint32_t size = ReadBe32(header + 8);
  const std::uint32_t encoding = ReadBe32(header + 12);
  const std::uint32_t rate = ReadBe32(header + 16);
  const std::uint32_t channels = ReadBe32(header + 20);
  // The samples cannot begin inside the header.
  if (offset < kAuHeaderSize) return kStatusCorrupt;
  if (channels < 1 || channels > 255 || rate < 1 || rate > kMaxWavRate) return kStatusCorrupt;
  layout.encoding = FindEncoding(encoding);
  if (layout.encoding == nullptr) return kStatusCodecMissing;
  layout.rate = static_cast<std::int32_t>(rate);
  layout.channels = static_cast<std::uint8_t>(channels);
  layout.offset = offset;
  layout.claimed = size == kAuSizeToEnd ? -1 : std::int64_t{size};
  return kStatusOk;
}

}  // namespace

SourceRef OpenAuReader(std::unique_ptr<ByteSource> bytes) {
  if (!bytes) return MakeNullSource(kStatusCannotOpen);
  AuLayout layout;
  if (const std::uint8_t status = ReadLayout(*bytes, layout); status != kStatusOk) return MakeNullSource(status);
  return MakeCounted<AuFileReader>(ReadAheadBytes(std::move(bytes)), layout);
}

AuReader* AsAuReader(SampleSource* source) { return dynamic_cast<AuReader*>(source); }

std::vector<std::uint8_t> AuHeader(std::int64_t data_bytes, std::int32_t rate, std::uint8_t channels) {
  std::vector<std::uint8_t> header(kAuHeaderSize);
  std::memcpy(header.data(), ".snd", 4);
  WriteBe32(header.data() + 4, static_cast<std::uint32_t>(kAuHeaderSize));
  WriteBe32(header.data() + 8, data_bytes >= std::int64_t{kAuSizeToEnd} ? kAuSizeToEnd
                                                                          : static_cast<std::uint32_t>(data_bytes));
  WriteBe32(header.data() + 12, kAuLinear16);
  WriteBe32(header.data() + 16, static_cast<std::uint32_t>(rate));
  WriteBe32(header.data() + 20, channels);
  return header;
}

SinkRef CreateAuWriter(const std::string& path, std::int32_t rate, std::uint8_t channels) {
  if (rate > static_cast<std::int32_t>(kMaxWavRate)) rate = 0;  // unusable: the reader would refuse the file
  // The size word says "to the end of the file" until the writer is finished, and for
  // data beyond what it can count.
  auto header = [rate, channels](File& file, bool final, std::int64_t frames) -> std::int64_t {
    const std::int64_t data_bytes = final ? frames * 2 * channels : std::int64_t{kAuSizeToEnd};
    file.Write(AuHeader(data_bytes, rate, channels).data(), kAuHeaderSize);
    return kAuHeaderSize;
  };
  return CreateRawFileWriter(path, rate, channels, SampleCoding::kLinear16Be, header);
}

FileFormat AuFileFormat() {
  FileFormat format;
  format.name = "Sun AU";
  format.extensions = {".au"};
  format.open = [](std::unique_ptr<ByteSource> bytes, const OpenOptions&) { return OpenAuReader(std::move(bytes)); };
  // An encoding the program does not decode is shown as a corrupt file.
  format.open_error = [](std::uint8_t status, const std::string& path) {
    return WavOpenErrorText(status == kStatusCannotOpen ? kStatusCannotOpen : kStatusCorrupt, path);
  };
  format.create = [](const WaveFormat& wave, const std::string& path, const OpenOptions&) {
    // Channel counts beyond a byte and rates beyond the reader's bound make an unusable
    // writer rather than a file that would not open again.
    const bool fits = wave.channels <= 255 && wave.rate <= kMaxWavRate;
    return CreateAuWriter(path, fits ? static_cast<std::int32_t>(wave.rate) : 0,
                          fits ? static_cast<std::uint8_t>(wave.channels) : 0);
  };
  format.describe = [](SampleSource& reader) {
    std::vector<std::string> lines;
    const AuReader* au = AsAuReader(&reader);
    if (au == nullptr) return lines;
    lines.push_back(std::string("format: Sun AU (") + FindEncoding(au->encoding())->name + ")");
    lines.push_back("bits: " + std::to_string(au->bits()));
    return lines;
  };
  format.data_sizes = [](SampleSource& reader) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
    const AuReader* au = AsAuReader(&reader);
    if (au == nullptr) return std::nullopt;
    return std::pair{au->ClaimedDataBytes(), au->PresentDataBytes()};
  };
  return format;
}

}  // namespace sonavel
