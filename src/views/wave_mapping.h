#pragma once
// Frames to pixel columns and back for a waveform view. Pixel 0 is the border; column t
// covers frames frame(t) … frame(t + 1) and is drawn at x = t + 1. A view keeps at most
// 2048 columns.

#include <algorithm>
#include <cstdint>

namespace sonavel {

inline constexpr int kMaxColumns = 2048;

struct WaveMapping {
  int width = 1;              // client width - 2, 1 … 2048 columns
  int height = 0;             // client height - 1
  std::int32_t first_frame = 0;
  std::int32_t visible_frames = 0;
  double scale = 0;           // pixels per frame: max(width, 8) / visible_frames
  int offset_pixels = 0;      // (int)(first_frame × scale)

  // The width and height for a client area.
  void SetClientSize(int client_width, int client_height) {
    width = std::clamp(client_width - 2, 1, kMaxColumns);
    height = client_height - 1;
  }
  // Shows `frames` frames from `first`: the scale and the offset follow.
  void SetRange(std::int32_t first, std::int32_t frames) {
    first_frame = first;
    visible_frames = frames;
    scale = frames > 0 ? static_cast<double>(std::max(width, 8)) / frames : 0;
    offset_pixels = static_cast<int>(first * scale);
  }
  // -1 before the view (and while nothing is shown), `width` after it.
  int X(std::int64_t frame) const {
    if (visible_frames <= 0) return -1;
    const std::int64_t x = static_cast<std::int64_t>(static_cast<double>(frame) * scale) - offset_pixels;
    if (x < 0) return -1;
    return x > width ? width : static_cast<int>(x);
  }
  std::int32_t Frame(int x) const {
    if (scale <= 0) return 0;
    return static_cast<std::int32_t>((x + offset_pixels) / scale);
  }
};

}  // namespace sonavel
