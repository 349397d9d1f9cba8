#include "views/frequency_axis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "views/spectrum_analysis.h"

namespace sonavel {

int VisibleBinSpan(int zoom) { return kSpectrumBins >> zoom; }

int FrequencyScrollPage(int zoom) { return (kFrequencyScrollMax + 1) >> zoom; }

int FrequencyScrollLimit(int zoom) { return zoom == 0 ? 0 : (zoom + 1) * 25 + 1; }

double FrequencyAxis::HorizontalScrollFraction() const {
  if (horizontal_zoom == 0) return 0;
  const int limit = FrequencyScrollLimit(horizontal_zoom);
  const int h = std::clamp(horizontal_scroll, 0, limit);
  return static_cast<double>(h) * (horizontal_zoom + 1) * 25 / (static_cast<double>(limit) * kFrequencyScrollMax);
}

int FrequencyAxis::ZoomWidth() const {
  return static_cast<int>(static_cast<double>(width) * kSpectrumBins / Span());
}

int FrequencyAxis::ScrollPixels() const { return static_cast<int>(HorizontalScrollFraction() * ZoomWidth()); }

int FrequencyAxis::FirstBin() const { return static_cast<int>(HorizontalScrollFraction() * kSpectrumBins); }

int FrequencyAxis::BinAtPixel(int x) const {
  const int zoom_width = ZoomWidth();
  if (zoom_width <= 0) return FirstBin();
  const double t = std::clamp(static_cast<double>(x + ScrollPixels()) / zoom_width, 0.0, 1.0);
  const int bin = FirstBin() + static_cast<int>((std::pow(16.0, t) - 1) / 15 * Span());
  return std::min(bin, kSpectrumBins - 1);
}

std::optional<int> FrequencyAxis::PixelOfFrequency(int frequency, int rate) const {
  if (rate <= 0) return std::nullopt;
  const int bin = static_cast<int>(std::min<std::int64_t>(kSpectrumBins - 1, std::int64_t{frequency} * 4096 / rate));
  const int first = FirstBin();
  if (bin < first) return std::nullopt;
  const double position = static_cast<double>(bin - first) / Span() * 15 + 1;
  return static_cast<int>(std::log(position) / std::log(16.0) * ZoomWidth() - ScrollPixels());
}

int FrequencyAxis::VerticalScrollPixels() const {
  if (vertical_zoom == 0) return 0;
  const int v = std::clamp(vertical_scroll, 0, FrequencyScrollLimit(vertical_zoom));
  // 100 / (25 vz + 25) divides whole numbers: 2 at level 1, 1 at level 2, so that the
  // last position shows the bottom of the axis.
  const int factor = 100 / (25 * vertical_zoom + 25);
  return static_cast<int>(factor * v * vertical_zoom * vertical_zoom * 0.01 * height);
}

int FrequencyAxis::PixelOfAttenuation(int attenuation) const {
  return ((attenuation * height) >> (7 - vertical_zoom)) - VerticalScrollPixels();
}

int FrequencyAxis::AttenuationAtPixel(int y) const {
  if (height <= 0) return 0;
  // The largest a with (a × Hg) >> (7 - vz) at or above row y: a × Hg < (y + offset + 1) × 2^(7 - vz).
  const std::int64_t limit = (static_cast<std::int64_t>(y) + VerticalScrollPixels() + 1) << (7 - vertical_zoom);
  const std::int64_t numerator = limit - 1;
  return static_cast<int>(numerator >= 0 ? numerator / height : -((-numerator + height - 1) / height));
}

int FrequencyOfBin(int bin, int rate) { return static_cast<int>((std::int64_t{bin} * rate) >> 12); }

std::vector<int> FrequencyGridColumns(const FrequencyAxis& axis, int rate, int step) {
  std::vector<int> columns;
  if (step <= 0) return columns;
  for (int frequency = step; std::int64_t{frequency} * 2 < rate; frequency += step) {
    const std::optional<int> x = axis.PixelOfFrequency(frequency, rate);
    if (x && *x >= 0 && *x < axis.width) columns.push_back(*x);
  }
  return columns;
}

std::vector<int> AttenuationGridRows(const FrequencyAxis& axis) {
  std::vector<int> rows;
  for (int attenuation = 6; attenuation <= 126; attenuation += 6) {
    const int y = axis.PixelOfAttenuation(attenuation);
    if (y >= 0 && y < axis.height) rows.push_back(y);
  }
  return rows;
}

std::vector<int> CurveRows(const FrequencyAxis& axis, std::span<const int> levels) {
  std::vector<int> rows(static_cast<std::size_t>(std::max(axis.width, 0)));
  for (int x = 0; x < axis.width; ++x) {
    const int bin = axis.BinAtPixel(x);
    const int level = bin < static_cast<int>(levels.size()) ? levels[bin] : kSilentLevel;
    rows[x] = level <= kSilentLevel ? axis.height - 2 : axis.PixelOfAttenuation(-level);
  }
  return rows;
}

}  // namespace sonavel
