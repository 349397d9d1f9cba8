#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "app/command_line.h"
#include "app/placement.h"

namespace sonavel {
namespace {

using testing::SettingsTest;

// Writes down what the command line asked for, in order.
class Recorder final : public CommandTarget {
 public:
  std::vector<std::string> actions;
  std::vector<std::string> unopenable;  // documents that fail to open

  void ShowFrame() override { actions.push_back("show"); }
  void SaveActive() override { actions.push_back("save"); }
  void SaveActiveAs(const std::string& path) override { actions.push_back("saveas " + path); }
  void CloseActive() override { actions.push_back("close"); }
  void ExitProgram() override { actions.push_back("exit"); }
  void ShowMinimized() override { actions.push_back("minimize"); }
  void ShowMaximized() override { actions.push_back("maximize"); }
  void ShowRestored() override { actions.push_back("restore"); }
  void SizeClientArea(int width, int height) override {
    actions.push_back("window " + std::to_string(width) + "x" + std::to_string(height));
  }
  void RunBatchScript(const std::string& path) override { actions.push_back("batch " + path); }
  void OpenBatchWindow() override { actions.push_back("batch window"); }
  bool OpenDocument(const std::string& path) override {
    actions.push_back("open " + path);
    return std::find(unopenable.begin(), unopenable.end(), path) == unopenable.end();
  }
  bool LoadProject(const std::string& path) override {
    actions.push_back("project " + path);
    return true;
  }
  void ShowSplash() override { actions.push_back("splash"); }
};

std::vector<std::string> Process(std::vector<std::string> arguments, Recorder recorder = {}) {
  arguments.insert(arguments.begin(), "/usr/bin/sonavel");
  ProcessCommandLine(arguments, recorder);
  return recorder.actions;
}

using Actions = std::vector<std::string>;

TEST(CommandLine, OptionsRunInOrderWithoutRegardToCase) {
  EXPECT_EQ(Process({"-SAVE", "-SaveAs", "out.wav", "-close", "-block", "-INSTALL", "a.wav", "", "Proj.SNP",
                 "-Exit"}),
            (Actions{"show", "save", "saveas out.wav", "close", "open a.wav", "project Proj.SNP", "exit"}));
  EXPECT_EQ(Process({"-minimize", "-maximize", "-restore", "-window", "640", "480", "b.wav"}),
            (Actions{"show", "minimize", "maximize", "restore", "window 640x480", "open b.wav"}));
  // A directory named like a project is not one; ".snp" counts only at the end of the name.
  EXPECT_EQ(Process({"dir.snp/c.wav"}), (Actions{"show", "open dir.snp/c.wav"}));
}

TEST(CommandLine, MissingOperandsChangeNothing) {
  EXPECT_EQ(Process({"-saveas"}), (Actions{"show", "splash"}));  // as the last argument
  EXPECT_EQ(Process({"-window", "640"}), (Actions{"show", "open 640"}));
  EXPECT_EQ(Process({"-window"}), (Actions{"show"}));
}

TEST(CommandLine, BatchEndsProcessingWithOrWithoutItsOperand) {
  EXPECT_EQ(Process({"a.wav", "-batch", "job.snb", "b.wav", "-exit"}),
            (Actions{"show", "open a.wav", "batch job.snb"}));
  EXPECT_EQ(Process({"-batch", "", "b.wav"}), (Actions{"show", "batch window", "splash"}));
  EXPECT_EQ(Process({"-BATCH"}), (Actions{"show", "splash"}));
}

class ListTest : public SettingsTest {};

TEST_F(ListTest, AListOpensItsLinesAndEndsProcessingUnlessItCannotBeRead) {
  std::ofstream(Path("list.txt")) << "one.wav\r\n\r\ntwo.wav\n\nthree.wav";
  EXPECT_EQ(Process({"-list", Path("list.txt"), "four.wav"}),
            (Actions{"show", "open one.wav", "open two.wav", "open three.wav"}));
  // An unreadable list, or an option in its place, is passed over and processing goes on.
  EXPECT_EQ(Process({"-list", Path("missing.txt"), "four.wav"}), (Actions{"show", "open four.wav"}));
  EXPECT_EQ(Process({"-list", "-close", "four.wav"}), (Actions{"show", "open four.wav"}));
  EXPECT_EQ(Process({"-list"}), (Actions{"show", "splash"}));
}

TEST(CommandLine, TheSplashShowsOnlyWhenNothingOpenedAndNoWindowOptionWasGiven) {
  EXPECT_EQ(Process({}), (Actions{"show", "splash"}));
  EXPECT_EQ(Process({"-save"}), (Actions{"show", "save", "splash"}));
  for (const char* quiet : {"-runedit", "-minimize", "-maximize", "-restore", "-window"}) {
    Actions actions = Process({quiet});
    EXPECT_EQ(std::count(actions.begin(), actions.end(), "splash"), 0) << quiet;
  }
  Recorder failing;
  failing.unopenable = {"bad.wav"};
  EXPECT_EQ(Process({"bad.wav"}, failing), (Actions{"show", "open bad.wav", "splash"}));
  EXPECT_EQ(Process({"good.wav"}), (Actions{"show", "open good.wav"}));
}

class PlacementTest : public SettingsTest {};

TEST_F(PlacementTest, RestoresDefaultsAndSavesByState) {
  FramePlacement placement = RestoreFramePlacement(*settings_);
  EXPECT_EQ(placement.x, 160);
  EXPECT_EQ(placement.y, 80);
  EXPECT_EQ(placement.width, 740);
  EXPECT_EQ(placement.height, 627);
  EXPECT_TRUE(placement.maximized);

  FramePlacement rectangle{100, 50, 900, 600, false};
  SaveFramePlacement(*settings_, FrameState::kNormal, rectangle, 800);  // right edge clipped
  placement = RestoreFramePlacement(*settings_);
  EXPECT_EQ(placement.x, 100);
  EXPECT_EQ(placement.width, 700);
  EXPECT_EQ(placement.height, 600);
  EXPECT_FALSE(placement.maximized);

  SaveFramePlacement(*settings_, FrameState::kMaximized, FramePlacement{1, 2, 3, 4, true}, 800);
  placement = RestoreFramePlacement(*settings_);
  EXPECT_TRUE(placement.maximized);
  EXPECT_EQ(placement.x, 100);  // only "Maximized" was written
  SaveFramePlacement(*settings_, FrameState::kMinimized, FramePlacement{1, 2, 3, 4, false}, 800);
  EXPECT_TRUE(RestoreFramePlacement(*settings_).maximized);  // nothing was written
  EXPECT_EQ(settings_->ReadText("MainWindow", "X", ""), "100");
  EXPECT_EQ(registry_->Get(Branch::kMachine, ProductKey("MainWindow"), "X"), std::nullopt);
}

}  // namespace
}  // namespace sonavel
