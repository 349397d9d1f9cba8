#include "formats/gsm_file.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "formats/gsm610.h"
#include "formats/read_start.h"
#include "formats/wav_reader.h"
#include "platform/file.h"

namespace sonavel {

namespace {

constexpr std::int32_t kGsmRate = 8000;
constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

class GsmReader final : public SampleSource {
 public:
  explicit GsmReader(std::unique_ptr<ByteSource> file)
      : SampleSource(kGsmRate, 1, kGsmPeak), file_(std::move(file)) {
    file_->Seek(0);
  }

  void Read(std::int32_t* out, std::int32_t count) override {
    if (count <= 0) return;
    // The decoder stands at the frame holding the position: only what lies before frame 0
    // needs the shared start.
    std::int64_t n = BeginRead(out, position_, count, 1).n;
    const std::int64_t frames = FramesInFile();
    while (n > 0) {
      if (held_ < kGsmFrameSamples) {  // the rest of the frame decoded last
        const std::int64_t take = std::min<std::int64_t>(n, kGsmFrameSamples - held_);
        std::copy_n(decoded_.data() + held_, take, out);
        held_ += static_cast<int>(take);
        out += take;
        n -= take;
        continue;
      }
      if (next_frame_ >= frames) break;
      // Whole frames go straight to the caller; the last, partly wanted one is held.
      std::int32_t* target = n >= kGsmFrameSamples ? out : decoded_.data();
      if (!DecodeNext(target)) break;
      if (target == out) {
        out += kGsmFrameSamples;
        n -= kGsmFrameSamples;
      } else {
        held_ = 0;
      }
    }
    std::fill_n(out, n, 0);
  }

  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override {
    return static_cast<std::int32_t>(std::min(FramesInFile() * kGsmFrameSamples, kMaxFrames));
  }

  // The decoder starts afresh at the frame holding `frame`, decodes it and continues at
  // the target within it; beyond the length the file stands at its last whole frame.
  void Seek(std::int32_t frame) override {
    position_ = frame;
    decoder_.Reset();
    held_ = kGsmFrameSamples;
    const std::int64_t frames = FramesInFile();
    next_frame_ = frame <= 0 ? 0 : std::min<std::int64_t>(frame / kGsmFrameSamples, frames);
    file_->Seek(next_frame_ * static_cast<std::int64_t>(kGsmFrameBytes));
    if (frame > 0 && next_frame_ < frames && DecodeNext(decoded_.data())) held_ = frame % kGsmFrameSamples;
  }

 private:
  std::int64_t FramesInFile() const {
    return std::min(std::max<std::int64_t>(file_->Size(), 0) / static_cast<std::int64_t>(kGsmFrameBytes),
                    kMaxFrames / kGsmFrameSamples);
  }

  // Decodes the next frame of the file into 160 samples at `out`; false when the file
  // holds no whole frame more.
  bool DecodeNext(std::int32_t* out) {
    std::uint8_t bytes[kGsmFrameBytes];
    if (file_->Read(bytes, kGsmFrameBytes) != kGsmFrameBytes) {
      next_frame_ = std::numeric_limits<std::int64_t>::max();
      return false;
    }
    GsmFrame frame;
    UnpackGsmFrame(bytes, frame);
    decoder_.DecodeStore(frame, out);
    ++next_frame_;
    return true;
  }

  std::unique_ptr<ByteSource> file_;
  GsmDecoder decoder_;
  std::int32_t position_ = 0;
  std::int64_t next_frame_ = 0;  // the frame of the file the next decode takes
  std::array<std::int32_t, kGsmFrameSamples> decoded_{};
  int held_ = kGsmFrameSamples;  // samples of decoded_ already delivered
};

class GsmWriter final : public SampleSink {
 public:
  explicit GsmWriter(const std::string& path) : SampleSink(kGsmRate, 1) {
    if (!file_.Open(path, File::Mode::kCreate)) status |= kSinkUnusable;
    bytes_.reserve(kWriteFrames * kGsmFrameBytes);
  }

  // The last samples go out as a whole frame, completed with silence.
  ~GsmWriter() override {
    if (!file_.IsOpen() || pending_ == 0) return;
    std::fill(block_.begin() + pending_, block_.end(), 0);
    EncodeBlock();
    Flush();
  }

  void Write(const std::int32_t* in, std::int32_t count) override {
    if (count <= 0 || (status & kSinkUnusable) != 0) return;
    while (count > 0) {
      const int take = std::min(count, kGsmFrameSamples - pending_);
      std::copy_n(in, take, block_.begin() + pending_);
      pending_ += take;
      in += take;
      count -= take;
      if (pending_ == kGsmFrameSamples) {
        EncodeBlock();
        if (bytes_.size() >= kWriteFrames * kGsmFrameBytes) Flush();
      }
    }
    Flush();
    UpdatePosition();
  }

  // Cuts the file back to `frame` samples; writing continues there as if what followed
  // had never been written. The encoder's state before each of the last kHistory frames is
  // kept for this, which covers what a save cuts back after a piece of 8192 frames.
  void Seek(std::int32_t frame) override {
    if ((status & kSinkUnusable) != 0 || frame > Total()) return;
    const std::int64_t kept = std::max(frame, 0);
    const std::int64_t whole = kept / kGsmFrameSamples;
    if (whole < encoded_) {
      if (encoded_ - whole <= kHistory) {
        const Snapshot& snapshot = history_[static_cast<std::size_t>(whole % kHistory)];
        encoder_ = snapshot.encoder;
        block_ = snapshot.samples;
      } else {
        // Too far back for the history: the kept start of the cut frame is silence.
        block_.fill(0);
      }
      encoded_ = whole;
      const std::int64_t end = encoded_ * static_cast<std::int64_t>(kGsmFrameBytes);
      if (!file_.Truncate(end) || !file_.Seek(end)) status |= kSinkWriteFailed;
    }
    pending_ = static_cast<int>(kept - whole * kGsmFrameSamples);
    UpdatePosition();
  }

 private:
  static constexpr std::size_t kWriteFrames = 64;
  static constexpr std::int64_t kHistory = 64;

  struct Snapshot {
    GsmEncoder encoder;
    std::array<std::int32_t, kGsmFrameSamples> samples;
  };

  std::int64_t Total() const { return encoded_ * kGsmFrameSamples + pending_; }
  void UpdatePosition() { position = static_cast<std::int32_t>(std::min(Total(), kMaxFrames)); }

  void EncodeBlock() {
    if (history_.empty()) history_.resize(kHistory);
    Snapshot& snapshot = history_[static_cast<std::size_t>(encoded_ % kHistory)];
    snapshot.encoder = encoder_;
    snapshot.samples = block_;
    GsmFrame frame;
    encoder_.EncodeStore(block_.data(), frame);
    bytes_.resize(bytes_.size() + kGsmFrameBytes);
    PackGsmFrame(frame, bytes_.data() + bytes_.size() - kGsmFrameBytes);
    ++encoded_;
    pending_ = 0;
  }

  void Flush() {
    if (!bytes_.empty() && !file_.Write(bytes_.data(), bytes_.size())) status |= kSinkWriteFailed;
    bytes_.clear();
  }

  File file_;
  GsmEncoder encoder_;
  std::array<std::int32_t, kGsmFrameSamples> block_{};
  int pending_ = 0;
  std::int64_t encoded_ = 0;  // frames coded, written or waiting in bytes_
  std::vector<std::uint8_t> bytes_;
  std::vector<Snapshot> history_;
};

}  // namespace

SourceRef OpenGsmReader(std::unique_ptr<ByteSource> file) {
  if (!file) return MakeNullSource(kStatusCannotOpen);
  return MakeCounted<GsmReader>(ReadAheadBytes(std::move(file)));
}

SinkRef CreateGsmWriter(const std::string& path) { return MakeCounted<GsmWriter>(path); }

FileFormat GsmFileFormat() {
  FileFormat format;
  format.name = "GSM";
  format.extensions = {".gsm"};
  format.open = [](std::unique_ptr<ByteSource> bytes, const OpenOptions&) { return OpenGsmReader(std::move(bytes)); };
  // Whatever went wrong, the user hears the same advice.
  format.open_error = [](std::uint8_t, const std::string& path) { return WavOpenErrorText(kStatusCannotOpen, path); };
  format.create = [](const WaveFormat&, const std::string& path, const OpenOptions&) { return CreateGsmWriter(path); };
  format.save_format = [](const WaveFormat&, const OpenOptions&) { return DefaultFormat(kGsmRate, 1); };
  format.describe = [](SampleSource& reader) {
    return std::vector<std::string>{"format: GSM 06.10 (" +
                                    std::to_string(reader.Length() / kGsmFrameSamples) + " frames of 33 bytes)"};
  };
  return format;
}

}  // namespace sonavel
