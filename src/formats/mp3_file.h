#pragma once
// ".mp3" files: MPEG-1, -2 and -2.5 Layer III frames, decoded by the program's own frame
// decoder. The first frame that another frame of its stream follows fixes the stream
// (version, rate, mono or not); an ID3v2 tag before it and an ID3v1 tag at the end are
// passed over. The length comes from a Xing, "Info" or VBRI tag in the first frame, else
// from the bit rates of the first frames until a read reaches the real end; with gapless
// loading the encoder delay and padding of a LAME tag and the decoder's delay are cut off.

#include <cstdint>
#include <memory>
#include <optional>

#include "formats/format_table.h"
#include "formats/mp3_header.h"
#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

// The decoder's own delay in samples, which gapless loading cuts off with the encoder's.
inline constexpr int kMp3DecoderDelay = 529;

// What an open MP3 reader found, for `info`.
struct Mp3Summary {
  mp3::FrameHeader first;        // the header that fixed the stream
  bool variable_bit_rate = false;  // a Xing or VBRI tag, or differing bit rates in the first frames
  bool gapless = false;          // delay and padding are cut off
  int delay = 0;                 // the encoder's, of the LAME tag (gapless only)
  int padding = 0;
  bool length_is_exact = false;  // from a tag, or the real end was reached
};

// Never fails to return a source: bytes with no stream of Layer III frames give status
// Corrupt (null bytes: CannotOpen); such a source is silent and has length 0. `gapless`:
// trim by a LAME tag when the file has one.
SourceRef OpenMp3Reader(std::unique_ptr<ByteSource> bytes, bool gapless);

// The summary of a reader made by OpenMp3Reader; nothing for any other source.
std::optional<Mp3Summary> Mp3ReaderSummary(const SampleSource& source);

// The format table's entry: ".mp3", read only.
FileFormat Mp3FileFormat();

}  // namespace sonavel
