#include "formats/pump.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "formats/format_table.h"
#include "formats/tag_files.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/file.h"
#include "platform/ui.h"
#include "store/block_writer.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"

namespace sonavel {

namespace {

// Reads the source ahead on a second thread while the calling thread writes, so that the
// two sides' file work overlaps. The source is used by the reading thread only and the
// sink by the calling thread only, from start to end of the pump. Each side wakes the
// other only when that one waits, and the reading side, once the slots are full, rests
// until half of them are free again: a thread switch per few pieces, not per piece.
class ReadAhead {
 public:
  struct Piece {
    std::vector<std::int32_t> samples;
    std::int32_t frames = 0;
    std::int64_t overshoot = 0;  // frames past the source's real end, found while reading
    std::int64_t left = 0;       // frames still to come after this piece (estimate)
  };

  explicit ReadAhead(SampleSource& source) : source_(source) {
    for (Piece& piece : slots_) piece.samples.resize(static_cast<std::size_t>(kChunkFrames) * source.channels);
    thread_ = std::thread([this] { Run(); });
  }

  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    has_room_.notify_all();
    thread_.join();
  }

  // The next piece, or null at the end. The piece stays valid until the next call.
  const Piece* Next() {
    std::unique_lock lock(mutex_);
    if (held_) {  // hand the previous slot back
      held_ = false;
      --filled_;
      head_ = (head_ + 1) % kSlots;
      if (reader_waits_ && filled_ <= kSlots / 2) has_room_.notify_all();
    }
    writer_waits_ = true;
    has_piece_.wait(lock, [this] { return filled_ > 0 || finished_; });
    writer_waits_ = false;
    if (filled_ == 0) return nullptr;
    held_ = true;
    return &slots_[head_];
  }

 private:
  static constexpr int kSlots = 8;

  void Run() {
    int tail = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        if (filled_ == kSlots) {
          reader_waits_ = true;
          has_room_.wait(lock, [this] { return filled_ <= kSlots / 2 || stop_; });
          reader_waits_ = false;
        }
        if (stop_) break;
      }
      const std::int64_t left = std::int64_t{source_.Length()} - source_.Position();
      if (left <= 0) break;
      Piece& piece = slots_[tail];
      piece.frames = static_cast<std::int32_t>(std::min<std::int64_t>(left, kChunkFrames));
      source_.Read(piece.samples.data(), piece.frames);
      piece.overshoot = std::int64_t{source_.Position()} - source_.Length();
      piece.left = left - piece.frames;
      tail = (tail + 1) % kSlots;
      {
        std::lock_guard lock(mutex_);
        ++filled_;
        if (writer_waits_) has_piece_.notify_all();
      }
      if (piece.overshoot > 0) break;
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    has_piece_.notify_all();
  }

  SampleSource& source_;
  Piece slots_[kSlots];
  std::mutex mutex_;
  std::condition_variable has_piece_;  // the writing side waits for a filled slot
  std::condition_variable has_room_;   // the reading side waits for free slots
  int head_ = 0;
  int filled_ = 0;
  bool held_ = false;
  bool finished_ = false;
  bool stop_ = false;
  bool reader_waits_ = false;
  bool writer_waits_ = false;
  std::thread thread_;
};

}  // namespace

Result Pump(SampleSource& source, SampleSink& sink, Progress& progress, std::string_view title) {
  progress.SetTexts(title, "Bitte warten...");
  progress.SetFraction(0);
  if (source.status != kStatusOk || (sink.status & kSinkUnusable) != 0) return kFailed;
  // Rate and channel conversion is not done here: the formats must already agree.
  if (source.rate != sink.rate || source.channels != sink.channels) return kFailed;
  ReadAhead pieces(source);
  std::int64_t copied = 0;
  for (;;) {
    if (progress.Pump()) return kCancelled;
    const ReadAhead::Piece* piece = pieces.Next();
    if (piece == nullptr) break;
    sink.Write(piece->samples.data(), piece->frames);
    copied += piece->frames;
    // A coded source finds its real end while reading: cut what went past it.
    if (piece->overshoot > 0) {
      sink.Seek(static_cast<std::int32_t>(sink.position - std::min<std::int64_t>(piece->overshoot, piece->frames)));
      break;
    }
    progress.SetFraction(static_cast<double>(copied) / static_cast<double>(copied + piece->left));
  }
  sink.Finish();
  progress.SetFraction(1);
  // A source that failed on the way (a decoder ended in error, a file came back short)
  // delivered less than it should have: that is no whole copy.
  if (source.status != kStatusOk) return kFailed;
  return (sink.status & kSinkWriteFailed) != 0 ? kFailed : kDone;
}

std::int32_t ReadToEnd(SampleSource& source) {
  std::vector<std::int32_t> scratch(static_cast<std::size_t>(kChunkFrames) * source.channels);
  while (source.Position() < source.Length()) source.Read(scratch.data(), kChunkFrames);
  return source.Length();
}

Result LoadIntoSound(SampleSource& source, Sound& sound, Progress& progress, std::string_view title) {
  Sound loaded(source.rate, source.channels);
  Result result;
  {
    SinkRef writer = CreateBlockWriter(loaded, source.rate, source.channels);
    result = Pump(source, *writer, progress, title);
  }
  if (result == kDone) sound = std::move(loaded);
  return result;
}

Result SaveSoundAsWav(const Sound& sound, const WaveFormat& format, const std::string& path,
                   Progress& progress) {
  return SaveSourceAsWav(OpenSoundReader(sound), format, path, progress);
}

namespace {

// The one save chain: limited to full scale, pumped into the writer `create` makes over a
// temporary sibling of `path`, which gets `tags` (when given) and replaces `path` only when
// complete. A failed tag write fails the save like a failed sample write.
Result SaveThrough(SourceRef source, const std::function<SinkRef(const std::string&)>& create,
                   const std::string& path, Progress& progress, const TagList* tags = nullptr) {
  // Written beside the old file, which stays untouched until the new one is complete.
  ReplacingFile replacing(path);
  Result result;
  {
    // The store holds samples beyond full scale (gains, mixes); the file cannot.
    SourceRef reader = LimitTo(std::move(source), kFullScale);
    SinkRef writer = create(replacing.temporary_path());
    result = Pump(*reader, *writer, progress, "Speichere Datei...");
  }
  if (result != kDone) return result;
  if (tags != nullptr && WriteTags(*tags, replacing.temporary_path(), path) == TagWrite::kFailed) return kFailed;
  return replacing.Commit() ? kDone : kFailed;
}

}  // namespace

Result SaveSourceAsWav(SourceRef source, const WaveFormat& format, const std::string& path, Progress& progress) {
  return SaveThrough(
      std::move(source), [&format](const std::string& file) { return CreateWavWriter(format, file); }, path,
      progress);
}

Result SaveSource(SourceRef source, const WaveFormat& format, const std::string& path, Progress& progress,
                  const OpenOptions& options) {
  // An extension no format writes gets a failed sink: nothing is written, the old file stays.
  if (!HasWriter(path)) return kFailed;
  if (const FileFormat* entry = FormatForPath(path); entry->save) return entry->save(std::move(source), path, progress, options);
  return SaveThrough(
      std::move(source), [&](const std::string& file) { return CreateFormatWriter(format, path, file, options); },
      path, progress, options.tags);
}

}  // namespace sonavel
