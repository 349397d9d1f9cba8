#include "formats/mp3_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_frames.h"
#include "formats/read_start.h"
#include "formats/wave_format.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"

namespace sonavel {

namespace {

using mp3::FrameHeader;

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kId3v1Bytes = 128;
constexpr std::int64_t kId3v2HeaderBytes = 10;
// More headers of another stream than this in a row end the stream.
constexpr int kMostDifferingHeaders = 10;
// The frames whose bit rates give the average frame length when no tag states the count.
constexpr int kEstimateFrames = 8;
// Frames decoded before the one a seek lands in, to refill the bit reservoir.
constexpr std::int64_t kRefillFrames = 4;
// The offset of every 32nd frame is kept, so that a seek walks few headers.
constexpr std::int64_t kIndexStep = 32;

struct LocatedFrame {
  std::int64_t offset = 0;
  FrameHeader header;
};

// Finds frames in the audio bytes of a file, which end at `end`.
class FrameScanner {
 public:
  FrameScanner() = default;
  FrameScanner(ByteSource& file, std::int64_t end) : file_(&file), end_(end) {}

  std::int64_t end() const { return end_; }

  // The first header at or after `from`, at most kSearchSpan bytes on.
  std::optional<LocatedFrame> Search(std::int64_t from) {
    if (from < 0 || from + static_cast<std::int64_t>(mp3::kHeaderBytes) > end_) return std::nullopt;
    std::uint8_t bytes[mp3::kHeaderBytes];
    file_->Seek(from);
    if (file_->Read(bytes, sizeof bytes) != sizeof bytes) return std::nullopt;
    if (auto header = mp3::ParseFrameHeader(bytes)) return LocatedFrame{from, *header};
    const std::size_t size = static_cast<std::size_t>(
        std::min<std::int64_t>(end_ - from, static_cast<std::int64_t>(mp3::kSearchSpan + mp3::kHeaderBytes - 1)));
    window_.resize(size);
    file_->Seek(from);
    const std::size_t got = file_->Read(window_.data(), size);
    const auto found = mp3::SearchHeader(window_.data(), got);
    if (!found) return std::nullopt;
    return LocatedFrame{from + static_cast<std::int64_t>(found->offset), found->header};
  }

  // The next frame of the stream of `stream` at or after `from`. Frames of another stream
  // are passed over by their length; more than kMostDifferingHeaders of them in a row end
  // the stream, as does a search that finds nothing.
  std::optional<LocatedFrame> Next(std::int64_t from, const FrameHeader& stream) {
    for (int differing = 0;; ++differing) {
      const auto found = Search(from);
      if (!found || differing == kMostDifferingHeaders + 1) return std::nullopt;
      if (mp3::SameStream(stream, found->header)) return found;
      from = found->offset + found->header.frame_bytes;
    }
  }

  // Whether a header of the stream of `header` follows the frame at `offset`, or the
  // audio ends where that frame does (or sooner).
  bool Confirmed(std::int64_t offset, const FrameHeader& header) {
    const std::int64_t next = offset + header.frame_bytes;
    if (next + static_cast<std::int64_t>(mp3::kHeaderBytes) > end_) return true;
    std::uint8_t bytes[mp3::kHeaderBytes];
    file_->Seek(next);
    if (file_->Read(bytes, sizeof bytes) != sizeof bytes) return true;
    const auto following = mp3::ParseFrameHeader(bytes);
    return following && mp3::SameStream(header, *following);
  }

 private:
  ByteSource* file_ = nullptr;
  std::int64_t end_ = 0;
  std::vector<std::uint8_t> window_;
};

// What the start and the end of the file tell.
struct Mp3Layout {
  FrameHeader first;              // fixes the stream
  std::int64_t audio_start = 0;   // where the first frame with sound is searched
  std::int64_t audio_end = 0;     // before an ID3v1 tag
  std::optional<mp3::StreamTag> tag;
  std::int64_t tag_frames = 0;    // a usable frame count of the tag, else 0
  std::int64_t estimated_frames = 0;
  bool variable_bit_rate = false;
};

// Where the audio starts: after the ID3v2 tags at `from` (a 10-byte header with a
// syncsafe size, and a footer of 10 more bytes when its flag says so).
std::int64_t SkipId3v2(ByteSource& file, std::int64_t from, std::int64_t end) {
  std::uint8_t header[kId3v2HeaderBytes];
  for (;;) {
    file.Seek(from);
    if (from + kId3v2HeaderBytes > end || file.Read(header, sizeof header) != sizeof header) return from;
    if (std::memcmp(header, "ID3", 3) != 0 || header[3] == 0xFF || header[4] == 0xFF) return from;
    if (((header[6] | header[7] | header[8] | header[9]) & 0x80) != 0) return from;
    const std::int64_t size = (std::int64_t{header[6]} << 21) | (header[7] << 14) | (header[8] << 7) | header[9];
    const bool footer = header[3] >= 4 && (header[5] & 0x10) != 0;
    from += kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
  }
}

// The bytes of a frame of `header`'s stream at its bit rate, without padding.
double NominalFrameBytes(const FrameHeader& header) {
  return (header.lower_sampling() ? 72.0 : 144.0) * header.bitrate_kbps * 1000.0 / header.sample_rate;
}

// Finds the stream and its length. Returns the reader's status.
std::uint8_t FindStream(ByteSource& file, Mp3Layout& layout) {
  const std::int64_t size = file.Size();
  // A file too short for an ID3v1 tag holds no audio.
  if (size < kId3v1Bytes) return kStatusCorrupt;
  std::int64_t end = size;
  std::uint8_t tail[3];
  if (file.Seek(size - kId3v1Bytes) && file.Read(tail, 3) == 3 && std::memcmp(tail, "TAG", 3) == 0)
    end -= kId3v1Bytes;
  layout.audio_end = end;
  FrameScanner scanner(file, end);

  // The first header counts when its stream goes on after it. The search reads what it
  // may slide over once.
  const std::int64_t start = SkipId3v2(file, 0, end);
  std::vector<std::uint8_t> window(static_cast<std::size_t>(
      std::clamp<std::int64_t>(end - start, 0, mp3::kSearchSpan + mp3::kHeaderBytes - 1)));
  file.Seek(start);
  window.resize(file.Read(window.data(), window.size()));
  std::optional<LocatedFrame> first;
  for (std::size_t at = 0; !first;) {
    const auto found = mp3::SearchHeader(window.data() + at, window.size() - at);
    if (!found || at + found->offset >= mp3::kSearchSpan) return kStatusCorrupt;
    const std::int64_t offset = start + static_cast<std::int64_t>(at + found->offset);
    if (scanner.Confirmed(offset, found->header)) first = LocatedFrame{offset, found->header};
    at += found->offset + 1;
  }
  layout.first = first->header;
  const int samples_per_frame = first->header.samples_per_frame;

  // A tag in the first frame holds no sound; the frames with sound come after it.
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(std::min<std::int64_t>(first->header.frame_bytes, end - first->offset)));
  file.Seek(first->offset);
  frame.resize(file.Read(frame.data(), frame.size()));
  layout.tag = mp3::ReadStreamTag(first->header, frame.data(), frame.size());
  layout.audio_start = first->offset + (layout.tag ? first->header.frame_bytes : 0);
  const std::int64_t data = std::max<std::int64_t>(end - layout.audio_start, 0);
  if (layout.tag) {
    layout.variable_bit_rate = layout.tag->kind != mp3::StreamTag::Kind::kInfo;
    // A count of 0, or more frames than the bytes can hold, says nothing.
    const std::int64_t count = layout.tag->frames.value_or(0);
    if (count > 0 && count <= data / mp3::SmallestFrameBytes(first->header) &&
        count * samples_per_frame <= kMaxFrames)
      layout.tag_frames = count;
  }
  if (layout.tag_frames > 0) return kStatusOk;

  // The mean length of up to the first 8 frames at their bit rates.
  double bytes = 0;
  int frames = 0;
  std::int64_t from = layout.audio_start;
  for (; frames < kEstimateFrames; ++frames) {
    const auto next = scanner.Next(from, layout.first);
    if (!next) break;
    bytes += NominalFrameBytes(next->header);
    if (next->header.bitrate_index != first->header.bitrate_index) layout.variable_bit_rate = true;
    from = next->offset + next->header.frame_bytes;
  }
  const double average = frames > 0 ? bytes / frames : NominalFrameBytes(first->header);
  layout.estimated_frames = static_cast<std::int64_t>(std::floor(static_cast<double>(data) / average + 0.9));
  return kStatusOk;
}

class Mp3Reader final : public SampleSource {
 public:
  // A failed reader: silent, length 0.
  explicit Mp3Reader(std::uint8_t failure) : SampleSource(44100, 1, mp3::kDecodedPeak) { status = failure; }

  Mp3Reader(std::unique_ptr<ByteSource> file, const Mp3Layout& layout, bool gapless)
      : SampleSource(layout.first.sample_rate, static_cast<std::uint8_t>(layout.first.channels), mp3::kDecodedPeak),
        file_(std::move(file)),
        layout_(layout),
        scanner_(*file_, layout.audio_end),
        samples_per_frame_(layout.first.samples_per_frame),
        frame_samples_(static_cast<std::size_t>(samples_per_frame_) * channels),
        index_{layout.audio_start},
        next_offset_(layout.audio_start) {
    if (layout.tag_frames > 0) {
      const std::int64_t total = layout.tag_frames * samples_per_frame_;
      length_ = total;
      end_known_ = true;
      const mp3::StreamTag& tag = *layout.tag;
      if (gapless && tag.delay && tag.padding && total - *tag.delay - *tag.padding > 0) {
        lead_ = *tag.delay + kMp3DecoderDelay;
        length_ = total - *tag.delay - *tag.padding;
        summary_.gapless = true;
        summary_.delay = *tag.delay;
        summary_.padding = *tag.padding;
      }
    } else {
      length_ = std::min(layout.estimated_frames * samples_per_frame_, kMaxFrames);
    }
    summary_.first = layout.first;
    summary_.variable_bit_rate = layout.variable_bit_rate;
  }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    const std::size_t channel_count = channels;
    auto [position, n] = BeginRead(out, position_, count, channel_count);
    while (n > 0 && status == kStatusOk && !(end_known_ && position >= length_)) {
      const std::int64_t sample = position + lead_;
      const std::int64_t frame = sample / samples_per_frame_;
      if (frame != buffered_frame_ && !Bring(frame)) continue;  // the end: the loop stops
      const std::int64_t offset = sample % samples_per_frame_;
      std::int64_t take = std::min(n, samples_per_frame_ - offset);
      if (end_known_) take = std::min(take, length_ - position);
      std::copy_n(frame_samples_.data() + offset * channels, take * channels, out);
      out += take * channel_count;
      n -= take;
      position += take;
    }
    std::fill_n(out, n * static_cast<std::int64_t>(channel_count), 0);
  }

  std::int32_t Position() const override { return position_; }

  // Until the real end is known, an estimate that stays a frame beyond what has been
  // decoded, so that reading goes on to the real end.
  std::int32_t Length() const override {
    if (status != kStatusOk) return 0;
    if (end_known_) return static_cast<std::int32_t>(length_);
    const std::int64_t beyond = (decoded_frames_ + 1) * samples_per_frame_ - lead_;
    return static_cast<std::int32_t>(std::min(std::max(length_, beyond), kMaxFrames));
  }

  // The frames to decode are found when the next read comes.
  void Seek(std::int32_t frame) override { position_ = frame; }

  // The exact length, found by walking the headers to the end without decoding. A tag's
  // count is walked too: a cut file holds fewer frames than its tag says.
  std::int32_t ExactLength() {
    if (status != kStatusOk) return 0;
    if (!walked_to_end_) Walk(std::numeric_limits<std::int64_t>::max());
    walked_to_end_ = true;
    return Length();
  }

  Mp3Summary Summary() const {
    Mp3Summary summary = summary_;
    summary.length_is_exact = end_known_;
    return summary;
  }

 private:
  // Decodes `frame` into the frame buffer. Shortly ahead of the decoder it decodes on; else
  // it walks the headers to 4 frames before, clears the decoder and decodes from there,
  // which refills the bit reservoir. False when the stream ends before `frame`.
  bool Bring(std::int64_t frame) {
    if (frame < next_frame_ || frame - next_frame_ > kRefillFrames) {
      const std::int64_t start = std::max<std::int64_t>(frame - kRefillFrames, 0);
      const auto offset = Walk(start);
      if (!offset) return false;
      decoder_.Reset();
      next_offset_ = *offset;
      next_frame_ = start;
    }
    while (next_frame_ <= frame)
      if (!DecodeNext()) return false;
    buffered_frame_ = frame;
    return true;
  }

  // Where to search for frame `target`, walking the headers from the nearest kept offset;
  // nothing (and the end settled) when the stream ends before it.
  std::optional<std::int64_t> Walk(std::int64_t target) {
    const std::size_t kept = static_cast<std::size_t>(
        std::min<std::int64_t>(target / kIndexStep, static_cast<std::int64_t>(index_.size()) - 1));
    std::int64_t frame = static_cast<std::int64_t>(kept) * kIndexStep;
    std::int64_t offset = index_[kept];
    for (; frame < target; ++frame) {
      const auto found = scanner_.Next(offset, layout_.first);
      if (!found) {
        SettleEnd(frame);
        return std::nullopt;
      }
      Keep(frame, found->offset);
      offset = found->offset + found->header.frame_bytes;
    }
    return offset;
  }

  // Decodes the next frame into the frame buffer; false at the end of the stream.
  bool DecodeNext() {
    const auto found = scanner_.Next(next_offset_, layout_.first);
    if (!found) {
      SettleEnd(next_frame_);
      return false;
    }
    Keep(next_frame_, found->offset);
    const FrameHeader& header = found->header;
    bytes_.resize(static_cast<std::size_t>(std::min<std::int64_t>(header.frame_bytes, scanner_.end() - found->offset)));
    file_->Seek(found->offset);
    const std::size_t got = file_->Read(bytes_.data(), bytes_.size());
    // A frame of another channel count would not fit the frame buffer; the stream rules
    // them out, and a granule the decoder cannot decode is silence.
    decoder_.Decode(header, bytes_.data(), got, frame_samples_.data());
    next_offset_ = found->offset + header.frame_bytes;
    ++next_frame_;
    decoded_frames_ = std::max(decoded_frames_, next_frame_);
    buffered_frame_ = -1;
    return true;
  }

  void Keep(std::int64_t frame, std::int64_t offset) {
    if (frame % kIndexStep == 0 && frame / kIndexStep == static_cast<std::int64_t>(index_.size()))
      index_.push_back(offset);
  }

  // The stream holds `frames` frames: the length is what they deliver, never more than a
  // tag stated.
  void SettleEnd(std::int64_t frames) {
    const std::int64_t delivered = std::clamp<std::int64_t>(frames * samples_per_frame_ - lead_, 0, kMaxFrames);
    length_ = end_known_ ? std::min(length_, delivered) : delivered;
    end_known_ = true;
  }

  std::unique_ptr<ByteSource> file_;
  Mp3Layout layout_;
  FrameScanner scanner_;
  mp3::FrameDecoder decoder_;
  std::int64_t samples_per_frame_ = 1152;
  std::vector<std::int32_t> frame_samples_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::int64_t> index_;  // where to search for frame 0, 32, 64, ...
  std::int64_t lead_ = 0;            // decoded samples cut off at the start
  std::int64_t length_ = 0;
  bool end_known_ = false;
  bool walked_to_end_ = false;
  std::int64_t next_offset_ = 0;     // where the search for the next frame starts
  std::int64_t next_frame_ = 0;      // the number of the frame decoded next
  std::int64_t decoded_frames_ = 0;  // the most frames known to exist
  std::int64_t buffered_frame_ = -1;
  std::int32_t position_ = 0;
  Mp3Summary summary_;
};

const char* ModeName(mp3::ChannelMode mode) {
  switch (mode) {
    case mp3::ChannelMode::kStereo: return "stereo";
    case mp3::ChannelMode::kJointStereo: return "joint stereo";
    case mp3::ChannelMode::kDualChannel: return "dual channel";
    case mp3::ChannelMode::kMono: return "mono";
  }
  return "";
}

const char* VersionName(mp3::MpegVersion version) {
  switch (version) {
    case mp3::MpegVersion::k1: return "MPEG-1";
    case mp3::MpegVersion::k2: return "MPEG-2";
    case mp3::MpegVersion::k25: return "MPEG-2.5";
  }
  return "";
}

}  // namespace

SourceRef OpenMp3Reader(std::unique_ptr<ByteSource> bytes, bool gapless) {
  if (!bytes) return MakeCounted<Mp3Reader>(kStatusCannotOpen);
  std::unique_ptr<ByteSource> file = ReadAheadBytes(std::move(bytes));
  Mp3Layout layout;
  if (const std::uint8_t status = FindStream(*file, layout); status != kStatusOk) return MakeCounted<Mp3Reader>(status);
  return MakeCounted<Mp3Reader>(std::move(file), layout, gapless);
}

std::optional<Mp3Summary> Mp3ReaderSummary(const SampleSource& source) {
  const auto* reader = dynamic_cast<const Mp3Reader*>(&source);
  if (reader == nullptr || reader->status != kStatusOk) return std::nullopt;
  return reader->Summary();
}

FileFormat Mp3FileFormat() {
  FileFormat format;
  format.name = "MP3";
  format.extensions = {".mp3"};
  format.open = [](std::unique_ptr<ByteSource> bytes, const OpenOptions& options) {
    const bool gapless = options.settings == nullptr || options.settings->Read(setting::kMp3Gapless);
    return OpenMp3Reader(std::move(bytes), gapless);
  };
  format.open_error = [](std::uint8_t status, const std::string& path) {
    if (status == kStatusCannotOpen)
      return "Cannot open the file \"" + path + "\". Check it exists and you have read access.";
    return "Cannot open the file \"" + path + "\". It is possibly either corrupt or not a true layer-3 MPEG file.";
  };
  format.describe = [](SampleSource& reader) {
    std::vector<std::string> lines;
    const auto summary = Mp3ReaderSummary(reader);
    if (!summary) return lines;
    const FrameHeader& first = summary->first;
    lines.push_back(std::string("format: ") + VersionName(first.version) + " Layer III");
    lines.push_back("bit rate: " + (summary->variable_bit_rate ? std::string("VBR")
                                                               : std::to_string(first.bitrate_kbps) + " kbit/s"));
    lines.push_back(std::string("channel mode: ") + ModeName(first.mode));
    lines.push_back(summary->gapless ? "gapless: yes (encoder delay " + std::to_string(summary->delay) + ", padding " +
                                           std::to_string(summary->padding) + " and decoder delay " +
                                           std::to_string(kMp3DecoderDelay) + " samples cut off)"
                                     : std::string("gapless: no"));
    return lines;
  };
  format.exact_length = [](SampleSource& reader) {
    auto* mp3 = dynamic_cast<Mp3Reader*>(&reader);
    return mp3 != nullptr ? mp3->ExactLength() : reader.Length();
  };
  return format;
}

}  // namespace sonavel
