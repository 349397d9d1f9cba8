// Click repair from the frame's commands with the scripted Ui: the manual repair's empty
// selection and its refusal of more than a millisecond, its rendering against the filter
// run on its own, the automatic dialog's values, checks and stored settings, and undo bit
// for bit for both.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "document/working_folder.h"
#include "effects/click_repair.h"
#include "effects/effect.h"
#include "effects/memory_source.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::AllSamples;
using testing::TestSettings;

constexpr std::int32_t kRate = 44100;
constexpr std::int32_t kFrames = kRate;
// Clicks in the left channel at these frames, and one in the right.
constexpr std::int32_t kClicks[] = {5000, 12000, 20000, 31000};
constexpr std::int32_t kRightClick = 25000;

// A stereo WAV of two low tones with one-frame clicks of half full scale.
std::string WriteClicks(const std::string& folder) {
  const std::string path = JoinPath(folder, "clicks.wav");
  SinkRef writer = CreateWavWriter(PcmFormat(kRate, 2, 16), path);
  std::vector<std::int32_t> samples;
  for (std::int32_t i = 0; i < kFrames; ++i)
    for (int c = 0; c < 2; ++c)
      samples.push_back(static_cast<std::int32_t>(std::sin(i * (0.03 + 0.01 * c)) * 100000.0) / 16 * 16);
  for (std::int32_t at : kClicks) samples[2 * at] += 0x40000;
  samples[2 * kRightClick + 1] -= 0x40000;
  writer->Write(samples.data(), kFrames);
  return path;
}

TEST(ClickCommands, ManualRefusesLongSelectionsAutomaticRepairsAndBothUndo) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  ASSERT_TRUE(window.OpenDocument(WriteClicks(test.folder)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);

  // An empty selection: nothing happens, nothing is shown, no undo step.
  SetSelection(document, 7000, 7000, 7000);
  window.Dispatch(7010);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_FALSE(UndoMenuState(document).undo_enabled);
  // 45 frames at 44100 Hz: refused with the program's name as caption.
  SetSelection(document, kClicks[0] - 20, kClicks[0] + 25, kClicks[0] - 20);
  window.Dispatch(7010);
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].text,
            "Sonavel kann einen Bereich dieser Größe nicht manuell reduzieren. Bitte wählen Sie einen kleineren "
            "Bereich.");
  EXPECT_EQ(ui.shown()[0].caption, "Sonavel");
  EXPECT_EQ(ui.shown()[0].icon, MessageIcon::kError);
  EXPECT_FALSE(UndoMenuState(document).undo_enabled);
  EXPECT_EQ(AllSamples(document.sound), original);

  // 44 frames: the click is mended as the filter does on its own from the selection's start.
  const std::int32_t start = kClicks[0] - 20;
  const std::int32_t end = start + 44;
  SetSelection(document, start, end, start);
  ASSERT_TRUE(window.Dispatch(7010));
  EXPECT_EQ(ui.shown().size(), 1u);
  EXPECT_NE(UndoMenuState(document).undo_text.find("Manueller Klick/Pop Reduzierung"), std::string::npos);
  ClickRepairFilter filter(testing::Memory(original, kRate, 2), 35, 450, end);
  filter.Seek(start);
  std::vector<std::int32_t> expected = original;
  filter.Read(expected.data() + 2 * start, end - start);
  const std::vector<std::int32_t> manual = AllSamples(document.sound);
  EXPECT_EQ(manual, expected);
  EXPECT_NE(manual[2 * kClicks[0]], original[2 * kClicks[0]]);
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);

  // The automatic repair over the whole sound: a length of 0 µs is refused in the dialog,
  // then the values are taken and stored under Settings.
  SetSelection(document, 0, 0, 0);
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"ClickSensitivity", "50"}, {"MaxClickLength", "0"}}, {}});
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"ClickSensitivity", "60"}, {"MaxClickLength", "400"}}, {}});
  ASSERT_TRUE(window.Dispatch(7009));
  ASSERT_EQ(ui.shown().size(), 2u);
  EXPECT_EQ(ui.shown()[1].caption, "Ungültiger Wert");
  const EffectDialog& shown = ui.effect_dialogs().back();
  EXPECT_EQ(shown.title, "&Auto Störgeräuschrestoration");
  ASSERT_EQ(shown.fields.size(), 2u);
  EXPECT_EQ(shown.fields[0].id, 101);
  EXPECT_EQ(shown.fields[0].kind, EffectFieldKind::kSlider);
  EXPECT_EQ(shown.fields[0].value, "50");
  EXPECT_EQ(shown.fields[1].id, 102);
  EXPECT_EQ(shown.fields[1].value, "450");
  EXPECT_EQ(shown.reset_id, 103);
  EXPECT_EQ(shown.reset_values, (std::vector<std::string>{"50", "450"}));
  EXPECT_EQ(ui.requests().back(), "progress Click Detecting");
  EXPECT_EQ(test.settings.ReadUserText("Settings", "ClickSensitivity", ""), "60");
  EXPECT_EQ(test.settings.ReadUserText("Settings", "MaxClickLength", ""), "400");
  EXPECT_NE(UndoMenuState(document).undo_text.find("&Auto Störgeräuschrestoration"), std::string::npos);
  // Every click mended to within a tenth of its height; nothing changed farther than 10
  // frames from one.
  const std::vector<std::int32_t> repaired = AllSamples(document.sound);
  for (std::int32_t at : kClicks)
    EXPECT_LT(std::abs(repaired[2 * at] - (original[2 * at] - 0x40000)) * 10, 0x40000) << at;
  EXPECT_LT(std::abs(repaired[2 * kRightClick + 1] - (original[2 * kRightClick + 1] + 0x40000)) * 10, 0x40000);
  for (std::int32_t frame = 0; frame < kFrames; ++frame) {
    if (repaired[2 * frame] == original[2 * frame] && repaired[2 * frame + 1] == original[2 * frame + 1]) continue;
    std::int32_t nearest = std::abs(frame - kRightClick);
    for (std::int32_t at : kClicks) nearest = std::min(nearest, std::abs(frame - at));
    EXPECT_LE(nearest, 10) << frame;
  }
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);
  window.close();
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
