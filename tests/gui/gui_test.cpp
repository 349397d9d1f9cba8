#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QDropEvent>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <map>
#include <optional>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/paths.h"

#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "gui/main_window.h"
#include "gui/level_meter.h"
#include "effects/effect.h"
#include "effects/equalizer.h"
#include "gui/document_window.h"
#include "gui/wave_view.h"
#include "gui_fixture.h"
#include "store/segment_reader.h"
#include "gui/qt_ui.h"
#include "gui/translations.h"
#include "app/command_line.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "store/block_table.h"
#include "document/working_folder.h"
#include "platform/setting_keys.h"
#include "document/file_commands.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;
using testing::TestSettings;
using testing::WriteTone;


// Answers the next message box when it appears: records what it shows, then clicks the
// button with `answer`.
struct MessageBoxAnswer {
  explicit MessageBoxAnswer(QMessageBox::StandardButton button) : answer(button) {}
  QMessageBox::StandardButton answer;
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;

  void Arm() {
    QTimer::singleShot(0, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        Arm();  // not shown yet
        return;
      }
      text = box->text();
      caption = box->windowTitle();
      icon = box->icon();
      buttons = box->standardButtons();
      if (answer == QMessageBox::Escape)
        box->reject();
      else
        box->button(answer)->click();
    });
  }
};

TEST(MainWindow, OpensWithTheFreeSpaceInTheStatusBar) {
  TestSettings test;
  MainWindow window(test.settings);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), "Sonavel");
  EXPECT_NE(window.documents(), nullptr);
  auto labels = window.statusBar()->findChildren<QLabel*>();
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                          [](QLabel* label) { return label->text().startsWith("Freier Speicher: "); }));
  SaveScreenshot(window, "main_window");
}

TEST(MainWindow, TakesItsPlacementFromTheSettingsAndWritesItBackOnClose) {
  TestSettings test;
  test.settings.WriteUserValue("MainWindow", "Maximized", "0");
  test.settings.WriteUserValue("MainWindow", "X", "30");
  test.settings.WriteUserValue("MainWindow", "Y", "40");
  test.settings.WriteUserValue("MainWindow", "Width", "500");
  test.settings.WriteUserValue("MainWindow", "Height", "400");
  MainWindow window(test.settings);
  ProcessCommandLine({"sonavel", "-window", "640", "480"}, window);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_FALSE(window.isMaximized());
  EXPECT_EQ(window.documents()->size(), QSize(640, 480));
  EXPECT_EQ(window.splash(), nullptr);  // a window option: no splash
  window.close();
  EXPECT_EQ(test.settings.ReadUserText("MainWindow", "Maximized", ""), "0");
  EXPECT_EQ(test.settings.ReadUserInt("MainWindow", "Width", 0), window.width());
  EXPECT_EQ(test.settings.ReadUserInt("MainWindow", "Height", 0), window.height());
}

TEST(MainWindow, AStartWithoutFilesShowsTheSplashForSevenSeconds) {
  TestSettings test;
  MainWindow window(test.settings);
  ProcessCommandLine({"sonavel"}, window);
  ASSERT_NE(window.splash(), nullptr);
  EXPECT_EQ(window.splash()->objectName(), "LAW");
  EXPECT_TRUE(window.splash()->isVisible());
  SaveScreenshot(*window.splash(), "splash");
  QTest::qWait(100);
  EXPECT_NE(window.splash(), nullptr);
  // Once gone, it does not come back for the command line of a later start that is
  // handed over, nor does a start whose hand-over failed show one.
  window.splash()->close();
  QTest::qWait(10);
  ProcessCommandLine({"sonavel"}, window);
  EXPECT_EQ(window.splash(), nullptr);
  MainWindow after_failed_hand_over(test.settings);
  after_failed_hand_over.SuppressSplash();
  ProcessCommandLine({"sonavel"}, after_failed_hand_over);
  EXPECT_EQ(after_failed_hand_over.splash(), nullptr);
}

// MP3 files open in the editor as long as what was encoded, unless the options say to keep
// every decoded frame; GSM files open at 8000 Hz.
TEST(MainFrame, OpensMp3FilesGaplessAsTheOptionsSayAndGsmFiles) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.resize(900, 600);
  window.show();
  const std::string tone = WriteTone(test.folder, "ton.wav", 2, 50000);
  const std::string mp3 = JoinPath(test.folder, "ton.mp3");
  ASSERT_EQ(std::system(("lame --quiet -b 64 '" + tone + "' '" + mp3 + "'").c_str()), 0) << "lame is needed";
  ASSERT_TRUE(window.OpenDocument(mp3));
  EXPECT_EQ(SoundLength(window.ActiveDocument()->sound), 50000);
  EXPECT_EQ(window.ActiveDocument()->sound.rate, 22050);
  window.documents()->activeSubWindow()->showMaximized();
  QTest::qWait(50);
  SaveScreenshot(window, "main_window_mp3");

  test.settings.WriteUser(setting::kMp3Gapless, false);
  ASSERT_TRUE(window.OpenDocument(mp3));
  const std::int64_t every_frame = SoundLength(window.ActiveDocument()->sound);
  EXPECT_EQ(every_frame % 576, 0);  // whole MPEG-2 frames
  EXPECT_GT(every_frame, 50000 + 529);

  const std::string gsm = JoinPath(test.folder, "ton.gsm");
  ASSERT_EQ(SaveSoundFile(OpenSoundReader(window.ActiveDocument()->sound), DocumentSaveFormat(*window.ActiveDocument()), gsm, ui), kDone);
  ASSERT_TRUE(window.OpenDocument(gsm));
  EXPECT_EQ(window.ActiveDocument()->sound.rate, 8000);
  EXPECT_EQ(window.ActiveDocument()->sound.channels, 1);
}

TEST(MainFrame, OpensEditsUndoesAndSavesDocumentsByCommandId) {
  TestSettings test;
  testing::ScopedDataFolder data(test.folder);  // Save As stores the chosen WAV format
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.resize(900, 600);
  window.show();
  const std::string first = WriteTone(test.folder, "erster.wav", 2, 60000);
  const std::string second = WriteTone(test.folder, "zweiter.wav", 1, 30000);
  ui.QueueChoice(first);
  ASSERT_TRUE(window.Dispatch(1002));
  ASSERT_TRUE(window.OpenDocument(second));
  ASSERT_EQ(window.document_list().documents().size(), 2u);
  AudioDocument* active = window.ActiveDocument();
  ASSERT_NE(active, nullptr);
  EXPECT_EQ(DisplayTitle(*active), "zweiter.wav");
  EXPECT_EQ(SoundLength(active->sound), 30000);
  EXPECT_EQ(window.documents()->activeSubWindow()->windowTitle(), "zweiter.wav[*]");
  window.documents()->tileSubWindows();
  QTest::qWait(50);
  SaveScreenshot(window, "main_window_two_documents");

  // An edit, its undo texts, undo and redo by command id.
  RecordUndo(*active, "Löschen");
  DeleteRange(active->sound, 0, 10000);
  active->Notify(kSoundChanged);
  EXPECT_TRUE(window.documents()->activeSubWindow()->isWindowModified());
  EXPECT_EQ(UndoMenuState(*active).undo_text, "Rückgängig Löschen\tCtrl+Z");
  EXPECT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(SoundLength(active->sound), 30000);
  EXPECT_FALSE(window.documents()->activeSubWindow()->isWindowModified());
  EXPECT_EQ(UndoMenuState(*active).redo_text, "Rückgängig Löschen\tCtrl+Y");
  EXPECT_TRUE(window.Dispatch(2033));
  EXPECT_EQ(SoundLength(active->sound), 20000);

  // Save As to a new name; the title follows, the file holds the edited sound.
  const std::string saved = JoinPath(test.folder, "gekuerzt.wav");
  ui.QueueChoice(saved);
  ui.QueueWavFormatAnswer("");  // the WAV format chooser's opening line
  EXPECT_TRUE(window.Dispatch(1005));
  EXPECT_EQ(DisplayTitle(*active), "gekuerzt.wav");
  EXPECT_EQ(active->state.modified, 0);
  SourceRef reader = OpenWavReader(saved);
  EXPECT_EQ(reader->Length(), 20000);
  EXPECT_EQ(window.Dispatch(9999), false);  // no handler

  // Closing a modified document asks first; Cancel keeps it.
  RecordUndo(*active, "Stille");
  ui.QueueAnswer(MessageAnswer::kCancel);
  window.Dispatch(1003);
  EXPECT_EQ(window.document_list().documents().size(), 2u);
  EXPECT_EQ(ui.shown().back().text, "Speichere Änderungen in \"gekuerzt.wav\"?");
  ui.QueueAnswer(MessageAnswer::kNo);
  window.Dispatch(1003);
  QTest::qWait(20);
  EXPECT_EQ(window.document_list().documents().size(), 1u);
  window.close();
  SetWorkingFolder("");
}

TEST(MainFrame, AHotKeyBoundToThreeCommandsRunsThemInOrder) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  test.settings.WriteUserValue("Settings", "PromptSampleAndChannels", "0");
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  // Ctrl+Shift+K: New, New, Tile.
  window.SetHotKeys({HotKey{kKeyCtrl | kKeyShift | 'K', {1001, 1001, 5011}}});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::keyClick(window.windowHandle(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_EQ(window.document_list().documents().size(), 2u);
  EXPECT_EQ(window.document_list().documents()[0]->path, "Unbenannt 1");
  EXPECT_EQ(window.document_list().documents()[1]->path, "Unbenannt 2");
  // A built-in key: Ctrl+N makes a third.
  QTest::keyClick(window.windowHandle(), Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(window.document_list().documents().size(), 3u);
  // A user key on a built-in key replaces it: Ctrl+N now closes the active document.
  window.SetHotKeys({HotKey{kKeyCtrl | 'N', {1003}}});
  ui.QueueAnswer(MessageAnswer::kNo);  // "Speichere Änderungen in ..." for the untitled one
  QTest::keyClick(window.windowHandle(), Qt::Key_N, Qt::ControlModifier);
  QTest::qWait(20);
  EXPECT_EQ(window.document_list().documents().size(), 2u);
  ui.QueueAnswer(MessageAnswer::kNo);
  ui.QueueAnswer(MessageAnswer::kNo);
  window.close();
  SetWorkingFolder("");
}

TEST(MainFrame, MenusTimeDisplaysCommandBarDropsAndCloseAll) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.show();
  // The menu bar carries the nine menus in order; unbuilt commands are there, disabled.
  QStringList titles;
  for (QAction* menu : window.menuBar()->actions()) titles << menu->text();
  EXPECT_EQ(titles, (QStringList{"&Datei", "&Bearbeiten", "Effek&te", "&Steuerung", "&Werkzeuge", "&Lesezeichen",
                                 "&Betrachten", "&Fenster", "&Hilfe"}));
  ASSERT_NE(window.CommandAction(1002), nullptr);
  EXPECT_TRUE(window.CommandAction(1002)->isEnabled());
  ASSERT_NE(window.CommandAction(4019), nullptr);
  EXPECT_FALSE(window.CommandAction(4019)->isEnabled());
  EXPECT_FALSE(window.CommandAction(2001)->isEnabled());  // nothing to undo without a document
  EXPECT_EQ(window.TimeDisplay(130), "0:00:00.000");

  // Files dropped on the frame open in drop order.
  const std::string a = WriteTone(test.folder, "a.wav", 1, 44100);
  const std::string b = WriteTone(test.folder, "b.wav", 2, 22050);
  window.OpenDroppedFiles({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b))});
  ASSERT_EQ(window.document_list().documents().size(), 2u);
  EXPECT_EQ(DisplayTitle(*window.ActiveDocument()), "b.wav");
  EXPECT_EQ(window.TimeDisplay(130), "0:00:01.000");  // 22050 frames at 22050 Hz

  AudioDocument& active = *window.ActiveDocument();
  SetSelection(active, 11025, 2205, 16538);
  EXPECT_EQ(window.TimeDisplay(106), "0:00:00.100");
  EXPECT_EQ(window.TimeDisplay(107), "0:00:00.500");
  EXPECT_EQ(window.TimeDisplay(108), "0:00:00.400");
  EXPECT_EQ(window.TimeDisplay(109), "0:00:00.75");  // hundredths: 750 ms

  // The command bar has a button for each document window.
  QStringList buttons;
  for (QAction* action : window.command_bar()->actions())
    if (action->data().toInt() >= 134 && action->data().toInt() <= 160) buttons << action->text();
  EXPECT_EQ(buttons, (QStringList{"a.wav", "b.wav"}));
  EXPECT_TRUE(window.Dispatch(9001));  // hidden, and remembered
  EXPECT_FALSE(window.command_bar()->isVisible());
  EXPECT_EQ(test.settings.ReadUserText("Settings", "ShowCommandBar", ""), "0");

  // Close all: an unmodified named document closes without asking.
  EXPECT_TRUE(window.Dispatch(5040));
  QTest::qWait(20);
  EXPECT_TRUE(window.document_list().documents().empty());
  EXPECT_TRUE(ui.shown().empty());
  window.close();
  SetWorkingFolder("");
}

TEST(MainFrame, TheFrameGoesAwayWhilePlaying) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  {
    MainWindow window(test.settings, &ui);
    window.show();
    ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "lang.wav", 2, 22050 * 10)));
    ASSERT_TRUE(window.Dispatch(3002));
    ASSERT_EQ(window.engine().State(), 1);
  }  // destroyed with the engine playing: it stops, and nothing reports to a frame half gone
  SetWorkingFolder("");
}

TEST(MainFrame, PlayRunsToTheEndAndStopStopsAtOnce) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "kurz.wav", 2, 11025)));  // half a second
  ASSERT_TRUE(window.Dispatch(3002));
  EXPECT_EQ(window.engine().State(), 1);
  // Without a sound card the null device keeps real time; the cursor display follows.
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.engine().State() == 0; }, 5000));
  EXPECT_EQ(window.TimeDisplay(109), "0:00:00.50");
  SetSelection(*window.ActiveDocument(), 2205, 4410, 2205);
  ASSERT_TRUE(window.Dispatch(3002));  // the selection only
  EXPECT_EQ(window.engine().State(), 1);
  EXPECT_TRUE(window.Dispatch(3003));
  EXPECT_EQ(window.engine().State(), 0);
  window.close();
  SetWorkingFolder("");
}

TEST(MainFrame, TransportKeysButtonsAndPlayWhenOpen) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "PlayWhenOpen", 1);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "lang.wav", 1, 22050 * 20)));  // 20 s
  EXPECT_EQ(window.engine().State(), 1);  // opening played it
  AudioDocument& document = *window.ActiveDocument();
  QWindow* handle = window.windowHandle();

  // Space pauses (scrubs) and plays on; Esc stops.
  QTest::keyClick(handle, Qt::Key_Space);
  EXPECT_EQ(window.engine().State(), 5);
  QTest::keyClick(handle, Qt::Key_Space);
  EXPECT_EQ(window.engine().State(), 1);
  QTest::keyClick(handle, Qt::Key_Escape);
  EXPECT_EQ(window.engine().State(), 0);
  EXPECT_EQ(window.level_meter()->levels().count, 1);
  EXPECT_EQ(window.level_meter()->levels().level[0], -127);

  // End and Home move the cursor while stopped; Shift+Home selects from the anchor.
  QTest::keyClick(handle, Qt::Key_End);
  EXPECT_EQ(document.state.cursor, 22050 * 20);
  QTest::keyPress(handle, Qt::Key_Shift);
  QTest::keyClick(handle, Qt::Key_Home, Qt::ShiftModifier);
  QTest::keyRelease(handle, Qt::Key_Shift);
  EXPECT_EQ(document.state.cursor, 0);
  EXPECT_EQ(document.state.selection_start, 0);
  EXPECT_EQ(document.state.selection_end, 22050 * 20);
  EXPECT_FALSE(window.transport().extend_selection());

  // Holding Right winds forward until the key comes up.
  SetSelection(document, 0, 0, 0);
  QTest::keyPress(handle, Qt::Key_Right);
  EXPECT_TRUE(window.transport().running(Transport::Direction::kForward));
  EXPECT_EQ(document.state.cursor, 22050 / 5);
  QTest::keyRelease(handle, Qt::Key_Right);
  EXPECT_FALSE(window.transport().running(Transport::Direction::kForward));
  EXPECT_EQ(window.engine().State(), 0);  // nothing played before

  // The speed and repeat commands store their settings and set their marks.
  ASSERT_TRUE(window.Dispatch(3010));
  EXPECT_EQ(test.settings.ReadInt("Settings", "PlaySpeed", 1), 2);
  EXPECT_TRUE(window.CommandAction(3010)->isChecked());
  EXPECT_FALSE(window.CommandAction(3009)->isChecked());
  QTest::keyClick(handle, Qt::Key_F10);
  EXPECT_EQ(test.settings.ReadInt("Settings", "PlaySpeed", 1), 1);
  QTest::keyClick(handle, Qt::Key_F9, Qt::ShiftModifier);
  EXPECT_TRUE(test.settings.ReadBool("Settings", "PlayRepeat", false));
  EXPECT_TRUE(window.CommandAction(3011)->isChecked());

  // Dragging the mouse past the view's right edge winds forward, the selection growing
  // from its start; coming back inside ends it.
  auto* document_window = qobject_cast<DocumentWindow*>(window.documents()->activeSubWindow());
  ASSERT_NE(document_window, nullptr);
  WaveView* view = document_window->main_view();
  SetSelection(document, 0, 0, 0);
  testing::Mouse(view, QEvent::MouseButtonPress, 20);
  testing::Mouse(view, QEvent::MouseMove, view->width() + 5);
  EXPECT_TRUE(window.transport().running(Transport::Direction::kForward));
  EXPECT_TRUE(window.transport().extend_selection());
  testing::Mouse(view, QEvent::MouseMove, view->width() / 2);
  EXPECT_FALSE(window.transport().running(Transport::Direction::kForward));
  EXPECT_FALSE(window.transport().extend_selection());
  testing::Mouse(view, QEvent::MouseButtonRelease, view->width() / 2);
  window.Dispatch(3003);

  // The stop button stops; the scrub button pauses what plays.
  auto* scrub = window.findChild<QToolButton*>("112");
  auto* stop = window.findChild<QToolButton*>("113");
  ASSERT_NE(scrub, nullptr);
  ASSERT_NE(stop, nullptr);
  EXPECT_TRUE(scrub->isEnabled());
  scrub->click();
  EXPECT_EQ(window.engine().State(), 5);
  EXPECT_TRUE(scrub->isDown());
  stop->click();
  EXPECT_EQ(window.engine().State(), 0);
  EXPECT_TRUE(stop->isDown());
  window.close();
  SetWorkingFolder("");
}

// Every frame of a sound, as the segment reader delivers it.
using testing::AllSamples;

TEST(MainFrame, EveryEffectRunsFromItsCommandAndUndoRestoresTheSound) {
  TestSettings test;
  testing::ScopedDataFolder data(test.folder);  // the equaliser's curve file
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "effekte.wav", 2, 22050 * 2)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);

  // Answers that change the sound, for the effects that ask.
  const std::map<std::string, ScriptedUi::EffectAnswer> answers = {
      {"Anpassen", {{{"AmplifyGain", "50"}}, {}}},
      {"Normalisieren", {{{"NormalizePeakLevel", "40"}}, {}}},
      {"Dynamik", {{}, {{0, 128}, {128, 0}, {255, 128}}}},
      {"Stereo Pan", {{{"StereoPan", "20"}}, {}}},
      {"Dynamic Range Compressor", {{{"CompressorThreshold", "-20"}, {"CompressorRatio", "2"}}, {}}},
      {"Samplerate konvertieren", {{{"SampleRate", "11025"}}, {}}},
      {"Geschwindigkeit und Tonhöhe ändern", {{{"SpSpeedPitch", "150"}}, {}}},
      {"Nur Geschwindigkeit ändern", {{{"ConstPitchSpeed", "80"}}, {}}},
      {"Nur Tonhöhe ändern", {{{"ConstSpeedPitch", "120"}}, {}}},
  };
  ASSERT_FALSE(EffectCatalogue().empty());
  // The equaliser renders its stored curve: half the level everywhere.
  ASSERT_TRUE(SaveEqualizerPoints({{0, 64}, {255, 64}}));
  for (const EffectDefinition& effect : EffectCatalogue()) {
    SCOPED_TRACE(effect.undo_name);
    // Manual click repair takes at most a millisecond.
    SetSelection(document, 2000, effect.keeps_selection ? 2020 : 30000, 2000);
    if (effect.has_dialog) {
      const auto found = answers.find(effect.undo_name);
      ui.QueueEffectAnswer(found != answers.end() ? found->second : ScriptedUi::EffectAnswer{});
    }
    ASSERT_TRUE(window.Dispatch(effect.command_id));
    EXPECT_EQ(window.engine().State(), 0);  // no automatic playback
    // Already stereo, or a command that only reads the selection (the noise sample, which
    // the next command applies): nothing happens, nothing to undo.
    if (effect.command_id == 1008 || !effect.changes_sound) {
      EXPECT_EQ(AllSamples(document.sound), original);
      continue;
    }
    // A tone without DC or clicks: these leave it as it is.
    if (effect.undo_name != "DC Offset Correction" && effect.command_id != 7009 && effect.command_id != 7010) {
      EXPECT_NE(AllSamples(document.sound), original);
    }
    EXPECT_EQ(document.state.cursor, effect.lead_in_ms < 0 ? 0 : 2000);
    ASSERT_TRUE(window.Dispatch(2001));  // undo
    EXPECT_EQ(AllSamples(document.sound), original);
    EXPECT_EQ(document.sound.rate, 22050);
    EXPECT_EQ(document.sound.channels, 2);
  }
  // A cancelled dialog changes nothing and records nothing.
  const UndoMenu before = UndoMenuState(document);
  ui.QueueEffectAnswer(std::nullopt);
  EXPECT_FALSE(window.Dispatch(4001));
  EXPECT_EQ(UndoMenuState(document).undo_text, before.undo_text);
  window.close();
  SetWorkingFolder("");
}

TEST(MainFrame, EditCommandsRunFromTheMenuWithTheFramesClipboard) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "schnitt.wav", 1, 22050)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  EXPECT_FALSE(window.CommandAction(2004)->isEnabled());  // nothing to paste yet

  SetSelection(document, 1000, 3000, 1000);
  ASSERT_TRUE(window.Dispatch(2002));  // cut
  EXPECT_EQ(SoundLength(document.sound), 20050);
  EXPECT_TRUE(window.clipboard().HasAudio());
  EXPECT_TRUE(window.CommandAction(2004)->isEnabled());
  SetSelection(document, 0, 0, 0);
  ASSERT_TRUE(window.Dispatch(2004));  // paste at the start
  EXPECT_EQ(document.state.selection_start, 0);
  EXPECT_EQ(document.state.selection_end, 2000);
  std::vector<std::int32_t> expected(original.begin() + 1000, original.begin() + 3000);
  expected.insert(expected.end(), original.begin(), original.begin() + 1000);
  expected.insert(expected.end(), original.begin() + 3000, original.end());
  EXPECT_EQ(AllSamples(document.sound), expected);
  ASSERT_TRUE(window.Dispatch(2001));
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);

  // Split at the cursor opens the rest as a new untitled window.
  const int windows = window.documents()->subWindowList().size();
  document.state.cursor = 5000;
  ASSERT_TRUE(window.Dispatch(2029));
  EXPECT_EQ(window.documents()->subWindowList().size(), windows + 1);
  AudioDocument& rest = *window.ActiveDocument();
  EXPECT_EQ(SoundLength(rest.sound), 22050 - 5000);
  EXPECT_EQ(rest.state.modified, 1);
  EXPECT_EQ(SoundLength(document.sound), 5000);
  window.close();
  SetWorkingFolder("");
}

TEST(MainFrame, AnEffectPlaysTheChangedRangeFromItsLeadIn) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "blende.wav", 1, 22050 * 4)));
  AudioDocument& document = *window.ActiveDocument();
  // Fade in has a lead-in of one second: from 1.5 s playback starts at 0.5 s.
  SetSelection(document, 33075, 44100, 33075);
  ASSERT_TRUE(window.Dispatch(4006));
  EXPECT_EQ(window.engine().State(), 1);
  EXPECT_EQ(document.state.cursor, 33075 - 22050);
  window.Dispatch(3003);
  // Less than the lead-in from the start: from frame 0.
  SetSelection(document, 5000, 9000, 5000);
  ASSERT_TRUE(window.Dispatch(4006));
  EXPECT_EQ(document.state.cursor, 0);
  window.Dispatch(3003);
  window.close();
  SetWorkingFolder("");
}

TEST(MainWindow, FreeSpaceTextUsesTwoDecimalsInMegabytes) {
  EXPECT_EQ(FreeSpaceText(3072), "Freier Speicher:  3.00 MB");
  EXPECT_EQ(FreeSpaceText(0x1000000), "Freier Speicher: 16384.00 MB");
  EXPECT_EQ(FreeSpaceText(1), "Freier Speicher:  0.00 MB");
}

TEST(QtUi, ShowsTextCaptionIconAndButtonsAndReturnsTheChoice) {
  TestSettings test;
  MainWindow window(test.settings);
  QtUi ui(&window);
  MessageBoxAnswer no{QMessageBox::No};
  no.Arm();
  EXPECT_EQ(ui.ShowMessage({"Änderungen speichern?", "Sonavel", MessageIcon::kQuestion,
                            MessageButtons::kYesNoCancel}),
            MessageAnswer::kNo);
  EXPECT_EQ(no.text, "Änderungen speichern?");
  EXPECT_EQ(no.caption, "Sonavel");
  EXPECT_EQ(no.icon, QMessageBox::Question);
  EXPECT_EQ(no.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

  MessageBoxAnswer escape{QMessageBox::Escape};
  escape.Arm();
  EXPECT_EQ(ui.ShowMessage({"?", "x", MessageIcon::kWarning, MessageButtons::kYesNoCancel}),
            MessageAnswer::kCancel);
  EXPECT_EQ(escape.icon, QMessageBox::Warning);
}

TEST(QtUi, LowSpaceWarningReachesTheUser) {
  TestSettings test;
  MainWindow window(test.settings);
  MessageBoxAnswer ok{QMessageBox::Ok};
  ok.Arm();
  EXPECT_FALSE(LowSpaceCheck(window.ui(), LowSpaceText("Echo"), 100));
  EXPECT_EQ(ok.caption, "Geringer freier Speicher");
  EXPECT_EQ(ok.icon, QMessageBox::Information);
  EXPECT_TRUE(ok.text.startsWith("Die zuletzt durchgeführte aktion \"Echo\""));
}

}  // namespace
}  // namespace sonavel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationVersion("0.1.0");
  // Qt's own texts as the editor shows them.
  sonavel::InstallGermanTranslations(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
