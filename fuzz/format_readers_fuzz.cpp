// Fuzz target for the readers of the format table other than WAV (which has its own): the
// first byte picks the format, the rest is the file. Each reader is opened, read through,
// sought and read again. It must never crash, hang or read out of bounds, a failed reader
// is silent, a read fills exactly what was asked for, and a length is what the bytes can
// hold, whatever the header claims.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<const sonavel::FileFormat*> formats;
  for (const sonavel::FileFormat& format : sonavel::FormatTable())
    if (format.name != "WAV") formats.push_back(&format);
  if (formats.empty()) return 0;
  const sonavel::FileFormat& format = *formats[data[0] % formats.size()];
  const std::int64_t bytes = static_cast<std::int64_t>(size - 1);
  sonavel::SourceRef reader =
      format.open(sonavel::MemoryBytes(std::vector<std::uint8_t>(data + 1, data + size)), sonavel::OpenOptions{});
  const std::size_t channels = reader->channels;
  // The densest coding of any of these formats makes fewer than 8 samples of a byte.
  if (std::int64_t{reader->Length()} * std::int64_t(channels) > 8 * bytes) __builtin_trap();
  if (reader->status != sonavel::kStatusOk && reader->Length() != 0) __builtin_trap();
  std::vector<std::int32_t> buffer(8192 * channels + 1, 0x5A5A5A5A);
  for (int piece = 0; piece < 64 && reader->Position() < reader->Length(); ++piece) {
    reader->Read(buffer.data(), 8192);
    if (buffer[8192 * channels] != 0x5A5A5A5A) __builtin_trap();  // wrote past the request
    if (reader->status != sonavel::kStatusOk)
      for (std::size_t i = 0; i < 8192 * channels; ++i)
        if (buffer[i] != 0) __builtin_trap();  // a failed reader delivers silence
  }
  if (format.describe) format.describe(*reader);
  const std::int32_t length = reader->Length();
  for (std::int32_t frame : {-3, 1, length / 2, length - 1, length + 5}) {
    reader->Seek(frame);
    if (reader->status == sonavel::kStatusOk && reader->Position() != frame) __builtin_trap();
    reader->Read(buffer.data(), 100);
    if (buffer[8192 * channels] != 0x5A5A5A5A) __builtin_trap();
  }
  return 0;
}
