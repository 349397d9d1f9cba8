// Fuzz target for the readers of the format table other than WAV (which has a target of
// its own): the first byte picks the entry and, for headerless files, the raw settings;
// the rest is the file. Each reader is opened,
// read through, sought and read again. It must never crash, hang or read out of bounds,
// and must keep its promises: a failed reader is silent, a read writes exactly what was
// asked for, a usable reader lands where it is sought, and its length is what the bytes
// can hold, whatever the header claims.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/format_table.h"
#include "formats/raw_settings.h"
#include "platform/byte_source.h"

namespace {

// The most samples a format's reader may announce for its bytes: 160 into 33 for GSM, two
// a byte for the plain formats (4-bit ADPCM at most). The smallest MP3 frame (MPEG-2,
// 24 kHz, 8 kbit/s) is 24 bytes for 576 frames of up to 2 channels: 48 samples a byte; a
// length estimated from the bit rates may add 0.9 of a frame (1037 samples), and an MP3
// file under 128 bytes has no audio at all, so 64 a byte bounds it.
struct Packing {
  std::int64_t samples;
  std::int64_t bytes;
};
Packing MostSamples(const sonavel::FileFormat& format) {
  if (format.name == "GSM") return {160, 33};
  if (format.name == "MP3") return {64, 1};
  return {2, 1};
}

const std::vector<const sonavel::FileFormat*>& Readers() {
  static const std::vector<const sonavel::FileFormat*> readers = [] {
    std::vector<const sonavel::FileFormat*> list;
    for (const sonavel::FileFormat& format : sonavel::FormatTable())
      if (format.name != "WAV" && format.open) list.push_back(&format);
    return list;
  }();
  return readers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || Readers().empty()) return 0;
  const std::size_t choices = Readers().size();
  const sonavel::FileFormat& format = *Readers()[data[0] % choices];
  sonavel::OpenOptions options;
  const int pick = data[0] / static_cast<int>(choices);
  options.raw = sonavel::RawSettings{8000, 1 + pick % 2, (pick / 2) % sonavel::kRawCodecCount};
  const std::size_t file_size = size - 1;
  sonavel::SourceRef reader = format.open(sonavel::MemoryBytes(std::vector<std::uint8_t>(data + 1, data + size)), options);
  if (!reader) __builtin_trap();
  const std::size_t channels = reader->channels;
  const std::int32_t length = reader->Length();
  const Packing packing = MostSamples(format);
  if (length < 0 || std::int64_t{length} * std::int64_t(channels) * packing.bytes >
                        packing.samples * std::int64_t(file_size))
    __builtin_trap();
  if (reader->status != sonavel::kStatusOk && length != 0) __builtin_trap();
  if (format.describe) format.describe(*reader);

  // One step beyond the bound is allowed: a 16-bit -32768 reads as -524288.
  const std::int64_t peak = std::int64_t{reader->peak_bound} + 16;
  std::vector<std::int32_t> buffer(8192 * channels + 1, 0x5A5A5A5A);
  for (int piece = 0; piece < 64 && reader->Position() < reader->Length(); ++piece) {
    reader->Read(buffer.data(), 8192);
    if (buffer[8192 * channels] != 0x5A5A5A5A) __builtin_trap();  // wrote past the request
    for (std::size_t i = 0; i < 8192 * channels; ++i) {
      if (reader->status != sonavel::kStatusOk && buffer[i] != 0) __builtin_trap();  // a failed reader is silent
      if (std::llabs(buffer[i]) > peak) __builtin_trap();
    }
  }
  for (std::int32_t frame : {-3, 1, length / 2, length - 1, length + 5}) {
    reader->Seek(frame);
    if (reader->status == sonavel::kStatusOk && reader->Position() != frame) __builtin_trap();
    reader->Read(buffer.data(), 100);
    if (buffer[8192 * channels] != 0x5A5A5A5A) __builtin_trap();
  }
  return 0;
}
