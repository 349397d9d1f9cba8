#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/app_fixture.h"

namespace sonavel {
namespace {

using testing::SettingsTest;

class RegistryTest : public SettingsTest {};

TEST_F(RegistryTest, UserValuesComeFirstAndMachineValuesFillIn) {
  Registry& registry = *registry_;
  Settings& settings = *settings_;
  registry.Set(Branch::kMachine, ProductKey("Recorder"), "Rate", "22050");
  registry.Set(Branch::kMachine, ProductKey("Recorder"), "Channels", "2");
  registry.Set(Branch::kUser, ProductKey("Recorder"), "Channels", "1");
  EXPECT_EQ(settings.ReadInt("Recorder", "Rate", 44100), 22050);       // machine fills in
  EXPECT_EQ(settings.ReadInt("Recorder", "Channels", 2), 1);            // user first
  EXPECT_EQ(settings.ReadUserInt("Recorder", "Rate", 44100), 44100);    // user only
  EXPECT_EQ(settings.ReadText("Recorder", "Missing", "dflt"), "dflt");
  // A user value that is present but empty gives the default; the machine's is not asked.
  registry.Set(Branch::kUser, ProductKey("Recorder"), "Rate", "");
  EXPECT_EQ(settings.ReadInt("Recorder", "Rate", 44100), 44100);
  // Groups are separate keys.
  EXPECT_EQ(settings.ReadInt("Player", "Channels", 7), 7);
  EXPECT_EQ(registry.Get(Branch::kUser, "Software\\Halvorn Audio\\Sonavel\\Recorder", "Channels"), "1");
}

TEST_F(RegistryTest, TextsReadAsIntegersAndBooleansTheOldWay) {
  Settings& settings = *settings_;
  settings.WriteUserValue("Settings", "A", "0abc");
  settings.WriteUserValue("Settings", "B", "12abc");
  settings.WriteUserValue("Settings", "C", "-40");
  settings.WriteUserValue("Settings", "D", "abc");
  settings.WriteUserValue("Settings", "E", "");
  settings.WriteUserValue("Settings", "F", " 7");
  EXPECT_FALSE(settings.ReadBool("Settings", "A", true));
  EXPECT_EQ(settings.ReadInt("Settings", "A", 5), 0);
  EXPECT_TRUE(settings.ReadBool("Settings", "B", false));
  EXPECT_EQ(settings.ReadInt("Settings", "B", 5), 12);
  EXPECT_EQ(settings.ReadInt("Settings", "C", 5), -40);
  EXPECT_TRUE(settings.ReadBool("Settings", "D", false));
  EXPECT_EQ(settings.ReadInt("Settings", "D", 5), 0);
  EXPECT_EQ(settings.ReadInt("Settings", "E", 5), 5);
  EXPECT_TRUE(settings.ReadUserBool("Settings", "E", true));
  EXPECT_FALSE(settings.ReadUserBool("Settings", "E", false));
  EXPECT_EQ(settings.ReadInt("Settings", "F", 5), 7);
  EXPECT_EQ(TextToInt("99999999999"), 2147483647);
  EXPECT_EQ(TextToInt("-99999999999"), -2147483647 - 1);
  settings.WriteValue("Settings", "G", 1);
  settings.WriteValue("Settings", "H", -20);
  EXPECT_EQ(settings.ReadUserText("Settings", "G", ""), "1");
  EXPECT_EQ(settings.ReadInt("Settings", "H", 0), -20);
}

TEST_F(RegistryTest, WriteValueGoesToBothBranchesAndWriteUserValueToOne) {
  settings_->WriteValue("Settings", "RunEdit", "both");
  settings_->WriteUserValue("Settings", "PlayWhenOpen", "0");
  EXPECT_EQ(registry_->Get(Branch::kMachine, ProductKey("Settings"), "RunEdit"), "both");
  EXPECT_EQ(registry_->Get(Branch::kUser, ProductKey("Settings"), "RunEdit"), "both");
  EXPECT_EQ(registry_->Get(Branch::kMachine, ProductKey("Settings"), "PlayWhenOpen"), std::nullopt);
  settings_->DeleteUserValue("Settings", "PlayWhenOpen");
  EXPECT_EQ(registry_->Get(Branch::kUser, ProductKey("Settings"), "PlayWhenOpen"), std::nullopt);
}

TEST_F(RegistryTest, AMachineBranchThatCannotBeWrittenIsIgnored) {
  // The machine "folder" is a file: nothing can be created inside it, whoever we are.
  std::ofstream(Path("blocked")) << "x";
  Registry registry(Path("user"), Path("blocked"));
  Settings settings(registry);
  EXPECT_FALSE(registry.Set(Branch::kMachine, ProductKey("Settings"), "X", "1"));
  settings.WriteValue("Settings", "X", "user still gets it");
  EXPECT_EQ(settings.ReadText("Settings", "X", ""), "user still gets it");
  EXPECT_EQ(registry.Get(Branch::kMachine, ProductKey("Settings"), "X"), std::nullopt);
}

TEST_F(RegistryTest, AnyTextRoundTripsThroughTheFile) {
  const std::string odd_values[] = {
      "line one\nline two\r\n", "100%", "a=b=c", "[not a key]", std::string("nul\0byte", 8),
      "  spaces kept  ", "C:\\Windows\\Path\\", "Schließen äöü ♫", "%41 is not A", ""};
  int n = 0;
  for (const std::string& value : odd_values)
    ASSERT_TRUE(registry_->Set(Branch::kUser, ProductKey("Odd[=]\n"), "Name=" + std::to_string(n++) + "[x]", value));
  Registry fresh(Path("user"), Path("machine"));  // another program reading the same file
  n = 0;
  for (const std::string& value : odd_values)
    EXPECT_EQ(fresh.Get(Branch::kUser, ProductKey("Odd[=]\n"), "Name=" + std::to_string(n++) + "[x]"), value);
  // The file stays readable: one "[key]" line per key and "name=value" lines.
  std::ifstream file(registry_->FilePath(Branch::kUser));
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find("[Software\\Halvorn Audio\\Sonavel\\Odd%5B%3D%5D%0A]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Name%3D1%5Bx%5D=100%25\n"), std::string::npos) << text;
}

TEST_F(RegistryTest, ChangesByAnotherProgramAreSeenAndNotLost) {
  Registry other(Path("user"), Path("machine"));
  registry_->Set(Branch::kUser, ProductKey("Settings"), "A", "1");
  EXPECT_EQ(other.Get(Branch::kUser, ProductKey("Settings"), "A"), "1");
  other.Set(Branch::kUser, ProductKey("Settings"), "B", "2");  // both writes survive
  registry_->Set(Branch::kUser, ProductKey("Settings"), "C", "3");
  EXPECT_EQ(other.Get(Branch::kUser, ProductKey("Settings"), "C"), "3");
  EXPECT_EQ(registry_->Get(Branch::kUser, ProductKey("Settings"), "B"), "2");
  EXPECT_EQ(ComponentKey("oggdec"), "Software\\Halvorn Audio\\Components\\oggdec");
}

TEST_F(RegistryTest, TheDefaultFoldersFollowTheEnvironment) {
  ::setenv("SONAVEL_CONFIG_DIR", Path("cfg").c_str(), 1);
  ::setenv("SONAVEL_SYSTEM_CONFIG_DIR", Path("sys").c_str(), 1);
  Registry registry;
  EXPECT_EQ(registry.FilePath(Branch::kUser), Path("cfg") + "/registry.ini");
  EXPECT_EQ(registry.FilePath(Branch::kMachine), Path("sys") + "/registry.ini");
  ::unsetenv("SONAVEL_CONFIG_DIR");
  ::unsetenv("SONAVEL_SYSTEM_CONFIG_DIR");
}

}  // namespace
}  // namespace sonavel
