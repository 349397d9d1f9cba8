#pragma once
// Dialogic VOX ADPCM: mono, 4 bits per sample, two samples per byte with the high nibble
// first. Files are headerless; the rate comes from the settings.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

// The largest magnitude the decoder delivers.
inline constexpr std::int32_t kVoxPeak = 0x200000;

// What the decoder and the encoder carry from sample to sample.
struct VoxState {
  int index = 0;  // into the step sizes, 0..48
  std::int32_t predictor = 0;
};

// The store sample of one nibble. The predictor decays towards 0 by 1/64 each step.
std::int32_t DecodeVoxNibble(VoxState& state, unsigned nibble);
// The samples of `bytes` whole bytes, high nibble first, into 2 × `bytes` samples at `out`:
// DecodeVoxNibble on each nibble in turn, in one loop without branches.
void DecodeVoxBytes(VoxState& state, const std::uint8_t* in, std::size_t bytes, std::int32_t* out);
// The nibble of one store sample.
unsigned EncodeVoxSample(VoxState& state, std::int32_t sample);

// The reader: two samples per byte of the file; a read of an odd count keeps the unused
// low nibble for the next read. A null `file` gives status CannotOpen.
SourceRef OpenVoxReader(std::unique_ptr<ByteSource> file, std::int32_t rate);
// True when `source` is a reader made by OpenVoxReader.
bool IsVoxReader(const SampleSource& source);
// The writer packs two nibbles per byte; a nibble left over at the end of a write waits for
// the next one, and one left when the writer is finished goes out with a zero low nibble.
SinkRef CreateVoxWriter(const std::string& path, std::int32_t rate);

}  // namespace sonavel
