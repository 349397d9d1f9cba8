#include "document/effect_command.h"

#include <gtest/gtest.h>

#include "document_fixture.h"
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

TEST_F(EffectCommandTest, StereoOnlyEffectsRefuseMono) {
  effect_.needs_stereo = true;
  EXPECT_EQ(Run(), kCancelled);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].caption, "Datei muß in Stereo konvertiert werden");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kQuestion);
  EXPECT_TRUE(ui_.effect_dialogs().empty());
  EXPECT_EQ(ReadAll(document_->sound), Ramp(40000));
}

}  // namespace
}  // namespace sonavel
