#pragma once
// The computations behind the two analysis windows, without Qt: the Hamming-windowed
// transform with 1/N scaling, the level rule, the spectrum at the cursor, the spectrogram of
// a range, the frequency window's axes and the spectrogram's picture as RGB32 pixels. The
// windows draw from these; `sonavel-cli spectrum` and `spectrogram` print and render them.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/progress.h"
#include "platform/settings.h"
#include "store/sound.h"

namespace sonavel {

// Frames the frequency window analyses, and the levels it keeps per channel.
inline constexpr std::int32_t kSpectrumFrames = 4096;
inline constexpr std::int32_t kSpectrumBins = kSpectrumFrames / 2;
// The lowest level: silence, and everything at or below the graph's bottom.
inline constexpr int kSilentLevel = -127;
// The spectrogram's status line shows silence one lower.
inline constexpr int kSilentStatusLevel = -128;

// Level in dB of a magnitude m: x = m × 1.0789581580026326e-05; -127 (or `silent`) when
// x ≤ 0, else 20 log10 x rounded half away from zero and clamped to -127 … 127.
int LevelOfMagnitude(double magnitude, int silent = kSilentLevel);

// |X_k| for k < N / 2 of the Hamming-windowed transform of `frames` (N = frames.size(), a
// power of two) with the output divided by N.
std::vector<double> HammingMagnitudes(const std::vector<double>& frames);

// The frequency window's data: 2048 levels per channel, channel 1 after channel 0.
struct SpectrumData {
  std::int32_t rate = 44100;
  bool stereo = false;
  std::vector<int> levels;  // 2048 (mono) or 4096 (stereo)
};

// The spectrum of the 4096 frames from `cursor` (zeros past the end). Empty for sounds of
// more than two channels, which leave the window's previous data.
std::optional<SpectrumData> ComputeSpectrum(const Sound& sound, std::int32_t cursor);

// The time-frequency window's data.
struct SpectrogramData {
  std::int32_t rate = 44100;
  int order = 11;               // i, N = 2^i
  std::int32_t size = 2048;     // N
  std::int32_t bins = 1024;     // N / 2
  std::int32_t columns = 1;
  std::int32_t start = 0;       // the analysed range
  std::int32_t length = 0;
  std::vector<std::uint16_t> magnitudes;  // columns × bins, column after column

  std::uint16_t At(std::int32_t column, std::int32_t bin) const {
    return magnitudes[static_cast<std::size_t>(column) * bins + bin];
  }
};

// The smallest order i in 5 … 16 with 2^i ≥ rate / 30: 9 at 8000 Hz, 11 at 44100, 12 at 96000.
int SpectrogramOrder(std::int32_t rate);

// At most this many columns, however long the range: the most that ten seconds give at any
// rate. N is the smallest power of two ≥ rate / 30, so rate ≤ 60 × bins and ten seconds hold
// at most 600 bins, 4 × 600 columns. Ranges up to ten seconds keep 4 × (length / bins).
inline constexpr std::int32_t kMaxSpectrogramColumns = 2400;

// 4 × (length / bins), at least 1, at most kMaxSpectrogramColumns.
std::int32_t SpectrogramColumns(std::int32_t length, std::int32_t bins);

// The spectrogram of [start, start + length) of channels 0 and 1 (stereo: the mean of the two
// magnitudes), each magnitude limited to 65535. Column c is read from start + floor(c ×
// length / columns). The columns are computed in rounds on the shared worker pool; after
// each round the fraction done is reported and a cancel polled for every column of it (the
// caller sets the progress window's texts). Empty when cancelled.
std::optional<SpectrogramData> ComputeSpectrogram(const Sound& sound, std::int32_t start, std::int32_t length,
                                                  Progress& progress);

// How the spectrogram is drawn: the stored settings and the analysed document's rate.
struct SpectrogramLook {
  bool zoom_4000 = false;  // "TFFTFullZoomOn": 0 … 4000 Hz instead of the whole range
  int brightness = 25;     // "TFFTVScroll", the trackbar 0 … 100
  bool grid = false;       // "GridToggle"
};

// The look stored under "TFFTFullZoomOn", "TFFTVScroll" and "GridToggle", and writing it back.
SpectrogramLook StoredSpectrogramLook(const SettingsReader& settings);
void StoreSpectrogramLook(Settings& settings, const SpectrogramLook& look);

// The highest bin shown: min((4000 << i) / rate, bins - 1) zoomed, else bins - 1.
std::int32_t SpectrogramTopBin(const SpectrogramData& data, bool zoom_4000);
// (int)((100 - v) × 2.55), with 99 used for 100.
int SpectrogramBrightnessFactor(int trackbar);
// Entry i of the 256-colour table as 0xFFRRGGBB.
std::uint32_t SpectrogramColour(int index);

// The picture of `data` at width × height as 0xFFRRGGBB pixels, row after row from the top,
// with the grid lines when `look.grid` is set (whole seconds of the document, every 1000 Hz).
// The playback cursor is not part of it.
std::vector<std::uint32_t> RenderSpectrogram(const SpectrogramData& data, const SpectrogramLook& look, int width,
                                             int height);

}  // namespace sonavel
