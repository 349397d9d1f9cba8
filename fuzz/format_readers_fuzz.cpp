// Fuzz target for the readers of the format table other than WAV: the first input byte
// picks the entry (and, for headerless files, the raw settings), the rest is the file.
// Opened, read through, sought and read again, a reader must never crash, hang or write
// beyond a request; a failed reader is silent, samples keep to the peak bound, and the
// length is no more than the bytes can hold.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/format_table.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<sonavel::FileFormat>& table = sonavel::FormatTable();
  if (size < 1 || table.size() < 2) return 0;
  const std::size_t choices = table.size() - 1;
  const sonavel::FileFormat& entry = table[1 + data[0] % choices];
  sonavel::OpenOptions options;
  const int pick = data[0] / static_cast<int>(choices);
  options.raw = sonavel::RawSettings{8000, 1 + pick % 2, (pick / 2) % sonavel::kRawCodecCount};
  const std::size_t file_size = size - 1;
  sonavel::SourceRef reader = entry.open(sonavel::MemoryBytes(std::vector<std::uint8_t>(data + 1, data + size)), options);
  const std::size_t channels = reader->channels;
  // No coding here takes less than half a byte a sample.
  if (std::int64_t{reader->Length()} * std::int64_t(channels) > 2 * std::int64_t(file_size)) __builtin_trap();
  // One step beyond the bound is allowed: a 16-bit -32768 reads as -524288.
  const std::int64_t peak = std::int64_t{reader->peak_bound} + 16;
  std::vector<std::int32_t> buffer(8192 * channels + 1, 0x5A5A5A5A);
  auto check = [&](std::size_t frames) {
    if (buffer[8192 * channels] != 0x5A5A5A5A) __builtin_trap();  // wrote past the request
    for (std::size_t i = 0; i < frames * channels; ++i) {
      if (reader->status != sonavel::kStatusOk && buffer[i] != 0) __builtin_trap();
      if (std::llabs(buffer[i]) > peak) __builtin_trap();
    }
  };
  for (int piece = 0; piece < 64 && reader->Position() < reader->Length(); ++piece) {
    reader->Read(buffer.data(), 8192);
    check(8192);
  }
  const std::int32_t length = reader->Length();
  for (std::int32_t frame : {-3, 1, length / 2, length - 1, length + 5}) {
    reader->Seek(frame);
    if (reader->status == sonavel::kStatusOk && reader->Position() != frame) __builtin_trap();
    reader->Read(buffer.data(), 101);
    check(101);
  }
  return 0;
}
