#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "memory_source.h"
#include "effects/block_level.h"
#include "effects/compressor.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "effects/gain_control.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::ReadAll;
using testing::Segments;
using testing::WriteSound;

using testing::MemorySource;

// `frames` frames alternating +amplitude and -amplitude every `half` frames, the same on
// every channel.
std::vector<std::int32_t> Square(std::int32_t frames, std::int32_t amplitude, std::uint8_t channels = 1,
                                 std::int32_t half = 1) {
  std::vector<std::int32_t> out;
  for (std::int32_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) out.push_back((f / half) % 2 == 0 ? amplitude : -amplitude);
  return out;
}

std::vector<std::int32_t> Sine(std::int32_t frames, double amplitude, double hz, std::int32_t rate) {
  std::vector<std::int32_t> out(frames);
  for (std::int32_t f = 0; f < frames; ++f)
    out[f] = static_cast<std::int32_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * f / rate)));
  return out;
}

// Reads `frames` frames in odd chunk sizes, so that reads end inside blocks.
std::vector<std::int32_t> ReadChunked(SampleSource& source, std::int32_t frames) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * source.channels, -7);
  for (std::int32_t done = 0; done < frames;) {
    const std::int32_t k = std::min(frames - done, 97);
    source.Read(out.data() + static_cast<std::size_t>(done) * source.channels, k);
    done += k;
  }
  return out;
}

double Rms(const std::vector<std::int32_t>& samples, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

// ---- Compressor ----

TEST(CompressorTable, OneToOneAtThresholdZeroIsUnityUpToTheLimit) {
  const CompressorTable table = CompressorGainTable(0, kCompressorRatios[0].factor, 3);
  for (int i = 0; i <= 3 + 128; ++i) EXPECT_EQ(table[i], 1 << 24) << "entry " << i;
  // Above the limit one dB down per dB: 2^24 × 0.8913, then × 0.8913 again.
  EXPECT_EQ(table[132], 14953532);
  EXPECT_EQ(table[133], 13328083);
}

TEST(CompressorTable, MakeUpGainAndRatioSteps) {
  // 2:1, threshold -10 dB, limit 5 dB: below the threshold 2^24 × 10^(10/40).
  const CompressorTable table = CompressorGainTable(-10, kCompressorRatios[2].factor, 5);
  EXPECT_EQ(table[0], 29834577);
  EXPECT_EQ(table[117], 29834577);
  EXPECT_EQ(table[118], 29834577);  // the threshold itself
  EXPECT_EQ(table[119], 28165657);
  EXPECT_EQ(table[120], 26590095);
  EXPECT_EQ(table[128], 16777216);  // 0 dB comes out at unity
  EXPECT_EQ(table[132], 13326616);
  EXPECT_EQ(table[133], 12581137);  // first entry above the limit
  EXPECT_EQ(table[134], 11213567);
  EXPECT_EQ(table[135], 9994652);
  EXPECT_EQ(table[200], 5640);
}

TEST(CompressorTable, HugeMakeUpGainHoldsAtTheLargestGain) {
  // "Limit" at -127 dB would ask for 2^24 × 10^6.35; the entries stop at 0x7FFFFFFF.
  const CompressorTable table = CompressorGainTable(-127, kCompressorRatios[6].factor, -127);
  EXPECT_EQ(table[0], 0x7FFFFFFF);
  EXPECT_EQ(table[1], 0x7FFFFFFF);
  EXPECT_GT(table[255], 0);
  EXPECT_LT(table[255], 0x7FFFFFFF);
  // Out-of-range threshold and limit are taken as ±127.
  EXPECT_EQ(CompressorGainTable(-500, 0.9, 900), CompressorGainTable(-127, 0.9, 127));
}

TEST(CompressorBlock, LengthAndLevel) {
  EXPECT_EQ(CompressorBlockLength(44100), 1984);
  EXPECT_EQ(CompressorBlockLength(8000), 360);
  EXPECT_EQ(CompressorBlockLength(2000), 128);
  EXPECT_EQ(CompressorBlockLength(192000), 8192);

  auto level = [](const std::vector<std::int32_t>& s) {
    return CompressorBlockLevel(s.data(), static_cast<std::int32_t>(s.size()));
  };
  EXPECT_EQ(level(Square(100, 65536)), -3);    // 10 log10(2^22 / 2^23)
  EXPECT_EQ(level(Square(100, 1 << 19)), 15);  // 10 log10(2^28 / 2^23) = 15.05
  EXPECT_EQ(level(Square(100, 1 << 21)), 27);
  EXPECT_EQ(level({32, 32, 32}), -69);        // mean square 1
  EXPECT_EQ(level({16, -16}), kSilenceDb);    // (0 + 1) / 2 rounds down to 0: silence
  EXPECT_EQ(level(std::vector<std::int32_t>(50, 0)), kSilenceDb);
}

TEST(CompressorBlock, MeanSquareIsExactForTheLoudestSamples) {
  const std::vector<std::int32_t> loudest(16384, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(MeanSquare(loudest.data(), 16384), std::uint64_t{1} << 52);
  const std::vector<std::int32_t> mixed = {32, 64, 0};
  EXPECT_EQ(MeanSquare(mixed.data(), 3), 1u);  // (1 + 4 + 0) / 3
  const std::vector<std::int32_t> strided = {1 << 20, 999999, 0, 999999};
  EXPECT_EQ(MeanSquare(strided.data(), 2, 2), std::uint64_t{1} << 29);
  EXPECT_EQ(CompressorBlockLevel(loudest.data(), 16384), 87);
}

TEST(Compressor, QuietSignalPassesWithTheMakeUpGain) {
  // Level -21 dB, below a threshold of -10 dB: every frame is scaled by the same gain.
  const std::vector<std::int32_t> input = Square(2000, 8192, 2, 3);
  SourceRef compressor = MakeCompressor(MakeCounted<MemorySource>(input, 8000, 2), -10, 2, 5);
  ASSERT_EQ(compressor->peak_bound, kCompressorPeak);
  const std::vector<std::int32_t> output = ReadChunked(*compressor, 2000);
  for (std::size_t i = 0; i < input.size(); ++i) ASSERT_EQ(output[i], Q24Multiply(input[i], 29834577)) << i;
}

TEST(Compressor, ReadsOneBlockAheadAndReportsTheFrameItDelivers) {
  std::vector<std::int32_t> ramp(3000);
  for (std::int32_t i = 0; i < 3000; ++i) ramp[i] = 1000 + i;
  SourceRef upstream = MakeCounted<MemorySource>(ramp, 8000, 1);
  CompressorTable unity;
  unity.fill(1 << 24);
  CompressorFilter compressor(upstream, unity);
  ASSERT_EQ(compressor.block_length(), 360);
  EXPECT_EQ(compressor.Position(), 0);
  std::vector<std::int32_t> out = testing::ReadFrames(compressor, 10);
  EXPECT_EQ(upstream->Position(), 720);  // the current block and the one ahead
  EXPECT_EQ(compressor.Position(), 10);
  EXPECT_EQ(out[0], 1000);  // frames line up with the input
  EXPECT_EQ(out[9], 1009);
  out = testing::ReadFrames(compressor, 350);
  EXPECT_EQ(compressor.Position(), 360);
  EXPECT_EQ(upstream->Position(), 720);
  out = testing::ReadFrames(compressor, 1);
  EXPECT_EQ(out[0], 1360);
  EXPECT_EQ(upstream->Position(), 1080);
  EXPECT_EQ(compressor.Position(), 361);
}

TEST(Compressor, GainFallsAheadOfALoudBlock) {
  // Threshold 0, "Limit", no limit: quiet blocks at unity, a block at +15 dB at table[143].
  const CompressorTable table = CompressorGainTable(0, kCompressorRatios[6].factor, 127);
  const std::int32_t loud_gain = table[143];
  ASSERT_LT(loud_gain, 1 << 24);
  std::vector<std::int32_t> input = Square(360, 8192);
  const std::vector<std::int32_t> loud = Square(720, 1 << 19);
  input.insert(input.end(), loud.begin(), loud.end());
  SourceRef compressor = MakeCompressor(MakeCounted<MemorySource>(input, 8000, 1), 0, 6, 127);
  const std::vector<std::int32_t> output = ReadChunked(*compressor, 1080);

  // Block 0 already glides down: over W + W / 4 frames it would reach the loud gain.
  std::int64_t gain = 1 << 24;
  std::int32_t slope = static_cast<std::int32_t>((loud_gain - gain) / 450);
  for (std::int32_t j = 0; j < 360; ++j, gain += slope) ASSERT_EQ(output[j], Q24Multiply(input[j], gain)) << j;
  // Block 1 (loud, the next loud too): attack again from where the gain stands.
  slope = static_cast<std::int32_t>((loud_gain - gain) / 450);
  for (std::int32_t j = 360; j < 720; ++j, gain += slope) ASSERT_EQ(output[j], Q24Multiply(input[j], gain)) << j;
  // Block 2 is followed by silence (unity): release towards the mean of the neighbours.
  slope = static_cast<std::int32_t>(((std::int64_t{1 << 24} + loud_gain) / 2 - gain) / 720);
  for (std::int32_t j = 720; j < 1080; ++j, gain += slope) ASSERT_EQ(output[j], Q24Multiply(input[j], gain)) << j;
}

TEST(Compressor, SeekStartsAfreshAtTheFrame) {
  std::vector<std::int32_t> input = Square(1080, 8192);
  const std::vector<std::int32_t> loud = Square(1080, 1 << 19);
  input.insert(input.end(), loud.begin(), loud.end());
  SourceRef upstream = MakeCounted<MemorySource>(input, 8000, 1);
  SourceRef compressor = MakeCompressor(upstream, 0, 6, 127);
  ReadChunked(*compressor, 2000);  // deep into the loud part, the gain well below unity

  compressor->Seek(100);
  EXPECT_EQ(compressor->Position(), 100);
  EXPECT_EQ(upstream->Position(), 100);
  // The blocks from frame 100 on are quiet: unity again, nothing of the loud gain remains.
  std::vector<std::int32_t> output = ReadChunked(*compressor, 300);
  for (std::int32_t j = 0; j < 300; ++j) ASSERT_EQ(output[j], input[100 + j]) << j;
  EXPECT_EQ(compressor->Position(), 400);
  EXPECT_EQ(upstream->Position(), 820);
}

TEST(Compressor, DeliversZerosWhenItsSourceIsUnusable) {
  SourceRef compressor =
      MakeCompressor(MakeCounted<MemorySource>(Square(1000, 8192), 8000, 1, kStatusCorrupt), -10, 2, 5);
  EXPECT_EQ(compressor->status, kStatusUpstreamFailed);
  const std::vector<std::int32_t> output = testing::ReadFrames(*compressor, 500);
  EXPECT_EQ(output, std::vector<std::int32_t>(500, 0));
}

TEST(Compressor, BuildsNothingWhenEveryGainIsUnity) {
  SourceRef upstream = MakeCounted<MemorySource>(Square(10, 1), 8000, 1);
  EXPECT_EQ(MakeCompressor(upstream, 127, 3, 127).get(), upstream.get());
  EXPECT_FALSE(MakeCompressor(upstream, 0, 7, 0));
  EXPECT_FALSE(MakeCompressor(upstream, 0, -1, 0));
}

class CompressorEffect : public testing::StoreTest {};

TEST_F(CompressorEffect, DefinitionRendersTheSelection) {
  const EffectDefinition* effect = FindEffect(4024);
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->undo_name, "Dynamic Range Compressor");
  EXPECT_EQ(FindEffectByName("dynamic range compressor"), effect);
  ASSERT_EQ(effect->parameters.size(), 3u);
  EXPECT_EQ(effect->parameters[0].name, "CompressorThreshold");
  EXPECT_EQ(effect->parameters[1].name, "CompressorRatio");
  EXPECT_EQ(effect->parameters[2].name, "CompressorLimit");
  for (const EffectParameter& parameter : effect->parameters) {
    EXPECT_EQ(parameter.key, "StoredValues");
    EXPECT_EQ(parameter.fallback, "0");
  }
  EXPECT_EQ(effect->parameters[1].choices,
            (std::vector<std::string>{"1:1", "3:2", "2:1", "3:1", "4:1", "5:1", "Limit"}));
  EXPECT_EQ(effect->dialog, EffectDialogKind::kCompressor);
  EXPECT_TRUE(effect->has_dialog);
  EXPECT_TRUE(effect->has_preview);
  EXPECT_EQ(effect->lead_in_ms, 500);

  const std::vector<std::int32_t> input = Square(2000, 8192, 2, 5);
  Sound sound = WriteSound(input, 2, 8000);
  SilentProgress progress;
  EffectRun run{sound, 300, 1500, {{"CompressorThreshold", "-10"}, {"CompressorRatio", "2"}, {"CompressorLimit", "5"}},
                {}, progress};
  ASSERT_EQ(effect->run(run), kDone);
  const std::vector<std::int32_t> output = ReadAll(sound);
  ASSERT_EQ(output.size(), input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    const bool inside = i >= 600 && i < 3000;
    ASSERT_EQ(output[i], inside ? Q24Multiply(input[i], 29834577) : input[i]) << i;
  }
}

TEST_F(CompressorEffect, OtherRatioIndexDoesNotRun) {
  const EffectDefinition* effect = FindEffect(4024);
  ASSERT_NE(effect, nullptr);
  Sound sound = WriteSound(Square(1000, 8192), 1, 8000);
  const auto before = Segments(sound);
  SilentProgress progress;
  EffectRun run{sound, 0, 1000, {{"CompressorThreshold", "-10"}, {"CompressorRatio", "7"}, {"CompressorLimit", "5"}},
                {}, progress};
  EXPECT_EQ(effect->run(run), kFailed);
  EXPECT_EQ(Segments(sound), before);
}

TEST_F(CompressorEffect, PreviewClampsItsValues) {
  const EffectDefinition* effect = FindEffect(4024);
  ASSERT_NE(effect, nullptr);
  SourceRef reader = MakeCounted<MemorySource>(Square(1000, 8192), 8000, 1);
  // Threshold and limit beyond 127 and ratio 9 become 127, 127 and "Limit": all unity.
  EXPECT_EQ(effect->preview(reader, {{"CompressorThreshold", "500"}, {"CompressorRatio", "9"},
                                     {"CompressorLimit", "300"}})
                .get(),
            reader.get());
  SourceRef built =
      effect->preview(reader, {{"CompressorThreshold", "-10"}, {"CompressorRatio", "-3"}, {"CompressorLimit", "5"}});
  ASSERT_TRUE(built);
  EXPECT_NE(built.get(), reader.get());
  // Ratio -3 became "1:1": below -10 dB the make-up gain is 1 (2^24 / 1^10).
  const std::vector<std::int32_t> output = testing::ReadFrames(*built, 4);
  EXPECT_EQ(output, (std::vector<std::int32_t>{8192, -8192, 8192, -8192}));
}

// ---- Automatic gain control ----

TEST(GainControlParts, GainTable) {
  const std::array<int, 256> table = GainControlTable();
  for (int i = 0; i <= 119; ++i) EXPECT_EQ(table[i], 5) << i;
  EXPECT_EQ(table[120], 4);
  EXPECT_EQ(table[121], 4);  // 3.5 rounds away from zero
  EXPECT_EQ(table[122], 3);
  EXPECT_EQ(table[127], 1);
  EXPECT_EQ(table[128], 0);
  EXPECT_EQ(table[129], -1);
  EXPECT_EQ(table[130], -1);
  EXPECT_EQ(table[131], -2);
  EXPECT_EQ(table[255], -126);
}

TEST(GainControlParts, BlockLengthAndWeights) {
  EXPECT_EQ(GainControlBlockLength(44100), 882);
  EXPECT_EQ(GainControlBlockLength(8000), 160);
  EXPECT_EQ(GainControlBlockLength(500), 20);
  EXPECT_EQ(GainControlBlockLength(1000000), 8192);
  EXPECT_EQ(GainControlWeights(44100), std::make_pair(15, 68));
  EXPECT_EQ(GainControlWeights(8000), std::make_pair(76, 210));
  EXPECT_EQ(GainControlWeights(0), std::make_pair(0, 0));
}

LevelHistogram Histogram(std::initializer_list<std::pair<int, std::uint32_t>> bins) {
  LevelHistogram histogram{};
  for (const auto& [level, count] : bins) histogram[level + 128] += count;
  return histogram;
}

TEST(GainControlParts, TypicalLevelFromAHistogram) {
  // Empty or a single block: the floor.
  EXPECT_EQ(TypicalLevel(Histogram({})), -127);
  EXPECT_EQ(TypicalLevel(Histogram({{-20, 1}})), -127);
  // 8 blocks at -20: t = 2, the loud eighth starts at -19, floor -34, median walk ends at -19.
  EXPECT_EQ(TypicalLevel(Histogram({{-20, 8}})), -19);
  // 90 at -30 and 10 at 0: t = 13; n = -29 (10 blocks left at 0 dB are at most t).
  EXPECT_EQ(TypicalLevel(Histogram({{-30, 90}, {0, 10}})), -29);
  // 60 quiet blocks at -60 lie more than 15 dB below the loud ones and do not count.
  EXPECT_EQ(TypicalLevel(Histogram({{-60, 60}, {-20, 40}})), -19);
  // Levels one apart: 8 blocks from -27 to -20; t = 2, n = -21, floor -36, half = 5.
  EXPECT_EQ(TypicalLevel(Histogram({{-27, 1}, {-26, 1}, {-25, 1}, {-24, 1}, {-23, 1}, {-22, 1}, {-21, 1}, {-20, 1}})),
            -24);
  // The floor stays at -127 for very quiet material (n below -112).
  EXPECT_EQ(TypicalLevel(Histogram({{-120, 16}})), -119);
  // The loudest level: the walk runs past 127 and is held there.
  EXPECT_EQ(TypicalLevel(Histogram({{127, 16}})), 127);
  // The bin -128 is not counted.
  EXPECT_EQ(TypicalLevel(Histogram({{-128, 1000}, {-20, 8}})), -19);
}

TEST(GainControlParts, TrackerThresholdIsTheLevelMoreThanTwelveReach) {
  LevelTracker tracker;
  EXPECT_EQ(tracker.threshold(), 0);
  EXPECT_EQ(tracker.count(), 50);
  for (int i = 0; i < 12; ++i) tracker.Push(10);
  EXPECT_EQ(tracker.threshold(), 0);  // 12 values at 10 are not more than 12
  tracker.Push(10);
  EXPECT_EQ(tracker.threshold(), 10);
  EXPECT_EQ(tracker.count(), 13);
  // Fill the rest of the ring with zeros; then the oldest 10 is overwritten by a -5.
  for (int i = 13; i < 50; ++i) tracker.Push(0);
  EXPECT_EQ(tracker.threshold(), 10);
  tracker.Push(-5);
  EXPECT_EQ(tracker.threshold(), 0);
  EXPECT_EQ(tracker.count(), 49);
  // Advancing moves on without touching the ring's contents or the threshold.
  tracker.Advance();
  EXPECT_EQ(tracker.threshold(), 0);
  EXPECT_EQ(tracker.current(), 10);
  // Negative values: 13 values at -30 among 37 at -40.
  LevelTracker low;
  for (int i = 0; i < 37; ++i) low.Push(-40);
  for (int i = 0; i < 13; ++i) low.Push(-30);
  EXPECT_EQ(low.threshold(), -30);
  EXPECT_EQ(low.count(), 13);
}

TEST(GainControlParts, TrackerSmoothedLevelRules) {
  LevelTracker tracker;
  for (int i = 0; i < 49; ++i) tracker.Push(10);
  // The value ahead is still one of the initial zeros: nothing moves.
  EXPECT_DOUBLE_EQ(tracker.smoothed(), -2.0);
  EXPECT_EQ(tracker.smoothed_level(), 0);
  tracker.Push(10);  // now 10 is ahead: σ += (10 - (-2)) / 12
  EXPECT_DOUBLE_EQ(tracker.smoothed(), -1.0);
  EXPECT_EQ(tracker.smoothed_level(), -1);
  tracker.Push(10);  // σ += (10 - (-1)) / 12
  EXPECT_NEAR(tracker.smoothed(), -1.0 / 12.0, 1e-12);
  EXPECT_EQ(tracker.smoothed_level(), 0);  // truncated toward zero
  for (int i = 0; i < 200; ++i) tracker.Push(10);
  EXPECT_EQ(tracker.smoothed_level(), 8);  // rising stops at 8
  // Falling: quiet values ahead and a lower threshold pull σ down by 1/50 of the distance.
  for (int i = 0; i < 49; ++i) tracker.Push(-20);
  const double before = tracker.smoothed();
  tracker.Push(-20);
  EXPECT_NEAR(tracker.smoothed(), before + (-20 - before) / 50.0, 1e-12);
}

class GainControl : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) saved_tmpdir_ = old;
    temp_ = folder_ + "/tmp";
    std::filesystem::create_directory(temp_);
    ::setenv("TMPDIR", temp_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_tmpdir_)
      ::setenv("TMPDIR", saved_tmpdir_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    StoreTest::TearDown();
  }
  int TempFiles() const {
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(temp_)) ++files;
    return files;
  }

  std::string temp_;
  std::optional<std::string> saved_tmpdir_;
};

// Records the bar and the texts; cancels at the first pump once the bar reached `cancel_at`.
class RecordingProgress final : public Progress {
 public:
  explicit RecordingProgress(double cancel_at = 2.0) : cancel_at_(cancel_at) {}
  void SetTexts(std::string_view title, std::string_view detail) override {
    title_ = title;
    detail_ = detail;
  }
  void SetFraction(double done) override { fractions.push_back(done); }
  bool Pump() override {
    ++pumps;
    if (probe) probe();
    return !fractions.empty() && fractions.back() >= cancel_at_;
  }

  std::string title_, detail_;
  std::vector<double> fractions;
  int pumps = 0;
  std::function<void()> probe;

 private:
  double cancel_at_;
};

TEST_F(GainControl, DefinitionAndAResult) {
  const EffectDefinition* effect = FindEffect(4009);
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->undo_name, "Automatische Lautstärken Kontrolle");
  EXPECT_FALSE(effect->has_dialog);
  EXPECT_TRUE(effect->parameters.empty());
  EXPECT_LT(effect->lead_in_ms, 0);

  Sound sound = WriteSound(Sine(16000, 3000, 440, 8000), 1, 8000);
  RecordingProgress progress;
  int files_while_running = -1;
  progress.probe = [&] { files_while_running = TempFiles(); };
  EffectRun run{sound, 4000, 12000, {}, {}, progress};
  run.cursor = 4000;
  ASSERT_EQ(effect->run(run), kDone);
  EXPECT_EQ(run.cursor, 0);
  EXPECT_TRUE(run.show_all);
  EXPECT_EQ(progress.title_, "Durchführen Der Automatischen Verstärkungsregelung");
  EXPECT_EQ(progress.detail_, "Bitte Wartezeit...");
  EXPECT_EQ(files_while_running, 2);  // the sample file and the level file
  EXPECT_EQ(TempFiles(), 0);
  // The first half of the bar is the analysis, the second the rendering.
  ASSERT_FALSE(progress.fractions.empty());
  EXPECT_DOUBLE_EQ(progress.fractions.back(), 1.0);
  EXPECT_NE(std::find(progress.fractions.begin(), progress.fractions.end(), 0.5), progress.fractions.end());
  EXPECT_TRUE(std::is_sorted(progress.fractions.begin(), progress.fractions.end()));
  EXPECT_EQ(SoundLength(sound), 16000);
}

// Runs the control over the whole of `samples` (mono, 8000 Hz) and returns the result.
std::vector<std::int32_t> Controlled(const std::vector<std::int32_t>& samples, std::int32_t start = 0,
                                     std::int32_t end = -1) {
  Sound sound = WriteSound(samples, 1, 8000);
  SilentProgress progress;
  EXPECT_EQ(RunGainControl(sound, start, end < 0 ? static_cast<std::int32_t>(samples.size()) : end, progress),
            kDone);
  return ReadAll(sound);
}

// The last `last` frames of a square wave fall in equal steps from their first frame's
// magnitude to about nothing.
void ExpectFadedTail(const std::vector<std::int32_t>& output, std::int32_t last) {
  const std::size_t first = output.size() - static_cast<std::size_t>(last);
  const double start = std::abs(output[first]);
  ASSERT_GT(start, 1000);
  for (std::int32_t j = 0; j < last; ++j) {
    const double expected = start * (last - j) / last;
    ASSERT_NEAR(std::abs(output[first + j]), expected, 3.0 + start / last) << j;
  }
  EXPECT_LE(std::abs(output.back()), start / last + 3);
  // The frames before the fade are not faded.
  EXPECT_NEAR(std::abs(output[first - 1]), start, start * 0.05);
}

TEST_F(GainControl, FadesTheLastBlockToSilence) {
  // 40 blocks of 160 frames.
  const std::vector<std::int32_t> input = Square(6400, 20000, 1, 4);
  const std::vector<std::int32_t> output = Controlled(input);
  ASSERT_EQ(output.size(), input.size());
  ExpectFadedTail(output, 160);
}

TEST_F(GainControl, APartialLastBlockFadesOverWhatItHasAndTheLengthStays) {
  // 40 blocks and 77 frames: the 41st block has 77 frames, and the sound keeps its length.
  const std::vector<std::int32_t> input = Square(6477, 20000, 1, 4);
  const std::vector<std::int32_t> output = Controlled(input);
  ASSERT_EQ(output.size(), input.size());
  ExpectFadedTail(output, 77);
}

TEST_F(GainControl, BringsQuietAndLoudMaterialTogether) {
  const std::vector<std::int32_t> quiet = Controlled(Sine(40000, 2000, 1000, 8000));
  const std::vector<std::int32_t> loud = Controlled(Sine(40000, 32000, 1000, 8000));
  // Input levels 24 dB apart; the middle of the results lies within 3 dB.
  const double quiet_rms = Rms(quiet, 16000, 24000);
  const double loud_rms = Rms(loud, 16000, 24000);
  EXPECT_GT(quiet_rms, 2000 / std::sqrt(2.0) * 4);
  EXPECT_LT(std::abs(20 * std::log10(quiet_rms / loud_rms)), 3.0);
  // The limiter keeps full scale.
  for (const std::int32_t x : quiet) ASSERT_LE(std::abs(x), 0x7FFF0);
}

TEST_F(GainControl, SelectionShorterThanTheTrackerRing) {
  // 10 blocks inside a longer sound: the tracker takes the 10 and advances for the rest.
  const std::vector<std::int32_t> input = Sine(16000, 1500, 1000, 8000);
  const std::vector<std::int32_t> output = Controlled(input, 3200, 4800);
  ASSERT_EQ(output.size(), input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (i < 3200 || i >= 4800) {
      ASSERT_EQ(output[i], input[i]) << i;
    }
  }
  // Raised well above the input within the selection, and silent at its end.
  EXPECT_GT(Rms(output, 3520, 4480), 2 * Rms(input, 3520, 4480));
  EXPECT_LE(std::abs(output[4799]), 2 * Rms(output, 3520, 4480) / 160 + 3);
}

TEST_F(GainControl, SingleShortBlock) {
  const std::vector<std::int32_t> input = Square(50, 20000);
  const std::vector<std::int32_t> output = Controlled(input);
  ASSERT_EQ(output.size(), 50u);
  EXPECT_LE(std::abs(output.back()), std::abs(output.front()) / 50 + 3);
  EXPECT_EQ(TempFiles(), 0);
}

TEST_F(GainControl, CancelInEitherPassLeavesTheSoundAndNoFiles) {
  // 5 chunks of 51 blocks.
  const std::vector<std::int32_t> input = Sine(5 * 8160, 6000, 300, 8000);
  for (const double cancel_at : {0.25, 0.75}) {
    Sound sound = WriteSound(input, 1, 8000);
    const auto before = Segments(sound);
    RecordingProgress progress(cancel_at);
    int most_files = 0;
    progress.probe = [&] { most_files = std::max(most_files, TempFiles()); };
    EXPECT_EQ(RunGainControl(sound, 0, SoundLength(sound), progress), kCancelled) << cancel_at;
    EXPECT_EQ(most_files, 2);
    EXPECT_GE(progress.fractions.back(), cancel_at);
    EXPECT_LT(progress.fractions.back(), cancel_at + 0.25);
    EXPECT_EQ(Segments(sound), before);
    EXPECT_EQ(ReadAll(sound), input);
    EXPECT_EQ(TempFiles(), 0);
  }
  ExpectNoLeak();
}

TEST_F(GainControl, MissingTemporaryFolderIsAFailureNotADamage) {
  ::setenv("TMPDIR", (folder_ + "/missing").c_str(), 1);
  const std::vector<std::int32_t> input = Square(2000, 20000);
  Sound sound = WriteSound(input, 1, 8000);
  const auto before = Segments(sound);
  SilentProgress progress;
  EXPECT_EQ(RunGainControl(sound, 0, 2000, progress), kFailed);
  EXPECT_EQ(Segments(sound), before);
  EXPECT_EQ(ReadAll(sound), input);
}

TEST_F(GainControl, StereoChannelsEachKeepTheirOwnTypicalLevel) {
  // Left loud, right 20 dB quieter: each channel is brought towards its own typical level,
  // so both come out at a similar loudness.
  std::vector<std::int32_t> input;
  const std::vector<std::int32_t> left = Sine(24000, 20000, 700, 8000);
  const std::vector<std::int32_t> right = Sine(24000, 2000, 700, 8000);
  for (std::size_t i = 0; i < left.size(); ++i) {
    input.push_back(left[i]);
    input.push_back(right[i]);
  }
  Sound sound = WriteSound(input, 2, 8000);
  SilentProgress progress;
  ASSERT_EQ(RunGainControl(sound, 0, 24000, progress), kDone);
  const std::vector<std::int32_t> output = ReadAll(sound);
  ASSERT_EQ(output.size(), input.size());
  double left_sum = 0, right_sum = 0;
  for (std::size_t f = 8000; f < 16000; ++f) {
    left_sum += static_cast<double>(output[2 * f]) * output[2 * f];
    right_sum += static_cast<double>(output[2 * f + 1]) * output[2 * f + 1];
  }
  EXPECT_LT(std::abs(10 * std::log10(left_sum / right_sum)), 3.0);
}

}  // namespace
}  // namespace sonavel
