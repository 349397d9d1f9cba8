// Spectral subtraction from the frame's commands with the scripted Ui: the apply command
// greyed until a noise sample exists, taking one without an undo step, the refusals, the
// rendered samples against the filter run on its own, and undo bit for bit.

#include <gtest/gtest.h>

#include <QAction>
#include <string>
#include <vector>

#include "document/working_folder.h"
#include "effects/effect.h"
#include "effects/memory_source.h"
#include "effects/spectral_subtraction.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::AllSamples;
using testing::TestSettings;
using testing::WriteTone;

constexpr std::int32_t kRate = 22050;
constexpr std::int32_t kStart = 3000;
constexpr std::int32_t kEnd = 40000;

// `original` with the stereo frames [kStart, kEnd) replaced by the subtractor run from
// kStart over the whole sound (it reads on past the selection's end, as the render does).
std::vector<std::int32_t> Expected(const std::vector<std::int32_t>& original, const SpectralProfile& profile) {
  SpectralSubtractor subtractor(testing::Memory(original, kRate, 2), profile);
  subtractor.Seek(kStart);
  std::vector<std::int32_t> expected = original;
  subtractor.Read(expected.data() + 2 * kStart, kEnd - kStart);
  return expected;
}

TEST(SpectralCommands, SampleTakenThenAppliedAutoWithItsThresholdAndUndo) {
  SetNoiseSampleProfile({});
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "rauschen.wav", 2, kRate * 2)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  QAction* apply = window.CommandAction(4013);
  ASSERT_NE(apply, nullptr);
  EXPECT_FALSE(apply->isEnabled());

  // Shorter than one block of 512 frames: refused before anything is recorded.
  SetSelection(document, 100, 600, 100);
  EXPECT_FALSE(window.Dispatch(4012));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].caption, "Fehler Manuelle Noise Reduction");
  EXPECT_EQ(ui.shown()[0].text, "Sonavel kann einen so kurzen Bereich nicht analysieren. Bitte wählen Sie einen "
                                "Bereich von mindestens 512 Samples.");
  EXPECT_EQ(NoiseSampleProfile(), nullptr);
  EXPECT_FALSE(apply->isEnabled());

  // Taking the sample changes nothing and records no undo step; the apply item comes on.
  SetSelection(document, 0, kStart, 0);
  ASSERT_TRUE(window.Dispatch(4012));
  EXPECT_EQ(ui.requests().back(), "progress Get Noise Sample");
  EXPECT_FALSE(UndoMenuState(document).undo_enabled);
  EXPECT_EQ(AllSamples(document.sound), original);
  ASSERT_NE(NoiseSampleProfile(), nullptr);
  EXPECT_TRUE(apply->isEnabled());
  const SpectralProfile sample = *NoiseSampleProfile();
  EXPECT_EQ(sample.rate, kRate);
  EXPECT_EQ(sample.channels, 2);

  SetSelection(document, kStart, kEnd, kStart);
  ASSERT_TRUE(window.Dispatch(4013));
  const std::vector<std::int32_t> subtracted = AllSamples(document.sound);
  EXPECT_EQ(subtracted, Expected(original, sample));
  EXPECT_NE(subtracted, original);
  EXPECT_NE(UndoMenuState(document).undo_text.find("Noise Reduction (Spectral Subtraction basiert auf Noise Sample)"),
            std::string::npos);
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);

  // Automatic at the speech preset's 20 %: stored, the profile of the selection itself.
  const EffectDefinition& automatic = *FindEffect(4011);
  SetSelection(document, kStart, kEnd, kStart);
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"SSNoiseThreshold", automatic.presets[0].values[0]}}, {}});
  ASSERT_TRUE(window.Dispatch(4011));
  EXPECT_EQ(ui.effect_dialogs().back().fields[0].value, "30");
  EXPECT_EQ(test.settings.ReadUserText("StoredValues", "SSNoiseThreshold", ""), "20");
  SpectralProfile own;
  SilentProgress progress;
  SourceRef source = testing::Memory(original, kRate, 2);
  ASSERT_EQ(EstimateSpectralProfile(*source, kStart, kEnd, 20, progress, own), kDone);
  EXPECT_EQ(AllSamples(document.sound), Expected(original, own));
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);
  // A stored threshold over 50 % is limited to 50.
  test.settings.WriteUserValue("StoredValues", "SSNoiseThreshold", 300);
  EXPECT_EQ(ReadEffectValues(automatic, test.settings).at("SSNoiseThreshold"), "50");

  // The stereo sample on a mono sound is refused, with no undo step.
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "mono.wav", 1, kRate)));
  AudioDocument& mono = *window.ActiveDocument();
  const std::vector<std::int32_t> mono_original = AllSamples(mono.sound);
  const std::size_t shown = ui.shown().size();
  EXPECT_FALSE(window.Dispatch(4013));
  ASSERT_EQ(ui.shown().size(), shown + 1);
  EXPECT_EQ(ui.shown().back().text, "Der gewählte Noise Sample ist nicht ist mit den Markierten nicht kompatibel.");
  EXPECT_EQ(ui.shown().back().caption, "Fehler");
  EXPECT_FALSE(UndoMenuState(mono).undo_enabled);
  EXPECT_EQ(AllSamples(mono.sound), mono_original);
  window.close();
  SetWorkingFolder("");
  SetNoiseSampleProfile({});
}

}  // namespace
}  // namespace sonavel
