// Reads a sound file through its reader of the format table to the end and throws the
// samples away: the decoder alone, for timing against a peer decoding to /dev/null.
// Prints the frames read and a checksum of the samples, so no work can be left out.
// Usage: decode_only FILE

#include <cstdint>
#include <cstdio>
#include <vector>

#include "formats/format_table.h"
#include "store/stream.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: decode_only FILE\n");
    return 2;
  }
  sonavel::SourceRef reader = sonavel::OpenFormatReader(argv[1]);
  if (reader->status != sonavel::kStatusOk) {
    std::fprintf(stderr, "%s\n", sonavel::OpenErrorText(argv[1], reader->status).c_str());
    return 1;
  }
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(sonavel::kChunkFrames) * reader->channels);
  std::uint64_t frames = 0;
  std::uint32_t checksum = 0;
  // The length may grow or shrink while reading (estimated lengths are corrected at the end).
  while (reader->Position() < reader->Length()) {
    reader->Read(buffer.data(), sonavel::kChunkFrames);
    for (std::int32_t sample : buffer) checksum = checksum * 31u + static_cast<std::uint32_t>(sample);
    frames += sonavel::kChunkFrames;
  }
  std::printf("%llu frames read, checksum %08x\n", static_cast<unsigned long long>(frames), checksum);
  return 0;
}
