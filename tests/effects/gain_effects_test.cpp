#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "effects/channel_mixer.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "effects/effect_groups.h"
#include "effects/envelope.h"
#include "effects/gain_runners.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::ReadAll;
using testing::Segments;
using testing::WriteSound;

// Pump answers "cancel" from its (calls + 1)-th call on.
class CancelAfter final : public Progress {
 public:
  explicit CancelAfter(int calls) : calls_(calls) {}
  // An empty line leaves that line as it was.
  void SetTexts(std::string_view title, std::string_view detail) override {
    if (!title.empty()) title_ = title;
    if (!detail.empty()) detail_ = detail;
  }
  void SetFraction(double done) override { fraction_ = done; }
  bool Pump() override { return ++pumps_ > calls_; }

  int pumps_ = 0;
  std::string title_, detail_;
  double fraction_ = -1;

 private:
  int calls_;
};

std::vector<EffectDefinition> GainEffects() {
  std::vector<EffectDefinition> effects;
  AddGainEffects(effects);
  return effects;
}

const EffectDefinition& Effect(int command_id) {
  static const std::vector<EffectDefinition> effects = GainEffects();
  for (const EffectDefinition& effect : effects)
    if (effect.command_id == command_id) return effect;
  throw std::runtime_error("no effect " + std::to_string(command_id));
}

// Where a run left the cursor and the selection's end.
struct Placement {
  std::int32_t cursor = 0;
  std::int32_t selection_end = 0;
};

// Runs an effect of the catalogue over [start, end) with its default values.
int RunEffect(int command_id, Sound& sound, std::int32_t start, std::int32_t end, Progress& progress,
        EffectValues values = {}, EnvelopePoints points = {}, Placement* out = nullptr) {
  const EffectDefinition& effect = Effect(command_id);
  for (const EffectParameter& parameter : effect.parameters) values.try_emplace(parameter.name, parameter.fallback);
  EffectRun run{.sound = sound, .start = start, .end = end, .values = values, .points = points,
                .progress = progress, .cursor = -1, .selection_end = -1, .show_all = false, .failure = {}};
  const int result = effect.run(run);
  if (out != nullptr) {
    out->cursor = run.cursor;
    out->selection_end = run.selection_end;
  }
  return result;
}

// (x × g) >> 24, exact for samples whose low 12 bits are 0 (the split multiply then loses nothing).
std::int32_t Scaled(std::int32_t x, std::int64_t g) { return static_cast<std::int32_t>((x * g) >> 24); }

class GainEffectsTest : public testing::StoreTest {};

// ---------------------------------------------------------------- catalogue

TEST(GainCatalogueTest, EntriesInMenuOrderWithTheirNamesAndLeadIns) {
  const std::vector<EffectDefinition> effects = GainEffects();
  struct Expected {
    int id;
    const char* undo;
    const char* title;
    std::int32_t lead_in;
    bool dialog;
  };
  const std::vector<Expected> expected = {
      {4001, "Anpassen", "Anpassen", 1000, true},
      {4002, "Normalisieren", "Normalisieren", 500, true},
      {4017, "Dynamik", "Dynamik", 500, true},
      {4006, "Fade In", "Fade In", 1000, false},
      {4007, "Fade Out", "Fade Out", 500, false},
      {4008, "Ausblenden und Trimmen", "Ausblenden und Trimmen", 500, false},
      {4021, "Cross Fade", "Cross Fading", 1000, true},
      {4022, "Stereo Pan", "Stereo Pan", 500, true},
      {4023, "DC Offset Correction", "DC Offset Correction", 1000, false},
      {4018, "Umkehren", "Rückwärts", 0, false},
  };
  ASSERT_EQ(effects.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].undo);
    EXPECT_EQ(effects[i].command_id, expected[i].id);
    EXPECT_EQ(effects[i].undo_name, expected[i].undo);
    EXPECT_EQ(effects[i].progress_title, expected[i].title);
    EXPECT_EQ(effects[i].lead_in_ms, expected[i].lead_in);
    EXPECT_EQ(effects[i].has_dialog, expected[i].dialog);
    EXPECT_TRUE(static_cast<bool>(effects[i].run));
    EXPECT_EQ(effects[i].has_preview, expected[i].id == 4022);
    EXPECT_EQ(static_cast<bool>(effects[i].preview), expected[i].id == 4022);
    EXPECT_EQ(effects[i].needs_stereo, expected[i].id == 4022);
    EXPECT_EQ(effects[i].uses_envelope_file, expected[i].id == 4017);
  }
  EXPECT_EQ(effects[2].dialog, EffectDialogKind::kEnvelope);
  EXPECT_EQ(effects[6].dialog, EffectDialogKind::kCrossFade);
  EXPECT_EQ(effects[7].dialog, EffectDialogKind::kStereoPan);
}

TEST(GainCatalogueTest, StoredValuesAndPresets) {
  const EffectDefinition& amplify = Effect(4001);
  ASSERT_EQ(amplify.parameters.size(), 1u);
  EXPECT_EQ(amplify.parameters[0].name, "AmplifyGain");
  EXPECT_EQ(amplify.parameters[0].key, "StoredValues");
  EXPECT_EQ(amplify.parameters[0].fallback, "100");
  EXPECT_EQ(amplify.parameters[0].id, 101);
  EXPECT_EQ(amplify.presets_id, 103);
  ASSERT_EQ(amplify.presets.size(), 4u);
  EXPECT_EQ(amplify.presets[0].name, "Viertel Lautstärke");
  EXPECT_EQ(amplify.presets[3].name, "Dreifache Lautstärke");
  std::vector<std::string> values;
  for (const EffectPreset& preset : amplify.presets) values.push_back(preset.values.at(0));
  EXPECT_EQ(values, (std::vector<std::string>{"25", "50", "200", "300"}));

  const EffectDefinition& normalise = Effect(4002);
  ASSERT_EQ(normalise.parameters.size(), 1u);
  EXPECT_EQ(normalise.parameters[0].name, "NormalizePeakLevel");
  EXPECT_EQ(normalise.parameters[0].fallback, "100");
  EXPECT_EQ(normalise.parameters[0].id, 102);
  ASSERT_EQ(normalise.presets.size(), 4u);
  EXPECT_EQ(normalise.presets[0].name, "Sehr Leises Audio Level");
  EXPECT_EQ(normalise.presets[1].name, "Leises Audio Level");
  EXPECT_EQ(normalise.presets[2].name, "Normales Audio Level");
  EXPECT_EQ(normalise.presets[3].name, "Maximales Audio Level");
  values.clear();
  for (const EffectPreset& preset : normalise.presets) values.push_back(preset.values.at(0));
  EXPECT_EQ(values, (std::vector<std::string>{"20", "40", "75", "100"}));

  const EffectDefinition& cross = Effect(4021);
  ASSERT_EQ(cross.parameters.size(), 3u);
  const char* names[] = {"GapTimeMS", "FadeInTimeMS", "FadeOutTimeMS"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cross.parameters[i].name, names[i]);
    EXPECT_EQ(cross.parameters[i].key, "CrossFade");
    EXPECT_EQ(cross.parameters[i].fallback, "300");
  }
  const EffectDefinition& pan = Effect(4022);
  ASSERT_EQ(pan.parameters.size(), 1u);
  EXPECT_EQ(pan.parameters[0].name, "StereoPan");
  EXPECT_EQ(pan.parameters[0].fallback, "50");
  EXPECT_EQ(pan.parameters[0].id, 101);
}

TEST(GainCatalogueTest, ValidationMessages) {
  const EffectDefinition& amplify = Effect(4001);
  EXPECT_EQ(RefusalMessage(amplify, {{"AmplifyGain", "400"}}), "");
  EXPECT_EQ(RefusalMessage(amplify, {{"AmplifyGain", "401"}}),
            "Normalisierungslevel muss be unter 400% liegen. Bitte noch einmal versuchen.");
  const EffectDefinition& normalise = Effect(4002);
  EXPECT_EQ(RefusalMessage(normalise, {{"NormalizePeakLevel", "100"}}), "");
  EXPECT_EQ(RefusalMessage(normalise, {{"NormalizePeakLevel", "101"}}),
            "Normalisierungslevel muss unter 100% liegen. Bitte noch einmal versuchen.");
}

// ---------------------------------------------------------------- amplify and normalise

TEST_F(GainEffectsTest, AmplifyAtHundredPercentSplitsNothing) {
  Sound sound = WriteSound(std::vector<std::int32_t>(1000, 4096));
  const auto before = Segments(sound);
  SilentProgress progress;
  EXPECT_EQ(RunEffect(4001, sound, 200, 700, progress), kDone);
  EXPECT_EQ(Segments(sound), before);
}

TEST_F(GainEffectsTest, AmplifyScalesOnlyTheSelectedSegments) {
  std::vector<std::int32_t> samples(1000);
  for (int i = 0; i < 1000; ++i) samples[i] = (i - 500) * 64;
  Sound sound = WriteSound(samples);
  SilentProgress progress;
  Placement out;
  ASSERT_EQ(RunEffect(4001, sound, 200, 700, progress, {{"AmplifyGain", "50"}}, {}, &out), kDone);
  EXPECT_EQ(out.cursor, 200);
  EXPECT_EQ(out.selection_end, 700);
  const auto segments = Segments(sound);
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0].gain, kUnityGain);
  EXPECT_EQ(segments[1].length, 500);
  EXPECT_EQ(segments[1].gain, 0x800000);  // exactly a half
  EXPECT_EQ(segments[2].gain, kUnityGain);
  const auto read = ReadAll(sound);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(read[i], i >= 200 && i < 700 ? samples[i] / 2 : samples[i]) << i;
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(GainEffectsTest, AmplifyFourHundredPercentSaturates) {
  Sound sound = WriteSound(std::vector<std::int32_t>(100, 16));
  sound.head->gain = 0x8000000;
  AmplifyRange(sound, 400, 0, 100);
  EXPECT_EQ(sound.head->gain, 0x20000000);
  AmplifyRange(sound, 400, 0, 100);
  EXPECT_EQ(sound.head->gain, 0x7FFFFFFF);
  AmplifyRange(sound, 400, 0, 100);
  EXPECT_EQ(sound.head->gain, 0x7FFFFFFF);

  Sound unity = WriteSound(std::vector<std::int32_t>(100, 16));
  const std::int32_t steps[] = {0x4000000, 0x10000000, 0x40000000, 0x7FFFFFFF};
  for (std::int32_t expected : steps) {
    AmplifyRange(unity, 400, 0, 100);
    EXPECT_EQ(unity.head->gain, expected);
  }
}

TEST_F(GainEffectsTest, AmplifyNegativePercentSilencesInsteadOfInverting) {
  Sound sound = WriteSound(std::vector<std::int32_t>(100, 4096));
  AmplifyRange(sound, -50, 0, 100);
  EXPECT_EQ(sound.head->gain, 0);
  EXPECT_EQ(ReadAll(sound), std::vector<std::int32_t>(100, 0));
}

TEST(NormalisePercentTest, Arithmetic) {
  EXPECT_EQ(NormalisePercent(100, 0x7FFF0), 100);
  EXPECT_EQ(NormalisePercent(100, 1000), 400);
  EXPECT_EQ(NormalisePercent(75, 0x40000), 149);  // 39320400 / 262144 = 149.99
  EXPECT_EQ(NormalisePercent(100, 0x80000000LL), 0);  // a peak at the 32-bit edge does not overflow
}

TEST_F(GainEffectsTest, NormaliseAtFullScaleChangesNothing) {
  Sound sound = WriteSound({0, 100, -0x7FFF0, 5000, 7});
  const auto before = Segments(sound);
  CancelAfter progress(1000);
  EXPECT_EQ(RunEffect(4002, sound, 0, 5, progress), kDone);
  EXPECT_EQ(Segments(sound), before);
  EXPECT_EQ(progress.title_, "Normalisiere");
  EXPECT_EQ(progress.detail_, "Bitte warten...");
}

TEST_F(GainEffectsTest, NormaliseOfAQuietSelectionIsCappedAtFourHundred) {
  // The loud sample lies outside the selection and does not count.
  Sound sound = WriteSound({0x7FFF0, 16, -1000, 500, 0x7FFF0});
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4002, sound, 1, 4, progress), kDone);
  const auto segments = Segments(sound);
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[1].gain, 4 * kUnityGain);
  EXPECT_EQ(ReadAll(sound), (std::vector<std::int32_t>{0x7FFF0, 64, -4000, 2000, 0x7FFF0}));
}

TEST_F(GainEffectsTest, NormaliseToSeventyFivePercent) {
  Sound sound = WriteSound({0x40000, -0x100, 0});
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4002, sound, 0, 3, progress, {{"NormalizePeakLevel", "75"}}), kDone);
  ASSERT_EQ(Segments(sound).size(), 1u);
  EXPECT_EQ(sound.head->gain, 24998051);  // 2^24 × 149 / 100
}

TEST_F(GainEffectsTest, NormaliseOfSilenceAndCancelChangeNothing) {
  Sound silent = WriteSound(std::vector<std::int32_t>(20000, 0));
  const auto before = Segments(silent);
  SilentProgress silent_progress;
  EXPECT_EQ(RunEffect(4002, silent, 0, 20000, silent_progress), kDone);
  EXPECT_EQ(Segments(silent), before);

  Sound sound = WriteSound(std::vector<std::int32_t>(20000, 100));
  const auto loud_before = Segments(sound);
  CancelAfter cancel(2);  // during the third chunk
  EXPECT_EQ(RunEffect(4002, sound, 0, 20000, cancel), kCancelled);
  EXPECT_EQ(Segments(sound), loud_before);
}

// ---------------------------------------------------------------- envelope and fades

TEST(EnvelopeRampTest, PointFrames) {
  EXPECT_EQ(EnvelopeRamp::PointFrame(255, 1000), 1000);
  EXPECT_EQ(EnvelopeRamp::PointFrame(128, 256), 128);
  EXPECT_EQ(EnvelopeRamp::PointFrame(128, 1000), 128 * 3 + 128 * 235 / 255);  // 384 + 117
  // x × (len / 255) first: no overflow near 2^31 frames.
  EXPECT_EQ(EnvelopeRamp::PointFrame(255, 0x7FFFFFFF), 0x7FFFFFFF);
}

TEST_F(GainEffectsTest, EnvelopeReachesSilenceAtTheMiddleFrameOnBothChannels) {
  // 500 stereo frames; the envelope covers [100, 356), 256 frames.
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 500; ++i) {
    samples.push_back(0x40000);
    samples.push_back(-0x20000);
  }
  Sound sound = WriteSound(samples, 2);
  CancelAfter progress(1000);
  Placement out;
  ASSERT_EQ(RunEffect(4017, sound, 100, 356, progress, {}, {{0, 128}, {128, 0}, {255, 128}}, &out), kDone);
  EXPECT_EQ(out.cursor, 100);
  EXPECT_EQ(out.selection_end, 356);
  EXPECT_EQ(progress.title_, "Envelope");
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), 1000u);
  for (int f = 0; f < 500; ++f) {
    std::int64_t gain = kUnityGain;
    if (f >= 100 && f < 228) gain = kUnityGain - 131072LL * (f - 100);  // 2^24 / 128 per frame
    if (f >= 228 && f < 356) gain = 131072LL * (f - 228);
    ASSERT_EQ(read[2 * f], Scaled(0x40000, gain)) << f;
    ASSERT_EQ(read[2 * f + 1], Scaled(-0x20000, gain)) << f;
  }
  EXPECT_EQ(read[2 * 228], 0);
  EXPECT_EQ(read[2 * 228 + 1], 0);
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(GainEffectsTest, EnvelopeWithFewerThanTwoPointsDoesNothing) {
  Sound sound = WriteSound(std::vector<std::int32_t>(100, 4096));
  const auto before = Segments(sound);
  SilentProgress progress;
  EXPECT_EQ(RunEffect(4017, sound, 0, 100, progress, {}, {{0, 0}}), kFailed);
  EXPECT_EQ(RunEffect(4017, sound, 0, 100, progress, {}, {}), kFailed);
  EXPECT_EQ(Segments(sound), before);
}

TEST_F(GainEffectsTest, EnvelopeJumpsAtRepeatedPositionsAndHoldsAfterTheLastPoint) {
  std::vector<std::int32_t> ones(256, 0x10000);
  SilentProgress progress;
  Sound jump = WriteSound(ones);
  ASSERT_EQ(RenderEnvelope(jump, 0, 256, {{0, 128}, {128, 0}, {128, 128}, {255, 128}}, progress), kDone);
  auto read = ReadAll(jump);
  EXPECT_EQ(read[127], Scaled(0x10000, 131072));
  for (int f = 128; f < 256; ++f) ASSERT_EQ(read[f], 0x10000) << f;

  Sound hold = WriteSound(ones);
  ASSERT_EQ(RenderEnvelope(hold, 0, 256, {{0, 0}, {128, 64}}, progress), kDone);
  read = ReadAll(hold);
  EXPECT_EQ(read[0], 0);
  EXPECT_EQ(read[64], Scaled(0x10000, 65536 * 64));
  for (int f = 128; f < 256; ++f) ASSERT_EQ(read[f], 0x8000) << f;
}

TEST_F(GainEffectsTest, FadeInOnStereoEndsAtExactlyUnity) {
  // 10000 frames cross a chunk boundary; the slope is worked out again per chunk.
  EnvelopeRamp ramp(kFadeInPoints, 10000);
  std::vector<std::int32_t> block(2 * 8192, 0x40000);
  ASSERT_EQ(ramp.Span(), 10000);
  ramp.Apply(block.data(), 8192, 2);
  EXPECT_EQ(ramp.gain(), 8192 * 1677);
  ramp.Apply(block.data(), 1808, 2);
  EXPECT_EQ(ramp.frame(), 10000);
  EXPECT_EQ(ramp.gain(), kQ24Unity);

  std::vector<std::int32_t> samples;
  for (int i = 0; i < 10100; ++i) {
    samples.push_back(0x40000);
    samples.push_back(0x20000);
  }
  Sound sound = WriteSound(samples, 2);
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4006, sound, 0, 10000, progress), kDone);
  const auto read = ReadAll(sound);
  auto gain_at = [](int f) -> std::int64_t {
    return f < 8192 ? 1677LL * f : 13737984LL + 1680LL * (f - 8192);  // (2^24 - 13737984) / 1808 = 1680
  };
  for (int f : {0, 1, 4000, 8191, 8192, 9000, 9999}) {
    EXPECT_EQ(read[2 * f], Scaled(0x40000, gain_at(f))) << f;
    EXPECT_EQ(read[2 * f + 1], Scaled(0x20000, gain_at(f))) << f;
  }
  for (int f = 1; f < 10000; ++f) {
    ASSERT_GE(read[2 * f], read[2 * f - 2]) << f;
    ASSERT_LE(read[2 * f], 0x40000) << f;
  }
  for (int f = 10000; f < 10100; ++f) ASSERT_EQ(read[2 * f], 0x40000);
}

TEST_F(GainEffectsTest, FadeOutFallsToSilence) {
  Sound sound = WriteSound(std::vector<std::int32_t>(600, -0x8000));
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4007, sound, 200, 456, progress), kDone);
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), 600u);
  for (int f = 0; f < 600; ++f) {
    const std::int64_t gain = f < 200 || f >= 456 ? kUnityGain : kUnityGain - 65536LL * (f - 200);
    ASSERT_EQ(read[f], Scaled(-0x8000, gain)) << f;
  }
}

TEST_F(GainEffectsTest, FadeOutAndTrimCutsEverythingAfterTheSelection) {
  Sound sound = WriteSound(std::vector<std::int32_t>(1000, 0x8000));
  SilentProgress progress;
  Placement out;
  ASSERT_EQ(RunEffect(4008, sound, 200, 456, progress, {}, {}, &out), kDone);
  EXPECT_EQ(out.cursor, 200);
  EXPECT_EQ(out.selection_end, 456);
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), 456u);
  EXPECT_EQ(read[199], 0x8000);
  EXPECT_EQ(read[200], 0x8000);
  EXPECT_EQ(read[328], Scaled(0x8000, kUnityGain / 2));
  EXPECT_EQ(read[455], Scaled(0x8000, 65536));
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(GainEffectsTest, CancelledEnvelopesLeaveTheSoundAsBefore) {
  for (int command : {4017, 4006, 4007, 4008}) {
    SCOPED_TRACE(command);
    Sound sound = WriteSound(std::vector<std::int32_t>(2 * 20000, 0x1000), 2);
    const auto before = Segments(sound);
    CancelAfter cancel(1);
    EXPECT_EQ(RunEffect(command, sound, 0, 20000, cancel, {}, {{0, 0}, {255, 0}}), kCancelled);
    EXPECT_EQ(Segments(sound), before);
    EXPECT_EQ(cancel.pumps_, 2);
  }
  ExpectNoLeak();
}

// ---------------------------------------------------------------- stereo pan and the mixer

TEST(StereoPanTest, Levels) {
  EXPECT_EQ(StereoPanLevels(50), std::make_pair(0, 0));
  EXPECT_EQ(StereoPanLevels(0), std::make_pair(3, kSilenceDb));
  EXPECT_EQ(StereoPanLevels(100), std::make_pair(kSilenceDb, 3));
  EXPECT_EQ(StereoPanLevels(25), std::make_pair(2, -3));
  EXPECT_EQ(StereoPanLevels(-20), StereoPanLevels(0));
  EXPECT_EQ(StereoPanLevels(150), StereoPanLevels(100));
  EXPECT_EQ(GainToDecibelByte(0.0), kSilenceDb);
  EXPECT_EQ(GainToDecibelByte(1e-9), kSilenceDb);  // -180 dB is limited to -127
  EXPECT_EQ(GainToDecibelByte(1e9), 127);
}

TEST_F(GainEffectsTest, StereoPanAtFiftyLeavesTheSoundUnchanged) {
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 3000; ++i) {
    samples.push_back(i * 37 - 50000);
    samples.push_back(-i * 11 + 3);
  }
  Sound sound = WriteSound(samples, 2);
  CancelAfter progress(1000);
  ASSERT_EQ(RunEffect(4022, sound, 0, 3000, progress), kDone);
  EXPECT_EQ(progress.title_, "Stereo Regler");
  EXPECT_EQ(ReadAll(sound), samples);
}

TEST_F(GainEffectsTest, StereoPanFullLeftRaisesLeftByThreeDecibelsAndSilencesRight) {
  Sound sound = WriteSound({0x40000, 0x40000, -0x40000, 0x7FFF0}, 2);
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4022, sound, 0, 2, progress, {{"StereoPan", "0"}}), kDone);
  // +3 dB is 23698447 in Q24: 0x40000 × that >> 24 = 370288.23.
  EXPECT_EQ(DecibelToQ24(3), 23698447);
  EXPECT_EQ(ReadAll(sound), (std::vector<std::int32_t>{370288, 0, -370289, 0}));
}

TEST_F(GainEffectsTest, StereoPanRefusesMonoAndCancels) {
  Sound mono = WriteSound(std::vector<std::int32_t>(100, 16));
  SilentProgress progress;
  EXPECT_EQ(RunEffect(4022, mono, 0, 100, progress), kFailed);

  Sound stereo = WriteSound(std::vector<std::int32_t>(2 * 20000, 16), 2);
  const auto before = Segments(stereo);
  CancelAfter cancel(2);
  EXPECT_EQ(RunEffect(4022, stereo, 0, 20000, cancel, {{"StereoPan", "0"}}), kCancelled);
  EXPECT_EQ(Segments(stereo), before);
}

TEST_F(GainEffectsTest, StereoPanPreviewClampsItsValue) {
  Sound sound = WriteSound({0x40000, 0x40000, 0x1000, -0x1000}, 2);
  SourceRef chain = Effect(4022).preview(OpenSoundReader(sound), {{"StereoPan", "150"}});
  ASSERT_EQ(chain->channels, 2);
  EXPECT_EQ(testing::ReadFrames(*chain, 2), (std::vector<std::int32_t>{0, 370288, 0, Scaled(-0x1000, 23698447)}));
}

TEST_F(GainEffectsTest, ChannelMixerSumsEveryInputIntoTwoOutputs) {
  // Three channels: left = channel 0 + channel 2 at 0 dB, right = channel 1 at -6 dB.
  Sound sound = WriteSound({0x1000, 0x40000, 0x3000, -0x2000, 0x20000, 0x1000}, 3);
  SourceRef mixer = MakeChannelMixer(OpenSoundReader(sound), {0, kSilenceDb, 0}, {kSilenceDb, -6});
  EXPECT_EQ(mixer->channels, 2);
  EXPECT_EQ(mixer->peak_bound, kChannelMixerPeak);
  const std::int32_t minus6 = DecibelToQ24(-6);
  EXPECT_EQ(minus6, 8408526);  // 10^-0.3 × 2^24 + 0.5
  EXPECT_EQ(testing::ReadFrames(*mixer, 2),
            (std::vector<std::int32_t>{0x4000, Scaled(0x40000, minus6), -0x1000, Scaled(0x20000, minus6)}));

  // A mono input feeds both sides.
  Sound mono = WriteSound({0x5000, -0x7000});
  SourceRef wide = MakeChannelMixer(OpenSoundReader(mono), {0}, {0});
  EXPECT_EQ(testing::ReadFrames(*wide, 2), (std::vector<std::int32_t>{0x5000, 0x5000, -0x7000, -0x7000}));

  // An unusable source is passed on as it is.
  SourceRef failed = MakeNullSource();
  EXPECT_EQ(MakeChannelMixer(failed, {0}, {0}).get(), failed.get());
}

// ---------------------------------------------------------------- cross fade

// Frame n holds (n + 1) × 4096: the split multiply is exact on such values.
Sound CountingSound(int frames, int rate) {
  std::vector<std::int32_t> samples(frames);
  for (int n = 0; n < frames; ++n) samples[n] = (n + 1) * 4096;
  return WriteSound(samples, 1, rate);
}

TEST_F(GainEffectsTest, CrossFadeWithTheDefaultsRemovesTheSelectionAndOverlapsThreeTenths) {
  Sound sound = CountingSound(2000, 1000);
  CancelAfter progress(1000);
  Placement out;
  ASSERT_EQ(RunEffect(4021, sound, 500, 1500, progress, {}, {}, &out), kDone);
  EXPECT_EQ(out.cursor, 500);
  EXPECT_EQ(out.selection_end, 500);
  EXPECT_EQ(progress.title_, "Cross Fading");
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), 1300u);  // 2000 - 1000 + 300
  auto v = [](std::int64_t n) { return static_cast<std::int32_t>((n + 1) * 4096); };
  for (int n = 0; n < 500; ++n) ASSERT_EQ(read[n], v(n));
  for (int m = 0; m < 300; ++m) {
    const std::int64_t gain_a = m == 0 ? kQ24Unity : (300LL - m) * kQ24Unity / 300;
    const std::int64_t gain_b = m == 0 ? 0 : m * std::int64_t{kQ24Unity} / 300;
    ASSERT_EQ(read[500 + m], Scaled(v(500 + m), gain_a) + Scaled(v(1200 + m), gain_b)) << m;
  }
  EXPECT_EQ(read[500], v(500));
  EXPECT_EQ(read[650], (651 + 1351) * 2048);  // both at one half
  for (int n = 800; n < 1300; ++n) ASSERT_EQ(read[n], v(n + 700));
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST(CrossFadePlanTest, Positions) {
  // Gap shorter than the fade-in: the first stream starts earlier by the difference.
  CrossFadePlan plan = PlanCrossFade(1000, 1000, 100, 300, 200);
  EXPECT_EQ(plan.a, 800);
  EXPECT_EQ(plan.lead, 200);
  EXPECT_EQ(plan.fade_out_end, 400);
  EXPECT_EQ(plan.fade_in_start, 0);
  EXPECT_EQ(plan.fade_in_end, 300);
  EXPECT_EQ(plan.length, 400);
  EXPECT_EQ(CrossFadeGainA(plan, 200), kQ24Unity);
  EXPECT_EQ(CrossFadeGainA(plan, 300), kQ24Unity / 2);
  EXPECT_EQ(CrossFadeGainA(plan, 400), 0);
  EXPECT_EQ(CrossFadeGainB(plan, 0), 0);
  EXPECT_EQ(CrossFadeGainB(plan, 100), 5592405);  // 2^24 / 3, truncated
  EXPECT_EQ(CrossFadeGainB(plan, 300), kQ24Unity);

  // Negative times count as 0; zero-length fades switch without dividing by 0.
  plan = PlanCrossFade(1000, 1000, 50, -10, -10);
  EXPECT_EQ(plan.fade_in, 0);
  EXPECT_EQ(plan.fade_out, 0);
  EXPECT_EQ(plan.a, 1000);
  EXPECT_EQ(plan.length, 50);
  EXPECT_EQ(CrossFadeGainA(plan, 0), kQ24Unity);
  EXPECT_EQ(CrossFadeGainA(plan, 1), 0);
  EXPECT_EQ(CrossFadeGainB(plan, 50), 0);  // the gap is silent
  EXPECT_EQ(CrossFadeGainB(plan, 51), kQ24Unity);

  // A fade-out of 100 s at 44100 Hz (4410000 frames, bit 22 set) keeps its length.
  plan = PlanCrossFade(44100, 0, 0, 0, 100000);
  EXPECT_EQ(plan.fade_out, 4410000);
  // 30 minutes at 96000 Hz would overflow a 32-bit product.
  plan = PlanCrossFade(96000, 0, 1800000, 0, 0);
  EXPECT_EQ(plan.gap, 172800000);
}

TEST(CrossFadePlanTest, LeadIsLimitedAtTheStartOfTheSound) {
  // Selection at frame 100 with a 300-frame fade-in and no gap: a would be -200.
  const CrossFadePlan plan = PlanCrossFade(1000, 100, 0, 300, 300);
  EXPECT_EQ(plan.a, 0);
  EXPECT_EQ(plan.lead, 100);
  EXPECT_EQ(plan.fade_in_start, -200);
  EXPECT_EQ(plan.fade_in_end, 100);
  EXPECT_EQ(plan.length, 400);
  EXPECT_EQ(CrossFadeGainB(plan, 0), 2 * kQ24Unity / 3);  // the fade-in starts part way up
}

TEST_F(GainEffectsTest, CrossFadeNearTheStartKeepsTheSoundInPlace) {
  Sound sound = CountingSound(2000, 1000);
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4021, sound, 100, 1000, progress, {{"GapTimeMS", "0"}}), kDone);
  const auto read = ReadAll(sound);
  // a = 0 instead of -200: stream A (from 0) at full gain up to frame 100 then fading out
  // until 400; stream B (from 900) already two thirds up at frame 0, full from 100.
  ASSERT_EQ(read.size(), 1100u);  // 2000 - 900 + 0
  EXPECT_EQ(read[0], 2464426);    // 4096 + 901 × 4096 × 2/3
  EXPECT_EQ(read[50], 3454975);
  EXPECT_EQ(read[99], 4491946);
  EXPECT_EQ(read[100], (101 + 1001) * 4096);
  EXPECT_EQ(read[250], 5228544);
  EXPECT_EQ(read[399], 5330261);
  for (int n = 400; n < 1100; ++n) ASSERT_EQ(read[n], (n + 900 + 1) * 4096);
}

TEST_F(GainEffectsTest, CrossFadeWithoutTimesCutsTheSelection) {
  Sound sound = CountingSound(2000, 1000);
  SilentProgress progress;
  ASSERT_EQ(RunEffect(4021, sound, 500, 1500, progress,
                      {{"GapTimeMS", "0"}, {"FadeInTimeMS", "0"}, {"FadeOutTimeMS", "0"}}),
            kDone);
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), 1000u);
  for (int n = 0; n < 1000; ++n) ASSERT_EQ(read[n], (n < 500 ? n + 1 : n + 1001) * 4096) << n;
  for (const auto& segment : Segments(sound)) EXPECT_GT(segment.length, 0);
}

TEST_F(GainEffectsTest, CrossFadeCancelLeavesTheSound) {
  Sound sound = CountingSound(60000, 44100);
  const auto before = Segments(sound);
  CancelAfter cancel(1);
  EXPECT_EQ(RunEffect(4021, sound, 1000, 40000, cancel), kCancelled);  // 13230 frames: two chunks
  EXPECT_EQ(Segments(sound), before);
  FreeSegments(sound);
  ExpectNoLeak();
}

// ---------------------------------------------------------------- DC offset

TEST_F(GainEffectsTest, DcOffsetRemovesEachChannelsMean) {
  std::vector<std::int32_t> samples;
  for (int n = 0; n < 10000; ++n) {
    samples.push_back(5000 + (n % 2 ? 300 : -300));
    samples.push_back(n % 4 == 0 ? -10 : 0);
  }
  Sound sound = WriteSound(samples, 2);
  CancelAfter progress(1000);
  ASSERT_EQ(RunEffect(4023, sound, 100, 9900, progress), kDone);
  EXPECT_EQ(progress.pumps_, 4);  // two chunks per pass
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), samples.size());
  for (int n = 0; n < 10000; ++n) {
    const bool inside = n >= 100 && n < 9900;
    ASSERT_EQ(read[2 * n], samples[2 * n] - (inside ? 5000 : 0)) << n;
    // Right mean -24500 / 9800 = -2.5, truncated to -2.
    ASSERT_EQ(read[2 * n + 1], samples[2 * n + 1] + (inside ? 2 : 0)) << n;
  }
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(GainEffectsTest, DcOffsetCancelInEitherPass) {
  for (int calls : {0, 1, 2, 3}) {
    SCOPED_TRACE(calls);
    Sound sound = WriteSound(std::vector<std::int32_t>(10000, 777));
    const auto before = Segments(sound);
    CancelAfter cancel(calls);
    EXPECT_EQ(RunEffect(4023, sound, 0, 10000, cancel), kCancelled);
    EXPECT_EQ(Segments(sound), before);
  }
  ExpectNoLeak();
}

// ---------------------------------------------------------------- reverse

TEST_F(GainEffectsTest, ReverseReversesFramesAndKeepsChannelOrder) {
  std::vector<std::int32_t> samples;
  for (int n = 0; n < 20000; ++n) {
    samples.push_back(n * 16);
    samples.push_back(1000000 - n);
  }
  Sound sound = WriteSound(samples, 2);
  CancelAfter progress(1000);
  Placement out;
  ASSERT_EQ(RunEffect(4018, sound, 50, 19950, progress, {}, {}, &out), kDone);
  EXPECT_EQ(out.cursor, 50);
  EXPECT_EQ(out.selection_end, 19950);
  EXPECT_EQ(progress.title_, "Reversing Sound");
  EXPECT_EQ(progress.detail_, "Please wait...");
  EXPECT_EQ(progress.pumps_, 3);  // 19900 frames: 8192 + 8192 + 3516
  const auto read = ReadAll(sound);
  ASSERT_EQ(read.size(), samples.size());
  for (int n = 0; n < 20000; ++n) {
    const int from = n >= 50 && n < 19950 ? 19949 - (n - 50) : n;
    ASSERT_EQ(read[2 * n], from * 16) << n;
    ASSERT_EQ(read[2 * n + 1], 1000000 - from) << n;
  }
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(GainEffectsTest, ReverseCancelLeavesTheSound) {
  Sound sound = CountingSound(20000, 44100);
  const auto before = Segments(sound);
  CancelAfter cancel(2);
  EXPECT_EQ(RunEffect(4018, sound, 0, 20000, cancel), kCancelled);
  EXPECT_EQ(Segments(sound), before);
}

// ---------------------------------------------------------------- envelope.dat

class EnvelopeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::MakeTempFolder();
    ASSERT_FALSE(root_.empty());
    folder_ = root_ + "/data/nested";  // created by the first save
    ::setenv("SONAVEL_DATA_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SONAVEL_DATA_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::vector<std::uint8_t> FileBytes() const {
    std::ifstream in(folder_ + "/envelope.dat", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteBytes(const std::vector<std::uint8_t>& bytes) const {
    std::filesystem::create_directories(folder_);
    std::ofstream out(folder_ + "/envelope.dat", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::string root_, folder_;
};

TEST_F(EnvelopeFileTest, MissingOrEmptyListGivesTheFlatDefaultAndWritesIt) {
  EXPECT_EQ(EnvelopeFilePath(), folder_ + "/envelope.dat");
  EXPECT_EQ(LoadEnvelopePoints(), (EnvelopePoints{{0, 128}, {255, 128}}));
  EXPECT_EQ(FileBytes(), (std::vector<std::uint8_t>{2, 0, 128, 255, 128}));

  WriteBytes({0});
  EXPECT_EQ(LoadEnvelopePoints(), (EnvelopePoints{{0, 128}, {255, 128}}));
  EXPECT_EQ(FileBytes(), (std::vector<std::uint8_t>{2, 0, 128, 255, 128}));
}

TEST_F(EnvelopeFileTest, RoundTrip) {
  const EnvelopePoints points{{0, 0}, {40, 200}, {40, 10}, {255, 255}};
  ASSERT_TRUE(SaveEnvelopePoints(points));
  EXPECT_EQ(FileBytes(), (std::vector<std::uint8_t>{4, 0, 0, 40, 200, 40, 10, 255, 255}));
  EXPECT_EQ(LoadEnvelopePoints(), points);
  // No temporary file is left beside it.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_)) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(EnvelopeFileTest, LoadRaisesFallingPositionsAndLimitsTheCount) {
  WriteBytes({3, 10, 1, 5, 2, 20, 3});
  EXPECT_EQ(LoadEnvelopePoints(), (EnvelopePoints{{10, 1}, {10, 2}, {20, 3}}));

  std::vector<std::uint8_t> many{70};
  for (int i = 0; i < 70; ++i) {
    many.push_back(static_cast<std::uint8_t>(i * 3));
    many.push_back(static_cast<std::uint8_t>(i));
  }
  WriteBytes(many);
  const EnvelopePoints loaded = LoadEnvelopePoints();
  ASSERT_EQ(loaded.size(), 64u);
  EXPECT_EQ(loaded.back(), std::make_pair(std::uint8_t{189}, std::uint8_t{63}));

  // A file cut short keeps the whole pairs it has.
  WriteBytes({5, 1, 2, 3, 4, 5});
  EXPECT_EQ(LoadEnvelopePoints(), (EnvelopePoints{{1, 2}, {3, 4}}));
  // One point is kept as it is (and the envelope then does not run).
  WriteBytes({1, 7, 9});
  EXPECT_EQ(LoadEnvelopePoints(), (EnvelopePoints{{7, 9}}));
}

TEST_F(EnvelopeFileTest, SaveWritesAtMostSixtyFourPoints) {
  EnvelopePoints points;
  for (int i = 0; i < 70; ++i) points.emplace_back(static_cast<std::uint8_t>(i), 128);
  ASSERT_TRUE(SaveEnvelopePoints(points));
  const auto bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 129u);
  EXPECT_EQ(bytes[0], 64);
  EXPECT_EQ(bytes[127], 63);
}

TEST_F(EnvelopeFileTest, FailedSaveKeepsTheOldFile) {
  ASSERT_TRUE(SaveEnvelopePoints({{0, 1}, {255, 2}}));
  // No file may grow: the write of the temporary file fails.
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct sigaction ignore {}, old_action {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old_action);
  struct rlimit none = old_limit;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
  const bool saved = SaveEnvelopePoints({{0, 9}, {100, 9}, {255, 9}});
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_FALSE(saved);
  EXPECT_EQ(FileBytes(), (std::vector<std::uint8_t>{2, 0, 1, 255, 2}));
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_)) ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace sonavel
