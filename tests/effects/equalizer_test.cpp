#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "effects/dsp/fft.h"
#include "effects/dsp/fixed_point.h"
#include "effects/equalizer.h"
#include "effects/equalizer_dialog.h"
#include "memory_source.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::ReadInOddChunks;

// Interleaved noise, uniform in ±amplitude, a multiple of 16 (a 16-bit sample in store scale).
std::vector<std::int32_t> Noise(std::int32_t frames, int channels, std::int32_t amplitude, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::int32_t> draw(-amplitude / 16, amplitude / 16);
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * channels);
  for (std::int32_t& sample : out) sample = draw(random) * 16;
  return out;
}

// The gain in dB of the filter for `table` at the 4096-point FFT bins 0..2047 (the table's
// own frequencies), measured on its impulse response.
std::vector<double> MeasuredResponse(const EqualizerTable& table, std::int32_t rate) {
  constexpr std::int32_t kAt = 3000;
  std::vector<std::int32_t> impulse(kAt + 4096, 0);
  impulse[kAt] = kStoreFullScale;
  SourceRef filter = MakeFirEqualizer(Memory(impulse, rate), table);
  const std::vector<std::int32_t> out = ReadInOddChunks(*filter, kAt + 4096);
  FftPlan plan(12);
  std::vector<double> real(4096, 0.0), imaginary(4096, 0.0);
  for (std::int32_t m = 0; m < FirEqualizer::kTaps; ++m)
    real[m] = out[kAt - FirEqualizer::kHalf + m] / static_cast<double>(kStoreFullScale);
  plan.Forward(real.data(), imaginary.data());
  std::vector<double> db(kEqualizerBins);
  for (int i = 0; i < kEqualizerBins; ++i) db[i] = 20 * std::log10(4096 * std::hypot(real[i], imaginary[i]));
  return db;
}

// The table's own gain in dB (y / 128).
double TableDb(std::uint8_t y) { return 20 * std::log10(y / 128.0); }

TEST(EqualizerCurve, AxisAndPresetPointsAreExact) {
  EXPECT_EQ(EqualizerFrequency(0), 0);
  EXPECT_EQ(EqualizerFrequency(128), 4029);
  EXPECT_EQ(EqualizerFrequency(255), 19999);
  EXPECT_EQ(EqualizerX(8000), 178);
  EXPECT_EQ(EqualizerX(20000), 255);
  EXPECT_EQ(EqualizerY(100), 127);
  EXPECT_EQ(EqualizerY(199), 253);

  // The stored defaults: band pass 8000 … 12000 Hz with 1000 Hz slopes, 50 % outside.
  const EnvelopePoints band_pass{{0, 63}, {168, 63}, {178, 127}, {211, 127}, {218, 63}, {255, 63}};
  EXPECT_EQ(PresetCurve(EqualizerPreset::kBandPass, DefaultSettings()), band_pass);
  // S − W below 0: the slope shrinks to S, so the ramp starts at 0 Hz.
  const EnvelopePoints from_zero{{0, 38}, {0, 38}, {29, 127}, {84, 127}, {97, 38}, {255, 38}};
  EXPECT_EQ(BandPresetCurve(EqualizerPreset::kBandPass, {500, 2000, 1000, 30}), from_zero);
  // Notch with S = E: E = S + 50, no slope, the level limited to 199 %.
  const EnvelopePoints notch{{0, 127}, {196, 127}, {196, 253}, {197, 253}, {197, 127}, {255, 127}};
  EXPECT_EQ(BandPresetCurve(EqualizerPreset::kNotch, {10000, 10000, 700, 1000}), notch);
  // A low pass whose slope runs past 20 kHz ends at the axis' last point (not a wrapped byte).
  const EnvelopePoints low_pass{{0, 127}, {252, 127}, {255, 25}, {255, 25}};
  EXPECT_EQ(PassPresetCurve(EqualizerPreset::kLowPass, {19500, 1000, 20}), low_pass);
  const EnvelopePoints high_pass{{0, 127}, {0, 127}, {51, 127}, {255, 127}};
  EXPECT_EQ(PassPresetCurve(EqualizerPreset::kHighPass, {1000, 3000, 150}), high_pass);
}

TEST(EqualizerCurve, PresetValuesLiveUnderTheirOwnKeyAndTheCurveInItsFile) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("eq-settings-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  // The curve file lives in a data folder of this test alone.
  testing::ScopedDataFolder data((folder / "data").string());
  {
    Registry registry((folder / "user").string(), (folder / "machine").string());
    Settings settings(registry);
    WriteBandValues(EqualizerPreset::kBoostCut, {100, 300, 20, 180}, settings);
    WriteBandValues(EqualizerPreset::kBandStop, {1, 2, 3, 4}, settings);
    const BandValues read = ReadBandValues(EqualizerPreset::kBoostCut, settings);
    EXPECT_EQ(std::vector<int>({read.start, read.end, read.slope, read.amp}), std::vector<int>({100, 300, 20, 180}));
    // Unset values take their defaults: Amp 1000 outside band pass and band stop.
    const BandValues notch = ReadBandValues(EqualizerPreset::kNotch, settings);
    EXPECT_EQ(std::vector<int>({notch.start, notch.end, notch.slope, notch.amp}),
              std::vector<int>({8000, 12000, 1000, 1000}));
    std::ifstream file(registry.FilePath(Branch::kUser));
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[Software\\Halvorn Audio\\Sonavel\\Boost/Cut]\nAmp=180\n"), std::string::npos) << text;
  }
  std::filesystem::remove_all(folder);

  // The curve file: missing gives the flat default, written back; more than 64 points are
  // cut and falling x raised.
  std::filesystem::remove(EqualizerFilePath());
  EXPECT_EQ(LoadEqualizerPoints(), (EnvelopePoints{{0, 128}, {255, 128}}));
  EXPECT_EQ(LoadEqualizerPoints(), (EnvelopePoints{{0, 128}, {255, 128}}));
  {
    // 70 points declared, x falling at every odd one.
    std::ofstream file(EqualizerFilePath(), std::ios::binary);
    file.put(70);
    for (int i = 0; i < 70; ++i) {
      file.put(static_cast<char>(i % 2 == 0 ? 3 * i : 0));
      file.put(static_cast<char>(i));
    }
  }
  const EnvelopePoints loaded = LoadEqualizerPoints();
  ASSERT_EQ(loaded.size(), 64u);
  EXPECT_EQ(loaded[3], (std::pair<std::uint8_t, std::uint8_t>(6, 3)));
  std::filesystem::remove_all(folder);
}

TEST(EqualizerDialog, PointTipsRoundTheirDecibelsHalfAwayFromZero) {
  EXPECT_EQ(EqualizerPointTip(0, 128), "0Hz, 100% (0dB)");
  EXPECT_EQ(EqualizerPointTip(128, 255), "4029Hz, 200% (+6dB)");
  EXPECT_EQ(EqualizerPointTip(255, 32), "19999Hz, 25% (-12dB)");
  // -17.50 dB, -0.53 dB and +3.51 dB: past the half, away from zero.
  EXPECT_EQ(EqualizerPointTip(50, 17), "963Hz, 13% (-18dB)");
  EXPECT_EQ(EqualizerPointTip(100, 120), "2621Hz, 94% (-1dB)");
  EXPECT_EQ(EqualizerPointTip(200, 191), "10397Hz, 149% (+4dB)");
  // No level at all has no finite decibels.
  EXPECT_EQ(EqualizerPointTip(0, 0), "0Hz, 0% (-∞dB)");
}

// The dialog's logic on a registry of its own: snap, reset, presets and their windows, each
// change stored at once.
TEST(EqualizerDialog, SnapResetAndPresetWindowsStoreEveryChange) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("eq-dialog-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  // The curve file lives in a data folder of this test alone.
  testing::ScopedDataFolder data((folder / "data").string());
  {
    Registry registry((folder / "user").string(), (folder / "machine").string());
    Settings settings(registry);
    ASSERT_TRUE(SaveEqualizerPoints({{3, 128}, {100, 200}, {180, 40}, {250, 90}}));
    EqualizerEditor editor(settings, 0);
    // X(f(x)) truncates back one step; the last point goes to the end of the axis.
    editor.Snap();
    const EnvelopePoints snapped{{2, 128}, {99, 200}, {179, 40}, {255, 90}};
    EXPECT_EQ(editor.points(), snapped);
    EXPECT_EQ(LoadEqualizerPoints(), snapped);
    editor.Reset();
    EXPECT_EQ(editor.points(), (EnvelopePoints{{0, 128}, {255, 128}}));
    EXPECT_EQ(LoadEqualizerPoints(), editor.points());

    // Without a preset the settings window is refused.
    const std::optional<Message> refused = editor.SettingsRefusal();
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->text, "Bitte wählen Sie eine Voreinstellung, bevor Sie das Einstellungsfenster öffnen.");
    EXPECT_EQ(refused->caption, "Sonavel");
    EXPECT_EQ(refused->icon, MessageIcon::kError);

    // Notch: the slope is disabled and 0; typed values are checked all before any is kept.
    editor.ChoosePreset(static_cast<int>(EqualizerPreset::kNotch));
    EXPECT_FALSE(editor.SettingsRefusal().has_value());
    EXPECT_EQ(editor.points(), BandPresetCurve(EqualizerPreset::kNotch, {8000, 12000, 1000, 1000}));
    EqualizerWindow window = editor.Window();
    EXPECT_EQ(window.title, "Notch Einstellungen");
    ASSERT_EQ(window.values.size(), 4u);
    EXPECT_EQ(window.values[2].name, "Slope");
    EXPECT_FALSE(window.values[2].enabled);
    EXPECT_EQ(window.values[2].value, 0);
    EXPECT_EQ(window.values[3].value, 200);  // the stored 1000 at the slider's top
    EXPECT_EQ(std::vector<int>({window.values[3].edit_id, window.values[3].slider_id, window.values[3].highest,
                                window.values[3].step, window.reset_id, window.apply_id}),
              std::vector<int>({107, 108, 200, 5, 113, 114}));
    EXPECT_NE(editor.ApplyWindowValues({{"StartFreq", "5000"}, {"Amp", "abc"}}), "");
    EXPECT_NE(editor.ApplyWindowValues({{"EndFreq", "20001"}}), "");
    EXPECT_EQ(ReadBandValues(EqualizerPreset::kNotch, settings).start, 8000);
    EXPECT_EQ(editor.ApplyWindowValues({{"StartFreq", "5000"}, {"EndFreq", "5000"}, {"Amp", "180"}}), "");
    EXPECT_EQ(editor.points(), BandPresetCurve(EqualizerPreset::kNotch, {5000, 5000, 0, 180}));
    EXPECT_EQ(LoadEqualizerPoints(), editor.points());
    editor.ResetWindow();
    const BandValues reset = ReadBandValues(EqualizerPreset::kNotch, settings);
    EXPECT_EQ(std::vector<int>({reset.start, reset.end, reset.slope, reset.amp}),
              std::vector<int>({9750, 10250, 0, 150}));
    EXPECT_EQ(editor.points(), BandPresetCurve(EqualizerPreset::kNotch, reset));

    // The pass window: three values, its own reset and apply ids and defaults.
    editor.ChoosePreset(static_cast<int>(EqualizerPreset::kHighPass));
    window = editor.Window();
    EXPECT_EQ(window.title, "HighPass Einstellungen");
    std::vector<int> ids;
    for (const EqualizerWindowValue& value : window.values) ids.insert(ids.end(), {value.edit_id, value.slider_id});
    EXPECT_EQ(ids, std::vector<int>({101, 102, 103, 104, 107, 108}));
    EXPECT_EQ(std::make_pair(window.reset_id, window.apply_id), std::make_pair(111, 112));
    EXPECT_EQ(editor.ApplyWindowValues({{"Freq", "12000"}, {"Slope", "3000"}, {"Amp", "10"}}), "");
    EXPECT_EQ(editor.points(), PassPresetCurve(EqualizerPreset::kHighPass, {12000, 3000, 10}));
    editor.ResetWindow();
    const PassValues pass = ReadPassValues(EqualizerPreset::kHighPass, settings);
    EXPECT_EQ(std::vector<int>({pass.freq, pass.slope, pass.amp}), std::vector<int>({4000, 1000, 50}));

    editor.SetWindowPosition(321, 45);
    EXPECT_EQ(EqualizerEditor(settings, 4).WindowPosition(), std::make_pair(321, 45));
    EXPECT_EQ(settings.ReadInt("Settings", "EQWindowX", 0), 321);
  }
  std::filesystem::remove_all(folder);
}

TEST(EqualizerTableTest, SegmentsEndAtTheNextPointsBinAndGapsTakeTheFirstHeight) {
  // At 44100 Hz x = 64 is bin 124, x = 128 bin 374, x = 255 bin 1857.
  const EqualizerTable table = BuildEqualizerTable({{64, 200}, {128, 0}, {255, 0}}, 44100);
  EXPECT_EQ(table[0], 200);
  EXPECT_EQ(table[123], 200);
  EXPECT_EQ(table[125], 200);
  EXPECT_EQ(table[249], 100);  // the ramp, not a step: 200 − 200 × 125 / 250
  EXPECT_EQ(table[373], 1);
  EXPECT_EQ(table[374], 0);
  EXPECT_EQ(table[2047], 0);
  const EqualizerTable flat = BuildEqualizerTable({{0, 128}, {255, 128}}, 0);
  EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](std::uint8_t y) { return y == 128; }));
  // The telephone's band at 8000 Hz: bins 153 to 1842.
  const EqualizerTable phone = TelephoneTable(8000);
  EXPECT_EQ(phone[152], 0);
  EXPECT_EQ(phone[153], 100);
  EXPECT_EQ(phone[1842], 100);
  EXPECT_EQ(phone[1843], 0);
}

TEST(UnorderedFftTest, GivesTheSpectrumInDigitReversedOrderAndBack) {
  for (const int order : {2, 6, 14}) {
    const UnorderedFft fast(order);
    const FftPlan plan(order);
    const std::int32_t n = plan.size();
    ASSERT_EQ(fast.size(), n);
    std::mt19937 random(order);
    std::uniform_real_distribution<double> draw(-1.0, 1.0);
    std::vector<double> re(n), im(n);
    for (std::int32_t i = 0; i < n; ++i) {
      re[i] = draw(random);
      im[i] = draw(random);
    }
    std::vector<double> fre = re, fim = im, pre = re, pim = im;
    fast.Forward(fre.data(), fim.data());
    plan.Forward(pre.data(), pim.data());
    double worst = 0;
    for (std::int32_t k = 0; k < n; ++k) {
      std::int32_t at = 0;
      for (int digit = 0; digit < order / 2; ++digit) at = at * 4 + ((k >> (2 * digit)) & 3);
      worst = std::max({worst, std::abs(fre[at] - n * pre[k]), std::abs(fim[at] - n * pim[k])});
    }
    EXPECT_LT(worst, 1e-10 * n) << order;
    fast.Inverse(fre.data(), fim.data());
    worst = 0;
    for (std::int32_t i = 0; i < n; ++i)
      worst = std::max({worst, std::abs(fre[i] - n * re[i]), std::abs(fim[i] - n * im[i])});
    EXPECT_LT(worst, 1e-10 * n) << order;
  }
}

TEST(FirCoefficientsTest, FlatIsAUnitImpulseAndTheFastSumEqualsTheDirectOne) {
  EqualizerTable flat;
  flat.fill(128);
  FirCoefficients unit{};
  unit[0] = 32768;
  EXPECT_EQ(DirectFirCoefficients(flat), unit);
  EXPECT_EQ(ComputeFirCoefficients(flat), unit);
  EqualizerTable noise;
  std::mt19937 random(5);
  for (std::uint8_t& y : noise) y = static_cast<std::uint8_t>(random());
  for (const EqualizerTable& table :
       {TelephoneTable(8000), TelephoneTable(44100), noise,
        BuildEqualizerTable(PresetCurve(EqualizerPreset::kBandPass, DefaultSettings()), 22050)})
    EXPECT_EQ(ComputeFirCoefficients(table), DirectFirCoefficients(table));
}

TEST(FirEqualizerTest, FlatPassesSixteenBitAudioUnchangedAndSeekMatchesTheStart) {
  EqualizerTable flat;
  flat.fill(128);
  const std::vector<std::int32_t> input = Noise(30000, 2, 0x7FFF0, 1);
  for (const bool exact : {false, true}) {
    SourceRef filter = MakeCounted<FirEqualizer>(Memory(input, 44100, 2), ComputeFirCoefficients(flat), exact);
    EXPECT_EQ(ReadInOddChunks(*filter, 30000), input) << exact;
  }
  // The flat curve needs no filter at all.
  SourceRef memory = Memory(input, 44100, 2);
  EXPECT_EQ(MakeFirEqualizer(memory, BuildEqualizerTable({{0, 128}, {255, 128}}, 44100)).get(), memory.get());
  // A telephone band on mono noise: a seek reads what reading from the start gives there.
  const std::vector<std::int32_t> mono = Noise(40000, 1, 0x7FFF0, 2);
  SourceRef whole = MakeFirEqualizer(Memory(mono, 8000), TelephoneTable(8000));
  const std::vector<std::int32_t> all = ReadInOddChunks(*whole, 40000);
  for (const std::int32_t at : {0, 1000, 8192 + 2047, 20000}) {
    SourceRef sought = MakeFirEqualizer(Memory(mono, 8000), TelephoneTable(8000));
    sought->Seek(at);
    EXPECT_EQ(sought->Position(), at);
    const std::vector<std::int32_t> part = ReadInOddChunks(*sought, 40000 - at);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + at)) << at;
  }
  // More than two channels pass through.
  SourceRef four = Memory(Noise(100, 4, 1600, 3), 44100, 4);
  EXPECT_EQ(MakeFirEqualizer(four, TelephoneTable(44100)).get(), four.get());
}

TEST(FirEqualizerTest, FastPathMatchesTheExactSumsAndSaturates) {
  // Boost to 199 % over a wide band on loud stereo noise, across several blocks.
  const EqualizerTable table = BuildEqualizerTable(BandPresetCurve(EqualizerPreset::kBoostCut, {50, 15000, 500, 199}), 44100);
  const std::vector<std::int32_t> input = Noise(20000, 2, 0x7FFF0, 4);
  SourceRef fast = MakeFirEqualizer(Memory(input, 44100, 2), table);
  SourceRef exact = MakeFirEqualizer(Memory(input, 44100, 2), table, true);
  const std::vector<std::int32_t> a = ReadInOddChunks(*fast, 20000);
  const std::vector<std::int32_t> b = ReadInOddChunks(*exact, 20000);
  std::int64_t worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max<std::int64_t>(worst, std::abs(std::int64_t{a[i]} - b[i]));
  EXPECT_LE(worst, 1 << 4);
  // Sums beyond 32 bits saturate instead of wrapping: a square wave of 2^31 − 16 through
  // a 200 % low pass overshoots.
  std::vector<std::int32_t> square(20000);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 220) % 2 == 0 ? 0x7FFFFFF0 : -0x7FFFFFF0;
  EqualizerTable loud{};
  std::fill(loud.begin(), loud.begin() + 400, 255);
  SourceRef boosted = MakeFirEqualizer(Memory(square, 44100), loud);
  const std::vector<std::int32_t> out = ReadInOddChunks(*boosted, 20000);
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0x7FFFFFFF);
  EXPECT_EQ(*std::min_element(out.begin(), out.end()), -0x7FFFFFFF - 1);
  for (std::size_t i = 1000; i < out.size(); i += 220) EXPECT_GT(std::int64_t{out[i]} * square[i], 0) << i;
}

TEST(FirEqualizerTest, ResponseFollowsTheTable) {
  // Every preset at its stored defaults, more than 4 bins from a step of the table.
  for (int preset = 1; preset < kEqualizerPresets; ++preset) {
    const EqualizerTable table =
        BuildEqualizerTable(PresetCurve(static_cast<EqualizerPreset>(preset), DefaultSettings()), 44100);
    const std::vector<double> db = MeasuredResponse(table, 44100);
    for (int i = 0; i < kEqualizerBins; ++i) {
      bool near_step = false;
      for (int j = std::max(0, i - 5); j < std::min(kEqualizerBins - 1, i + 5); ++j)
        near_step |= std::abs(table[j + 1] - table[j]) > 2;
      if (!near_step && table[i] > 0) {
        ASSERT_NEAR(db[i], TableDb(table[i]), 0.2) << preset << " bin " << i;
      }
    }
  }
  // The telephone band: 100 / 128 from 400 to 3400 Hz, 30 dB further down below 200 Hz
  // and above 3800 Hz.
  for (const std::int32_t rate : {8000, 22050, 44100}) {
    const std::vector<double> db = MeasuredResponse(TelephoneTable(rate), rate);
    for (int i = 0; i < kEqualizerBins; ++i) {
      const double hz = i * rate / 4096.0;
      if (hz >= 400 && hz <= 3400) {
        ASSERT_NEAR(db[i], TableDb(100), 0.2) << rate << " " << hz;
      }
      if (hz < 200 || hz > 3800) {
        ASSERT_LT(db[i], TableDb(100) - 30) << rate << " " << hz;
      }
    }
  }
}

// sox's own FIR filter with our 4095 coefficients on 16-bit noise, against ours.
TEST(FirEqualizerTest, EqualsSoxFirWithTheSameCoefficients) {
  if (std::system("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is needed";
  const std::string folder = (std::filesystem::temp_directory_path() / ("eq-sox-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(folder);
  const EqualizerTable table = BuildEqualizerTable(PresetCurve(EqualizerPreset::kBandStop, DefaultSettings()), 44100);
  const FirCoefficients c = ComputeFirCoefficients(table);
  {
    std::ofstream taps(folder + "/taps.txt");
    char text[40];
    for (std::int32_t j = 0; j < FirEqualizer::kTaps; ++j) {
      std::snprintf(text, sizeof text, "%.17g\n", c[std::abs(j - FirEqualizer::kHalf)] / 32768.0);
      taps << text;
    }
  }
  constexpr std::int32_t kFrames = 30000;
  const std::vector<std::int32_t> input = Noise(kFrames, 2, 0x4000 * 16, 6);
  {
    std::vector<std::int16_t> pcm(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) pcm[i] = static_cast<std::int16_t>(input[i] / 16);
    std::ofstream raw(folder + "/in.raw", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(2 * pcm.size()));
  }
  const std::string format = "-t raw -r 44100 -e signed -b 16 -c 2 ";
  const std::string command = "sox -D " + format + "'" + folder + "/in.raw' " + format + "'" + folder +
                              "/out.raw' fir '" + folder + "/taps.txt'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream raw(folder + "/out.raw", std::ios::binary);
  std::vector<std::int16_t> theirs(input.size());
  raw.read(reinterpret_cast<char*>(theirs.data()), static_cast<std::streamsize>(2 * theirs.size()));
  ASSERT_EQ(raw.gcount(), static_cast<std::streamsize>(2 * theirs.size()));
  SourceRef ours = MakeFirEqualizer(Memory(input, 44100, 2), table);
  const std::vector<std::int32_t> out = ReadInOddChunks(*ours, kFrames);
  int worst = 0;
  for (std::size_t i = 0; i < out.size(); ++i)
    worst = std::max(worst, std::abs(static_cast<int>(std::lround(out[i] / 16.0)) - theirs[i]));
  EXPECT_LE(worst, 2);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sonavel
