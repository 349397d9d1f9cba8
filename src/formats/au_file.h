#pragma once
// Sun AU files (".au"): a 24-byte big-endian header (".snd", data offset, data size,
// encoding, rate, channels), an optional annotation up to the data offset, then the
// samples. The reader takes µ-law, A-law, 8/16/24/32-bit linear and 32/64-bit float; the
// writer always writes 16-bit linear samples after the bare 24-byte header.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

// The encoding numbers of the header.
inline constexpr std::uint32_t kAuMuLaw = 1;
inline constexpr std::uint32_t kAuLinear8 = 2;
inline constexpr std::uint32_t kAuLinear16 = 3;
inline constexpr std::uint32_t kAuLinear24 = 4;
inline constexpr std::uint32_t kAuLinear32 = 5;
inline constexpr std::uint32_t kAuFloat = 6;
inline constexpr std::uint32_t kAuDouble = 7;
inline constexpr std::uint32_t kAuALaw = 27;

inline constexpr std::int64_t kAuHeaderSize = 24;
// The data size of a file whose writer did not know it: the data runs to the end.
inline constexpr std::uint32_t kAuSizeToEnd = 0xFFFFFFFF;

class AuReader : public SampleSource {
 public:
  using SampleSource::SampleSource;
  virtual std::uint32_t encoding() const = 0;
  // Bits a sample takes in the file.
  virtual int bits() const = 0;
  // The data bytes the header claims (the file's rest for "to the end") and the bytes of
  // them the file holds.
  virtual std::int64_t ClaimedDataBytes() const = 0;
  virtual std::int64_t PresentDataBytes() const = 0;
};

// Never fails to return a source: null bytes give CannotOpen; a short or damaged header,
// or channels outside 1..255 or a rate outside 1..196000, give Corrupt; an encoding this
// program does not decode gives CodecMissing. Such a source delivers silence.
SourceRef OpenAuReader(std::unique_ptr<ByteSource> bytes);

// The AU reader behind `source`, or null when it is another kind of source.
AuReader* AsAuReader(SampleSource* source);

// The final 24-byte header of a 16-bit file holding `data_bytes` of samples. Sizes that
// do not fit 32 bits are written as "to the end of the file", never wrapped.
std::vector<std::uint8_t> AuHeader(std::int64_t data_bytes, std::int32_t rate, std::uint8_t channels);

// A 16-bit big-endian writer. Until its last reference is released the header's data size
// is "to the end of the file". A file that cannot be created sets kSinkUnusable.
SinkRef CreateAuWriter(const std::string& path, std::int32_t rate, std::uint8_t channels);

// The format table's entry: ".au" only (".snd" files are raw audio).
FileFormat AuFileFormat();

}  // namespace sonavel
