#include "formats/aiff_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "formats/raw_file.h"
#include "formats/read_start.h"
#include "formats/sample_words.h"
#include "formats/wav_reader.h"
#include "platform/file.h"

namespace sonavel {

namespace {

constexpr std::uint32_t kProvisional = 0xFFFFFFFF;
constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

// How the samples of the sound data are laid out.
struct Coding {
  int bytes = 2;  // per sample
  bool little_endian = false;
  bool floating = false;
  const char* compression = nullptr;  // the AIFF-C compression type, null for AIFF
};

// A float sample as a 32-bit one (±1.0 full scale), rounded half away from zero and
// limited to the 32-bit range; NaN gives 0.
std::int64_t FloatTo32(double value) {
  if (std::isnan(value)) return 0;
  const double scaled = std::round(value * 2147483648.0);
  return static_cast<std::int64_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

// A 32-bit sample in store scale: (f + 2048) >> 12 without wrap-around.
std::int32_t StoreFrom32(std::int64_t f) { return static_cast<std::int32_t>((f + 2048) >> 12); }

// File samples to store samples: 8-bit f << 12, 16-bit f << 4, 24-bit f >> 4, 32-bit and
// float by the 32-bit rule.
template <int kBytes, bool kLittle, bool kFloat>
void Convert(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  for (std::size_t i = 0; i < samples; ++i, in += kBytes) {
    std::uint64_t v = 0;
    for (int b = 0; b < kBytes; ++b) v |= std::uint64_t{in[kLittle ? b : kBytes - 1 - b]} << (8 * b);
    if constexpr (kFloat) {
      if constexpr (kBytes == 4) out[i] = StoreFrom32(FloatTo32(std::bit_cast<float>(static_cast<std::uint32_t>(v))));
      else out[i] = StoreFrom32(FloatTo32(std::bit_cast<double>(v)));
    } else {
      // Sign-extended from the sample's width.
      const std::int64_t f = static_cast<std::int64_t>(v << (64 - 8 * kBytes)) >> (64 - 8 * kBytes);
      if constexpr (kBytes == 1) out[i] = static_cast<std::int32_t>(f * 4096);
      else if constexpr (kBytes == 2) out[i] = static_cast<std::int32_t>(f * 16);
      else if constexpr (kBytes == 3) out[i] = static_cast<std::int32_t>(f >> 4);
      else out[i] = StoreFrom32(f);
    }
  }
}

using ConvertFunction = void (*)(const std::uint8_t*, std::int32_t*, std::size_t);

// 16-bit samples go through the shared vector loop.
template <bool kLittle>
void Convert16(const std::uint8_t* in, std::int32_t* out, std::size_t samples) {
  Words16ToStore(in, out, samples, !kLittle);
}

template <bool kLittle>
ConvertFunction LinearConversion(int bytes) {
  switch (bytes) {
    case 1: return Convert<1, kLittle, false>;
    case 2: return Convert16<kLittle>;
    case 3: return Convert<3, kLittle, false>;
    default: return Convert<4, kLittle, false>;
  }
}

ConvertFunction ConversionFor(const Coding& coding) {
  if (coding.floating) return coding.bytes == 4 ? Convert<4, false, true> : Convert<8, false, true>;
  return coding.little_endian ? LinearConversion<true>(coding.bytes) : LinearConversion<false>(coding.bytes);
}

// What the chunk walk finds.
struct AiffLayout {
  std::uint8_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
  Coding coding;
  std::int64_t data_offset = 0;
  std::int64_t data_bytes = 0;  // of the sound data, as much as the file holds
};

class AiffReader final : public SampleSource {
 public:
  // A failed reader: silent, length 0.
  explicit AiffReader(std::uint8_t failure) : SampleSource(44100, 1, kFullScale) { status = failure; }

  AiffReader(std::unique_ptr<ByteSource> file, const AiffLayout& layout)
      : SampleSource(static_cast<std::int32_t>(layout.rate), layout.channels, kFullScale),
        file_(std::move(file)),
        layout_(layout),
        convert_(ConversionFor(layout.coding)),
        frame_size_(layout.coding.bytes * layout.channels) {
    // Whole frames of what the file holds.
    length_ = static_cast<std::int32_t>(std::min(layout.data_bytes / frame_size_, kMaxFrames));
    buffer_.resize(static_cast<std::size_t>(kChunkFrames) * frame_size_);
    file_->Seek(layout_.data_offset);
  }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    const std::size_t channel_count = channels;
    const ReadStart at = BeginRead(out, position_, count, channel_count);
    if (!file_) {
      std::fill_n(out, at.n * static_cast<std::int64_t>(channel_count), 0);
      return;
    }
    ReadPlainFrames(*file_, buffer_, out, at, length_, frame_size_, channel_count, true, convert_);
  }

  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override { return length_; }

  void Seek(std::int32_t frame) override {
    position_ = frame;
    if (!file_) return;
    const std::int64_t start = frame > 0 ? std::min(frame, length_) : 0;
    file_->Seek(layout_.data_offset + start * frame_size_);
  }

  // "AIFF (16-bit)", "AIFF-C sowt (16-bit little-endian)", "AIFF-C fl32 (32-bit float)".
  std::string Description() const {
    const Coding& coding = layout_.coding;
    std::string text = coding.compression == nullptr ? "AIFF" : std::string("AIFF-C ") + coding.compression;
    if (coding.floating) return text + " (" + std::to_string(8 * coding.bytes) + "-bit float)";
    text += " (" + std::to_string(layout_.bits) + "-bit";
    if (coding.little_endian && coding.bytes > 1) text += " little-endian";
    return text + ")";
  }

 private:
  std::unique_ptr<ByteSource> file_;
  AiffLayout layout_;
  ConvertFunction convert_ = nullptr;
  int frame_size_ = 1;
  std::int32_t length_ = 0;
  std::int32_t position_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// The coding an AIFF-C compression type names; false for one we do not read.
bool CompressionCoding(const std::uint8_t* type, Coding& coding) {
  static constexpr struct {
    const char* type;
    bool little_endian;
    int float_bytes;  // 0 for linear samples
  } kKnown[] = {{"NONE", false, 0}, {"twos", false, 0}, {"sowt", true, 0}, {"fl32", false, 4},
                {"FL32", false, 4}, {"fl64", false, 8}, {"FL64", false, 8}};
  for (const auto& known : kKnown) {
    if (std::memcmp(type, known.type, 4) != 0) continue;
    coding.compression = known.type;
    coding.little_endian = known.little_endian;
    coding.floating = known.float_bytes != 0;
    if (coding.floating) coding.bytes = known.float_bytes;
    return true;
  }
  return false;
}

// The chunk walk: COMM and SSND in either order, other chunks skipped by their size
// rounded up to even. Returns the reader's status.
std::uint8_t FindSoundData(ByteSource& file, AiffLayout& layout) {
  std::uint8_t header[12];
  if (file.Read(header, 12) != 12 || std::memcmp(header, "FORM", 4) != 0) return kStatusCorrupt;
  const bool compressed = std::memcmp(header + 8, "AIFC", 4) == 0;
  if (!compressed && std::memcmp(header + 8, "AIFF", 4) != 0) return kStatusCorrupt;
  // COMM: channels, frames, sample size, rate, and for AIFF-C the compression type.
  std::uint8_t comm[22];
  bool have_comm = false;
  std::int64_t ssnd_body = -1;  // offset of the SSND chunk's body
  std::int64_t ssnd_size = 0;
  while (!have_comm || ssnd_body < 0) {
    std::uint8_t chunk[8];
    if (file.Read(chunk, 8) != 8) break;
    const std::int64_t size = ReadBe32(chunk + 4);
    const std::int64_t body = file.Tell();
    if (std::memcmp(chunk, "COMM", 4) == 0 && !have_comm) {
      const std::size_t needed = compressed ? 22 : 18;
      if (size < static_cast<std::int64_t>(needed) || file.Read(comm, needed) != needed) return kStatusCorrupt;
      have_comm = true;
    } else if (std::memcmp(chunk, "SSND", 4) == 0 && ssnd_body < 0) {
      ssnd_body = body;
      ssnd_size = size;
      // Left at 0xFFFFFFFF by a writer that never finished: the data runs to the end.
      if (size == kProvisional) {
        ssnd_size = std::max<std::int64_t>(file.Size() - body, 0);
        if (!have_comm) return kStatusCorrupt;  // nothing follows such a chunk
      }
    }
    if (!file.Seek(body + ((size + 1) & ~std::int64_t{1}))) return kStatusCorrupt;
  }
  if (!have_comm || ssnd_body < 0) return kStatusCorrupt;

  const std::uint16_t channels = ReadBe16(comm);
  layout.bits = ReadBe16(comm + 6);
  layout.rate = AiffRateFromBytes(comm + 8);
  if (channels < 1 || channels > 255 || layout.rate < 1 || layout.rate > kMaxWavRate) return kStatusCorrupt;
  layout.channels = static_cast<std::uint8_t>(channels);
  if (compressed && !CompressionCoding(comm + 18, layout.coding)) return kStatusCodecMissing;
  if (!layout.coding.floating) {
    if (layout.bits == 0) return kStatusCorrupt;  // frames of no bytes
    if (layout.bits > 32) return kStatusCodecMissing;
    layout.coding.bytes = (layout.bits + 7) / 8;
  }

  // The sound data starts after the offset and block-size words and the offset itself;
  // an offset beyond the chunk leaves no data.
  std::uint8_t words[8];
  if (ssnd_size < 8 || !file.Seek(ssnd_body) || file.Read(words, 8) != 8) {
    layout.data_offset = ssnd_body;
    return kStatusOk;
  }
  const std::int64_t offset = ReadBe32(words);
  layout.data_offset = ssnd_body + 8 + offset;
  const std::int64_t claimed = std::max<std::int64_t>(ssnd_size - 8 - offset, 0);
  layout.data_bytes = std::min(claimed, std::max<std::int64_t>(file.Size() - layout.data_offset, 0));
  return kStatusOk;
}

}  // namespace

std::array<std::uint8_t, 10> AiffRateBytes(std::uint32_t rate) {
  std::array<std::uint8_t, 10> bytes{};
  const int k = std::bit_width(rate) - 1;  // floor(log2(rate))
  WriteBe16(bytes.data(), static_cast<std::uint16_t>(0x3FFF + k));
  WriteBe32(bytes.data() + 2, rate << (31 - k));
  return bytes;
}

std::uint32_t AiffRateFromBytes(const std::uint8_t* bytes) {
  const int exponent = ReadBe16(bytes) - 0x3FFF;  // a set sign bit makes this large
  if (exponent < 0 || exponent > 31) return 0;
  const std::uint32_t mantissa = ReadBe32(bytes + 2);
  const int shift = 31 - exponent;
  std::uint64_t rate = mantissa >> shift;
  if (shift > 0) rate += (mantissa >> (shift - 1)) & 1;  // the last bit shifted out rounds up
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(rate, std::numeric_limits<std::uint32_t>::max()));
}

bool AiffHeader(std::uint8_t (&header)[kAiffHeaderSize], std::uint8_t channels, std::uint32_t rate,
                std::int64_t frames, bool provisional) {
  if (provisional) frames = 0;
  const std::int64_t data = frames * 2 * channels;
  if (rate < 1 || frames < 0 || data + 46 > std::int64_t{kProvisional}) return false;
  std::memcpy(header, "FORM", 4);
  WriteBe32(header + 4, static_cast<std::uint32_t>(data + 46));
  std::memcpy(header + 8, "AIFFCOMM", 8);
  WriteBe32(header + 16, 18);
  WriteBe16(header + 20, channels);
  WriteBe32(header + 22, static_cast<std::uint32_t>(frames));
  WriteBe16(header + 26, 16);
  const std::array<std::uint8_t, 10> rate_bytes = AiffRateBytes(rate);
  std::copy(rate_bytes.begin(), rate_bytes.end(), header + 28);
  std::memcpy(header + 38, "SSND", 4);
  WriteBe32(header + 42, provisional ? kProvisional : static_cast<std::uint32_t>(data + 8));
  WriteBe32(header + 46, 0);
  WriteBe32(header + 50, 0);
  return true;
}

SourceRef OpenAiffReader(std::unique_ptr<ByteSource> bytes) {
  if (!bytes) return MakeCounted<AiffReader>(kStatusCannotOpen);
  AiffLayout layout;
  if (const std::uint8_t status = FindSoundData(*bytes, layout); status != kStatusOk)
    return MakeCounted<AiffReader>(status);
  return MakeCounted<AiffReader>(ReadAheadBytes(std::move(bytes)), layout);
}

SinkRef CreateAiffWriter(std::int32_t rate, std::uint8_t channels, const std::string& path) {
  auto header = [rate, channels](File& file, bool final, std::int64_t frames) -> std::int64_t {
    std::uint8_t bytes[kAiffHeaderSize];
    if (AiffHeader(bytes, channels, static_cast<std::uint32_t>(rate), frames, !final))
      file.Write(bytes, sizeof bytes);
    return kAiffHeaderSize;
  };
  // The FORM size counts the data and 46 bytes of header in 32 bits.
  const std::int64_t most_frames = channels == 0 ? 0 : (std::int64_t{kProvisional} - 46) / (2 * channels);
  return CreateRawFileWriter(path, rate, channels, SampleCoding::kLinear16Be, header, most_frames);
}

FileFormat AiffFileFormat() {
  FileFormat format;
  format.name = "AIFF";
  format.extensions = {".aif", ".aiff", ".aifc"};
  format.open = [](std::unique_ptr<ByteSource> bytes, const OpenOptions&) { return OpenAiffReader(std::move(bytes)); };
  // A coding we do not read is shown as a corrupt file.
  format.open_error = [](std::uint8_t status, const std::string& path) {
    return WavOpenErrorText(status == kStatusCodecMissing ? kStatusCorrupt : status, path);
  };
  format.create = [](const WaveFormat& wave, const std::string& path, const OpenOptions&) {
    // More channels than the sink can count make it unusable, like none.
    const std::uint8_t channels = wave.channels > 255 ? 0 : static_cast<std::uint8_t>(wave.channels);
    return CreateAiffWriter(static_cast<std::int32_t>(std::min<std::uint32_t>(wave.rate, kMaxFrames)), channels, path);
  };
  format.describe = [](SampleSource& reader) {
    std::vector<std::string> lines;
    if (const auto* aiff = dynamic_cast<const AiffReader*>(&reader); aiff != nullptr)
      lines.push_back("format: " + aiff->Description());
    return lines;
  };
  return format;
}

}  // namespace sonavel
