// Fuzz target for the WAV reader: any bytes as a file, opened, read through, sought and
// read again. The reader must never crash, hang or read out of bounds, and must keep its
// promises: a failed reader is silent, a reader delivers exactly what was asked for, and
// its length is what the file holds, whatever the header claims.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/wav_reader.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sonavel::SourceRef reader = sonavel::OpenWavReader(sonavel::MemoryBytes(std::vector<std::uint8_t>(data, data + size)));
  const std::size_t channels = reader->channels;
  if (const sonavel::WavReader* wav = sonavel::AsWavReader(reader.get()); wav != nullptr) {
    const std::int64_t present = wav->PresentDataBytes();
    if (present < 0 || present > wav->ClaimedDataBytes() || present > static_cast<std::int64_t>(size))
      __builtin_trap();
    // Every PCM frame takes at least one byte a channel of what is present.
    if (wav->format().tag == sonavel::kTagPcm && std::int64_t{reader->Length()} * std::int64_t(channels) > present)
      __builtin_trap();
  }
  std::vector<std::int32_t> buffer(8192 * channels + 1, 0x5A5A5A5A);
  // Read through, but not forever: a coded file may decode to many frames a byte.
  for (int piece = 0; piece < 64 && reader->Position() < reader->Length(); ++piece) {
    reader->Read(buffer.data(), 8192);
    if (buffer[8192 * channels] != 0x5A5A5A5A) __builtin_trap();  // wrote past the request
    if (reader->status != sonavel::kStatusOk)
      for (std::size_t i = 0; i < 8192 * channels; ++i)
        if (buffer[i] != 0) __builtin_trap();  // a failed reader delivers silence
  }
  const std::int32_t length = reader->Length();
  for (std::int32_t frame : {-3, 1, length / 2, length - 1, length + 5}) {
    reader->Seek(frame);
    // A usable reader lands where it was sent.
    if (reader->status == sonavel::kStatusOk && reader->Position() != frame) __builtin_trap();
    reader->Read(buffer.data(), 100);
  }
  return 0;
}
