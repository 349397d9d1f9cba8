#include "formats/tag_files.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "formats/open_file.h"
#include "platform/file.h"

namespace sonavel {

namespace {

// Windows-1252 0x80 … 0x9F; the five bytes it leaves undefined map to the C1 controls.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The code point at `at` and its length in bytes; nullopt for bytes that are no UTF-8
// (overlong forms, surrogates and values beyond U+10FFFF included).
std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return std::pair<char32_t, std::size_t>{lead, 1};
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return std::nullopt;
  char32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  return std::pair<char32_t, std::size_t>{code, length};
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto decoded = DecodeUtf8(text, at);
    if (!decoded) return false;
    at += decoded->second;
  }
  return true;
}

char ToWindows1252(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
  for (std::size_t i = 0; i < kHighControls.size(); ++i)
    if (kHighControls[i] == code) return static_cast<char>(0x80 + i);
  return '?';
}

std::uint32_t U32At(const std::uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}
void PutU32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::int64_t Even(std::int64_t size) { return size + (size & 1); }

bool ReadAt(ByteSource& file, std::int64_t offset, void* buffer, std::size_t bytes) {
  return file.Seek(offset) && file.Read(buffer, bytes) == bytes;
}
bool WriteAt(EditableBytes& file, std::int64_t offset, const void* buffer, std::size_t bytes) {
  return file.Seek(offset) && file.Write(buffer, bytes);
}
// `size` bytes at `offset`, or nothing when the file holds fewer.
std::optional<std::string> ReadBytes(ByteSource& file, std::int64_t offset, std::int64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!ReadAt(file, offset, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

// ---- ID3v1.1 ----

constexpr std::int64_t kId3v1Size = 128;
constexpr std::uint8_t kNoGenre = 255;  // the players' "no genre"

struct TextField {
  std::string_view name;
  std::size_t offset;
  std::size_t size;
  std::size_t limit;  // characters read and written; the 30-byte fields end in a zero
};
constexpr TextField kTextFields[] = {
    {"TITLE", 3, 30, 29}, {"ARTIST", 33, 30, 29}, {"ALBUM", 63, 30, 29}, {"DATE", 93, 4, 4}};

std::string_view Field(const std::array<std::uint8_t, kId3v1Size>& block, std::size_t offset, std::size_t size) {
  return {reinterpret_cast<const char*>(block.data()) + offset, size};
}

// The track's decimal value, or nullopt when the text does not begin with a digit.
std::optional<int> LeadingNumber(std::string_view text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = (value * 10 + (text[i] - '0')) & 0xFFFF;  // only the low 8 bits are stored
  return value;
}

// ---- RIFF INFO ----

struct InfoName {
  char id[5];
  std::string_view name;
  bool written;  // IPRD is only read
};
constexpr InfoName kInfoNames[] = {{"IART", "ARTIST", true}, {"INAM", "ALBUM", true},  {"ICOP", "DATE", true},
                                   {"IGNR", "GENRE", true},  {"ITRK", "TRACKNUMBER", true}, {"ICMT", "COMMENT", true},
                                   {"IPRD", "TITLE", false}};
constexpr char kBlankId[] = "    ";
constexpr std::size_t kMaxDispText = 520;
constexpr std::int64_t kMaxTextRead = 1 << 16;  // longer sub-chunks are skipped, not read
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;

const InfoName* InfoById(std::string_view id) {
  for (const InfoName& info : kInfoNames)
    if (id == info.id) return &info;
  return nullptr;
}
const InfoName* InfoByName(std::string_view name) {
  for (const InfoName& info : kInfoNames)
    if (info.written && name == info.name) return &info;
  return nullptr;
}

struct Chunk {
  std::int64_t offset = 0;  // of the header
  std::string id;
  std::uint32_t size = 0;
};

// The file's chunks as the WAV reader walks them: top-level chunks until "RIFF"/"WAVE", then
// its sub-chunks up to the end of the file. `riff` receives the form's offset (-1 without
// one); `end` the offset after the last chunk (with its pad); `whole` whether every chunk
// lies within the file (an odd last chunk may lack its pad byte).
struct Walk {
  std::int64_t riff = -1;
  std::int64_t end = 0;
  bool whole = true;
  std::vector<Chunk> chunks;
};

Walk WalkChunks(ByteSource& file) {
  Walk walk;
  const std::int64_t size = file.Size();
  std::int64_t at = 0;
  std::uint8_t header[12];
  while (walk.riff < 0) {
    if (at + 12 > size || !ReadAt(file, at, header, 12)) return walk;
    if (std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0) {
      walk.riff = at;
      at += 12;
    } else {
      at += 8 + Even(U32At(header + 4));
    }
  }
  while (at + 8 <= size && ReadAt(file, at, header, 8)) {
    Chunk chunk{at, std::string(reinterpret_cast<char*>(header), 4), U32At(header + 4)};
    walk.chunks.push_back(chunk);
    at += 8 + Even(chunk.size);
  }
  walk.end = std::max<std::int64_t>(at, walk.riff + 12);
  walk.whole = at <= size + 1 && (at <= size || (walk.chunks.back().size & 1) != 0);
  return walk;
}

bool IsInfoList(ByteSource& file, const Chunk& chunk) {
  char type[4];
  return chunk.id == "LIST" && chunk.size >= 4 && ReadAt(file, chunk.offset + 8, type, 4) &&
         std::memcmp(type, "INFO", 4) == 0;
}

// A DISP chunk of non-zero type, which holds a title.
bool IsTitleChunk(ByteSource& file, const Chunk& chunk) {
  std::uint8_t type[4];
  return chunk.id == "DISP" && chunk.size >= 4 && ReadAt(file, chunk.offset + 8, type, 4) && U32At(type) != 0;
}

// The sub-chunks of an INFO list that lie wholly within the list and the file.
std::vector<Chunk> SubChunks(ByteSource& file, const Chunk& list) {
  std::vector<Chunk> subs;
  const std::int64_t end = std::min(list.offset + 8 + list.size, file.Size());
  std::uint8_t header[8];
  for (std::int64_t at = list.offset + 12; at + 8 <= end && ReadAt(file, at, header, 8);) {
    Chunk sub{at, std::string(reinterpret_cast<char*>(header), 4), U32At(header + 4)};
    if (at + 8 + sub.size > end) break;
    subs.push_back(sub);
    at += 8 + Even(sub.size);
  }
  return subs;
}

void SetTag(TagList& tags, std::string_view name, std::string_view bytes, bool overwrite) {
  if (!overwrite && !tags.Get(name).empty()) return;
  tags.Set(name, TagTextFromDisk(bytes));
}

// The bytes of a text sub-chunk or DISP body: the text, its zero, padded to even.
std::string Padded(std::string text) {
  text.resize(static_cast<std::size_t>(Even(static_cast<std::int64_t>(text.size()) + 1)), '\0');
  return text;
}
std::string SubChunk(std::string_view id, const std::string& text) {
  std::string bytes(id);
  std::uint8_t size[4];
  PutU32(size, static_cast<std::uint32_t>(text.size() + 1));
  bytes.append(reinterpret_cast<char*>(size), 4);
  return bytes + Padded(text);
}

}  // namespace

std::string TagTextFromDisk(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    AppendUtf8(text, byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte);
  }
  return text;
}

std::string TagTextToDisk(std::string_view text, std::size_t limit) {
  std::string bytes;
  for (std::size_t at = 0; at < text.size() && bytes.size() < limit;) {
    const auto decoded = DecodeUtf8(text, at);
    bytes += decoded ? ToWindows1252(decoded->first) : '?';
    at += decoded ? decoded->second : 1;
  }
  return bytes;
}

void ReadId3v1(ByteSource& file, TagList& tags) {
  std::array<std::uint8_t, kId3v1Size> block{};
  const std::int64_t size = file.Size();
  if (size < kId3v1Size || !ReadAt(file, size - kId3v1Size, block.data(), block.size()) ||
      std::memcmp(block.data(), "TAG", 3) != 0)
    return;
  for (const TextField& field : kTextFields) tags.Set(field.name, TagTextFromDisk(Field(block, field.offset, field.limit)));
  const bool has_track = block[125] == 0 && block[126] != 0;
  tags.Set("COMMENT", TagTextFromDisk(Field(block, 97, has_track ? 28 : 29)));
  if (has_track) tags.Set("TRACKNUMBER", std::to_string(block[126]));
  const std::uint8_t genre = block[127];
  if (genre < kGenreCount)
    tags.Set("GENRE", GenreNames()[genre]);
  else if (genre != kNoGenre)
    tags.Set("GENRE", std::to_string(genre));
}

TagWrite WriteId3v1(EditableBytes& file, const TagList& tags) {
  std::array<std::uint8_t, kId3v1Size> block{};
  const std::int64_t size = file.Size();
  // A file shorter than a block has none: it gains one at its end.
  bool in_place = size >= kId3v1Size && ReadAt(file, size - kId3v1Size, block.data(), block.size()) &&
                  std::memcmp(block.data(), "TAG", 3) == 0;
  if (!in_place) {
    // A list without any text adds no empty block to an untagged file.
    if (std::all_of(kTagNames.begin(), kTagNames.end(), [&](std::string_view name) { return tags.Get(name).empty(); }))
      return TagWrite::kSkipped;
    block.fill(0);
    block[127] = kNoGenre;
  }
  std::memcpy(block.data(), "TAG", 3);
  const auto put = [&](std::size_t offset, std::size_t field_size, std::size_t limit, std::string_view name) {
    const std::string text = tags.Get(name);
    if (text.empty()) return;
    const std::string bytes = TagTextToDisk(text, limit);
    std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(offset), std::min(field_size, limit + 1), 0);
    std::memcpy(block.data() + offset, bytes.data(), bytes.size());
  };
  for (const TextField& field : kTextFields) put(field.offset, field.size, field.limit, field.name);
  for (std::size_t offset : {32, 62, 92}) block[offset] = 0;
  put(97, 28, 28, "COMMENT");
  block[125] = 0;
  if (const std::string track = tags.Get("TRACKNUMBER"); !track.empty())
    if (const std::optional<int> number = LeadingNumber(track)) block[126] = static_cast<std::uint8_t>(*number);
  if (const std::string genre = tags.Get("GENRE"); !genre.empty()) {
    if (const std::optional<int> number = LeadingNumber(genre)) {
      block[127] = static_cast<std::uint8_t>(*number);
    } else if (const int index = GenreIndex(genre); index >= 0) {
      block[127] = static_cast<std::uint8_t>(index);
    }
  }
  return WriteAt(file, in_place ? size - kId3v1Size : size, block.data(), block.size()) ? TagWrite::kWritten
                                                                                         : TagWrite::kFailed;
}

void ReadInfo(ByteSource& file, TagList& tags, bool overwrite) {
  for (const Chunk& chunk : WalkChunks(file).chunks) {
    if (IsInfoList(file, chunk)) {
      for (const Chunk& sub : SubChunks(file, chunk)) {
        const InfoName* info = InfoById(sub.id);
        if (info == nullptr || sub.size > kMaxTextRead) continue;
        const std::optional<std::string> data = ReadBytes(file, sub.offset + 8, sub.size);
        if (!data) return;
        SetTag(tags, info->name, *data, overwrite);
      }
    } else if (chunk.size <= kMaxTextRead && IsTitleChunk(file, chunk)) {
      const std::optional<std::string> data = ReadBytes(file, chunk.offset + 12, chunk.size - 4);
      if (!data) return;
      SetTag(tags, "TITLE", *data, overwrite);
    }
  }
}

TagWrite WriteInfo(EditableBytes& file, const TagList& given) {
  const Walk walk = WalkChunks(file);
  if (walk.riff < 0 || !walk.whole) return TagWrite::kSkipped;
  for (const Chunk& chunk : walk.chunks)
    if (chunk.id == "data" && chunk.size == kUnknownSize) return TagWrite::kSkipped;
  // The file's own tags that the list lacks stay.
  TagList tags = given;
  ReadInfo(file, tags, false);

  // Plan every write first, so that a file left alone is not touched at all.
  struct Pending {
    std::int64_t offset;
    std::string bytes;
  };
  std::vector<Pending> writes;
  struct Value {
    const InfoName* info;
    std::string bytes;  // on the disk, without the zero
    bool written;
  };
  std::vector<Value> values;
  for (const TagList::Entry& entry : tags.entries())
    if (const InfoName* info = InfoByName(entry.name); info != nullptr && !entry.text.empty())
      values.push_back({info, TagTextToDisk(entry.text, kMaxTextRead - 1), false});
  const std::string title = TagTextToDisk(tags.Get("TITLE"), kMaxDispText);
  std::string disp_body = std::string("\1\0\0\0", 4) + Padded(title);
  bool title_written = title.empty();

  const Chunk* last_title = nullptr;
  for (const Chunk& chunk : walk.chunks) {
    if (IsInfoList(file, chunk)) {
      std::vector<Chunk> subs = SubChunks(file, chunk);
      for (Chunk& sub : subs) {
        if (InfoById(sub.id) == nullptr) continue;
        sub.id = kBlankId;
        writes.push_back({sub.offset, kBlankId});
      }
      for (Value& value : values) {
        if (value.written) continue;
        for (Chunk& sub : subs) {
          if (sub.id != kBlankId || sub.size != value.bytes.size() + 1) continue;
          sub.id = value.info->id;
          std::string bytes = SubChunk(sub.id, value.bytes);
          // The pad byte is written only where the list holds it.
          if (sub.offset + static_cast<std::int64_t>(bytes.size()) > chunk.offset + 8 + chunk.size) bytes.pop_back();
          writes.push_back({sub.offset, std::move(bytes)});
          value.written = true;
          break;
        }
      }
    } else if (IsTitleChunk(file, chunk)) {
      last_title = &chunk;
    }
  }
  // Only the last title chunk is rewritten in place: a reader takes the last one.
  if (!title_written && last_title != nullptr && last_title->size == disp_body.size()) {
    writes.push_back({last_title->offset + 8, disp_body});
    title_written = true;
  }

  std::string appended;
  std::string list;
  for (const Value& value : values)
    if (!value.written) list += SubChunk(value.info->id, value.bytes);
  const auto append_chunk = [&](std::string_view id, const std::string& body) {
    std::uint8_t size[4];
    PutU32(size, static_cast<std::uint32_t>(body.size()));
    appended += std::string(id) + std::string(reinterpret_cast<char*>(size), 4) + body;
  };
  if (!list.empty()) append_chunk("LIST", "INFO" + list);
  if (!title_written) append_chunk("DISP", disp_body);
  if (!appended.empty()) {
    const std::int64_t length = walk.end + static_cast<std::int64_t>(appended.size());
    if (length - walk.riff - 8 > static_cast<std::int64_t>(kUnknownSize)) return TagWrite::kSkipped;
    // After an odd last chunk without its pad byte the pad comes first.
    if (walk.end > file.Size()) appended.insert(appended.begin(), '\0');
    writes.push_back({std::min(walk.end, file.Size()), std::move(appended)});
    std::uint8_t riff_size[4];
    PutU32(riff_size, static_cast<std::uint32_t>(length - walk.riff - 8));
    writes.push_back({walk.riff + 4, std::string(reinterpret_cast<char*>(riff_size), 4)});
  }
  for (const Pending& write : writes)
    if (!WriteAt(file, write.offset, write.bytes.data(), write.bytes.size())) return TagWrite::kFailed;
  return TagWrite::kWritten;
}

bool HasTags(const std::string& path) {
  const std::string extension = FileExtension(path);
  return extension == ".mp3" || extension == ".wav";
}

void ReadTags(TagList& tags, const std::string& path) {
  if (!HasTags(path)) return;
  std::unique_ptr<ByteSource> file = OpenFileBytes(path);
  if (!file) return;
  if (FileExtension(path) == ".mp3")
    ReadId3v1(*file, tags);
  else
    ReadInfo(*file, tags, true);
}

TagWrite WriteTags(const TagList& tags, const std::string& path, const std::string& extension_of) {
  if (!HasTags(extension_of)) return TagWrite::kSkipped;
  std::unique_ptr<EditableBytes> file = OpenEditableFile(path);
  if (!file) return TagWrite::kFailed;
  return FileExtension(extension_of) == ".mp3" ? WriteId3v1(*file, tags) : WriteInfo(*file, tags);
}

}  // namespace sonavel
