// Fuzz target for the dictation-file header: any bytes as a file. The walk must never
// crash, hang or read out of bounds, and the audio it finds must lie inside the file;
// that audio is then read as the WAV file it should be.

#include <cstdint>
#include <vector>

#include "formats/dct_file.h"
#include "formats/wav_reader.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const std::unique_ptr<sonavel::ByteSource> file = sonavel::MemoryBytes(bytes);
  const sonavel::DctLayout layout = sonavel::ParseDct(*file);
  if (!layout.error.empty()) {
    if (layout.audio_offset != 0 || layout.audio_length != 0) __builtin_trap();
    return 0;
  }
  const std::int64_t end = static_cast<std::int64_t>(size);
  if (layout.audio_offset < 0 || layout.audio_length < 0 || layout.audio_offset > end ||
      layout.audio_length > end - layout.audio_offset)
    __builtin_trap();
  const auto first = bytes.begin() + layout.audio_offset;
  sonavel::SourceRef reader = sonavel::OpenWavReader(
      sonavel::MemoryBytes(std::vector<std::uint8_t>(first, first + layout.audio_length)));
  std::vector<std::int32_t> buffer(4096 * reader->channels + 1);
  for (int piece = 0; piece < 16 && reader->Position() < reader->Length(); ++piece)
    reader->Read(buffer.data(), 4096);
  return 0;
}
