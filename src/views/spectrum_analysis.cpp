#include "views/spectrum_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

#include "effects/dsp/fft.h"
#include "effects/dsp/worker_pool.h"
#include "platform/setting_keys.h"
#include "store/segment_reader.h"

namespace sonavel {

namespace {

// The level rule's reference: a magnitude of 1 / this factor is 0 dB.
constexpr double kLevelFactor = 1.0789581580026326e-05;
constexpr int kLowestLevel = -127;
constexpr int kHighestLevel = 127;
constexpr int kLowestOrder = 5;
constexpr int kHighestOrder = 16;
constexpr std::uint16_t kMaxMagnitude = 65535;

// The Hamming-windowed transform of one size: the window and the real FFT plan are built
// once and reused for every column.
class HammingTransform {
 public:
  explicit HammingTransform(int order)
      : plan_(order),
        size_(plan_.size()),
        window_(size_),
        samples_(size_),
        real_(size_ / 2 + 1),
        imaginary_(size_ / 2 + 1) {
    for (std::int32_t n = 0; n < size_; ++n) {
      window_[n] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * n / size_);
    }
  }

  std::int32_t size() const { return size_; }

  // Magnitudes |X_k|, k < N / 2, of channel `channel` of N interleaved frames of `stride`
  // samples each, into `out`.
  template <typename Sample>
  void Magnitudes(const Sample* frames, int stride, int channel, double* out) {
    for (std::int32_t n = 0; n < size_; ++n) {
      samples_[n] =
          window_[n] * static_cast<double>(frames[static_cast<std::size_t>(n) * stride + channel]);
    }
    plan_.Forward(samples_.data(), real_.data(), imaginary_.data());
    for (std::int32_t k = 0; k < size_ / 2; ++k) {
      out[k] = std::sqrt(real_[k] * real_[k] + imaginary_[k] * imaginary_[k]);
    }
  }

 private:
  RealFftPlan plan_;
  std::int32_t size_;
  std::vector<double> window_;
  std::vector<double> samples_;
  std::vector<double> real_;
  std::vector<double> imaginary_;
};

int OrderOfSize(std::size_t size) {
  int order = 0;
  while ((std::size_t{1} << order) < size) ++order;
  return order;
}

// Channels of a frame as the reader delivers them (0 is taken as 1).
int FrameStride(const Sound& sound) {
  return std::max<int>(1, sound.channels);
}

// N frames at a time from a reader, for windows that move forward: what one window read
// and the next needs again is kept, so overlapping windows read each frame once and the
// reader is sought only when a window does not overlap the one before.
class WindowReader {
 public:
  WindowReader(SampleSource& reader, int stride, std::int32_t size)
      : reader_(reader),
        stride_(stride),
        size_(size),
        frames_(static_cast<std::size_t>(size) * stride) {}

  // The N frames from `position` on, interleaved; zeros before the start and past the end.
  const std::int32_t* At(std::int32_t position) {
    const std::int64_t held_end = std::int64_t{first_} + size_;
    std::int32_t kept = 0;
    if (held_ && position >= first_ && position < held_end) {
      kept = static_cast<std::int32_t>(held_end - position);
      std::memmove(frames_.data(),
                   frames_.data() + static_cast<std::size_t>(position - first_) * stride_,
                   static_cast<std::size_t>(kept) * stride_ * sizeof(std::int32_t));
    } else {
      reader_.Seek(position);
    }
    // The reader stands where the frames held end.
    std::fill(frames_.begin() + static_cast<std::ptrdiff_t>(kept) * stride_, frames_.end(), 0);
    reader_.Read(frames_.data() + static_cast<std::size_t>(kept) * stride_, size_ - kept);
    first_ = position;
    held_ = true;
    return frames_.data();
  }

 private:
  SampleSource& reader_;
  int stride_;
  std::int32_t size_;
  std::vector<std::int32_t> frames_;
  std::int32_t first_ = 0;
  bool held_ = false;
};

// Columns of a spectrogram a round hands to one thread.
constexpr std::int32_t kColumnsPerShare = 32;

// One thread's reader, transform and buffers for spectrogram columns.
class SpectrogramWorker {
 public:
  SpectrogramWorker(const Sound& sound, int order)
      : stride_(FrameStride(sound)),
        reader_(OpenSoundReader(sound)),
        transform_(order),
        windows_(*reader_, stride_, transform_.size()),
        left_(transform_.size() / 2),
        right_(transform_.size() / 2) {}

  // Column c of `data`: the frames from start + floor(c × length / columns) (a product that
  // fits 64 bits), channels 0 and 1 averaged.
  void Column(SpectrogramData& data, std::int32_t c) {
    const std::int64_t offset = std::int64_t{c} * data.length / data.columns;
    const std::int32_t* frames = windows_.At(
        static_cast<std::int32_t>(std::min<std::int64_t>(data.start + offset, INT32_MAX)));
    const bool stereo = stride_ >= 2;
    transform_.Magnitudes(frames, stride_, 0, left_.data());
    if (stereo) transform_.Magnitudes(frames, stride_, 1, right_.data());
    std::uint16_t* column = data.magnitudes.data() + static_cast<std::size_t>(c) * data.bins;
    for (std::int32_t k = 0; k < data.bins; ++k) {
      const double magnitude = stereo ? (left_[k] + right_[k]) / 2 : left_[k];
      column[k] = static_cast<std::uint16_t>(std::min(magnitude, double{kMaxMagnitude}));
    }
  }

 private:
  int stride_;
  SourceRef reader_;
  HammingTransform transform_;
  WindowReader windows_;
  std::vector<double> left_;
  std::vector<double> right_;
};

}  // namespace

int LevelOfMagnitude(double magnitude, int silent) {
  const double x = magnitude * kLevelFactor;
  if (!(x > 0)) return silent;
  const double decibels = 20.0 * std::log10(x);
  const double rounded = x >= 1 ? decibels + 0.5 : decibels - 0.5;
  // Clamped before the truncation so that no value is out of the integer's range.
  return static_cast<int>(
      std::clamp(rounded, double{kLowestLevel} - 0.5, double{kHighestLevel} + 0.5));
}

std::vector<double> HammingMagnitudes(const std::vector<double>& frames) {
  if (frames.size() < 2) return {};
  HammingTransform transform(OrderOfSize(frames.size()));
  std::vector<double> magnitudes(frames.size() / 2);
  transform.Magnitudes(frames.data(), 1, 0, magnitudes.data());
  return magnitudes;
}

std::optional<SpectrumData> ComputeSpectrum(const Sound& sound, std::int32_t cursor) {
  if (sound.channels > 2) return std::nullopt;
  const int stride = FrameStride(sound);
  SourceRef reader = OpenSoundReader(sound);
  WindowReader window(*reader, stride, kSpectrumFrames);
  const std::int32_t* frames = window.At(cursor);

  SpectrumData data;
  data.rate = sound.rate;
  data.stereo = stride == 2;
  data.levels.resize(static_cast<std::size_t>(kSpectrumBins) * stride);
  HammingTransform transform(OrderOfSize(kSpectrumFrames));
  std::vector<double> magnitudes(kSpectrumBins);
  for (int channel = 0; channel < stride; ++channel) {
    transform.Magnitudes(frames, stride, channel, magnitudes.data());
    for (std::int32_t k = 0; k < kSpectrumBins; ++k) {
      data.levels[static_cast<std::size_t>(channel) * kSpectrumBins + k] =
          LevelOfMagnitude(magnitudes[k]);
    }
  }
  return data;
}

int SpectrogramOrder(std::int32_t rate) {
  for (int order = kLowestOrder; order < kHighestOrder; ++order) {
    if ((std::int64_t{1} << order) * 30 >= rate) return order;
  }
  return kHighestOrder;
}

std::int32_t SpectrogramColumns(std::int32_t length, std::int32_t bins) {
  if (length <= 0 || bins <= 0) return 1;
  const std::int64_t columns = 4 * std::int64_t{length / bins};
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(columns, 1, kMaxSpectrogramColumns));
}

std::optional<SpectrogramData> ComputeSpectrogram(const Sound& sound, std::int32_t start,
                                                  std::int32_t length, Progress& progress) {
  SpectrogramData data;
  data.rate = sound.rate;
  data.order = SpectrogramOrder(sound.rate);
  data.size = std::int32_t{1} << data.order;
  data.bins = data.size / 2;
  data.columns = SpectrogramColumns(length, data.bins);
  data.start = start;
  data.length = std::max(length, 0);
  data.magnitudes.resize(static_cast<std::size_t>(data.columns) * data.bins);

  // The columns are computed in rounds on the shared worker pool, each thread's share with
  // a reader and transform of its own; progress and cancel are handled between rounds.
  WorkerPool& pool = WorkerPool::Shared();
  const int shares = pool.workers() + 1;
  std::vector<std::unique_ptr<SpectrogramWorker>> workers;
  for (int i = 0; i < shares; ++i)
    workers.push_back(std::make_unique<SpectrogramWorker>(sound, data.order));
  const std::int32_t round = kColumnsPerShare * shares;
  for (std::int32_t first = 0; first < data.columns; first += round) {
    const std::int32_t count = std::min(round, data.columns - first);
    pool.Run(shares, [&](std::int32_t share) {
      const std::int32_t from =
          first + static_cast<std::int32_t>(std::int64_t{count} * share / shares);
      const std::int32_t to =
          first + static_cast<std::int32_t>(std::int64_t{count} * (share + 1) / shares);
      for (std::int32_t c = from; c < to; ++c) workers[share]->Column(data, c);
    });
    for (std::int32_t c = first; c < first + count; ++c) {
      progress.SetFraction(static_cast<double>(c) / data.columns);
      if (progress.Pump()) return std::nullopt;
    }
  }
  progress.SetFraction(1.0);
  return data;
}

SpectrogramLook StoredSpectrogramLook(const SettingsReader& settings) {
  SpectrogramLook look;
  look.zoom_4000 = settings.Read(setting::kTfftFullZoomOn);
  look.brightness = settings.Read(setting::kTfftVScroll);
  look.grid = settings.Read(setting::kGridToggle);
  return look;
}

void StoreSpectrogramLook(Settings& settings, const SpectrogramLook& look) {
  settings.Write(setting::kTfftFullZoomOn, look.zoom_4000);
  settings.Write(setting::kTfftVScroll, std::clamp(look.brightness, 0, 100));
  settings.Write(setting::kGridToggle, look.grid);
}

std::int32_t SpectrogramTopBin(const SpectrogramData& data, bool zoom_4000) {
  const std::int32_t highest = data.bins - 1;
  if (!zoom_4000 || data.rate <= 0) return highest;
  const std::int64_t top = (std::int64_t{4000} << data.order) / data.rate;
  return static_cast<std::int32_t>(std::min<std::int64_t>(top, highest));
}

int SpectrogramBrightnessFactor(int trackbar) {
  const int v = std::clamp(trackbar, 0, 99);
  return static_cast<int>((100 - v) * 2.55);
}

std::uint32_t SpectrogramColour(int index) {
  const int i = std::clamp(index, 0, 255);
  int red = 0;
  int green = 0;
  int blue = 0;
  if (i <= 64) {
    blue = 2 * i;
  } else if (i <= 127) {
    blue = 128;
    green = 2 * i - 128;
  } else if (i <= 191) {
    blue = 128;
    green = 128;
    red = 2 * i - 256;
  } else {
    blue = green = red = 2 * i - 256;
  }
  return 0xFF000000u | static_cast<std::uint32_t>(red) << 16 |
         static_cast<std::uint32_t>(green) << 8 | static_cast<std::uint32_t>(blue);
}

std::vector<std::uint32_t> RenderSpectrogram(const SpectrogramData& data,
                                             const SpectrogramLook& look, int width, int height) {
  if (width <= 0 || height <= 0) return {};
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, SpectrogramColour(0));
  if (data.columns <= 0 || data.bins <= 0 ||
      data.magnitudes.size() < static_cast<std::size_t>(data.columns) * data.bins) {
    return pixels;
  }

  const std::int32_t top_bin = SpectrogramTopBin(data, look.zoom_4000);
  const std::int64_t factor = SpectrogramBrightnessFactor(look.brightness);
  std::uint32_t palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = SpectrogramColour(i);

  std::vector<std::int32_t> row_bin(height);
  for (int y = 0; y < height; ++y) {
    const auto bin = static_cast<std::int32_t>(top_bin - static_cast<double>(y) / height * top_bin);
    row_bin[y] = std::clamp(bin, 0, data.bins - 1);
  }
  // Each pixel column shows the data column under it; the colour index of a magnitude is
  // computed in 64 bits.
  for (int x = 0; x < width; ++x) {
    const auto column = static_cast<std::int32_t>(std::int64_t{x} * data.columns / width);
    const std::uint16_t* magnitudes =
        data.magnitudes.data() + static_cast<std::size_t>(column) * data.bins;
    std::uint32_t* pixel = pixels.data() + x;
    for (int y = 0; y < height; ++y, pixel += width) {
      const std::int64_t index =
          std::min<std::int64_t>(255, (magnitudes[row_bin[y]] * factor * 3) >> 11);
      *pixel = palette[index];
    }
  }
  if (!look.grid || data.rate <= 0) return pixels;

  // Every 1000 Hz below half the rate, at the row whose bin it is.
  constexpr std::uint32_t kFrequencyLine = 0xFF708090;  // RGB 112, 128, 144
  constexpr std::uint32_t kSecondLine = 0xFFB8860B;     // RGB 184, 134, 11
  if (top_bin > 0) {
    for (std::int64_t hertz = 1000; 2 * hertz < data.rate; hertz += 1000) {
      const double bin = static_cast<double>(hertz << data.order) / data.rate;
      if (bin > top_bin) break;
      const auto y = static_cast<int>((top_bin - bin) / top_bin * height);
      if (y < 0 || y >= height) continue;
      std::fill_n(pixels.data() + static_cast<std::size_t>(y) * width, width, kFrequencyLine);
    }
  }
  // Every whole second of the document within the analysed range.
  if (data.length > 0) {
    const std::int64_t end = std::int64_t{data.start} + data.length;
    const std::int64_t first =
        data.start <= 0 ? 0 : (std::int64_t{data.start} + data.rate - 1) / data.rate;
    for (std::int64_t second = first; second * data.rate < end; ++second) {
      const std::int64_t frame = second * data.rate - data.start;
      if (frame < 0) continue;
      const auto x = static_cast<int>(frame * width / data.length);
      for (int y = 0; y < height; ++y)
        pixels[static_cast<std::size_t>(y) * width + x] = kSecondLine;
    }
  }
  return pixels;
}

}  // namespace sonavel
