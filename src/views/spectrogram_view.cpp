#include "views/spectrogram_view.h"

#include <algorithm>
#include <cstdio>

#include "store/time.h"

namespace sonavel {

SpectrogramPoint SpectrogramPointAt(const SpectrogramData& data, bool zoom_4000, int x, int y, int width,
                                    int height) {
  SpectrogramPoint point;
  if (width <= 0 || height <= 0) return point;
  const std::int64_t column_x = std::clamp(x, 0, width - 1);
  point.column = static_cast<std::int32_t>(
      std::min<std::int64_t>(column_x * data.columns / width, std::max(data.columns - 1, 0)));
  point.frame = data.start + column_x * data.length / width;
  const std::int32_t top = SpectrogramTopBin(data, zoom_4000);
  const double row = std::clamp(y, 0, height - 1);
  point.bin = std::clamp(static_cast<std::int32_t>(top - row / height * top), 0, top);
  return point;
}

int SpectrogramCursorX(const SpectrogramData& data, std::int64_t frame, int width) {
  if (data.length <= 0 || frame < data.start || frame >= std::int64_t{data.start} + data.length) return -1;
  return static_cast<int>((frame - data.start) * width / data.length);
}

std::string SpectrogramStatusText(const SpectrogramData& data, bool zoom_4000, int x, int y, int width,
                                  int height) {
  const SpectrogramPoint point = SpectrogramPointAt(data, zoom_4000, x, y, width, height);
  const std::int64_t frequency = (std::int64_t{point.bin} * data.rate) >> data.order;
  const bool stored = static_cast<std::size_t>(point.column) * data.bins + point.bin < data.magnitudes.size();
  const int level = LevelOfMagnitude(stored ? data.At(point.column, point.bin) : 0, kSilentStatusLevel);
  char text[128];
  std::snprintf(text, sizeof text, "Zeit: %s    Frequenz: %d Hz    Lautstärke: %d dB",
                FormatTimeTenths(FramesToMs(point.frame, data.rate)).c_str(), static_cast<int>(frequency), level);
  return text;
}

}  // namespace sonavel
