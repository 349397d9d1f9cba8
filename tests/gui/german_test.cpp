// Qt's own dialogs and texts in German beside the program's, the about box, and a message
// box over open documents, each photographed.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QScreen>
#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>

#include "document/document_list.h"
#include "document/file_commands.h"
#include "formats/codec_table.h"
#include "formats/wav_reader.h"
#include "gui/document_window.h"
#include "gui/main_window.h"
#include "gui/wave_view.h"
#include "gui/qt_ui.h"
#include "gui_fixture.h"
#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "store/block_table.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;
using testing::TestSettings;
using testing::WriteTone;

// Runs `look` on the modal dialog once it is up (it must close the dialog).
void WhenModal(std::function<void(QWidget*)> look) {
  QTimer::singleShot(20, [look] {
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible())
      look(modal);
    else
      WhenModal(look);
  });
}

QStringList ButtonTexts(QWidget* dialog) {
  QStringList texts;
  for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
    if (qobject_cast<QDialogButtonBox*>(button->parentWidget()) != nullptr) texts << button->text();
  texts.sort();
  return texts;
}

TEST(German, QtsOwnTextsAreGerman) {
  EXPECT_EQ(QLocale().language(), QLocale::German);
  EXPECT_EQ(QKeySequence(Qt::Key_Home).toString(QKeySequence::NativeText), "Pos1");
  EXPECT_EQ(QKeySequence(Qt::CTRL | Qt::Key_Delete).toString(QKeySequence::NativeText), "Strg+Entf");
  QMessageBox box(QMessageBox::Question, "Sonavel", "?", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), "&Ja");
  EXPECT_EQ(box.button(QMessageBox::No)->text(), "&Nein");
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "Abbrechen");
  // The progress window's one button.
  QWidget owner;
  QtUi ui(&owner);
  std::unique_ptr<Progress> progress = ui.OpenProgress("Lade Datei...");
  QWidget* dialog = owner.findChild<QWidget*>("LProgressDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ButtonTexts(dialog), QStringList{"Abbrechen"});
}

TEST(German, TheOpenDialogSpeaksGerman) {
  TestSettings test;
  QWidget owner;
  owner.resize(300, 200);
  QtUi ui(&owner);
  QStringList buttons, labels;
  QString title;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    buttons = ButtonTexts(dialog);
    for (QLabel* label : dialog->findChildren<QLabel*>())
      if (label->isVisible()) labels << label->text();
    dialog->resize(720, 440);
    SaveScreenshot(*dialog, "open_dialog");
    dialog->reject();
  });
  EXPECT_FALSE(ui.ChooseOpenFile("Öffnen", "Wave Dateien (*.wav)", test.folder));
  EXPECT_EQ(title, "Öffnen");
  EXPECT_EQ(buttons, (QStringList{"&Öffnen", "Abbrechen"}));
  EXPECT_TRUE(labels.contains("Suchen in:")) << labels.join("|").toStdString();
  EXPECT_TRUE(labels.contains("Datei&name:")) << labels.join("|").toStdString();
  EXPECT_TRUE(labels.contains("Dateien des Typs:")) << labels.join("|").toStdString();
}

// Save As with Qt's dialogs: the save chooser lists the sixteen save types with the
// stored one selected and leaves the question about an existing file to the program,
// which asks in German; the WAV format chooser opens on the sound's rate and channels and
// its choice is the file's format.
TEST(German, SaveAsAsksForTheFileItsReplacementAndTheWavFormat) {
  TestSettings test;
  testing::ScopedDataFolder data(test.folder);  // the chooser stores its choice there
  SetWorkingFolder(test.folder);
  ScriptedUi scripted;
  DocumentList list;
  // The sound comes from another folder, so the name the dialog suggests is taken.
  const std::string source_folder = JoinPath(test.folder, "quelle");
  std::filesystem::create_directories(source_folder);
  DocumentRef document = OpenDocumentFile(list, WriteTone(source_folder, "ton.wav", 2, 22050), scripted);
  ASSERT_TRUE(document);
  const std::string existing = JoinPath(test.folder, "ton.wav");
  {
    std::ofstream(existing) << "alt";
  }
  test.settings.WriteUser(setting::kSaveAsDir, test.folder);
  QWidget owner;
  owner.resize(300, 200);
  QtUi ui(&owner);

  QStringList filters, question_buttons, formats;
  QString title, selected_filter, question, chooser_title, chooser_line;
  bool confirms_itself = true;
  std::function<void(QWidget*)> choose_format = [&](QWidget* modal) {
    chooser_title = modal->windowTitle();
    auto* tags = modal->findChild<QComboBox*>("formatTags");
    auto* attributes = modal->findChild<QComboBox*>("attributes");
    ASSERT_NE(tags, nullptr);
    ASSERT_NE(attributes, nullptr);
    chooser_line = tags->currentText() + ", " + attributes->currentText();
    modal->resize(420, 120);
    SaveScreenshot(*modal, "wav_format_chooser");
    // Every format with each of its attributes; then the one to save.
    for (int tag = 0; tag < tags->count(); ++tag) {
      tags->setCurrentIndex(tag);
      for (int row = 0; row < attributes->count(); ++row) formats << tags->currentText() + ", " + attributes->itemText(row);
    }
    tags->setCurrentText("PCM");
    attributes->setCurrentText("8000 Hz, 16 Bit, Mono");
    modal->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
  };
  std::function<void(QWidget*)> answer_question = [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr) << modal->metaObject()->className() << " " << modal->windowTitle().toStdString();
    question = box->text();
    question_buttons = ButtonTexts(box);
    SaveScreenshot(*box, "overwrite_question");
    WhenModal(choose_format);
    box->button(QMessageBox::Yes)->click();
  };
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    selected_filter = dialog->selectedNameFilter();
    confirms_itself = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    dialog->resize(720, 440);
    SaveScreenshot(*dialog, "save_as_dialog");
    WhenModal(answer_question);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept, as the button does
  });
  // A step that goes wrong leaves its dialog open: closed here, the test fails instead of
  // waiting for ever.
  QTimer guard;
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  });
  guard.start(10000);
  ASSERT_TRUE(SaveDocumentCommand(*document, ui, test.settings, true));
  guard.stop();
  EXPECT_EQ(title, "Audiodatei speichern als");
  EXPECT_EQ(filters, (QStringList{"Wave (*.wav)", "MPEG Layer-3 (*.mp3)", "Ogg Vorbis (*.ogg)",
                                  "Apple AIFF (*.aif *.aiff)", "Sun AU (*.au)", "FLAC (*.flac)", "AAC (*.aac)",
                                  "MPEG-4 Audio (*.m4a)", "GSM (*.gsm)", "Dialogic Vox (*.vox)",
                                  "Raw Audio (*.raw)", "RSS Podcast Audio (*.rss)", "M3U Playlist File (*.m3u)",
                                  "PLS Playlist File (*.pls)", "WPL Playlist File (*.wpl)",
                                  "AMR Narrowband Audio (*.amr)"}));
  EXPECT_EQ(selected_filter, "Wave (*.wav)");
  EXPECT_FALSE(confirms_itself);
  EXPECT_EQ(question, "Es existiert bereits eine andere Datei mit dem selben Namen. Möchten sie diese erstezen?");
  EXPECT_EQ(question_buttons, (QStringList{"&Ja", "&Nein", "Abbrechen"}));
  EXPECT_EQ(chooser_title, "Wave Dateiformat wählen");
  EXPECT_EQ(chooser_line, "PCM, 22050 Hz, 16 Bit, Stereo");
  EXPECT_EQ(static_cast<std::size_t>(formats.size()), WritableFormats().size());
  SourceRef written = OpenWavReader(existing);
  EXPECT_EQ(AsWavReader(written.get())->format(), PcmFormat(8000, 1, 16));
  EXPECT_EQ(written->Length(), 8000);
  EXPECT_EQ(document->path, existing);
}

TEST(German, TheAboutBoxNamesProgramVersionAndQt) {
  TestSettings test;
  MainWindow window(test.settings);
  window.show();
  QMap<QString, QString> texts;
  QString title;
  WhenModal([&](QWidget* box) {
    title = box->windowTitle();
    for (QLabel* label : box->findChildren<QLabel*>()) texts[label->objectName()] = label->text();
    texts["buttons"] = ButtonTexts(box).join("|");
    SaveScreenshot(*box, "about_box");
    qobject_cast<QDialog*>(box)->accept();
  });
  EXPECT_TRUE(window.CommandAction(9090)->isEnabled());
  ASSERT_TRUE(window.Dispatch(9090));
  EXPECT_EQ(title, "Über Sonavel");
  EXPECT_EQ(texts["name"], "Sonavel");
  EXPECT_EQ(texts["what"], "Audio-Editor");
  EXPECT_EQ(texts["version"], "Version " + QApplication::applicationVersion());
  EXPECT_TRUE(texts["qt"].startsWith("Erstellt mit Qt " QT_VERSION_STR)) << texts["qt"].toStdString();
  EXPECT_EQ(texts["buttons"], "OK");
}

// Share of the pixels of `view`, as `frame` (a grab of `window`) shows it, that have
// the plain colour a view without a sound is filled with.
double BlankShare(const QImage& frame, QWidget& window, const QWidget* view) {
  const QRect area(view->mapTo(&window, QPoint(0, 0)), view->size());
  const QRgb blank = view->palette().color(QPalette::Disabled, QPalette::Window).rgb();
  int same = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) same += frame.pixel(x, y) == blank;
  return static_cast<double>(same) / (area.width() * area.height());
}

// Saves the frame with `box` drawn over its middle, as the user sees them.
void SaveComposed(const QImage& frame, QWidget& box, const QString& name) {
  QImage composed = frame.convertToFormat(QImage::Format_ARGB32);
  QPainter painter(&composed);
  painter.drawPixmap((composed.width() - box.width()) / 2, (composed.height() - box.height()) / 2, box.grab());
  painter.end();
  QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
  ASSERT_TRUE(composed.save(QString(SONAVEL_SCREENSHOT_DIR) + "/" + name + ".png"));
}

TEST(German, MessageBoxesLeaveTheDocumentsDrawnBehindThem) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoArrangeWindows", 0);
  SetWorkingFolder(test.folder);
  {
    MainWindow window(test.settings);
    window.resize(1000, 700);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "erster.wav", 2, 40000)));
    ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "zweiter.wav", 1, 30000)));
    window.documents()->tileSubWindows();
    std::vector<DocumentWindow*> views;
    for (QMdiSubWindow* sub : window.documents()->subWindowList()) {
      views.push_back(qobject_cast<DocumentWindow*>(sub));
      ASSERT_TRUE(views.back()->main_view()->WaitUntilDrawn(5000));
    }
    QTest::qWait(50);
    auto blank_share = [&] {
      const QImage frame = window.grab().toImage();
      double most = 0;
      for (DocumentWindow* view : views) most = std::max(most, BlankShare(frame, window, view->main_view()));
      return most;
    };
    EXPECT_LT(blank_share(), 0.05);
    AudioDocument* document = window.ActiveDocument();
    ASSERT_NE(document, nullptr);
    document->state.modified = 1;
    document->Notify(kModifiedChanged);

    // Closing a changed sound asks first, with Qt's buttons in German.
    QStringList buttons;
    QString text;
    double blank_while_asking = 1.0;
    WhenModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      text = box->text();
      buttons = ButtonTexts(box);
      blank_while_asking = blank_share();
      SaveComposed(window.grab().toImage(), *box, "message_box_over_documents");
      box->button(QMessageBox::Cancel)->click();
    });
    ASSERT_TRUE(window.Dispatch(1003));  // Schliessen
    EXPECT_EQ(text, "Speichere Änderungen in \"zweiter.wav\"?");
    EXPECT_EQ(buttons, (QStringList{"&Ja", "&Nein", "Abbrechen"}));
    EXPECT_EQ(window.documents()->subWindowList().size(), 2);  // kept
    EXPECT_LT(blank_while_asking, 0.05);

    // An error while the progress window of an opening holds the frame disabled: the
    // sounds stay drawn behind it.
    const std::string junk = JoinPath(test.folder, "kaputt.wav");
    {
      std::ofstream file(junk, std::ios::binary);
      file << "RIFF" << std::string(4, '\1') << "WAVEjunk";
    }
    double blank_during_error = 1.0;
    WhenModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      EXPECT_FALSE(window.isEnabled());
      blank_during_error = blank_share();
      SaveComposed(window.grab().toImage(), *box, "error_over_documents");
      box->button(QMessageBox::Ok)->click();
    });
    EXPECT_FALSE(window.OpenDocument(junk));
    EXPECT_LT(blank_during_error, 0.05);
    document->state.modified = 0;
  }
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
