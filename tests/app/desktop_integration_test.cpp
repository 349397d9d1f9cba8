#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/app_fixture.h"
#include "app/desktop_integration.h"

namespace sonavel {
namespace {

using testing::SettingsTest;

std::string Text(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DesktopTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    ::setenv("XDG_DATA_HOME", Path("share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    SettingsTest::TearDown();
  }
};

TEST_F(DesktopTest, InstallationWritesTheEntryTheTypesAndTheRunCommands) {
  const std::string program = "/opt/Son avel/bin/sonavel";
  ASSERT_TRUE(RegisterShellVerbs(*settings_, program));
  const std::string entry = Text(Path("share/applications/sonavel.desktop"));
  EXPECT_NE(entry.find("Exec=\"/opt/Son avel/bin/sonavel\" %F\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("Name=Bearbeiten mit Sonavel\n"), std::string::npos);
  EXPECT_NE(entry.find("Name=Stapelbearbeitung mit Sonavel\nExec=\"/opt/Son avel/bin/sonavel\" -batch %f\n"),
            std::string::npos);
  EXPECT_NE(entry.find("Name=Edit with Sonavel\n"), std::string::npos);  // "AddToWEContext" defaults on
  EXPECT_NE(entry.find("Actions=edit;batch;editwith;\n"), std::string::npos);
  for (std::string_view extension : kAudioExtensions)
    EXPECT_NE(entry.find(MimeTypeFor(extension) + ";"), std::string::npos) << extension;
  EXPECT_NE(entry.find("application/x-sonavel-project;"), std::string::npos);
  const std::string package = Text(Path("share/mime/packages/sonavel.xml"));
  EXPECT_NE(package.find("<glob pattern=\"*.snp\" weight=\"20\"/>"), std::string::npos) << package;
  EXPECT_EQ(package.find("*.wav"), std::string::npos);  // standard types are not redeclared
  for (Branch branch : {Branch::kUser, Branch::kMachine}) {
    EXPECT_EQ(registry_->Get(branch, ProductKey("Settings"), "RunEdit"),
              "\"/opt/Son avel/bin/sonavel\" \"%s\" -runedit");
    EXPECT_EQ(registry_->Get(branch, ProductKey("Settings"), "RunLoad"),
              "\"/opt/Son avel/bin/sonavel\" %s -runedit");
  }
  ASSERT_TRUE(SetEditWithAction(*settings_, program, false));
  EXPECT_EQ(Text(Path("share/applications/sonavel.desktop")).find("Edit with Sonavel"), std::string::npos);
  EXPECT_FALSE(settings_->ReadBool("Settings", "AddToWEContext", true));
  ASSERT_TRUE(RegisterShellVerbs(*settings_, program));  // the choice is kept
  EXPECT_EQ(Text(Path("share/applications/sonavel.desktop")).find("Edit with Sonavel"), std::string::npos);
}

TEST_F(DesktopTest, TheDefaultApplicationChoiceKeepsEverythingElse) {
  std::filesystem::create_directories(Path("config"));
  std::ofstream(Path("config/mimeapps.list"))
      << "[Added Associations]\naudio/x-wav=other.desktop;\n\n[Default Applications]\ntext/plain=editor.desktop;\n";
  EXPECT_FALSE(IsDefaultOpener(".wav"));
  ASSERT_TRUE(SetDefaultOpener(".wav", true));
  EXPECT_TRUE(IsDefaultOpener(".wav"));
  EXPECT_FALSE(IsDefaultOpener(".mp3"));
  std::string list = Text(Path("config/mimeapps.list"));
  EXPECT_NE(list.find("[Default Applications]\naudio/x-wav=sonavel.desktop;\ntext/plain=editor.desktop;\n"),
            std::string::npos) << list;
  EXPECT_NE(list.find("[Added Associations]\naudio/x-wav=other.desktop;\n"), std::string::npos);
  ASSERT_TRUE(SetDefaultOpener(".wav", false));
  EXPECT_FALSE(IsDefaultOpener(".wav"));
  EXPECT_EQ(Text(Path("config/mimeapps.list")).find("sonavel.desktop"), std::string::npos);
  EXPECT_NE(Text(Path("config/mimeapps.list")).find("text/plain=editor.desktop;"), std::string::npos);
  EXPECT_FALSE(SetDefaultOpener(".xyz", true));
  // Without a file, one is made.
  std::filesystem::remove(Path("config/mimeapps.list"));
  ASSERT_TRUE(SetDefaultOpener(".snp", true));
  EXPECT_EQ(Text(Path("config/mimeapps.list")),
            "[Default Applications]\napplication/x-sonavel-project=sonavel.desktop;\n");
}

TEST(DesktopExec, QuotesWhatTheEntryFormatReserves) {
  EXPECT_EQ(DesktopExecQuote("/usr/bin/sonavel"), "\"/usr/bin/sonavel\"");
  EXPECT_EQ(DesktopExecQuote("/a \"b\"/$c`d\\e%f"), "\"/a \\\"b\\\"/\\$c\\`d\\\\e%%f\"");
  EXPECT_EQ(kAudioExtensions.size(), 35u);
  EXPECT_EQ(MimeTypeFor(".wav"), "audio/x-wav");
  EXPECT_EQ(MimeTypeFor(".doc"), "");
}

}  // namespace
}  // namespace sonavel
