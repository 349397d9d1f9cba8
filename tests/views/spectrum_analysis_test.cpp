#include "views/spectrum_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "../formats/wav_fixture.h"
#include "platform/file.h"
#include "store/store_fixture.h"
#include "views/png_writer.h"

namespace sonavel {
namespace {

using testing::WriteSound;

struct Tone {
  double hertz;
  double amplitude;  // in store units (full scale 0x7FFF0)
};

// `frames` frames whose channel c is the sum of tones[c], rounded to store samples, with a
// little noise so that the quiet bins hold more than rounding.
std::vector<std::int32_t> Tones(std::int32_t rate, std::int32_t frames,
                                const std::vector<std::vector<Tone>>& tones) {
  const std::size_t channels = tones.size();
  std::vector<std::int32_t> samples(frames * channels);
  std::mt19937 rng(rate);
  std::uniform_int_distribution<int> noise(-40, 40);
  for (std::int32_t n = 0; n < frames; ++n) {
    for (std::size_t c = 0; c < channels; ++c) {
      double value = noise(rng);
      for (const Tone& tone : tones[c])
        value += tone.amplitude * std::sin(2 * std::numbers::pi * tone.hertz * n / rate);
      samples[n * channels + c] = static_cast<std::int32_t>(std::lround(value));
    }
  }
  return samples;
}

class CountingProgress final : public Progress {
 public:
  explicit CountingProgress(int cancel_at = -1) : cancel_at_(cancel_at) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double done) override { fractions.push_back(done); }
  bool Pump() override { return ++pumps == cancel_at_; }

  std::vector<double> fractions;
  int pumps = 0;

 private:
  int cancel_at_;
};

// The first interpreter on the way that has numpy (the system's, then the one on PATH).
std::string PythonWithNumpy() {
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    const std::string probe = std::string(python) + " -c 'import numpy' 2>/dev/null";
    if (std::system(probe.c_str()) == 0) return python;
  }
  return {};
}

template <typename T>
void WriteRaw(const std::string& path, const std::vector<T>& values) {
  ASSERT_TRUE(ReplaceFileContents(path, values.data(), values.size() * sizeof(T)));
}

class SpectrumAnalysisTest : public testing::StoreTest {};

// Levels of every bin and spectrogram magnitudes against numpy's FFT of the same
// Hamming-windowed frames: mono and stereo with other tones per channel, at three rates,
// with the spectrum's frames running past the end of the sound.
TEST_F(SpectrumAnalysisTest, LevelsAndMagnitudesMatchNumpy) {
  const std::string python = PythonWithNumpy();
  ASSERT_FALSE(python.empty()) << "python3 with numpy (python3-numpy) is needed";
  for (const std::int32_t rate : {8000, 44100, 96000}) {
    for (const bool stereo : {false, true}) {
      SCOPED_TRACE(std::to_string(rate) + (stereo ? " Hz stereo" : " Hz mono"));
      std::vector<std::vector<Tone>> tones = {
          {{1000, 0x7FFF0 / 4.0}, {rate / 3.3, 300}, {rate / 2.7, 20000}}};
      if (stereo) tones.push_back({{440, 0x7FFF0 / 2.0}, {rate / 5.1, 3000}});
      const std::int32_t frames = rate + rate / 2;
      const std::vector<std::int32_t> samples = Tones(rate, frames, tones);
      const Sound sound = WriteSound(samples, static_cast<std::uint8_t>(tones.size()), rate);
      const std::int32_t cursor = frames - 1000;  // 3096 frames past the end are zeros
      const std::int32_t start = rate / 10;
      const std::int32_t length = rate;

      const std::optional<SpectrumData> spectrum = ComputeSpectrum(sound, cursor);
      ASSERT_TRUE(spectrum);
      EXPECT_EQ(spectrum->rate, rate);
      EXPECT_EQ(spectrum->stereo, stereo);
      ASSERT_EQ(spectrum->levels.size(), 2048u * tones.size());
      CountingProgress progress;
      const std::optional<SpectrogramData> spectrogram =
          ComputeSpectrogram(sound, start, length, progress);
      ASSERT_TRUE(spectrogram);
      EXPECT_EQ(spectrogram->columns, 4 * (length / spectrogram->bins));
      ASSERT_EQ(progress.fractions.size(), static_cast<std::size_t>(spectrogram->columns) + 1);
      EXPECT_EQ(progress.fractions[1], 1.0 / spectrogram->columns);
      EXPECT_EQ(progress.fractions.back(), 1.0);

      WriteRaw(folder_ + "/samples.i32", samples);
      WriteRaw(folder_ + "/spectrum.i32",
               std::vector<std::int32_t>(spectrum->levels.begin(), spectrum->levels.end()));
      WriteRaw(folder_ + "/spectrogram.u16", spectrogram->magnitudes);
      const std::string command = python + " " SONAVEL_TESTS_DIR "/views/analysis_numpy.py " +
                                  folder_ + " " + std::to_string(rate) + " " +
                                  std::to_string(tones.size()) + " " + std::to_string(cursor) +
                                  " " + std::to_string(start) + " " + std::to_string(length);
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
  }
}

// A tone at a bin's centre has the level the window gives it: 0.54 / 2 of its amplitude in
// its bin, 0.23 / 2 in the two beside it and nothing further away; silence is -127 (-128 in
// the status line) and spectrogram magnitude 0.
TEST_F(SpectrumAnalysisTest, TonesOfKnownLevelAndSilence) {
  constexpr std::int32_t kRate = 44100;
  constexpr int kBin = 93;
  // 0.27 × A × 1.0789581580026326e-05 = 0.1: -20 dB.
  const double amplitude = 0.1 / (0.27 * 1.0789581580026326e-05);
  std::vector<std::int32_t> samples(kSpectrumFrames);
  for (std::int32_t n = 0; n < kSpectrumFrames; ++n)
    samples[n] = static_cast<std::int32_t>(
        std::lround(amplitude * std::cos(2 * std::numbers::pi * kBin * n / kSpectrumFrames)));
  const Sound tone = WriteSound(samples, 1, kRate);
  const std::optional<SpectrumData> spectrum = ComputeSpectrum(tone, 0);
  ASSERT_TRUE(spectrum);
  EXPECT_EQ(spectrum->levels[kBin], -20);
  // 20 log10(0.1 × 0.23 / 0.54) = -27.4
  EXPECT_EQ(spectrum->levels[kBin - 1], -27);
  EXPECT_EQ(spectrum->levels[kBin + 1], -27);
  EXPECT_EQ(spectrum->levels[kBin + 3], -127);
  EXPECT_EQ(spectrum->levels[0], -127);

  Sound silence(kRate, 2);
  InsertSilence(silence, 5 * kRate, 0);
  const std::optional<SpectrumData> quiet = ComputeSpectrum(silence, kRate);
  ASSERT_TRUE(quiet);
  EXPECT_EQ(quiet->levels, std::vector<int>(2 * kSpectrumBins, kSilentLevel));
  CountingProgress progress;
  const std::optional<SpectrogramData> dark = ComputeSpectrogram(silence, 0, 5 * kRate, progress);
  ASSERT_TRUE(dark);
  EXPECT_EQ(dark->magnitudes, std::vector<std::uint16_t>(dark->magnitudes.size(), 0));
  EXPECT_EQ(LevelOfMagnitude(dark->At(3, 17), kSilentStatusLevel), -128);

  // The rule's rounding and limits: 1 / factor is 0 dB; half a dB rounds away from zero.
  constexpr double kUnit = 1 / 1.0789581580026326e-05;
  EXPECT_EQ(LevelOfMagnitude(kUnit), 0);
  EXPECT_EQ(LevelOfMagnitude(kUnit * std::pow(10, 0.51 / 20)), 1);
  EXPECT_EQ(LevelOfMagnitude(kUnit * std::pow(10, 0.49 / 20)), 0);
  EXPECT_EQ(LevelOfMagnitude(kUnit * std::pow(10, -0.51 / 20)), -1);
  EXPECT_EQ(LevelOfMagnitude(kUnit * std::pow(10, -0.49 / 20)), 0);
  EXPECT_EQ(LevelOfMagnitude(1e300), 127);
  EXPECT_EQ(LevelOfMagnitude(1e-300), -127);
  EXPECT_EQ(LevelOfMagnitude(-5), -127);
}

// More than two channels: no spectrum; the spectrogram analyses channels 0 and 1 only.
TEST_F(SpectrumAnalysisTest, ChannelsBeyondTwo) {
  constexpr std::int32_t kRate = 8000;
  std::vector<std::int32_t> samples = Tones(kRate, kRate, {{}, {}, {{1000, 100000}}});
  for (std::int32_t& sample : samples)
    sample = std::abs(sample) > 100 ? sample : 0;  // channel 2's tone only
  const Sound sound = WriteSound(samples, 3, kRate);
  EXPECT_FALSE(ComputeSpectrum(sound, 0));
  CountingProgress progress;
  const std::optional<SpectrogramData> data = ComputeSpectrogram(sound, 0, kRate, progress);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->magnitudes, std::vector<std::uint16_t>(data->magnitudes.size(), 0));
}

// Transform sizes, the one column of a short range, the column limit of a long range with
// the read position of its last column computed without overflow, and cancelling.
TEST_F(SpectrumAnalysisTest, SizesColumnsAndCancel) {
  EXPECT_EQ(SpectrogramOrder(8000), 9);
  EXPECT_EQ(SpectrogramOrder(44100), 11);
  EXPECT_EQ(SpectrogramOrder(96000), 12);
  EXPECT_EQ(SpectrogramOrder(960), 5);  // 32 × 30 = 960
  EXPECT_EQ(SpectrogramOrder(961), 6);
  EXPECT_EQ(SpectrogramOrder(100000000), 16);
  // Ten seconds keep all 4 × (length / bins) columns at every rate.
  for (std::int32_t rate = 1000; rate <= 400000; ++rate) {
    const std::int32_t bins = (1 << SpectrogramOrder(rate)) / 2;
    ASSERT_LE(4 * (10 * rate / bins), kMaxSpectrogramColumns) << rate;
    ASSERT_EQ(SpectrogramColumns(10 * rate, bins), 4 * (10 * rate / bins)) << rate;
  }
  EXPECT_EQ(SpectrogramColumns(30720 * 10, 512),
            kMaxSpectrogramColumns);  // the most ten seconds give

  for (const auto& [rate, size] : {std::pair{8000, 512}, {44100, 2048}, {96000, 4096}}) {
    const Sound sound = WriteSound(Tones(rate, size, {{{1000, 100000}}}), 1, rate);
    CountingProgress progress;
    const std::optional<SpectrogramData> data =
        ComputeSpectrogram(sound, 0, size / 2 - 1, progress);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size, size);
    EXPECT_EQ(data->bins, size / 2);
    EXPECT_EQ(data->columns, 1);
    EXPECT_EQ(data->magnitudes.size(), static_cast<std::size_t>(size / 2));
  }

  // An hour of silence would be 620 000 columns; the tone lies where the last of the
  // limited columns reads: start + floor(2399 × length / 2400), a product beyond 32 bits.
  constexpr std::int32_t kRate = 44100;
  constexpr std::int32_t kStart = 1000;
  constexpr std::int32_t kLength = INT32_MAX - kStart;
  const auto last = static_cast<std::int32_t>(kStart + std::int64_t{2399} * kLength / 2400);
  Sound sound(kRate, 1);
  InsertSilence(sound, last, 0);
  const Sound tone = WriteSound(Tones(kRate, 2048, {{{1000, 100000}}}), 1, kRate);
  InsertSound(sound, last, tone);
  CountingProgress progress;
  const std::optional<SpectrogramData> data = ComputeSpectrogram(sound, kStart, kLength, progress);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->columns, kMaxSpectrogramColumns);
  EXPECT_EQ(data->magnitudes.size(), static_cast<std::size_t>(kMaxSpectrogramColumns) * 1024);
  const int bin = 1000 * 2048 / kRate;
  EXPECT_GT(data->At(kMaxSpectrogramColumns - 1, bin), 10000);
  EXPECT_EQ(data->At(kMaxSpectrogramColumns - 2, bin), 0);

  CountingProgress cancelling(3);
  EXPECT_FALSE(ComputeSpectrogram(sound, kStart, kLength, cancelling));
  EXPECT_EQ(cancelling.pumps, 3);
}

// The colour table at its steps, the brightness factor, the rows' bins and the columns'
// spread over the width, and the grid lines' places and colours.
TEST(SpectrogramPictureTest, ColoursRowsColumnsAndGrid) {
  const std::pair<int, std::uint32_t> table[] = {
      {0, 0xFF000000},   {64, 0xFF000080},  {65, 0xFF000280},  {127, 0xFF007E80},
      {128, 0xFF008080}, {191, 0xFF7E8080}, {192, 0xFF808080}, {255, 0xFFFEFEFE}};
  for (const auto& [index, colour] : table) EXPECT_EQ(SpectrogramColour(index), colour) << index;
  EXPECT_EQ(SpectrogramBrightnessFactor(25), 191);
  EXPECT_EQ(SpectrogramBrightnessFactor(50), 127);
  EXPECT_EQ(SpectrogramBrightnessFactor(99), 2);
  EXPECT_EQ(SpectrogramBrightnessFactor(100), 2);

  // 2 seconds at 8000 Hz from 0.5 s: 4 columns of 256 bins, magnitude 8 × column + bin.
  SpectrogramData data;
  data.rate = 8000;
  data.order = 9;
  data.size = 512;
  data.bins = 256;
  data.columns = 4;
  data.start = 4000;
  data.length = 16000;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 256; ++k) data.magnitudes.push_back(static_cast<std::uint16_t>(8 * c + k));
  data.magnitudes[3 * 256 + 255] = 65535;  // the top of the last column, computed wide
  constexpr int kWidth = 100;
  constexpr int kHeight = 51;
  SpectrogramLook look;
  look.brightness = 0;  // factor 254
  const std::vector<std::uint32_t> pixels = RenderSpectrogram(data, look, kWidth, kHeight);
  ASSERT_EQ(pixels.size(), static_cast<std::size_t>(kWidth * kHeight));
  const auto colour_at = [&](int x, int y) {
    return pixels[static_cast<std::size_t>(y) * kWidth + x];
  };
  const auto expected = [&](int column, int bin) {
    return SpectrogramColour(
        std::min<std::int64_t>(255, std::int64_t{data.At(column, bin)} * 254 * 3 >> 11));
  };
  EXPECT_EQ(colour_at(0, 0), expected(0, 255));
  EXPECT_EQ(colour_at(99, 0), SpectrogramColour(255));
  EXPECT_EQ(colour_at(24, 10), expected(0, 205));  // (int)(255 - 10 / 51 × 255) = 205
  EXPECT_EQ(colour_at(25, 10), expected(1, 205));
  EXPECT_EQ(colour_at(74, 50), expected(2, 5));  // 255 - 250 = 5
  EXPECT_EQ(colour_at(75, 50), expected(3, 5));

  // Zoomed to 0 … 4000 Hz at 44100 Hz with N = 2048 the top row shows bin 185.
  data.rate = 44100;
  data.order = 11;
  EXPECT_EQ(SpectrogramTopBin(data, true), 185);
  EXPECT_EQ(SpectrogramTopBin(data, false), 255);
  data.rate = 8000;
  data.order = 9;
  EXPECT_EQ(SpectrogramTopBin(data, true), 255);  // 4000 Hz is bin 256, beyond the last

  look.grid = true;
  const std::vector<std::uint32_t> grid = RenderSpectrogram(data, look, kWidth, kHeight);
  constexpr std::uint32_t kSecond = 0xFFB8860B;
  constexpr std::uint32_t kFrequency = 0xFF708090;
  // Seconds 1 and 2 of the document lie 4000 and 12000 frames into the range; 1000, 2000
  // and 3000 Hz are bins 64, 128 and 192, at rows (255 - bin) / 255 × 51.
  std::vector<int> second_columns;
  for (int x = 0; x < kWidth; ++x) {
    if (grid[5 * kWidth + x] == kSecond) second_columns.push_back(x);
  }
  EXPECT_EQ(second_columns, (std::vector<int>{25, 75}));
  std::vector<int> frequency_rows;
  for (int y = 0; y < kHeight; ++y) {
    if (grid[static_cast<std::size_t>(y) * kWidth + 10] == kFrequency) frequency_rows.push_back(y);
  }
  EXPECT_EQ(frequency_rows, (std::vector<int>{12, 25, 38}));
}

// ffmpeg decodes our pictures to their pixels: a few colours as palette indices, more than
// 256 as RGB; odd sizes; a folder that does not exist fails without a file.
TEST_F(SpectrumAnalysisTest, PngPicturesDecodeToTheirPixels) {
  for (const int colours : {3, 256, 257, 5000}) {
    SCOPED_TRACE(colours);
    constexpr int kWidth = 131;
    constexpr int kHeight = 67;
    std::vector<std::uint32_t> pixels(kWidth * kHeight);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      pixels[i] = 0xFF000000u | static_cast<std::uint32_t>((i * 7919) % colours) * 0x010305u;
    }
    const std::string png = folder_ + "/picture.png";
    ASSERT_TRUE(WritePng(png, pixels.data(), kWidth, kHeight));
    const std::string rgb = folder_ + "/picture.rgb";
    ASSERT_EQ(testing::RunCommand("ffmpeg -nostdin -y -v error -i " + testing::Quote(png) +
                                  " -f rawvideo -pix_fmt rgb24 " + testing::Quote(rgb)),
              0);
    std::vector<std::uint8_t> expected;
    for (const std::uint32_t pixel : pixels) {
      expected.insert(expected.end(),
                      {static_cast<std::uint8_t>(pixel >> 16),
                       static_cast<std::uint8_t>(pixel >> 8), static_cast<std::uint8_t>(pixel)});
    }
    EXPECT_EQ(testing::ReadBytes(rgb), expected);
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(png);
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[25], colours <= 256 ? 3 : 2);  // the colour type in IHDR
  }
  EXPECT_FALSE(
      WritePng(folder_ + "/missing/picture.png", std::vector<std::uint32_t>(4).data(), 2, 2));
  EXPECT_FALSE(WritePng(folder_ + "/wide.png", std::vector<std::uint32_t>(8193).data(), 8193, 1));
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/wide.png"));
}

}  // namespace
}  // namespace sonavel
