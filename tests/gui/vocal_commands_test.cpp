// Vocal reduction from the frame's command with the scripted Ui: mono refused, part of a
// stereo sound reduced in place (still stereo, the rest untouched), the whole sound made
// mono, and undo bit for bit, channel count included.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "document/working_folder.h"
#include "effects/effect.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::TestSettings;
using testing::WriteTone;

constexpr std::int32_t kFrames = 22050 * 2;
constexpr std::int32_t kStart = 20000;
constexpr std::int32_t kEnd = 36000;

using testing::AllSamples;

TEST(VocalCommand, RefusesMonoReducesPartsInStereoMakesTheWholeMonoAndUndoes) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);

  // Mono: the stereo-only message, nothing changed and no undo step.
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "mono.wav", 1, 4000)));
  AudioDocument& mono = *window.ActiveDocument();
  const std::vector<std::int32_t> mono_samples = AllSamples(mono.sound);
  EXPECT_FALSE(window.Dispatch(4032));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].text, StereoOnlyMessage().text);
  EXPECT_EQ(ui.shown()[0].caption, "Datei muß in Stereo konvertiert werden");
  EXPECT_EQ(AllSamples(mono.sound), mono_samples);
  EXPECT_FALSE(UndoMenuState(mono).undo_enabled);

  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "stereo.wav", 2, kFrames)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  auto difference = [&original](std::int32_t frame) { return original[2 * frame] - original[2 * frame + 1]; };
  auto undo_restores = [&] {
    ASSERT_TRUE(window.Dispatch(2001));
    EXPECT_EQ(document.sound.channels, 2);
    EXPECT_EQ(AllSamples(document.sound), original);
  };

  // Part of it: the selection carries left − right in both channels, the rest is kept.
  SetSelection(document, kStart, kEnd, kStart);
  ASSERT_TRUE(window.Dispatch(4032));
  EXPECT_EQ(ui.requests().back(), "progress Reduce Vocals");
  EXPECT_EQ(UndoMenuState(document).undo_text, "Rückgängig Stimmen reduzieren\tCtrl+Z");
  ASSERT_EQ(document.sound.channels, 2);
  std::vector<std::int32_t> expected = original;
  for (std::int32_t f = kStart; f < kEnd; ++f) expected[2 * f] = expected[2 * f + 1] = difference(f);
  EXPECT_EQ(AllSamples(document.sound), expected);
  EXPECT_EQ(document.state.selection_start, kStart);
  EXPECT_EQ(document.state.selection_end, kEnd);
  undo_restores();

  // Nothing selected: the whole sound becomes one channel of the difference, limited to
  // full scale. The tone decays linearly from 400000 per channel, so the difference soon
  // stays within full scale; once the limiter's gain has recovered (a few of its blocks
  // later) it must come out exactly.
  std::int32_t last_over = 0;
  for (std::int32_t f = 0; f < kFrames; ++f)
    if (std::abs(difference(f)) > kFullScale) last_over = f;
  ASSERT_GT(last_over, 0);  // the limiter has work to do
  const std::int32_t exact_from = last_over + 8 * LimiterBlockLength(22050);
  ASSERT_LT(exact_from, kFrames / 2);
  SetSelection(document, 0, 0, 0);
  ASSERT_TRUE(window.Dispatch(4032));
  ASSERT_EQ(document.sound.channels, 1);
  const std::vector<std::int32_t> reduced = AllSamples(document.sound);
  ASSERT_EQ(reduced.size(), static_cast<std::size_t>(kFrames));
  for (std::int32_t f = 0; f < kFrames; ++f) {
    ASSERT_LE(std::abs(reduced[f]), kFullScale) << f;
    if (f >= exact_from) {
      ASSERT_EQ(reduced[f], difference(f)) << f;
    }
  }
  undo_restores();
  ASSERT_TRUE(window.Dispatch(2033));  // redo: mono again
  EXPECT_EQ(document.sound.channels, 1);
  EXPECT_EQ(AllSamples(document.sound), reduced);
}

}  // namespace
}  // namespace sonavel
