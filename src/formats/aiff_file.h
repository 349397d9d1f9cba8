#pragma once
// AIFF and AIFF-C files. The reader takes linear samples of 8, 16, 24 and 32 bits, and
// the AIFF-C codings "NONE" (and its alias "twos"), "sowt" (little-endian), "fl32" and
// "fl64"; the writer writes 16-bit AIFF behind a 54-byte header. Both deliver and take
// store-scale samples (a 16-bit sample times 16).

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "formats/format_table.h"
#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr std::int64_t kAiffHeaderSize = 54;

// A rate as the 80-bit extended float of the COMM chunk: exponent word, then the rate
// shifted up until its top bit is set as the high 32 bits of the mantissa, low 32 bits 0.
// `rate` must be at least 1.
std::array<std::uint8_t, 10> AiffRateBytes(std::uint32_t rate);
// The rate of an 80-bit extended float, rounded half up to a whole number. 0 when it is
// none: negative, below 1 or at 2^32 and above (the mantissa shift would leave 0..31).
std::uint32_t AiffRateFromBytes(const std::uint8_t* bytes);

// The 54-byte header of a 16-bit AIFF file of `frames` frames; a provisional header
// describes an empty file whose sound data runs to the end (SSND size 0xFFFFFFFF). False,
// with `header` untouched, when the data is too large for the 32-bit size fields or the
// rate is 0.
bool AiffHeader(std::uint8_t (&header)[kAiffHeaderSize], std::uint8_t channels, std::uint32_t rate,
                std::int64_t frames, bool provisional);

// Never fails to return a source: a file that is not AIFF, or whose header is out of
// bounds, gives status Corrupt; a coding we do not read gives CodecMissing (null bytes:
// CannotOpen). Such a source delivers silence and has length 0.
SourceRef OpenAiffReader(std::unique_ptr<ByteSource> bytes);

// A 16-bit AIFF writer. A file that cannot be created, or a rate below 1, makes the sink
// unusable; sound beyond what the 32-bit size fields hold is dropped with the
// write-failed bit set, so the save fails instead of leaving wrapped sizes.
SinkRef CreateAiffWriter(std::int32_t rate, std::uint8_t channels, const std::string& path);

// The format table's entry: ".aif", ".aiff" and ".aifc".
FileFormat AiffFileFormat();

}  // namespace sonavel
