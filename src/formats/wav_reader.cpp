#include "formats/wav_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "formats/codec_table.h"
#include "formats/read_start.h"
#include "formats/sample_words.h"
#include "platform/byte_source.h"
#include "platform/file.h"

namespace sonavel {

static_assert(std::endian::native == std::endian::little, "samples are read in place");

namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

std::int32_t ClampFrames(std::int64_t frames) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(frames, -kMaxFrames, kMaxFrames));
}

int BytesPerSample(std::uint16_t bits) {
  if (bits == 0) return 0;
  if (bits <= 8) return 1;
  if (bits <= 16) return 2;
  if (bits <= 24) return 3;
  return 4;
}

// File samples to store samples, by container size.
void ConvertToStore(const std::uint8_t* in, std::int32_t* out, std::size_t samples, int bytes) {
  switch (bytes) {
    case 1:
      for (std::size_t i = 0; i < samples; ++i) out[i] = (static_cast<std::int32_t>(in[i]) - 128) << 12;
      break;
    case 2:
      Words16ToStore(in, out, samples, false);
      break;
    case 3:
      for (std::size_t i = 0; i < samples; ++i) {
        const std::uint8_t* p = in + 3 * i;
        const std::int32_t f = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
        out[i] = f >> 4;
      }
      break;
    case 4:
      for (std::size_t i = 0; i < samples; ++i) {
        const std::int64_t f = static_cast<std::int32_t>(ReadLe32(in + 4 * i));
        out[i] = static_cast<std::int32_t>((f + 2048) >> 12);
      }
      break;
    default:
      std::fill_n(out, samples, 0);
  }
}

class PcmReader final : public WavReader {
 public:
  PcmReader(std::unique_ptr<ByteSource> file, const WaveFormat& format, const WavData& data)
      : WavReader(format, data),
        file_(std::move(file)),
        data_offset_(data.offset),
        bytes_per_sample_(BytesPerSample(format.bits)) {
    frame_size_ = bytes_per_sample_ * channels;
    if (frame_size_ == 0) {
      status = kStatusCorrupt;
      frame_size_ = 2;
    }
    // Whole frames of what the file holds; a partial frame at the end is dropped. A
    // reader that cannot read has no length.
    length_ = status == kStatusOk ? ClampFrames(data.present / frame_size_) : 0;
    buffer_.resize(static_cast<std::size_t>(kChunkFrames) * frame_size_);
    file_->Seek(data_offset_);
  }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    const std::size_t channel_count = channels;
    const ReadStart at = BeginRead(out, position_, count, channel_count);
    ReadPlainFrames(*file_, buffer_, out, at, length_, frame_size_, channel_count, status == kStatusOk,
                    [this](const std::uint8_t* in, std::int32_t* to, std::size_t samples) {
                      ConvertToStore(in, to, samples, bytes_per_sample_);
                    });
  }

  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override { return length_; }

  void Seek(std::int32_t frame) override {
    position_ = frame;
    const std::int64_t start = frame > 0 ? std::min(frame, length_) : 0;
    file_->Seek(data_offset_ + start * frame_size_);
  }

 private:
  std::unique_ptr<ByteSource> file_;
  std::int64_t data_offset_;
  int bytes_per_sample_;
  int frame_size_ = 0;
  std::int32_t length_ = 0;
  std::int32_t position_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// Formats other than PCM, decoded to 16-bit PCM through the codec table.
class CodedReader final : public WavReader {
 public:
  CodedReader(std::unique_ptr<ByteSource> file, const WaveFormat& format, const WavData& data)
      : WavReader(format, data),
        file_(std::move(file)),
        data_offset_(data.offset),
        data_size_(data.present),
        rate_(format.rate),
        avg_bytes_(format.avg_bytes_per_sec != 0 ? format.avg_bytes_per_sec : format.rate),
        // MP3 frames vary in length: the record's block align does not describe them.
        block_align_(format.tag == kTagMpegLayer3 ? 0 : format.block_align) {
    frame_bytes_ = 2 * channels;
    // Data cut off by the end of the file ends in whole blocks: a partial block would
    // decode to made-up frames, and the length and seeks reckon in whole blocks.
    if (block_align_ > 0 && (data.present < data.claimed || data.open_ended))
      data_size_ -= data_size_ % block_align_;
    stream_ = OpenCodecStream(format, DefaultFormat(format.rate, channels));
    std::size_t destination_size = static_cast<std::size_t>(kChunkFrames) * frame_bytes_;
    const std::size_t source_size = stream_ ? stream_->SourceSizeFor(destination_size) : 0;
    if (!stream_ || source_size == 0) {
      status = kStatusCodecMissing;
      stream_.reset();
      return;
    }
    // A block may decode to more than 8192 frames: the destination holds what the source
    // buffer decodes to.
    destination_size = std::max(destination_size, stream_->DestinationSizeFor(source_size));
    source_.resize(source_size);
    destination_.resize(destination_size);
    // Frames one coded block decodes to: lets a seek land on a block boundary exactly.
    if (block_align_ > 0)
      frames_per_block_ = static_cast<std::int64_t>(stream_->DestinationSizeFor(block_align_)) / frame_bytes_;
    file_->Seek(data_offset_);
  }

  bool LengthIsExact() const override { return end_position_ >= 0 || !stream_; }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    const std::size_t channel_count = channels;
    auto [position, n] = BeginRead(out, position_, count, channel_count);
    if (!stream_) {
      std::fill_n(out, n * channel_count, 0);
      return;
    }
    std::int64_t needed = n * frame_bytes_;
    for (;;) {
      // Decoded bytes waiting first.
      const std::int64_t take = std::min<std::int64_t>(waiting_, needed);
      const std::size_t samples = static_cast<std::size_t>(take / 2);
      const std::uint8_t* decoded = destination_.data() + taken_;
      for (std::size_t i = 0; i < samples; ++i)
        out[i] = static_cast<std::int32_t>(static_cast<std::int16_t>(ReadLe16(decoded + 2 * i))) * 16;
      out += samples;
      taken_ += static_cast<std::size_t>(take);
      waiting_ -= take;
      needed -= take;
      if (needed < 2) break;
      if (end_position_ >= 0) {
        std::fill_n(out, static_cast<std::size_t>(needed / 2), 0);
        break;
      }
      Decode(needed / frame_bytes_);
    }
  }

  std::int32_t Position() const override { return position_; }

  std::int32_t Length() const override {
    if (end_position_ >= 0 || !stream_) return static_cast<std::int32_t>(std::max<std::int64_t>(end_position_, 0));
    // Estimate: what the undecoded bytes will decode to, plus what is decoded already.
    const std::int64_t undecoded = pending_ + (data_size_ - consumed_);
    std::int64_t frames = static_cast<std::int64_t>(stream_->DestinationSizeFor(static_cast<std::size_t>(undecoded))) / frame_bytes_;
    if (frames == 0 && undecoded > 0) frames = undecoded * rate_ / avg_bytes_;
    return ClampFrames(std::max<std::int32_t>(position_, 0) + frames + waiting_ / frame_bytes_);
  }

  void Seek(std::int32_t frame) override {
    if (!stream_) {
      position_ = frame;
      return;
    }
    stream_->Convert(nullptr, 0, nullptr, 0, kConvertStart);
    pending_ = 0;
    waiting_ = 0;
    taken_ = 0;
    end_position_ = -1;
    if (frame <= 0) {
      SeekData(0);
      position_ = frame;
      return;
    }
    // Only blocks of fixed size tell the total without decoding; else a seek beyond the
    // end finds it by decoding.
    if (frames_per_block_ > 0 && frame >= TotalFrames()) {
      SeekData(data_size_);
      end_position_ = TotalFrames();
      position_ = frame;
      return;
    }
    const std::int64_t byte = std::int64_t{frame} * avg_bytes_ / rate_;
    // Back off a little so that codecs with memory across blocks settle, and start on a
    // block boundary.
    const std::int64_t back_off = block_align_ > 127 ? 2 * block_align_ : 256;
    std::int64_t start = std::max<std::int64_t>(byte - back_off, 0);
    std::int64_t start_frame;
    if (block_align_ > 0 && frames_per_block_ > 0) {
      std::int64_t block = std::min(start / block_align_, std::int64_t{frame} / frames_per_block_);
      start = block * block_align_;
      start_frame = block * frames_per_block_;
    } else {
      // Blocks of varying length (MP3 frames): the start is the one place whose frame is
      // known, so the decoding starts there.
      start = 0;
      start_frame = 0;
    }
    SeekData(start);
    position_ = ClampFrames(start_frame);
    std::vector<std::int32_t> discard(static_cast<std::size_t>(kChunkFrames) * channels);
    while (position_ < frame && end_position_ < 0)
      Read(discard.data(), static_cast<std::int32_t>(std::min<std::int64_t>(frame - position_, kChunkFrames)));
    position_ = frame;
  }

 private:
  // The frames the whole data chunk decodes to (codecs of fixed block size only).
  std::int64_t TotalFrames() const {
    return static_cast<std::int64_t>(stream_->DestinationSizeFor(static_cast<std::size_t>(data_size_))) / frame_bytes_;
  }

  void SeekData(std::int64_t offset) {
    file_->Seek(data_offset_ + offset);
    consumed_ = offset;
  }

  // One pass: top up the source, convert, and settle the end when nothing more comes.
  void Decode(std::int64_t frames_wanted) {
    const std::size_t room = source_.size() - static_cast<std::size_t>(pending_);
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(room, data_size_ - consumed_));
    const std::size_t added = want > 0 ? file_->Read(source_.data() + pending_, want) : 0;
    consumed_ += static_cast<std::int64_t>(added);
    if (added < want) consumed_ = data_size_;  // the file ends before its data size says
    pending_ += static_cast<std::int64_t>(added);
    if (pending_ == 0) {  // nothing left to decode
      end_position_ = std::max<std::int64_t>(position_ - frames_wanted, 0);
      return;
    }

    ConvertResult result = stream_->Convert(source_.data(), static_cast<std::size_t>(pending_),
                                            destination_.data(), destination_.size(), kConvertBlockAlign);
    std::size_t used = result.source_used;
    if (!result.ok) {
      // Bad data: throw away a quarter of the pending input, up to a block boundary so
      // that decoding resumes in step with the blocks.
      std::int64_t skip = (pending_ + 3) / 4;
      if (block_align_ > 0) skip = (skip + block_align_ - 1) / block_align_ * block_align_;
      used = std::max(used, static_cast<std::size_t>(std::min(skip, pending_)));
    }
    if (result.destination_used == 0 && (added == 0 || used == 0) && result.ok) {
      // Nothing more in whole blocks: the rest of the data goes with the end flag.
      result = stream_->Convert(source_.data(), static_cast<std::size_t>(pending_), destination_.data(),
                                destination_.size(), kConvertEnd);
      used = result.ok ? result.source_used : static_cast<std::size_t>(pending_);
      if (result.destination_used == 0) {
        pending_ = 0;
        if (added == 0 || consumed_ >= data_size_)
          end_position_ = std::max<std::int64_t>(position_ - frames_wanted, 0);
        return;
      }
    }
    used = std::min(used, static_cast<std::size_t>(pending_));
    std::memmove(source_.data(), source_.data() + used, static_cast<std::size_t>(pending_) - used);
    pending_ -= static_cast<std::int64_t>(used);
    waiting_ = static_cast<std::int64_t>(result.destination_used) / frame_bytes_ * frame_bytes_;
    taken_ = 0;
  }

  std::unique_ptr<ByteSource> file_;
  std::int64_t data_offset_;
  std::int64_t data_size_;
  std::int64_t consumed_ = 0;  // bytes of the data chunk read from the file
  std::int64_t rate_;
  std::int64_t avg_bytes_;
  std::int64_t block_align_;
  std::int64_t frame_bytes_ = 2;
  std::int64_t frames_per_block_ = 0;
  std::unique_ptr<CodecStream> stream_;
  std::vector<std::uint8_t> source_;
  std::int64_t pending_ = 0;  // source bytes not yet converted
  std::vector<std::uint8_t> destination_;
  std::size_t taken_ = 0;     // decoded bytes already delivered
  std::int64_t waiting_ = 0;  // decoded bytes not yet delivered
  std::int32_t position_ = 0;
  std::int64_t end_position_ = -1;
};

// The 64-bit sizes of an RF64 or BW64 file, from its "ds64" chunk: the data chunk's size
// and the sizes of other chunks too large for their 32-bit field, which says 0xFFFFFFFF.
struct WideSizes {
  std::uint64_t data = 0;
  std::vector<std::pair<std::array<std::uint8_t, 4>, std::uint64_t>> table;
};

constexpr std::int64_t kMaxFormatChunk = 8192;
constexpr std::size_t kDs64Fixed = 28;  // riff size, data size and sample count, table length
constexpr std::size_t kDs64Entry = 12;  // chunk id and its 64-bit size

// Reads the "ds64" body of `size` bytes. Only the entries the chunk holds are kept,
// whatever its table length claims.
bool ReadWideSizes(ByteSource& file, std::int64_t size, WideSizes& wide) {
  if (size < static_cast<std::int64_t>(kDs64Fixed) || size > kMaxFormatChunk) return false;
  std::vector<std::uint8_t> body(static_cast<std::size_t>(size));
  if (file.Read(body.data(), body.size()) != body.size()) return false;
  if (size % 2 != 0 && !file.Skip(1)) return false;
  auto le64 = [&body](std::size_t at) { return ReadLe32(&body[at]) | std::uint64_t{ReadLe32(&body[at + 4])} << 32; };
  wide.data = le64(8);
  const std::size_t entries = std::min<std::size_t>(ReadLe32(&body[24]), (body.size() - kDs64Fixed) / kDs64Entry);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t at = kDs64Fixed + i * kDs64Entry;
    std::array<std::uint8_t, 4> id;
    std::memcpy(id.data(), &body[at], 4);
    wide.table.emplace_back(id, le64(at + 4));
  }
  return true;
}

// The RIFF walk (RF64 and BW64 forms included). Fills `format` and `data`; false when the
// file is not a usable WAVE file.
bool FindWaveData(ByteSource& file, WaveFormat& format, WavData& data) {
  std::uint8_t header[12];
  // Other top-level chunks may come before the RIFF form.
  for (;;) {
    if (file.Read(header, 12) != 12) return false;
    if (std::memcmp(header + 8, "WAVE", 4) == 0 &&
        (std::memcmp(header, "RIFF", 4) == 0 || std::memcmp(header, "RF64", 4) == 0 ||
         std::memcmp(header, "BW64", 4) == 0))
      break;
    const std::int64_t size = (std::int64_t{ReadLe32(header + 4)} + 1) & ~std::int64_t{1};
    if (size <= 4) return false;
    if (!file.Skip(size - 4)) return false;
  }
  data.form.assign(reinterpret_cast<const char*>(header), 4);
  // The 64-bit forms hold their sizes in a "ds64" chunk, which comes first.
  std::optional<WideSizes> wide;
  std::uint8_t id[4];
  // Chunk sizes are signed: rounded up to even, a negative size is corrupt. In the 64-bit
  // forms, 0xFFFFFFFF stands for the size the "ds64" table gives the chunk.
  auto next_chunk = [&file, &wide](std::uint8_t chunk_id[4], std::int64_t& size) {
    std::uint8_t chunk[8];
    if (file.Read(chunk, 8) != 8) return false;
    std::memcpy(chunk_id, chunk, 4);
    size = static_cast<std::int32_t>(ReadLe32(chunk + 4));
    if (wide && size == -1 && std::memcmp(chunk_id, "data", 4) != 0) {
      for (const auto& [table_id, table_size] : wide->table)
        if (std::memcmp(table_id.data(), chunk_id, 4) == 0 &&
            table_size < static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
          size = static_cast<std::int64_t>(table_size);
    }
    return true;
  };
  auto skip_chunk = [&file](std::int64_t size) {
    const std::int64_t even = (size + 1) & ~std::int64_t{1};
    return even >= 0 && even <= file.Size() - file.Tell() && file.Skip(even);
  };
  std::int64_t size = 0;
  if (data.form != "RIFF") {
    if (!next_chunk(id, size) || std::memcmp(id, "ds64", 4) != 0) return false;
    wide.emplace();
    if (!ReadWideSizes(file, size, *wide)) return false;
  }
  for (;;) {
    if (!next_chunk(id, size)) return false;
    if (std::memcmp(id, "fmt ", 4) == 0) break;
    if (!skip_chunk(size)) return false;
  }
  if (size < 16 || size > kMaxFormatChunk) return false;
  std::vector<std::uint8_t> record(static_cast<std::size_t>(size));
  if (file.Read(record.data(), record.size()) != record.size()) return false;
  if (size % 2 != 0 && !file.Skip(1)) return false;  // the pad byte after an odd chunk
  format = ResolveExtensible(ParseFormat(record.data(), record.size()));
  for (;;) {
    if (!next_chunk(id, size)) return false;
    if (std::memcmp(id, "data", 4) == 0) break;
    if (!skip_chunk(size)) return false;
  }
  if (format.channels < 1 || format.channels > 255) return false;
  if (format.rate < 1 || format.rate > kMaxWavRate) return false;
  data.offset = file.Tell();
  const std::int64_t in_file = std::max<std::int64_t>(file.Size() - data.offset, 0);
  data.claimed = static_cast<std::uint32_t>(size);
  // 0xFFFFFFFF: a file whose writer never finished; the data runs to the end of the file.
  // In the 64-bit forms it defers to the "ds64" size, unless that was left unset too (0 or
  // all ones).
  data.open_ended = data.claimed == 0xFFFFFFFF;
  if (data.open_ended && wide && wide->data != 0 && wide->data != ~std::uint64_t{0}) {
    if (wide->data > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    data.claimed = static_cast<std::int64_t>(wide->data);
    data.open_ended = false;
  }
  if (data.open_ended) data.claimed = in_file;
  data.present = std::min(data.claimed, in_file);
  return true;
}

}  // namespace

SourceRef OpenWavReader(const std::string& path) { return OpenWavReader(OpenFileBytes(path)); }

SourceRef OpenWavReader(std::unique_ptr<ByteSource> file) {
  if (!file) return MakeNullSource(kStatusCannotOpen);
  WaveFormat format;
  WavData data;
  if (!FindWaveData(*file, format, data)) return MakeNullSource(kStatusCorrupt);
  if (format.tag == kTagPcm) return MakeCounted<PcmReader>(std::move(file), format, data);
  return MakeCounted<CodedReader>(std::move(file), format, data);
}

std::string WavOpenErrorText(std::uint8_t status, const std::string& path) {
  const std::string quoted = "\"" + path + "\"";
  switch (status) {
    case kStatusCorrupt: return "Cannot open the file " + quoted + " because it is corrupt.";
    case kStatusCannotOpen:
      return "Cannot open the file " + quoted + ". Check it exists and you have read access.";
    case kStatusCodecMissing:
      return "Cannot open the file " + quoted +
             " because the required ACM codec is not installed on this PC.\r\n\r\nOpen the file "
             "with Windows Media Player to auto-install the codec then reattempt to load it.";
    default: return "Cannot open the file " + quoted + ".";
  }
}

WavReader* AsWavReader(SampleSource* source) { return dynamic_cast<WavReader*>(source); }

}  // namespace sonavel
