// Fuzz target for the tag readers and the INFO writer: the first byte picks ID3v1 (even) or
// RIFF INFO (odd), the rest is the file. Both readers read it from memory; the writer then
// writes a fixed list into a copy. Nothing may crash or read out of bounds, a write must
// leave every byte of a "data" chunk as it was, and a file it refused must be unchanged.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/tag_files.h"
#include "platform/byte_source.h"

namespace {

// The offset and size of the first "data" chunk inside a RIFF/WAVE form, as far as the
// file holds it; size 0 without one.
std::pair<std::size_t, std::size_t> DataChunk(const std::vector<std::uint8_t>& file) {
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
    return {0, 0};
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::uint32_t size = file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 |
                               static_cast<std::uint32_t>(file[at + 7]) << 24;
    if (std::memcmp(file.data() + at, "data", 4) == 0)
      return {at + 8, std::min<std::size_t>(size, file.size() - at - 8)};
    at += 8 + std::size_t{size} + (size & 1);
  }
  return {0, 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool id3 = (data[0] & 1) == 0;
  std::vector<std::uint8_t> file(data + 1, data + size);
  sonavel::TagList tags;
  std::unique_ptr<sonavel::ByteSource> bytes = sonavel::MemoryBytes(file);
  sonavel::ReadId3v1(*bytes, tags);
  sonavel::ReadInfo(*bytes, tags, !id3);
  for (const auto& entry : tags.entries())
    if (sonavel::TagTextToDisk(entry.text, 1 << 16).size() > entry.text.size()) __builtin_trap();

  sonavel::TagList written;
  written.Set("TITLE", "Titel \xC3\xBC");
  written.Set("ARTIST", "Bob");
  written.Set("GENRE", "Pop");
  written.Set("TRACKNUMBER", "300");
  std::vector<std::uint8_t> copy = file;
  std::unique_ptr<sonavel::EditableBytes> editable = sonavel::EditableMemory(copy);
  if (id3) {
    const bool tagged = file.size() >= 128 && std::memcmp(file.data() + file.size() - 128, "TAG", 3) == 0;
    if (sonavel::WriteId3v1(*editable, written) != sonavel::TagWrite::kWritten) __builtin_trap();
    // Everything before the block stays.
    const std::size_t kept = tagged ? file.size() - 128 : file.size();
    if (copy.size() != kept + 128 || !std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(kept), copy.begin()))
      __builtin_trap();
    return 0;
  }
  const auto [offset, length] = DataChunk(file);
  const sonavel::TagWrite result = sonavel::WriteInfo(*editable, written);
  if (result == sonavel::TagWrite::kSkipped && copy != file) __builtin_trap();
  if (copy.size() < file.size() ||
      !std::equal(file.begin() + static_cast<std::ptrdiff_t>(offset),
                  file.begin() + static_cast<std::ptrdiff_t>(offset + length), copy.begin() + static_cast<std::ptrdiff_t>(offset)))
    __builtin_trap();
  // What was written reads back.
  if (result == sonavel::TagWrite::kWritten) {
    sonavel::TagList read;
    std::unique_ptr<sonavel::ByteSource> again = sonavel::MemoryBytes(copy);
    sonavel::ReadInfo(*again, read, true);
    if (read.Get("ARTIST") != "Bob" || read.Get("TITLE") != "Titel \xC3\xBC") __builtin_trap();
  }
  return 0;
}
