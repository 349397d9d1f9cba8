// Distortion, AM radio and the high-pass filter from the frame's commands with the scripted
// Ui: the refusal, a preset, what is stored, the rendered samples against the filters run
// on their own, and undo bit for bit.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "document/working_folder.h"
#include "effects/clip_filters.h"
#include "effects/equalizer.h"
#include "effects/effect.h"
#include "effects/memory_source.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::TestSettings;
using testing::WriteTone;

constexpr std::int32_t kStart = 2000;
constexpr std::int32_t kEnd = 30000;

using testing::AllSamples;

// `original` with the stereo frames [kStart, kEnd) replaced by `chain` run over them alone.
std::vector<std::int32_t> Expected(const std::vector<std::int32_t>& original,
                                   const std::function<SourceRef(SourceRef)>& chain) {
  std::vector<std::int32_t> range(original.begin() + 2 * kStart, original.begin() + 2 * kEnd);
  SourceRef filtered = chain(testing::Memory(range, 22050, 2));
  std::vector<std::int32_t> expected = original;
  filtered->Read(expected.data() + 2 * kStart, kEnd - kStart);
  return expected;
}

TEST(ClipCommands, DistortionAmRadioAndHighPassRenderStoreAndUndo) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "verzerrung.wav", 2, 22050 * 2)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  auto undo_restores = [&] {
    ASSERT_TRUE(window.Dispatch(2001));
    EXPECT_EQ(AllSamples(document.sound), original);
  };

  // Distortion: a degree above 1 is refused with the effect's own words and the dialog
  // stays; then the "Clip" preset's values are taken.
  const EffectDefinition& distortion = *FindEffect(4028);
  ASSERT_EQ(distortion.presets.size(), 4u);
  EXPECT_EQ(distortion.presets[0].name, "Clip");
  EXPECT_EQ(distortion.presets[3].values, (std::vector<std::string>{"0.1", "-8"}));
  SetSelection(document, kStart, kEnd, kStart);
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Degree", "1.5"}}, {}});
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{
      {{"Degree", distortion.presets[0].values[0]}, {"Level", distortion.presets[0].values[1]}}, {}});
  ASSERT_TRUE(window.Dispatch(4028));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].text, "Verzögerungszeit muß zwischen 0.0 und 1.0 Millisekunden liegen");
  EXPECT_EQ(ui.shown()[0].caption, "Ungültiger Wert");
  const EffectDialog& shown = ui.effect_dialogs().back();
  EXPECT_EQ(shown.title, "Verzerrung");
  ASSERT_EQ(shown.fields.size(), 2u);
  EXPECT_EQ(shown.fields[0].value, "0.5");
  EXPECT_EQ(shown.fields[1].value, "-3");
  EXPECT_EQ(shown.fields[1].kind, EffectFieldKind::kDecibels);
  EXPECT_EQ(shown.fields[1].lowest, -20);
  EXPECT_EQ(shown.fields[1].highest, 3);
  EXPECT_EQ(test.settings.ReadUserText("Distortion", "Degree", ""), "1.0");
  EXPECT_EQ(test.settings.ReadUserText("Distortion", "Level", ""), "-8");
  EXPECT_EQ(AllSamples(document.sound),
            Expected(original, [](SourceRef s) { return MakeSoftClip(std::move(s), -8, 1.0); }));
  undo_restores();
  // A stored level beyond the decibel byte is limited to it, not forgotten.
  test.settings.WriteUserValue("Distortion", "Level", 300);
  EXPECT_EQ(ReadEffectValues(distortion, test.settings).at("Level"), "127");

  // AM radio: no dialog, the fixed chain.
  const std::size_t dialogs = ui.effect_dialogs().size();
  SetSelection(document, kStart, kEnd, kStart);
  ASSERT_TRUE(window.Dispatch(4029));
  EXPECT_EQ(ui.effect_dialogs().size(), dialogs);
  EXPECT_EQ(AllSamples(document.sound), Expected(original, [](SourceRef s) { return MakeAmRadio(std::move(s)); }));
  EXPECT_EQ(ui.requests().back(), "progress AM Radioeffekt");
  undo_restores();

  // Telephone: no dialog either; the band filter, which sees silence beyond the selection
  // as the equaliser does, and its soft clip.
  SetSelection(document, kStart, kEnd, kStart);
  ASSERT_TRUE(window.Dispatch(4030));
  EXPECT_EQ(ui.effect_dialogs().size(), dialogs);
  EXPECT_EQ(AllSamples(document.sound), Expected(original, [](SourceRef s) { return MakeTelephone(std::move(s)); }));
  EXPECT_EQ(ui.requests().back(), "progress Telefoneffekt");
  undo_restores();

  // High-pass: the first preset, 200 Hz, stored as LowCutFreq.
  const EffectDefinition& high_pass = *FindEffect(4031);
  EXPECT_EQ(high_pass.presets_id, 102);
  ASSERT_EQ(high_pass.presets.size(), 2u);
  EXPECT_EQ(high_pass.presets[1].name, "Radio- / Telefon -Qualität");
  SetSelection(document, kStart, kEnd, kStart);
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"LowCutFreq", high_pass.presets[0].values[0]}}, {}});
  ASSERT_TRUE(window.Dispatch(4031));
  EXPECT_EQ(ui.effect_dialogs().back().fields[0].value, "250");
  EXPECT_EQ(ui.requests().back(), "progress High-Pass Filter");
  EXPECT_EQ(test.settings.ReadUserText("StoredValues", "LowCutFreq", ""), "200");
  EXPECT_EQ(AllSamples(document.sound),
            Expected(original, [](SourceRef s) { return SourceRef(MakeCounted<HighPassFilter>(std::move(s), 200)); }));
  EXPECT_NE(UndoMenuState(document).undo_text.find("High-Pass Filter"), std::string::npos);
  undo_restores();
  window.close();
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
