#include "document/effect_command.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "document_fixture.h"
#include "effects/delay_effects.h"
#include "effects/resampler.h"
#include "store/segment_reader.h"
#include "effects/filter_source.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::DocumentTest;
using testing::ReadAll;
using testing::WriteSound;

// Multiplies every sample by "Faktor" percent.
class Scale final : public FilterSource {
 public:
  Scale(SourceRef source, int percent) : FilterSource(std::move(source)), percent_(percent) {}
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    upstream->Read(buffer, frames);
    for (std::int32_t i = 0; i < frames * channels; ++i) buffer[i] = buffer[i] * percent_ / 100;
  }

 private:
  int percent_;
};

EffectDefinition ScaleEffect() {
  EffectDefinition effect;
  effect.command_id = 4999;
  effect.undo_name = "Skalieren";
  effect.parameters = {EffectParameter{"Faktor", "StoredValues", "100", "Faktor (%)", 101, {}, false}};
  effect.presets = {EffectPreset{"Halb", {"50"}}};
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.lead_in_ms = 500;
  effect.validate = [](const EffectValues& values) {
    return ValueInt(values, "Faktor") > 400 ? std::string("Höchstens 400 %.") : std::string();
  };
  effect.run = [](EffectRun& run) {
    const int percent = ValueInt(run.values, "Faktor");
    return RunGenericEffect(
        run.sound, run.start, run.end, [percent](SourceRef reader) { return MakeCounted<Scale>(reader, percent); },
        "Skalieren", run.progress);
  };
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return SourceRef(MakeCounted<Scale>(reader, std::min(ValueInt(values, "Faktor"), 400)));
  };
  return effect;
}

std::vector<std::int32_t> Ramp(std::int32_t frames) {
  std::vector<std::int32_t> samples(static_cast<std::size_t>(frames));
  for (std::int32_t i = 0; i < frames; ++i) samples[i] = 1000 + i;
  return samples;
}

class EffectCommandTest : public DocumentTest {
 protected:
  void SetUp() override {
    DocumentTest::SetUp();
    document_->sound = WriteSound(Ramp(40000), 1, 8000);
    settings_->WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  }
  int Run(const EffectCommandOptions& options = {}) {
    DocumentServices services = Services();
    return RunEffectCommand(*document_, services, *settings_, effect_, options);
  }

  DocumentRef document_ = MakeCounted<AudioDocument>(8000, 1, "Unbenannt 1");
  EffectDefinition effect_ = ScaleEffect();
};

TEST_F(EffectCommandTest, RendersTheSelectionStoresTheValuesAndUndoes) {
  SetSelection(*document_, 10000, 20000, 10000);
  ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Faktor", "50"}}, {}});
  ASSERT_EQ(Run(), kDone);
  const std::vector<std::int32_t> after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 40000u);
  EXPECT_EQ(after[9999], 1000 + 9999);
  EXPECT_EQ(after[10000], (1000 + 10000) / 2);
  EXPECT_EQ(after[19999], (1000 + 19999) / 2);
  EXPECT_EQ(after[20000], 1000 + 20000);
  // The dialog showed the stored default, its preset and an enabled preview.
  ASSERT_EQ(ui_.effect_dialogs().size(), 1u);
  const EffectDialog& shown = ui_.effect_dialogs()[0];
  EXPECT_EQ(shown.title, "Skalieren");
  ASSERT_EQ(shown.fields.size(), 1u);
  EXPECT_EQ(shown.fields[0].value, "100");
  EXPECT_EQ(shown.presets.size(), 1u);
  EXPECT_TRUE(static_cast<bool>(shown.start_preview));
  EXPECT_FALSE(shown.preview_empty);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "Faktor", 0), 50);
  // Playback stopped first; the cursor at the selection start, nothing plays.
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop"}));
  EXPECT_EQ(document_->state.cursor, 10000);
  EXPECT_EQ(document_->state.selection_start, 10000);
  EXPECT_EQ(document_->state.selection_end, 20000);
  EXPECT_EQ(UndoMenuState(*document_).undo_text, "Rückgängig Skalieren\tCtrl+Z");
  ASSERT_TRUE(Undo(*document_));
  EXPECT_EQ(ReadAll(document_->sound), Ramp(40000));
}

TEST_F(EffectCommandTest, NoSelectionMeansTheWholeSoundAndPlaybackFollowsTheLeadIn) {
  settings_->WriteUserValue("Settings", "AutoPlaybackAfterEffects", 1);
  SetSelection(*document_, 0, 0, 123);
  ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Faktor", "200"}}, {}});
  ASSERT_EQ(Run(), kDone);
  const std::vector<std::int32_t> after = ReadAll(document_->sound);
  EXPECT_EQ(after.front(), 2000);
  EXPECT_EQ(after.back(), 2 * (1000 + 39999));
  // Lead-in of half a second before the start, not below frame 0.
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop", "play 0"}));
  SetSelection(*document_, 12000, 16000, 12000);
  ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{});
  playback_.calls.clear();
  ASSERT_EQ(Run(), kDone);
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop", "play 8000"}));
  EXPECT_EQ(document_->state.cursor, 8000);
}

TEST_F(EffectCommandTest, RefusedValuesKeepTheDialogAndCancelChangesNothing) {
  SetSelection(*document_, 100, 200, 100);
  ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Faktor", "500"}}, {}});
  ui_.QueueEffectAnswer(std::nullopt);
  EXPECT_EQ(Run(), kCancelled);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Höchstens 400 %.");
  EXPECT_EQ(ui_.shown()[0].caption, "Ungültiger Wert");
  EXPECT_EQ(ReadAll(document_->sound), Ramp(40000));
  EXPECT_FALSE(UndoMenuState(*document_).undo_enabled);
  EXPECT_EQ(settings_->ReadUserText("StoredValues", "Faktor", "none"), "none");
}

// Cancels at its n-th pump.
class CancellingProgress final : public Progress {
 public:
  explicit CancellingProgress(int pumps) : pumps_(pumps) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return --pumps_ <= 0; }

 private:
  int pumps_;
};

TEST_F(EffectCommandTest, CancelWhileRenderingLeavesTheSoundAsItWas) {
  SetSelection(*document_, 0, 40000, 0);
  Sound& sound = document_->sound;
  CancellingProgress progress(3);  // two of the five chunks
  EffectRun run{sound, 0, 40000, {{"Faktor", "50"}}, {}, progress};
  EXPECT_EQ(effect_.run(run), kCancelled);
  EXPECT_EQ(ReadAll(sound), Ramp(40000));
}

TEST_F(EffectCommandTest, HeadlessValuesReplaceTheStoredOnesWithoutADialog) {
  settings_->WriteUserValue("StoredValues", "Faktor", 300);
  const EffectValues given = {{"Faktor", "25"}};
  EffectCommandOptions options;
  options.values = &given;
  options.store_values = false;
  ASSERT_EQ(Run(options), kDone);
  EXPECT_TRUE(ui_.effect_dialogs().empty());
  EXPECT_EQ(ReadAll(document_->sound)[4], (1000 + 4) / 4);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "Faktor", 0), 300);
  // A refused value is an error, with the check's message.
  const EffectValues too_much = {{"Faktor", "401"}};
  options.values = &too_much;
  EXPECT_EQ(Run(options), kFailed);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Höchstens 400 %.");
}

TEST_F(EffectCommandTest, TheRateCommandConvertsAtTheStoredQuality) {
  const EffectDefinition* rate = FindEffect(1006);
  ASSERT_NE(rate, nullptr);
  const EffectValues given = {{"SampleRate", "11025"}};
  EffectCommandOptions options;
  options.values = &given;
  for (const ResampleQuality quality : {ResampleQuality::kHigh, ResampleQuality::kDefault}) {
    document_->sound = WriteSound(Ramp(40000), 1, 8000);
    SourceRef expected = ConvertFormat(OpenSoundReader(document_->sound), 11025, 1, quality);
    const std::vector<std::int32_t> wanted = testing::ReadFrames(*expected, expected->Length());
    settings_->WriteUserValue("Settings", "ResampleQuality", static_cast<int>(quality));
    DocumentServices services = Services();
    ASSERT_EQ(RunEffectCommand(*document_, services, *settings_, *rate, options), kDone);
    EXPECT_EQ(document_->sound.rate, 11025);
    EXPECT_EQ(ReadAll(document_->sound), wanted) << static_cast<int>(quality);
  }
}

TEST_F(EffectCommandTest, StereoOnlyEffectsRefuseMono) {
  effect_.needs_stereo = true;
  EXPECT_EQ(Run(), kCancelled);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].caption, "Datei muß in Stereo konvertiert werden");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kQuestion);
  EXPECT_TRUE(ui_.effect_dialogs().empty());
  EXPECT_EQ(ReadAll(document_->sound), Ramp(40000));
}

// Echo, reverb, chorus, flanger and phaser as the editor runs them: each refused value
// shows its own message, a preset's values render exactly the effect's chain over the
// selection, the values are stored under the effect's key, playback starts at the lead-in,
// and undo brings back every sample.
TEST_F(EffectCommandTest, DelayEffectsCheckTheirValuesRenderAPresetAndUndoExactly) {
  settings_->WriteUserValue("Settings", "AutoPlaybackAfterEffects", 1);
  std::mt19937 random(5);
  std::vector<std::int32_t> original(20000);
  for (std::int32_t& s : original) s = static_cast<std::int32_t>(random() % 60001) * 16 - 480000;
  struct Case {
    int id;
    std::string name;
    std::string key;
    std::vector<std::pair<EffectValues, std::string>> refused;  // one bad value each, its message
    std::vector<std::string> presets;
    std::size_t preset;
    std::function<SourceRef(SourceRef)> chain;  // the chosen preset's chain
    std::int32_t lead_in;                       // frames at 8000 Hz
  };
  const std::string chorus_gain = "Steigerung in Prozent muß zwischen 0 und 100 liegen.";
  const std::vector<Case> cases = {
      {4004, "Echo", "StoredValues",
       {{{{"EchoTime", "3001"}}, "Echo muss zwischen 10 and 3000ms. Bitte noch einmal versuchen."},
        {{{"EchoTime", "9"}}, "Echo muss zwischen 10 and 3000ms. Bitte noch einmal versuchen."},
        {{{"EchoGain", "100"}}, "Echo Lautstärke muss unter 100% liegen. Bitte noch einmal versuchen."}},
       {"Wohnzimmer", "Höhle", "Grand Canyon"}, 1, [](SourceRef s) { return MakeEcho(s, 400, 40); }, 4000},
      {4005, "Reverb", "StoredValues",
       {{{{"ReverbLevel", "101"}}, "Hall Level muss unter 100 kiegen. Bitte noch einmal versuchen."},
        {{{"ReverbTime", "49"}}, "Verzögerung muss zwischen 50 und 1000 liegen. Bitte noch einmal versuchen."},
        {{{"ReverbTime", "1001"}}, "Verzögerung muss zwischen 50 und 1000 liegen. Bitte noch einmal versuchen."}},
       {"Wohnzimmer", "Badezimmer", "Auditorium", "Hangar"}, 1, [](SourceRef s) { return MakeReverb(s, 250, 50); },
       8000},
      {4025, "Chorus", "Chorus",
       {{{{"Gain", "101"}}, chorus_gain},
        {{{"Depth", "31"}}, "Tiefe in Prozent muß zwischen 0 und 30 liegen."},
        {{{"Mod", "2.5"}}, "Modulation (der Verzögerung) muß zwischen 0 und 2Hz liegen."},
        {{{"Time", "101"}}, "Verzögerungszeit muß zwischen 0 und 100 Millisekunden liegen"}},
       {"Stark - Kurze Verzögerung", "Stark - Lange Verzögerung", "Leicht - Kurze Verzögerung",
        "Leicht - Lange Verzögerung"},
       0, [](SourceRef s) { return MakeChorus(s, 40, 5, 80, 0.5); }, 4000},
      {4026, "Flanger", "Flanger",
       {{{{"Gain", "-1"}}, chorus_gain},
        {{{"Depth", "101"}}, "Tiefe in Prozent muß zwischen 0 und 100 liegen."},
        {{{"Mod", "5.1"}}, "Die Modulation (der Verzögerung) muß zwischen 0 und 5Hz liegen."},
        {{{"Time", "11"}}, "Verzögerungszeit muß zwischen 0 und 10 Millisekunden liegen"}},
       {"Stark", "Mittel", "Leicht"}, 1, [](SourceRef s) { return MakeFlanger(s, 5, 70, 90, 0.5); }, 4000},
      {4027, "Phaser", "Phaser",
       {{{{"Gain", "101"}}, chorus_gain},
        {{{"Time", "11"}}, "Verzögerungszeit muß zwischen 0 und 10 Millisekunden liegen"}},
       {"Stark", "Mittel", "Leicht"}, 2, [](SourceRef s) { return MakePhaser(s, 7, 50); }, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    document_ = MakeCounted<AudioDocument>(8000, 1, "Unbenannt 1");
    document_->sound = WriteSound(original, 1, 8000);
    SetSelection(*document_, 12000, 16000, 12000);
    const EffectDefinition* effect = FindEffect(c.id);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->undo_name, c.name);
    std::vector<std::string> names;
    for (const EffectPreset& preset : effect->presets) names.push_back(preset.name);
    EXPECT_EQ(names, c.presets);
    EffectValues defaults;
    for (const EffectParameter& parameter : effect->parameters) {
      EXPECT_EQ(parameter.key, c.key);
      defaults[parameter.name] = parameter.fallback;
    }
    for (const auto& [bad, message] : c.refused) {
      EffectValues answer = defaults;
      for (const auto& [name, value] : bad) answer[name] = value;
      ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{answer, {}});
    }
    EffectValues chosen;
    for (std::size_t i = 0; i < effect->parameters.size(); ++i)
      chosen[effect->parameters[i].name] = effect->presets[c.preset].values[i];
    ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{chosen, {}});
    playback_.calls.clear();
    const std::size_t messages_before = ui_.shown().size();
    DocumentServices services = Services();
    ASSERT_EQ(RunEffectCommand(*document_, services, *settings_, *effect), kDone);

    ASSERT_EQ(ui_.shown().size(), messages_before + c.refused.size());
    for (std::size_t i = 0; i < c.refused.size(); ++i) {
      EXPECT_EQ(ui_.shown()[messages_before + i].text, c.refused[i].second);
      EXPECT_EQ(ui_.shown()[messages_before + i].caption, "Ungültiger Wert");
    }
    for (const auto& [name, value] : chosen) EXPECT_EQ(settings_->ReadUserText(c.key, name, ""), value) << name;
    const std::vector<std::int32_t> selection(original.begin() + 12000, original.begin() + 16000);
    const Sound selected = WriteSound(selection, 1, 8000);
    SourceRef chain = c.chain(OpenSoundReader(selected));
    std::vector<std::int32_t> expected = original;
    chain->Read(expected.data() + 12000, 4000);
    const std::vector<std::int32_t> after = ReadAll(document_->sound);
    EXPECT_EQ(document_->sound.channels, 1);  // the chorus too comes back mono
    EXPECT_EQ(after, expected);
    EXPECT_NE(after, original);
    EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop", "play " + std::to_string(12000 - c.lead_in)}));
    EXPECT_EQ(UndoMenuState(*document_).undo_text, "Rückgängig " + c.name + "\tCtrl+Z");
    ASSERT_TRUE(Undo(*document_));
    EXPECT_EQ(ReadAll(document_->sound), original);
  }
}

}  // namespace
}  // namespace sonavel
