#include <gtest/gtest.h>

#include <cmath>

#include "effects/effect.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::ReadAll;
using testing::StoreTest;
using testing::WriteSound;

class RateEffectsTest : public StoreTest {
 protected:
  // Runs the effect of `command` over [start, end) of `sound` as the editor would.
  EffectRun Run(int command, Sound& sound, std::int32_t start, std::int32_t end, EffectValues values, int& result) {
    const EffectDefinition* effect = FindEffect(command);
    EXPECT_NE(effect, nullptr);
    EffectRun run{sound, start, end, std::move(values), {}, progress_};
    run.selection_start = start;
    run.selection_end = end;
    run.cursor = start;
    result = effect->run(run);
    return run;
  }
  SilentProgress progress_;
};

// A stereo sine whose right channel is the left one's negation.
std::vector<std::int32_t> StereoSine(std::int32_t frames, double hz, std::int32_t rate) {
  std::vector<std::int32_t> samples;
  for (std::int32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::int32_t>(std::lround(100000 * std::sin(2 * M_PI * hz * i / rate)));
    samples.push_back(v);
    samples.push_back(-v);
  }
  return samples;
}

TEST_F(RateEffectsTest, SampleRateKeepsTheDurationAndTheSelectionsTimes) {
  Sound sound = WriteSound(StereoSine(22050, 441, 22050), 2, 22050);
  const EffectDefinition& effect = *FindEffect(1006);
  EXPECT_EQ(effect.undo_name, "Samplerate konvertieren");
  EffectValues values;
  effect.initial(values, sound);
  EXPECT_EQ(values.at("SampleRate"), "22050");
  EXPECT_TRUE(effect.unchanged(values, sound));
  EXPECT_EQ(RefusalMessage(effect, {{"SampleRate", "5999"}}), "Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.");
  EXPECT_EQ(RefusalMessage(effect, {{"SampleRate", "96001"}}), RefusalMessage(effect, {{"SampleRate", "5999"}}));
  EXPECT_EQ(RefusalMessage(effect, {{"SampleRate", "96000"}}), "");

  int result = -1;
  const EffectRun run = Run(1006, sound, 2205, 4410, {{"SampleRate", "44100"}}, result);
  ASSERT_EQ(result, kDone);
  EXPECT_EQ(sound.rate, 44100);
  EXPECT_EQ(sound.channels, 2);
  EXPECT_EQ(SoundLength(sound), 44100);
  EXPECT_EQ(run.selection_start, 4410);
  EXPECT_EQ(run.selection_end, 8820);
  EXPECT_EQ(run.cursor, 0);
  EXPECT_TRUE(run.show_all);
  // The old blocks went with the old sound.
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(RateEffectsTest, ChannelsBecomeMonoFromTheLeftOrStereoByCopying) {
  const std::vector<std::int32_t> stereo = StereoSine(5000, 300, 8000);
  Sound sound = WriteSound(stereo, 2, 8000);
  EXPECT_TRUE(FindEffect(1008)->unchanged({}, sound));
  EXPECT_FALSE(FindEffect(1007)->unchanged({}, sound));
  int result = -1;
  Run(1007, sound, 0, 5000, {}, result);
  ASSERT_EQ(result, kDone);
  ASSERT_EQ(sound.channels, 1);
  const std::vector<std::int32_t> mono = ReadAll(sound);
  ASSERT_EQ(mono.size(), 5000u);
  for (std::size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(mono[i], stereo[2 * i]) << i;
  Run(1008, sound, 0, 5000, {}, result);
  const std::vector<std::int32_t> copied = ReadAll(sound);
  ASSERT_EQ(copied.size(), 10000u);
  for (std::size_t i = 0; i < 5000; ++i) {
    ASSERT_EQ(copied[2 * i], stereo[2 * i]);
    ASSERT_EQ(copied[2 * i + 1], stereo[2 * i]);
  }
}

TEST_F(RateEffectsTest, SpeedCommandsReplaceTheSelectionWithTheChangedLength) {
  const std::vector<std::int32_t> samples = StereoSine(24000, 200, 8000);
  const EffectDefinition& speed = *FindEffect(4014);
  EXPECT_EQ(RefusalMessage(speed, {{"SpSpeedPitch", "301"}}), "Geschwindigkeitsänderung in Prozent muss unter 300 liegen.");
  EXPECT_EQ(RefusalMessage(speed, {{"SpSpeedPitch", "300"}}), "");
  EXPECT_FALSE(RefusalMessage(speed, {{"SpSpeedPitch", "0"}}).empty());
  EXPECT_EQ(FindEffect(4015)->parameters.at(0).label, "Geschwindigkeit justieren (%)");
  EXPECT_EQ(FindEffect(4016)->parameters.at(0).name, "ConstSpeedPitch");

  struct Case {
    int command;
    const char* value;
    const char* percent;
    double length;  // of the 16000 selected frames afterwards
  };
  for (const Case c : {Case{4014, "SpSpeedPitch", "200", 8000}, Case{4015, "ConstPitchSpeed", "50", 32000},
                       Case{4016, "ConstSpeedPitch", "150", 16000}}) {
    SCOPED_TRACE(c.command);
    Sound sound = WriteSound(samples, 2, 8000);
    int result = -1;
    const EffectRun run = Run(c.command, sound, 4000, 20000, {{c.value, c.percent}}, result);
    ASSERT_EQ(result, kDone);
    const double changed = run.selection_end - run.selection_start;
    EXPECT_EQ(run.selection_start, 4000);
    // Within one analysis hop of the stretcher (N / 8 frames at 8000 Hz is 32).
    EXPECT_NEAR(changed, c.length, 64.0);
    EXPECT_EQ(SoundLength(sound), 24000 - 16000 + static_cast<std::int32_t>(changed));
    // Outside the selection nothing moved.
    const std::vector<std::int32_t> after = ReadAll(sound);
    EXPECT_EQ(std::vector<std::int32_t>(after.begin(), after.begin() + 8000),
              std::vector<std::int32_t>(samples.begin(), samples.begin() + 8000));
  }
}

}  // namespace
}  // namespace sonavel
