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

#include <filesystem>

#include "platform/paths.h"

#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "app/command_line.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "store/block_table.h"

namespace sonavel {
namespace {

// Settings of a temporary registry, so that the tests never read or write the user's.
struct TestSettings {
  TestSettings() : registry(JoinPath(folder, "user"), JoinPath(folder, "machine")), settings(registry) {}
  ~TestSettings() { std::filesystem::remove_all(folder); }
  std::string folder = [] {
    std::string pattern = JoinPath(TempFolder(), "sonavel-gui-XXXXXX");
    return std::string(::mkdtemp(pattern.data()));
  }();
  Registry registry;
  Settings settings;
};

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
  TestSettings test;
  MainWindow window(test.settings);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), "Sonavel");
  EXPECT_NE(window.documents(), nullptr);
  auto labels = window.statusBar()->findChildren<QLabel*>();
  ASSERT_FALSE(labels.isEmpty());
  EXPECT_TRUE(labels.front()->text().startsWith("Freier Speicher: "));
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
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
