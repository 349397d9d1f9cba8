// The multi-band noise gate from the frame's command with the scripted Ui: the dialog's
// decibel control, the preset, what is stored, the rendered samples against the filter run
// on its own, and undo bit for bit.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/working_folder.h"
#include "effects/effect.h"
#include "effects/memory_source.h"
#include "effects/noise_gate.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::TestSettings;
using testing::WriteTone;

constexpr std::int32_t kStart = 3000;
constexpr std::int32_t kEnd = 40000;

using testing::AllSamples;

TEST(NoiseGateCommand, PresetRendersStoresAndUndoes) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "gate.wav", 2, 22050 * 2)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);

  const EffectDefinition& gate = *FindEffect(4010);
  ASSERT_EQ(gate.presets.size(), 1u);
  EXPECT_EQ(gate.presets[0].name, "Störgeräusche Entfernen");
  EXPECT_EQ(gate.presets_id, 102);
  SetSelection(document, kStart, kEnd, kStart);
  // A level above 0 dB is refused and the dialog stays; then the preset is taken.
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"NoiseGateLevel", "3"}}, {}});
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"NoiseGateLevel", gate.presets[0].values[0]}}, {}});
  ASSERT_TRUE(window.Dispatch(4010));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].caption, "Ungültiger Wert");
  const EffectDialog& shown = ui.effect_dialogs().back();
  EXPECT_EQ(shown.title, "Noise Reduction (Multi-band Noise Gating)");
  ASSERT_EQ(shown.fields.size(), 1u);
  EXPECT_EQ(shown.fields[0].value, "-30");
  EXPECT_EQ(shown.fields[0].kind, EffectFieldKind::kDecibels);
  EXPECT_EQ(shown.fields[0].lowest, -40);
  EXPECT_EQ(shown.fields[0].highest, 0);
  EXPECT_EQ(ui.requests().back(), "progress Noise Reduction");
  EXPECT_EQ(test.settings.ReadUserText("StoredValues", "NoiseGateLevel", ""), "-20");
  EXPECT_NE(UndoMenuState(document).undo_text.find("Noise Reduction (Multi-band Noise Gating)"), std::string::npos);

  // The range is the gate run from the selection's start; the rest is untouched.
  NoiseGateFilter expected_gate(testing::Memory(original, 22050, 2), -20);
  expected_gate.Seek(kStart);
  std::vector<std::int32_t> expected = original;
  expected_gate.Read(expected.data() + 2 * kStart, kEnd - kStart);
  const std::vector<std::int32_t> rendered = AllSamples(document.sound);
  EXPECT_EQ(rendered, expected);
  EXPECT_NE(rendered, original);
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);

  // A stored level beyond the control is limited to it.
  test.settings.WriteUserValue("StoredValues", "NoiseGateLevel", -124);
  EXPECT_EQ(ReadEffectValues(gate, test.settings).at("NoiseGateLevel"), "-40");
  window.close();
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
