#include <gtest/gtest.h>

#include <cstdlib>

#include "../app/app_fixture.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"

namespace sonavel {
namespace {

TEST(FixedPoint, SplitMultiplyAndPercentGains) {
  // Unity passes every sample; the missing low × low term only ever loses less than one.
  for (std::int32_t x : {0, 1, -1, 4095, -4096, 0x7FFF0, -0x7FFF0, 123456789})
    EXPECT_EQ(Q24Multiply(x, kQ24Unity), x) << x;
  EXPECT_EQ(Q24Multiply(1000, kQ24Unity / 2), 500);
  EXPECT_EQ(Q24Multiply(-1000, kQ24Unity / 2), -500);
  EXPECT_EQ(Q24Multiply(0x7FFF0, 0), 0);
  for (std::int32_t x : {7, 4097, 99999, -31313, 0x7FFF0}) {
    const std::int64_t exact = (std::int64_t{x} * 12345678) >> 24;
    EXPECT_LE(std::abs(Q24Multiply(x, 12345678) - exact), 1) << x;
  }
  EXPECT_EQ(PercentToQ9(100), 512);
  EXPECT_EQ(PercentToQ9(33), 168);
  EXPECT_EQ(Q9Multiply(1000, 256), 500);
  EXPECT_EQ(Q9Multiply(-3, 256), -2);  // arithmetic shift rounds down
}

TEST(FixedPoint, DecibelTablesBytesAndMilliseconds) {
  EXPECT_EQ(DecibelToQ24(0), kQ24Unity);
  EXPECT_EQ(DecibelToQ24(-6), 8408526);
  EXPECT_EQ(DecibelToQ24(6), 33474947);
  EXPECT_EQ(DecibelToQ24(20), 167772160);
  EXPECT_EQ(DecibelToQ24(-126), 8);
  EXPECT_EQ(DecibelToQ24(-127), 0);  // silence
  EXPECT_EQ(DecibelToQ24(-128), 0);
  EXPECT_EQ(DecibelToQ24(127), 0x7FFFFFFF);
  EXPECT_EQ(PowerDecibelToQ24(-6), 4214246);
  EXPECT_EQ(PowerDecibelToQ24(1), 21121264);
  EXPECT_EQ(PowerDecibelToQ24(-127), 0);
  EXPECT_EQ(DecibelByte(0.5), 1);
  EXPECT_EQ(DecibelByte(-0.5), -1);
  EXPECT_EQ(DecibelByte(2.49), 2);
  EXPECT_EQ(DecibelByte(-200.0), -127);
  EXPECT_EQ(DecibelByte(300.0), 127);
  EXPECT_EQ(EffectMsToFrames(44100, 1500), 66150);
  EXPECT_EQ(EffectMsToFrames(44100, 300), 13230);
  // Twelve hours at 44.1 kHz: the order of the operations keeps it within 32 bits.
  EXPECT_EQ(EffectMsToFrames(44100, 43200000), 44100 * 43200);
}

class EffectValuesTest : public testing::SettingsTest {};

TEST_F(EffectValuesTest, StoredValuesDefaultsShortFieldsAndRealText) {
  EffectDefinition effect;
  EffectParameter gain{.name = "Gain", .key = "StoredValues", .fallback = "100", .short_value = true};
  EffectParameter time{.name = "Time", .key = "Echoes", .fallback = "800"};
  EffectParameter rate{.name = "Mod", .key = "Echoes", .fallback = "0.5", .real = true};
  effect.parameters = {gain, time, rate};
  EffectValues values = ReadEffectValues(effect, *settings_);
  EXPECT_EQ(values, (EffectValues{{"Gain", "100"}, {"Time", "800"}, {"Mod", "0.5"}}));

  settings_->WriteUserValue("StoredValues", "Gain", 70000);  // beyond 16 bits
  settings_->WriteUserValue("Echoes", "Time", 70000);
  settings_->WriteUserValue("Echoes", "Mod", "1.25");
  values = ReadEffectValues(effect, *settings_);
  EXPECT_EQ(values["Gain"], "4464");
  EXPECT_EQ(values["Time"], "70000");
  EXPECT_EQ(values["Mod"], "1.25");
  EXPECT_DOUBLE_EQ(ValueReal(values, "Mod"), 1.25);
  EXPECT_EQ(ValueInt(values, "Time"), 70000);

  // Written back as decimal text, under each value's own key; reals as typed.
  WriteEffectValues(effect, {{"Gain", "250"}, {"Time", "12"}, {"Mod", "0.75"}}, *settings_);
  EXPECT_EQ(settings_->ReadUserText("StoredValues", "Gain", ""), "250");
  EXPECT_EQ(settings_->ReadUserText("Echoes", "Time", ""), "12");
  EXPECT_EQ(settings_->ReadUserText("Echoes", "Mod", ""), "0.75");
}

TEST(EffectCatalogue, EveryCommandHasOneEffectFoundByNameInAnyCase) {
  const auto& effects = EffectCatalogue();
  ASSERT_EQ(effects.size(), 18u);
  for (const EffectDefinition& effect : effects) {
    EXPECT_EQ(FindEffect(effect.command_id), &effect) << effect.undo_name;
    // Mono and Stereo share the name of their undo step; the first answers to it.
    ASSERT_NE(FindEffectByName(effect.undo_name), nullptr);
    EXPECT_EQ(FindEffectByName(effect.undo_name)->undo_name, effect.undo_name);
    EXPECT_TRUE(static_cast<bool>(effect.run)) << effect.undo_name;
    EXPECT_EQ(effect.has_preview, static_cast<bool>(effect.preview)) << effect.undo_name;
  }
  EXPECT_EQ(FindEffectByName("normalisieren"), FindEffect(4002));
  EXPECT_EQ(FindEffectByName("Normalise"), nullptr);
  EXPECT_EQ(FindEffect(4003), nullptr);  // the equaliser is not built yet
}

}  // namespace
}  // namespace sonavel
