#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "store/block_table.h"

namespace sonavel {
namespace {

void SaveScreenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
  ASSERT_TRUE(widget.grab().save(QString(SONAVEL_SCREENSHOT_DIR) + "/" + name + ".png"));
}

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
  MainWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), "Sonavel");
  EXPECT_NE(window.documents(), nullptr);
  auto labels = window.statusBar()->findChildren<QLabel*>();
  ASSERT_FALSE(labels.isEmpty());
  EXPECT_TRUE(labels.front()->text().startsWith("Freier Speicher: "));
  SaveScreenshot(window, "main_window");
}

TEST(MainWindow, FreeSpaceTextUsesTwoDecimalsInMegabytes) {
  EXPECT_EQ(FreeSpaceText(3072), "Freier Speicher:  3.00 MB");
  EXPECT_EQ(FreeSpaceText(0x1000000), "Freier Speicher: 16384.00 MB");
  EXPECT_EQ(FreeSpaceText(1), "Freier Speicher:  0.00 MB");
}

TEST(QtUi, ShowsTextCaptionIconAndButtonsAndReturnsTheChoice) {
  MainWindow window;
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
  MainWindow window;
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
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
