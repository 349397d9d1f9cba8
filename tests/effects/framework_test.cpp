#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "../app/app_fixture.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"

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

TEST_F(EffectValuesTest, TypedValuesAreReadStrictlyAndCheckedAgainstTheirRanges) {
  const std::string amplify = "Bitte geben Sie für \"Lautstärke (%)\" eine ganze Zahl von 0 bis 400 ein.";
  const std::string amplify_high = "Normalisierungslevel muss be unter 400% liegen. Bitte noch einmal versuchen.";
  const std::string rate = "Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.";
  const std::string ratio = "Bitte wählen Sie für \"Verhältnis\" einen der Einträge 0 bis 6.";
  const std::string real = "Bitte geben Sie für \"Rate (Hz)\" eine Zahl von 0.1 bis 10 ein.";
  EffectDefinition modulation;
  modulation.parameters = {EffectParameter{.name = "Mod", .label = "Rate (Hz):", .real = true, .lowest = 0.1, .highest = 10}};
  struct Case {
    const EffectDefinition* effect;
    const char* name;
    const char* text;
    std::string refusal;  // empty: accepted
    bool not_a_number;
  };
  const EffectDefinition* gain = FindEffect(4001);
  const EffectDefinition* normalise = FindEffect(4002);
  const EffectDefinition* rates = FindEffect(1006);
  const EffectDefinition* compressor = FindEffect(4024);
  const Case cases[] = {
      {gain, "AmplifyGain", "abc", amplify, true},
      {gain, "AmplifyGain", "5abc", amplify, true},
      {gain, "AmplifyGain", "", amplify, true},
      {gain, "AmplifyGain", "-", amplify, true},
      {gain, "AmplifyGain", "2.5", amplify, true},
      {gain, "AmplifyGain", "4e2", amplify, true},
      {gain, "AmplifyGain", "1 0", amplify, true},
      {gain, "AmplifyGain", "-50", amplify, false},
      {gain, "AmplifyGain", "-1", amplify, false},
      {gain, "AmplifyGain", "0", "", false},
      {gain, "AmplifyGain", " +250\t", "", false},
      {gain, "AmplifyGain", "400", "", false},
      {gain, "AmplifyGain", "401", amplify_high, false},
      {gain, "AmplifyGain", "99999999999999999999999", amplify_high, false},
      {normalise, "NormalizePeakLevel", "0", "Bitte geben Sie für \"Spitzenpegel (%)\" eine ganze Zahl von 1 bis 100 ein.",
       false},
      {normalise, "NormalizePeakLevel", "1", "", false},
      {rates, "SampleRate", "5999", rate, false},
      {rates, "SampleRate", "96001", rate, false},
      {rates, "SampleRate", "6000", "", false},
      {rates, "SampleRate", "44100 Hz",
       "Bitte geben Sie für \"Samplerate (Samples pro Sekunde)\" eine ganze Zahl von 6000 bis 96000 ein.", true},
      {compressor, "CompressorRatio", "6", "", false},
      {compressor, "CompressorRatio", "7", ratio, false},
      {compressor, "CompressorRatio", "-1", ratio, false},
      {compressor, "CompressorThreshold", "-127", "", false},
      {compressor, "CompressorThreshold", "-128",
       "Bitte geben Sie für \"Schwelle (dB)\" eine ganze Zahl von -127 bis 127 ein.", false},
      {&modulation, "Mod", "0,25", "", false},
      {&modulation, "Mod", ".5", "", false},
      {&modulation, "Mod", "10", "", false},
      {&modulation, "Mod", "10.01", real, false},
      {&modulation, "Mod", "0.09", real, false},
      {&modulation, "Mod", "1,2,3", real, true},
      {&modulation, "Mod", "1.5x", real, true},
      {&modulation, "Mod", ",", real, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=\"" + c.text + "\"");
    const std::optional<ValueRefusal> refusal = CheckEffectValues(*c.effect, {{c.name, c.text}});
    ASSERT_EQ(refusal.has_value(), !c.refusal.empty());
    if (!refusal) continue;
    EXPECT_EQ(refusal->message, c.refusal);
    EXPECT_EQ(refusal->not_a_number, c.not_a_number);
    ASSERT_NE(refusal->parameter, nullptr);
    EXPECT_EQ(refusal->parameter->name, c.name);
    EXPECT_EQ(refusal->value, c.text);
  }
  EXPECT_DOUBLE_EQ(ValueReal({{"Mod", "0,25"}}, "Mod"), 0.25);
  EXPECT_EQ(ParseWholeNumber("-0"), 0);
  EXPECT_EQ(ParseWholeNumber("-9223372036854775807"), -9223372036854775807LL);

  // Stored values stay lenient ("5abc" is 5), but no number or one out of range gives the
  // default, never silence.
  const std::pair<const char*, const char*> stored[] = {{"abc", "100"}, {"5abc", "5"},   {"-50", "100"},
                                                        {"70000", "100"}, {"401", "100"}, {" 250", "250"}};
  for (const auto& [text, read] : stored) {
    settings_->WriteUserValue("StoredValues", "AmplifyGain", text);
    EXPECT_EQ(ReadEffectValues(*gain, *settings_).at("AmplifyGain"), read) << text;
  }
  settings_->WriteUserValue("StoredValues", "CompressorRatio", 12);
  settings_->WriteUserValue("StoredValues", "CompressorThreshold", "-20 dB");
  EXPECT_EQ(ReadEffectValues(*compressor, *settings_),
            (EffectValues{{"CompressorThreshold", "-20"}, {"CompressorRatio", "0"}, {"CompressorLimit", "0"}}));
  modulation.parameters[0].fallback = "0.5";
  for (const auto& [text, read] : {std::pair{"1,5 Hz", "1,5"}, std::pair{"20", "0.5"}, std::pair{"x", "0.5"}}) {
    settings_->WriteUserValue("StoredValues", "Mod", text);
    EXPECT_EQ(ReadEffectValues(modulation, *settings_).at("Mod"), read) << text;
  }
}

TEST(EffectCatalogue, EffectsAnswerToTheirMenuTextsInAnyCaseUmlautsIncluded) {
  const auto menu = [](int id) -> std::string {
    if (id == 4001) return "Verstärken";
    if (id == 4018) return "Rückwärts";
    if (id == 1007) return "Mono";
    return "";
  };
  using Found = std::vector<const EffectDefinition*>;
  EXPECT_EQ(FindEffectsByName("VERSTÄRKEN", menu), Found{FindEffect(4001)});
  EXPECT_EQ(FindEffectsByName("rÜckwÄrts", menu), Found{FindEffect(4018)});
  EXPECT_EQ(FindEffectsByName("UMKEHREN", menu), Found{FindEffect(4018)});
  EXPECT_EQ(FindEffectsByName("mono", menu), Found{FindEffect(1007)});
  EXPECT_EQ(FindEffectsByName("convert channels", menu), (Found{FindEffect(1007), FindEffect(1008)}));
  EXPECT_TRUE(FindEffectsByName("Verstärken").empty());  // without the menu only undo names
  EXPECT_TRUE(FindEffectsByName("verstarken", menu).empty());
  EXPECT_EQ(FoldCase("ÄÖÜ ÀÞ × ß Straße"), "äöü àþ × ß straße");
}

TEST(EffectCatalogue, EveryCommandHasOneEffectFoundByNameInAnyCase) {
  const auto& effects = EffectCatalogue();
  ASSERT_EQ(effects.size(), 36u);
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
  EXPECT_EQ(FindEffectByName("EQUALIZER"), FindEffect(4003));
  EXPECT_EQ(FindEffect(4003)->lead_in_ms, 1000);
}

// A stored value read in two places must have one default, and the effects' values must not
// land on a setting the program keeps for something else.
TEST(EffectCatalogue, StoredValuesHaveOneDefaultAndNoOtherOwner) {
  std::map<std::pair<std::string, std::string>, std::string> defaults;
  for (const EffectDefinition& effect : EffectCatalogue()) {
    for (const EffectParameter& parameter : effect.parameters) {
      const std::pair<std::string, std::string> stored{parameter.key, parameter.name};
      EXPECT_FALSE(parameter.key.empty() || parameter.name.empty()) << effect.undo_name;
      const auto held = defaults.emplace(stored, parameter.fallback).first;
      EXPECT_EQ(held->second, parameter.fallback) << effect.undo_name << ": " << parameter.name;
      // An effect that never writes its values back may read a program setting (automatic
      // trimming reads the options' threshold).
      if (!effect.remembers) continue;
      for (const setting::SettingName& other : setting::kAllSettingNames)
        EXPECT_FALSE(other.group == parameter.key && other.name == parameter.name)
            << effect.undo_name << ": " << parameter.name;
    }
  }
  EXPECT_GE(defaults.size(), 13u);  // the loop saw the whole catalogue
}

}  // namespace
}  // namespace sonavel
