#pragma once
// The interface of one codec conversion stream, between a coded wave format and 16-bit PCM.
//
// A stream converts a source buffer into a destination buffer and reports how many bytes
// of each it used. Flags:
//   kConvertBlockAlign  convert only whole blocks of the source (coded blocks when
//                       decoding, whole blocks of input samples when encoding); the rest
//                       stays unused for the next call
//   kConvertStart       forget any state (after a seek); may come with no data
//   kConvertEnd         the source is the last there is: convert a trailing partial block
//                       too (an encoder writes it as a shorter final block)

#include <cstddef>
#include <cstdint>

namespace sonavel {

inline constexpr unsigned kConvertBlockAlign = 0x1;
inline constexpr unsigned kConvertStart = 0x2;
inline constexpr unsigned kConvertEnd = 0x4;

struct ConvertResult {
  bool ok = true;                    // false: the coded data is bad (nothing is thrown)
  std::size_t source_used = 0;       // bytes of the source consumed
  std::size_t destination_used = 0;  // bytes written to the destination
};

class CodecStream {
 public:
  virtual ~CodecStream() = default;
  // Source bytes needed to fill `destination_bytes` of output (whole blocks).
  virtual std::size_t SourceSizeFor(std::size_t destination_bytes) const = 0;
  // Largest output that `source_bytes` of input can produce.
  virtual std::size_t DestinationSizeFor(std::size_t source_bytes) const = 0;
  virtual ConvertResult Convert(const std::uint8_t* source, std::size_t source_bytes,
                                std::uint8_t* destination, std::size_t destination_bytes,
                                unsigned flags) = 0;
};

}  // namespace sonavel
