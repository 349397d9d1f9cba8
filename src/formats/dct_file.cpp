#include "formats/dct_file.h"

#include <algorithm>
#include <vector>

#include "platform/file.h"
#include "platform/progress.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

constexpr const char* kLoadError = "DCT File load error";
constexpr const char* kCorrupt = "DCT File is corrupt";
constexpr const char* kEncrypted =
    "Verschlüsselte Diktatdateien können nicht geladen werden. Bitte entschlüsseln Sie die Datei "
    "mit dem "
    "Transkriptionsprogramm des Herstellers Ihres Diktiergerätes und speichern Sie sie "
    "unverschlüsselt.";
constexpr const char* kNotesError =
    "Unable to load dct file because of file corruption (notes error).";
constexpr const char* kAttachmentError =
    "Unable to load dct file because of file corruption (attachment too large).";
constexpr const char* kZeroChannels =
    "Unable to load dct file because of file corruption (zero channels error). Please ask the "
    "dictator to send it "
    "again.";

constexpr std::uint32_t kFlagEncrypted = 2;
constexpr std::uint32_t kFlagAttachments = 4;
constexpr int kTextFields = 11;
constexpr std::size_t kCopyPiece = 32768;

// Little-endian fields read in order; a field cut off by the end of the file, or a skip
// past it, marks the reader as failed.
class FieldReader {
 public:
  explicit FieldReader(ByteSource& bytes) : bytes_(bytes), size_(bytes.Size()) {}
  std::uint32_t Unsigned(int width) {
    std::uint8_t raw[4] = {};
    if (bytes_.Read(raw, static_cast<std::size_t>(width)) != static_cast<std::size_t>(width))
      ok_ = false;
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | raw[i];
    return value;
  }
  // Skips `count` bytes when they lie inside the file.
  bool Skip(std::int64_t count) {
    if (!Fits(count) || !bytes_.Skip(count)) ok_ = false;
    return ok_;
  }
  bool Fits(std::int64_t count) const { return count >= 0 && count <= size_ - bytes_.Tell(); }
  bool ok() const { return ok_; }
  std::int64_t position() const { return bytes_.Tell(); }
  std::int64_t size() const { return size_; }

 private:
  ByteSource& bytes_;
  std::int64_t size_;
  bool ok_ = true;
};

}  // namespace

DctLayout ParseDct(ByteSource& bytes) {
  auto refuse = [](const char* text) { return DctLayout{text, 0, 0}; };
  if (!bytes.Seek(0)) return refuse(kLoadError);
  FieldReader in(bytes);
  const std::uint32_t version = in.Unsigned(2);
  if (!in.ok() || version >= 4) return refuse(kLoadError);
  const std::uint32_t total = in.Unsigned(4);
  if (!in.ok() || total != in.size()) return refuse(kCorrupt);
  const std::uint32_t flags = in.Unsigned(4);
  if (!in.Skip(8)) return refuse(kCorrupt);
  if (version >= 2 && (flags & kFlagEncrypted) != 0) return refuse(kEncrypted);
  if (version >= 3) {
    const std::uint32_t extra = in.Unsigned(4);
    if (!in.ok() || extra >= total || !in.Skip(extra)) return refuse(kCorrupt);
  }
  in.Skip(4);
  for (int field = 0; field < kTextFields && in.ok(); ++field) in.Skip(in.Unsigned(1));
  in.Skip(1);
  if (!in.ok()) return refuse(kCorrupt);
  const std::uint32_t notes = in.Unsigned(4);
  if (!in.ok()) return refuse(kCorrupt);
  if (notes > total || !in.Skip(notes)) return refuse(kNotesError);
  if ((flags & kFlagAttachments) != 0) {
    const std::uint32_t count = in.Unsigned(1);
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
      in.Skip(in.Unsigned(1));
      const std::uint32_t attachment = in.Unsigned(4);
      if (!in.ok()) return refuse(kCorrupt);
      if (attachment > total || !in.Skip(attachment)) return refuse(kAttachmentError);
    }
    if (!in.ok()) return refuse(kCorrupt);
  }
  std::int64_t length = in.size() - in.position();
  if (version >= 1) {
    const std::uint32_t channels = in.Unsigned(1);
    if (!in.ok()) return refuse(kCorrupt);
    if (channels == 0) return refuse(kZeroChannels);
    length = in.Unsigned(4);
    if (!in.ok() || !in.Fits(length)) return refuse(kCorrupt);
  }
  return {"", in.position(), length};
}

Result LoadDct(const std::string& path, const std::string& output, Progress& progress, Ui& ui) {
  progress.SetTexts("Loading DCT File", path);
  auto fail = [&ui](const std::string& text) {
    ui.ShowMessage({text, "Sonavel", MessageIcon::kError, MessageButtons::kOk});
    return kFailed;
  };
  const std::unique_ptr<ByteSource> bytes = OpenFileBytes(path);
  if (bytes == nullptr) return fail(kLoadError);
  const DctLayout layout = ParseDct(*bytes);
  if (!layout.error.empty()) return fail(layout.error);
  File out(output, File::Mode::kReadWrite);
  if (!out.IsOpen() || !out.Truncate(0) || !bytes->Seek(layout.audio_offset))
    return fail(kLoadError);
  std::vector<std::uint8_t> piece(kCopyPiece);
  double done = 0.1;
  progress.SetFraction(done);
  for (std::int64_t left = layout.audio_length; left > 0;) {
    if (progress.Pump()) return kCancelled;
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyPiece));
    if (bytes->Read(piece.data(), want) != want) return fail(kCorrupt);
    if (!out.Write(piece.data(), want))
      return fail("Kann die temporäre Datei \"" + output + "\" nicht schreiben.");
    left -= static_cast<std::int64_t>(want);
    done += static_cast<double>(kCopyPiece) / static_cast<double>(layout.audio_length);
    progress.SetFraction(std::min(done, 1.0));
  }
  return kDone;
}

}  // namespace sonavel
