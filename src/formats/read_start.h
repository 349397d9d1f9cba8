#pragma once
// The start every file reader's read shares: the reader's position advances by the whole
// request, the frames before frame 0 are delivered as silence, and what is left says where
// the rest of the read starts and how many frames it still wants.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

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

}  // namespace sonavel
