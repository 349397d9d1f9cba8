#include "document/bookmark_file.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/file.h"
#include "store/time.h"

namespace sonavel {

namespace {

constexpr std::uint8_t kSidecarVersion = 2;
constexpr std::size_t kLongLength = 255;  // the length byte that announces a u32 length
constexpr std::size_t kMaxWrittenBytes = 259;
constexpr std::size_t kMaxKeptBytes = 519;  // what the reader keeps of one string
constexpr std::size_t kMaxPathBytes = 259;

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// At most `characters` UTF-8 characters.
std::string_view FirstCharacters(std::string_view text, std::size_t characters) {
  std::size_t end = 0;
  for (std::size_t count = 0; end < text.size(); ++count) {
    if (count == characters) break;
    ++end;
    while (end < text.size() && IsContinuation(text[end])) ++end;
  }
  return text.substr(0, end);
}

std::int32_t ClampToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::string Cut(std::string_view text, std::size_t characters) {
  return std::string(FirstCharacters(text, characters));
}

// Little-endian unsigned fields of 1 to 4 bytes; a field cut short clears ok().
class Reader {
 public:
  explicit Reader(ByteSource& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }

  std::uint32_t Unsigned(std::size_t size) {
    std::uint8_t raw[4] = {};
    if (bytes_.Read(raw, size) != size) ok_ = false;
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = value << 8 | raw[i];
    return value;
  }

  std::string Text() {
    std::string text;
    if (!ReadStoredText(bytes_, text)) ok_ = false;
    return text;
  }

 private:
  ByteSource& bytes_;
  bool ok_ = true;
};

void PutUnsigned(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void MarkModified(AudioDocument& document) {
  document.state.modified = 1;
  document.Notify(kModifiedChanged | kBookmarksChanged);
}

}  // namespace

std::string_view CutUtf8(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && IsContinuation(text[bytes])) --bytes;
  return text.substr(0, bytes);
}

void PutStoredText(std::vector<std::uint8_t>& out, std::string_view text) {
  const std::string_view cut = CutUtf8(text, kMaxWrittenBytes);
  if (cut.size() < kLongLength) {
    PutUnsigned(out, static_cast<std::uint32_t>(cut.size()), 1);
  } else {
    PutUnsigned(out, kLongLength, 1);
    PutUnsigned(out, static_cast<std::uint32_t>(cut.size()), 4);
  }
  out.insert(out.end(), cut.begin(), cut.end());
}

bool ReadStoredText(ByteSource& bytes, std::string& text) {
  Reader reader(bytes);
  std::uint32_t length = reader.Unsigned(1);
  if (length == kLongLength) length = reader.Unsigned(4);
  // A length beyond the bytes left is damage, not a reason to allocate or skip.
  if (!reader.ok() || length > std::max<std::int64_t>(bytes.Size() - bytes.Tell(), 0)) return false;
  std::string raw(std::min<std::size_t>(length, kMaxKeptBytes), '\0');
  if (bytes.Read(raw.data(), raw.size()) != raw.size() || !bytes.Skip(length - raw.size())) return false;
  text = Cut(CutUtf8(raw, kMaxKeptBytes), kMaxBookmarkName);
  return true;
}

std::uint32_t BookmarkClock() {
  return static_cast<std::uint32_t>(std::time(nullptr));
}

Message FullMessage() {
  return {"Ein Dokument kann höchstens " + std::to_string(kMaxBookmarks) + " Lesezeichen haben.",
          "Sonavel", MessageIcon::kWarning, MessageButtons::kOk};
}

std::string LastUsedText(std::uint32_t seconds) {
  const std::time_t time = seconds;
  std::tm local{};
  char date[32] = "";
  char clock[32] = "";
  if (seconds != 0 && ::localtime_r(&time, &local)) {
    std::snprintf(date, sizeof date, "%.4d-%.2d-%.2d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    std::snprintf(clock, sizeof clock, "%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
  }
  return std::string(date) + " " + clock;
}

std::int32_t FrameToBookmarkMs(const AudioDocument& document, std::int64_t frame) {
  return ClampToInt32(FramesToMs(frame, document.sound.rate));
}

std::int32_t BookmarkFrame(const AudioDocument& document, std::int32_t ms) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(MsToFrames(ms, document.sound.rate), 0,
                                                            SoundLength(document.sound)));
}

std::optional<Message> AddBookmark(AudioDocument& document, std::string_view name,
                                   std::uint32_t now) {
  if (document.bookmarks.full()) return FullMessage();
  document.bookmarks.Add({Cut(name, kMaxBookmarkName),
                          Cut(DisplayTitle(document), kMaxBookmarkName),
                          FrameToBookmarkMs(document, document.state.cursor), 1, now});
  MarkModified(document);
  return std::nullopt;
}

Bookmark* FindBookmark(AudioDocument& document, std::string_view name) {
  return document.bookmarks.Find(name);
}

bool HasBookmark(const AudioDocument& document, std::string_view name) {
  return document.bookmarks.Find(name) != nullptr;
}

bool RemoveBookmarks(AudioDocument& document, std::string_view name) {
  if (!document.bookmarks.Remove(name)) return false;
  MarkModified(document);
  return true;
}

bool RemoveAllBookmarks(AudioDocument& document) {
  if (document.bookmarks.size() == 0) return false;
  document.bookmarks.Clear();
  MarkModified(document);
  return true;
}

std::size_t BookmarkCount(const AudioDocument& document) {
  return document.bookmarks.size();
}

bool RenameBookmark(AudioDocument& document, std::string_view old_name, std::string_view new_name) {
  Bookmark* bookmark = document.bookmarks.Find(old_name);
  if (!bookmark) return false;
  bookmark->name = SanitiseName(new_name);
  MarkModified(document);
  return true;
}

std::optional<Message> NewBookmarkNameProblem(const std::vector<const AudioDocument*>& documents,
                                              std::string_view new_name) {
  const std::string name = SanitiseName(new_name);
  if (name.empty())
    return Message{"The name must contain text.", "Name Invalid", MessageIcon::kError};
  for (const AudioDocument* document : documents)
    if (HasBookmark(*document, name))
      return Message{
          "The bookmark cannot be renamed because another bookmark with the same name already "
          "exists. "
          "Please try another name.",
          "Bookmark Name Exists", MessageIcon::kError};
  return std::nullopt;
}

bool GoToBookmark(AudioDocument& document, std::string_view name, std::uint32_t now) {
  Bookmark* bookmark = document.bookmarks.Find(name);
  if (!bookmark) return false;
  ++bookmark->use_count;
  bookmark->last_used = now;
  const std::int32_t frame = BookmarkFrame(document, bookmark->position);
  SetSelection(document, frame, frame, frame);
  document.Notify(kBookmarksChanged);
  return true;
}

std::string DefaultBookmarkName(const AudioDocument& document) {
  return Cut(DisplayTitle(document), 60) + "@" +
         FormatTimeHundredths(FramesToMs(document.state.cursor, document.sound.rate));
}

std::string DefaultRegionName(const AudioDocument& document) {
  const std::int32_t rate = document.sound.rate;
  return Cut(DisplayTitle(document), 55) + "@" +
         FormatTimeHundredths(FramesToMs(document.state.selection_start, rate)) + "-" +
         FormatTimeHundredths(FramesToMs(document.state.selection_end, rate));
}

Region MakeRegion(const AudioDocument& document, std::string_view name) {
  const std::int32_t length = SoundLength(document.sound);
  const std::int32_t start = std::clamp(document.state.selection_start, 0, length);
  const std::int32_t end = std::clamp(document.state.selection_end, start, length);
  Region region{Sound(document.sound.rate, document.sound.channels), Cut(name, kMaxBookmarkName),
                Cut(DisplayTitle(document), kMaxBookmarkName), FrameToBookmarkMs(document, start),
                FrameToBookmarkMs(document, end)};
  CopyRange(document.sound, region.audio, start, end);
  return region;
}

std::string BookmarkSidecarPath(std::string_view document_path) {
  const std::size_t folder = document_path.find_last_of("/\\");
  const std::size_t dot = document_path.rfind('.');
  std::string path(document_path);
  const bool has_extension = dot != std::string_view::npos && dot != 0 &&
                             (folder == std::string_view::npos || dot > folder);
  if (has_extension) path = std::string(document_path.substr(0, dot)) + ".wbm";
  return std::string(CutUtf8(path, kMaxPathBytes));
}

BookmarkRead ReadBookmarks(ByteSource& bytes, BookmarkList& list) {
  Reader reader(bytes);
  const std::uint32_t version = reader.Unsigned(1);
  if (!reader.ok() || version < kSidecarVersion) return BookmarkRead::kOldVersion;
  const std::uint32_t count = reader.Unsigned(1);
  if (!reader.ok()) return BookmarkRead::kTruncated;
  for (std::uint32_t i = 0; i < count; ++i) {
    Bookmark bookmark;
    bookmark.name = reader.Text();
    bookmark.source_title = reader.Text();
    bookmark.position = static_cast<std::int32_t>(reader.Unsigned(4));
    bookmark.use_count = static_cast<std::uint8_t>(reader.Unsigned(1));
    bookmark.last_used = reader.Unsigned(4);
    if (!reader.ok()) return BookmarkRead::kTruncated;
    list.Add(std::move(bookmark));
  }
  return BookmarkRead::kRead;
}

std::optional<std::vector<std::uint8_t>> BookmarkFileBytes(const BookmarkList& list) {
  if (list.size() > kMaxBookmarks) return std::nullopt;
  std::vector<std::uint8_t> out{kSidecarVersion, static_cast<std::uint8_t>(list.size())};
  for (const Bookmark& bookmark : list.bookmarks()) {
    PutStoredText(out, bookmark.name);
    PutStoredText(out, bookmark.source_title);
    PutUnsigned(out, static_cast<std::uint32_t>(bookmark.position), 4);
    PutUnsigned(out, bookmark.use_count, 1);
    PutUnsigned(out, bookmark.last_used, 4);
  }
  return out;
}

void LoadBookmarkFile(AudioDocument& document) {
  const std::string path = BookmarkSidecarPath(document.path);
  document.unread_sidecar.clear();
  const std::unique_ptr<ByteSource> bytes = OpenFileBytes(path);
  std::error_code ignored;
  if (!bytes) {
    if (std::filesystem::exists(path, ignored)) document.unread_sidecar = path;
    return;
  }
  if (ReadBookmarks(*bytes, document.bookmarks) == BookmarkRead::kOldVersion && bytes->Size() > 0)
    document.unread_sidecar = path;
}

std::optional<Message> SaveBookmarkFile(AudioDocument& document) {
  const std::string path = BookmarkSidecarPath(document.path);
  if (document.bookmarks.size() == 0) {
    if (path != document.unread_sidecar) RemoveFile(path);
    return std::nullopt;
  }
  const std::optional<std::vector<std::uint8_t>> bytes = BookmarkFileBytes(document.bookmarks);
  if (!bytes) return FullMessage();
  if (!ReplaceFileContents(path, bytes->data(), bytes->size()))
    return Message{"Die Lesezeichen konnten nicht in \"" + path + "\" gespeichert werden.",
                   "Sonavel", MessageIcon::kWarning, MessageButtons::kOk};
  if (path == document.unread_sidecar) document.unread_sidecar.clear();
  return std::nullopt;
}

}  // namespace sonavel
