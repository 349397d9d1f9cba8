// Automatic trimming and splitting from the frame's commands with the scripted Ui: the trim
// by exact frames with undo bit for bit; the split's save prompt, refusal, stored values,
// windows (names, modified flags, samples) and its box; and the split dialog itself.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMdiArea>
#include <QSlider>

#include <cmath>
#include <string>
#include <vector>

#include "document/effect_command.h"
#include "document/silence_commands.h"
#include "document/working_folder.h"
#include "effects/silence.h"
#include "formats/wav_writer.h"
#include "gui/effect_dialog.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::AllSamples;
using testing::TestSettings;

constexpr int kRate = 22050;

// A stereo WAV file, silent but for a tone (a period of 125 frames, 300000 in store
// units) over each of the frame ranges given.
std::string WriteBursts(const std::string& folder, const std::string& name, std::int32_t frames,
                        const std::vector<std::pair<std::int32_t, std::int32_t>>& bursts) {
  const std::string path = JoinPath(folder, name);
  SinkRef writer = CreateWavWriter(PcmFormat(kRate, 2, 16), path);
  std::vector<std::int32_t> samples(2 * static_cast<std::size_t>(frames), 0);
  for (const auto& [start, end] : bursts)
    for (std::int32_t i = start; i < end; ++i)
      samples[2 * i] = samples[2 * i + 1] = static_cast<std::int32_t>(std::lround(300000 * std::sin(i * 0.05)));
  writer->Write(samples.data(), frames);
  return path;
}

TEST(SilenceCommands, AutoTrimCutsBothEndsByThePeakBlocksAndUndoes) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  test.settings.WriteUserValue("Settings", "AutoTrimThreshold", -20);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  ASSERT_TRUE(window.OpenDocument(WriteBursts(test.folder, "trim.wav", 40000, {{5000, 30000}})));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  SetSelection(document, 100, 200, 100);  // the whole sound is trimmed whatever is selected

  ASSERT_TRUE(window.Dispatch(kAutoTrimCommand));
  EXPECT_EQ(ui.requests().back(), "progress AutoTrim");
  EXPECT_EQ(UndoMenuState(document).undo_text, "Rückgängig Automatisches Trimmen\tCtrl+Z");
  // The first loud block is 19 (frames 4864 …), so one block before it stays; the last is
  // 117 (… 29999), so one block after it ends the sound.
  constexpr std::int32_t kStart = 18 * 256;
  constexpr std::int32_t kEnd = 118 * 256;
  EXPECT_EQ(AllSamples(document.sound),
            std::vector<std::int32_t>(original.begin() + 2 * kStart, original.begin() + 2 * kEnd));
  EXPECT_EQ(document.state.cursor, 0);
  EXPECT_EQ(document.state.view_start, 0);
  EXPECT_EQ(document.state.view_end, kEnd - kStart);
  EXPECT_EQ(document.state.selection_end, 0);
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);
  window.close();
  SetWorkingFolder("");
}

TEST(SilenceCommands, AutoSplitAsksToSaveRefusesANegativeLengthAndOpensAModifiedWindowPerPart) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  const std::string path =
      WriteBursts(test.folder, "take.wav", 5 * kRate, {{3000, 20000}, {40000, 50000}, {52000, 60000}, {80000, 90000}});
  ASSERT_TRUE(window.OpenDocument(path));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  auto documents = [&window] { return window.document_list().documents().size(); };

  // Changed: declining the save ends the command before the dialog.
  document.state.modified = 1;
  ui.QueueAnswer(MessageAnswer::kNo);
  EXPECT_FALSE(window.Dispatch(kAutoSplitCommand));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].buttons, MessageButtons::kYesNo);
  EXPECT_TRUE(ui.effect_dialogs().empty());

  // Accepting saves; a negative length is refused under its own caption and the dialog
  // stays; the accepted values are stored.
  ui.QueueAnswer(MessageAnswer::kYes);
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Duration", "-5"}}, {}});
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Threshold", "-36"}, {"Duration", "500"}}, {}});
  ui.QueueWavFormatAnswer("");  // the WAV format chooser's opening line
  ASSERT_TRUE(window.Dispatch(kAutoSplitCommand));
  EXPECT_EQ(document.state.modified, 0);
  ASSERT_EQ(ui.shown().size(), 3u);
  EXPECT_EQ(ui.shown()[2].text, "Die gewählte Stille (Länge) ist nicht gültig. Bitte versuchen Sie es erneut.");
  EXPECT_EQ(ui.shown()[2].caption, "Ungültige Länge (Stille)");
  const EffectDialog& shown = ui.effect_dialogs().back();
  ASSERT_EQ(shown.fields.size(), 2u);
  EXPECT_EQ(shown.fields[0].id, 101);
  EXPECT_EQ(shown.fields[0].kind, EffectFieldKind::kDecibels);
  EXPECT_EQ(shown.fields[1].id, 102);
  EXPECT_EQ(test.settings.ReadUserText("AutoSplit", "Threshold", ""), "-36");
  EXPECT_EQ(test.settings.ReadUserText("AutoSplit", "Duration", ""), "500");
  EXPECT_EQ(ui.requests().back(), "progress Auto Split Komplett");

  // Three parts (the 2000-frame gap is shorter than 500 ms): each a modified window named
  // after the file, holding its stretch; the source unchanged.
  SilentProgress progress;
  SourceRef reader = OpenSoundReader(document.sound);
  const std::vector<LoudRange> ranges = *FindLoudRanges(*reader, 5 * kRate, -36, 500, progress);
  ASSERT_EQ(ranges.size(), 3u);
  ASSERT_EQ(documents(), 4u);
  const std::string stem = JoinPath(test.folder, "take");
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const AudioDocument& part = *window.document_list().documents()[i + 1];
    EXPECT_EQ(part.path, stem + " (" + std::to_string(i) + ").wav");
    EXPECT_EQ(part.state.modified, 1);
    EXPECT_EQ(AllSamples(part.sound), std::vector<std::int32_t>(original.begin() + 2 * ranges[i].start,
                                                                original.begin() + 2 * ranges[i].end));
  }
  EXPECT_LE(ranges[0].start, 3000);
  EXPECT_GE(ranges[2].end, 90000);
  EXPECT_EQ(AllSamples(document.sound), original);
  EXPECT_EQ(document.state.modified, 0);

  // Five seconds of silence join everything into one part: the box, no window.
  window.documents()->setActiveSubWindow(window.documents()->subWindowList().front());
  ASSERT_EQ(window.ActiveDocument(), &document);
  ui.QueueEffectAnswer(ScriptedUi::EffectAnswer{{{"Duration", "5000"}}, {}});
  ASSERT_TRUE(window.Dispatch(kAutoSplitCommand));
  EXPECT_EQ(ui.shown().back().caption, "Auto Split Komplett");
  EXPECT_EQ(ui.shown().back().text, TooFewPartsMessage().text);
  EXPECT_EQ(ui.shown().back().icon, MessageIcon::kInformation);
  EXPECT_EQ(documents(), 4u);
  // A cancelled dialog ends it too.
  ui.QueueEffectAnswer(std::nullopt);
  EXPECT_FALSE(window.Dispatch(kAutoSplitCommand));
  EXPECT_EQ(documents(), 4u);
  window.close();
  SetWorkingFolder("");
}

TEST(SilenceCommands, TheAutoSplitDialogShowsItsStoredValues) {
  TestSettings test;
  test.settings.WriteUserValue("AutoSplit", "Threshold", -48);
  test.settings.WriteUserValue("AutoSplit", "Duration", 750);
  const EffectDefinition& split = AutoSplitDefinition();
  EffectDialog dialog = ParameterDialog(split, ReadEffectValues(split, test.settings));
  dialog.refusal_caption = kInvalidSilenceCaption;
  const std::shared_ptr<bool> ran = testing::WhenDialogUp("EffectDialog", [](QDialog& shown) {
    EXPECT_EQ(shown.windowTitle(), "Auto Split");
    auto* threshold = shown.findChild<QSlider*>("101");
    auto* duration = shown.findChild<QLineEdit*>("102");
    ASSERT_NE(threshold, nullptr);
    ASSERT_NE(duration, nullptr);
    EXPECT_EQ(threshold->value(), -48);
    EXPECT_EQ(duration->text(), "750");
    duration->setText("1200");
    testing::SaveScreenshot(shown, "auto_split");
    shown.accept();
  });
  EXPECT_TRUE(RunEffectDialog(nullptr, dialog));
  EXPECT_TRUE(*ran);
  EXPECT_EQ(dialog.fields[1].value, "1200");
}

}  // namespace
}  // namespace sonavel
