#include "document/project_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "document/bookmark_file.h"
#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "platform/file.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

constexpr std::size_t kFixedText = 260;      // a version 1 string field
constexpr std::int64_t kWritebackBytes = std::int64_t{8} << 20;
constexpr char kSaveTitle[] = "Speichere Projekt";
constexpr char kLoadTitle[] = "Lade Projekt";
constexpr char kDamaged[] = "Das Projekt ist unvollständig oder beschädigt.";

std::string WithPath(const char* format, const std::string& path) {
  std::vector<char> text(std::strlen(format) + path.size() + 1);
  std::snprintf(text.data(), text.size(), format, path.c_str());
  return text.data();
}

void PutLittleEndian(std::uint8_t* out, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// Collects a project's bytes and writes them to the file in pieces.
class ProjectWriter {
 public:
  explicit ProjectWriter(File& file) : file_(file) {}

  void U8(std::uint8_t value) { buffer_.push_back(value); }
  void I32(std::int32_t value) {
    buffer_.resize(buffer_.size() + 4);
    PutLittleEndian(&buffer_[buffer_.size() - 4], value);
  }
  void Text(const std::string& text) { PutStoredText(buffer_, text); }
  bool Flush() {
    const bool ok = file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  // The file, for what writes straight into it after a Flush.
  File& file() { return file_; }
  // Where the next value lands in the file.
  std::int64_t Offset() const { return file_.Tell() + static_cast<std::int64_t>(buffer_.size()); }

 private:
  File& file_;
  std::vector<std::uint8_t> buffer_;
};

void WriteBookmarks(ProjectWriter& out, const std::vector<Bookmark>& bookmarks) {
  out.U8(static_cast<std::uint8_t>(bookmarks.size()));
  for (const Bookmark& mark : bookmarks) {
    out.Text(mark.name);
    out.Text(mark.source_title);
    out.I32(mark.position);
    out.U8(mark.use_count);
    out.I32(static_cast<std::int32_t>(mark.last_used));
  }
}

// An audio block written straight into the project file: the header with the frame count
// left open, the frames as they come, and the count once the source has ended. What a
// coded source delivered past its real end (the pump seeks back) is cut off at the finish.
class AudioBlockSink final : public SampleSink {
 public:
  AudioBlockSink(File& file, std::int32_t sample_rate, std::uint8_t channel_count)
      : SampleSink(sample_rate, channel_count), file_(file), count_at_(file.Tell() + 5), data_at_(count_at_ + 4) {
    std::uint8_t header[9] = {};
    PutLittleEndian(header, rate);
    header[4] = channels;
    if (count_at_ < 5 || !file_.Write(header, sizeof header)) status |= kSinkWriteFailed;
  }

  void Write(const std::int32_t* buffer, std::int32_t frames) override {
    const std::size_t samples = static_cast<std::size_t>(frames) * channels;
    bytes_.resize(samples * 4);
    for (std::size_t i = 0; i < samples; ++i) PutLittleEndian(&bytes_[4 * i], buffer[i]);
    if (!file_.Write(bytes_.data(), bytes_.size())) status |= kSinkWriteFailed;
    position += frames;
    // The disk starts on what is written while the rest comes, so the commit's sync at the
    // end of a long block does not wait for all of it.
    if (const std::int64_t end = End(); end - written_back_ >= kWritebackBytes) {
      file_.StartWriteback(written_back_, end - written_back_);
      written_back_ = end;
    }
  }
  void Seek(std::int32_t frame) override {
    position = frame;
    if (!file_.Seek(End())) status |= kSinkWriteFailed;
  }
  void Finish() override {
    std::uint8_t count[4];
    PutLittleEndian(count, position);
    if (!file_.Truncate(End()) || !file_.Seek(count_at_) || !file_.Write(count, 4) || !file_.Seek(End()))
      status |= kSinkWriteFailed;
  }

 private:
  std::int64_t End() const { return data_at_ + std::int64_t{position} * channels * 4; }

  File& file_;
  const std::int64_t count_at_;  // where the frame count goes
  const std::int64_t data_at_;   // where the first frame goes
  std::int64_t written_back_ = data_at_;  // where the writeback asked for so far ends
  std::vector<std::uint8_t> bytes_;
};

// Passes the bar and the cancel through, but keeps the texts the save set.
class KeptTexts final : public Progress {
 public:
  explicit KeptTexts(Progress& inner) : inner_(inner) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double done) override { inner_.SetFraction(done); }
  bool Pump() override { return inner_.Pump(); }

 private:
  Progress& inner_;
};

// The audio block of `source` from its position to its end; kCancelled when the user
// cancels, kFailed when the source failed or the file did not take the bytes.
// `frames` (when given) receives the frames written.
Result WriteAudio(ProjectWriter& out, SampleSource& source, Progress& progress, std::int32_t* frames = nullptr) {
  if (!out.Flush()) return kFailed;
  SinkRef sink = MakeCounted<AudioBlockSink>(out.file(), source.rate, source.channels);
  KeptTexts texts(progress);
  const Result result = Pump(source, *sink, texts, "");
  if (frames != nullptr) *frames = sink->position;
  return result;
}

// Writes `value` at `offset` of the file and comes back to its end.
bool Patch(File& file, std::int64_t offset, std::int32_t value) {
  std::uint8_t bytes[4];
  PutLittleEndian(bytes, value);
  const std::int64_t end = file.Tell();
  return end >= 0 && file.Seek(offset) && file.Write(bytes, 4) && file.Seek(end);
}

// Reads a project's fields; every read checks the bytes left and fails rather than
// making a value up.
class ProjectReader {
 public:
  explicit ProjectReader(ByteSource& bytes) : bytes_(bytes) {}

  std::int64_t Left() const { return std::max<std::int64_t>(bytes_.Size() - bytes_.Tell(), 0); }
  bool Bytes(void* buffer, std::size_t count) { return bytes_.Read(buffer, count) == count; }
  bool U8(std::uint8_t& value) { return Bytes(&value, 1); }
  bool I32(std::int32_t& value) {
    std::uint8_t raw[4];
    if (!Bytes(raw, 4)) return false;
    value = static_cast<std::int32_t>(std::uint32_t{raw[0]} | std::uint32_t{raw[1]} << 8 |
                                      std::uint32_t{raw[2]} << 16 | std::uint32_t{raw[3]} << 24);
    return true;
  }
  bool Text(std::string& text) { return ReadStoredText(bytes_, text); }
  // A version 1 field: 260 bytes up to the first NUL, in the single-byte Western code
  // page, converted to UTF-8.
  bool FixedText(std::string& text) {
    char raw[kFixedText];
    if (!Bytes(raw, kFixedText)) return false;
    text.clear();
    for (std::size_t i = 0; i < kFixedText - 1 && raw[i] != '\0'; ++i) {
      const auto c = static_cast<unsigned char>(raw[i]);
      if (c < 0x80) {
        text.push_back(static_cast<char>(c));
      } else {
        text.push_back(static_cast<char>(0xC0 | c >> 6));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return true;
  }
  bool AnyText(int version, std::string& text) {
    return version == 1 ? FixedText(text) : Text(text);
  }

  bool ReadBookmark(int version, Bookmark& mark) {
    return AnyText(version, mark.name) && AnyText(version, mark.source_title) &&
           I32(mark.position) && U8(mark.use_count) && LastUsed(mark.last_used);
  }
  // "Last used" is unsigned: dates after 2038 stay right, earlier values keep their bytes.
  bool LastUsed(std::uint32_t& value) {
    std::int32_t stored = 0;
    if (!I32(stored)) return false;
    value = static_cast<std::uint32_t>(stored);
    return true;
  }

  // The audio header, checked as a WAV load checks it, then the frames into a new block
  // file. The frames must all be there.
  Result Audio(Sound& sound, Progress& progress) {
    std::int32_t rate = 0;
    std::uint8_t channels = 0;
    std::int32_t frames = 0;
    if (!I32(rate) || !U8(channels) || !I32(frames)) return kFailed;
    if (rate < 1 || static_cast<std::uint32_t>(rate) > kMaxWavRate || channels < 1 || frames < 0)
      return kFailed;
    const std::int64_t frame_bytes = std::int64_t{4} * channels;
    if (frames > Left() / frame_bytes) return kFailed;
    sound = Sound(rate, channels);
    SinkRef writer = CreateBlockWriter(sound, rate, channels);
    if ((writer->status & kSinkUnusable) != 0) return kFailed;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(kChunkFrames * frame_bytes));
    std::vector<std::int32_t> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    for (std::int32_t done = 0; done < frames;) {
      const std::int32_t count = std::min(kChunkFrames, frames - done);
      const std::size_t samples = static_cast<std::size_t>(count) * channels;
      if (!Bytes(raw.data(), samples * 4)) return kFailed;
      for (std::size_t i = 0; i < samples; ++i) {
        const std::uint8_t* b = &raw[i * 4];
        chunk[i] = static_cast<std::int32_t>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                             std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24);
      }
      writer->Write(chunk.data(), count);
      done += count;
      progress.SetFraction(static_cast<double>(done) / frames);
      if (progress.Pump()) return kCancelled;
    }
    if ((writer->status & kSinkWriteFailed) != 0) return kFailed;
    return kDone;
  }

 private:
  ByteSource& bytes_;
};

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
           };
           return lower(x) == lower(y);
         });
}

}  // namespace

Result SaveProject(const Project& project, const std::string& path, Progress& progress,
                   std::string& error) {
  if (project.documents.size() > kMaxProjectCount) {
    error = "Ein Projekt kann höchstens 255 Dateien enthalten.";
    return kFailed;
  }
  if (project.regions.size() > kMaxProjectCount) {
    error = "Ein Projekt kann höchstens 255 Bereiche enthalten.";
    return kFailed;
  }
  for (const ProjectDocument& document : project.documents) {
    if (document.bookmarks.size() > kMaxProjectCount) {
      error = WithPath(
          "Die Datei \"%s\" hat mehr als 255 Lesezeichen; ein Projekt kann nur 255 je Datei "
          "speichern.",
          document.path);
      return kFailed;
    }
  }
  ReplacingFile file(path);
  if (!file.IsOpen()) {
    error = WithPath("Kann Dateien zum Beschreiben \"%s\" nicht öffnen.", path);
    return kFailed;
  }
  const std::string write_failed =
      WithPath("Das Projekt \"%s\" konnte nicht vollständig geschrieben werden.", path);
  ProjectWriter out(file.file());
  out.U8(kProjectVersion);
  progress.SetTexts(kSaveTitle, "Speichere Dateien...");
  out.U8(static_cast<std::uint8_t>(project.documents.size()));
  for (const ProjectDocument& document : project.documents) {
    out.Text(document.path);
    const bool streamed = static_cast<bool>(document.open_audio);
    const std::int64_t view_end_at = out.Offset() + 16;
    for (std::int32_t position : {document.cursor, document.selection_start, document.selection_end,
                                  streamed ? 0 : document.view_start, streamed ? 0 : document.view_end})
      out.I32(position);
    WriteBookmarks(out, document.bookmarks);
    SourceRef source = streamed ? document.open_audio() : OpenSoundReader(document.audio);
    if (!source) return kFailed;  // the opener has told why
    std::int32_t frames = 0;
    Result result = WriteAudio(out, *source, progress, &frames);
    if (result == kDone && streamed && !Patch(out.file(), view_end_at, frames)) result = kFailed;
    if (result != kDone) {
      if (result == kFailed)
        error = source->status != kStatusOk
                    ? WithPath("Die Datei \"%s\" konnte nicht vollständig gelesen werden.", document.path)
                    : write_failed;
      return result;
    }
  }
  progress.SetTexts(kSaveTitle, "Speichere Bereich...");
  out.U8(static_cast<std::uint8_t>(project.regions.size()));
  for (const ProjectRegion& region : project.regions) {
    out.Text(region.name);
    out.Text(region.source_title);
    out.I32(region.start);
    out.I32(region.end);
    const Result result = WriteAudio(out, *OpenSoundReader(region.audio), progress);
    if (result != kDone) {
      if (result == kFailed) error = write_failed;
      return result;
    }
  }
  if (!out.Flush() || !file.Commit()) {
    error = write_failed;
    return kFailed;
  }
  return kDone;
}

Result LoadProject(ByteSource& bytes, Project& project, Progress& progress, std::string& error) {
  ProjectReader in(bytes);
  std::uint8_t version = 0;
  if (!in.U8(version) || (version != 1 && version != 2)) {
    error = "Diese Datei passt nicht zur aktuellen Sonavel Version oder sie ist beschädigt.";
    return kFailed;
  }
  const auto fail = [&](Result result) {
    if (result == kFailed) error = kDamaged;
    return result;
  };
  progress.SetTexts(kLoadTitle, "Lade Dateien...");
  std::uint8_t count = 0;
  if (!in.U8(count)) return fail(kFailed);
  for (int i = 0; i < count; ++i) {
    ProjectDocument document;
    if (version == 1) {
      std::string ignored;
      if (!in.FixedText(document.path) || !in.FixedText(ignored)) return fail(kFailed);
    } else if (!in.Text(document.path)) {
      return fail(kFailed);
    }
    for (std::int32_t* position :
         {&document.cursor, &document.selection_start, &document.selection_end,
          &document.view_start, &document.view_end})
      if (!in.I32(*position)) return fail(kFailed);
    if (version == 2) {
      std::uint8_t marks = 0;
      if (!in.U8(marks)) return fail(kFailed);
      document.bookmarks.resize(marks);
      for (Bookmark& mark : document.bookmarks)
        if (!in.ReadBookmark(version, mark)) return fail(kFailed);
    }
    if (const Result result = in.Audio(document.audio, progress); result != kDone)
      return fail(result);
    project.documents.push_back(std::move(document));
  }
  if (version == 1) {
    // Each record goes to the first document whose title (its file name) equals the
    // record's source title, ignoring case; a record that matches none is dropped.
    std::uint8_t skipped = 0;
    std::uint8_t marks = 0;
    if (!in.U8(skipped) || !in.U8(marks)) return fail(kFailed);
    for (int i = 0; i < marks; ++i) {
      Bookmark mark;
      if (!in.ReadBookmark(version, mark)) return fail(kFailed);
      for (ProjectDocument& document : project.documents) {
        if (EqualIgnoringCase(FileNamePart(document.path), mark.source_title)) {
          document.bookmarks.push_back(std::move(mark));
          break;
        }
      }
    }
  }
  progress.SetTexts(kLoadTitle, "Lade Bereich...");
  if (!in.U8(count)) return fail(kFailed);
  for (int i = 0; i < count; ++i) {
    ProjectRegion region;
    if (!in.AnyText(version, region.name) || !in.AnyText(version, region.source_title) ||
        !in.I32(region.start) || !in.I32(region.end))
      return fail(kFailed);
    if (version == 1) region.source_title = FileNamePart(region.source_title);
    if (const Result result = in.Audio(region.audio, progress); result != kDone)
      return fail(result);
    project.regions.push_back(std::move(region));
  }
  return kDone;
}

Result LoadProjectFile(const std::string& path, Project& project, Progress& progress,
                       std::string& error) {
  std::unique_ptr<ByteSource> bytes = OpenFileBytes(path);
  if (bytes == nullptr) {
    error = WithPath("Kann Dateien zum lesen \"%s\" nicht öffnen.", path);
    return kFailed;
  }
  bytes = ReadAheadBytes(std::move(bytes));
  return LoadProject(*bytes, project, progress, error);
}

}  // namespace sonavel
