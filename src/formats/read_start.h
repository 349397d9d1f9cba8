#pragma once
// What every file reader's read shares: the start (the reader's position advances by the
// whole request, the frames before frame 0 are delivered as silence) and, for files whose
// frames lie one after another, the loop that reads them in pieces.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

struct ReadStart {
  std::int64_t position;
  std::int64_t n;
};

inline ReadStart BeginRead(std::int32_t*& out, std::int32_t& reader_position, std::int32_t count,
                           std::size_t channels) {
  constexpr std::int64_t kMost = std::numeric_limits<std::int32_t>::max();
  ReadStart start{reader_position, count};
  reader_position = static_cast<std::int32_t>(std::clamp<std::int64_t>(start.position + count, -kMost, kMost));
  if (start.position < 0) {
    const std::int64_t k = std::min(-start.position, start.n);
    std::fill_n(out, k * channels, 0);
    out += k * channels;
    start.n -= k;
    start.position += k;
  }
  return start;
}

// The rest of a read that BeginRead started, from a file standing at `at.position`'s
// frame: frames up to `length` come from the file in pieces of at most kChunkFrames through
// `buffer` (a piece's bytes), turned into store samples by `convert(bytes, out, samples)`;
// what a short file lacks and frames past `length` are silence. `usable` false: all silence.
template <typename Convert>
void ReadPlainFrames(ByteSource& file, std::vector<std::uint8_t>& buffer, std::int32_t* out, ReadStart at,
                     std::int64_t length, std::int64_t frame_size, std::size_t channels, bool usable,
                     const Convert& convert) {
  auto [position, n] = at;
  while (n > 0) {
    const std::int64_t wanted = std::clamp<std::int64_t>(length - position, 0, std::min<std::int64_t>(n, kChunkFrames));
    std::int64_t got = 0;
    if (wanted > 0 && usable) {
      got = static_cast<std::int64_t>(file.Read(buffer.data(), static_cast<std::size_t>(wanted * frame_size))) / frame_size;
      convert(buffer.data(), out, static_cast<std::size_t>(got) * channels);
    }
    if (got < wanted || wanted == 0) {
      std::fill_n(out + got * channels, (n - got) * channels, 0);
      return;
    }
    out += got * channels;
    n -= got;
    position += got;
  }
}

}  // namespace sonavel
