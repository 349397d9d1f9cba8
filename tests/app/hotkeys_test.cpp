#include "app/hotkeys.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/ui.h"

namespace sonavel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A temporary per-user data folder through SONAVEL_DATA_DIR, restored afterwards.
class HotKeyFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = ::getenv("SONAVEL_DATA_DIR")) saved_ = old;
    std::string pattern = JoinPath(TempFolder(), "sonavel-keys-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    UseDataFolder(JoinPath(folder_, "data"));
  }
  void TearDown() override {
    if (saved_)
      ::setenv("SONAVEL_DATA_DIR", saved_->c_str(), 1);
    else
      ::unsetenv("SONAVEL_DATA_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  void UseDataFolder(const std::string& folder) { ::setenv("SONAVEL_DATA_DIR", folder.c_str(), 1); }
  std::string KeyFile() const { return JoinPath(UserDataFolder(), "keys.dat"); }
  Bytes ReadKeyFile() const {
    std::ifstream in(KeyFile(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void WriteKeyFile(const Bytes& bytes) const {
    std::filesystem::create_directories(UserDataFolder());
    std::ofstream(KeyFile(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::string folder_;
  std::optional<std::string> saved_;
  ScriptedUi ui_;
};

TEST_F(HotKeyFileTest, SavesEveryRecordLittleEndianAndLoadsThemBack) {
  const std::vector<HotKey> keys = {
      {kKeyCtrl | 'K', {4001, 4002}},
      {VK_F3, {}},
      {kKeyAlt | kKeyShift | VK_DELETE, {-7}},
  };
  ASSERT_TRUE(SaveHotKeys(keys, ui_));
  const Bytes expected = {
      0x00,                                                  // version
      0x4B, 0x00, 0x02, 0x00, 0x02, 0xA1, 0x0F, 0x00, 0x00, 0xA2, 0x0F, 0x00, 0x00,
      0x72, 0x00, 0x00, 0x00, 0x00,                          // F3, no commands
      0x2E, 0x00, 0x05, 0x00, 0x01, 0xF9, 0xFF, 0xFF, 0xFF,  // Alt+Shift+Del, -7
  };
  EXPECT_EQ(ReadKeyFile(), expected);
  EXPECT_EQ(LoadHotKeys(ui_), keys);
  EXPECT_TRUE(ui_.shown().empty());
  // Nothing is left beside the file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(UserDataFolder()), {}), 1);
}

TEST_F(HotKeyFileTest, AKeyWithMoreThan255CommandsKeepsTheFirst255) {
  HotKey many{VK_F6, {}};
  for (int i = 0; i < 300; ++i) many.commands.push_back(i);
  ASSERT_TRUE(SaveHotKeys({many}, ui_));
  EXPECT_EQ(ReadKeyFile().size(), 1u + 5 + 4 * 255);
  const auto loaded = LoadHotKeys(ui_);
  ASSERT_EQ(loaded.size(), 1u);
  ASSERT_EQ(loaded[0].commands.size(), 255u);
  EXPECT_EQ(loaded[0].commands.back(), 254);
}

TEST_F(HotKeyFileTest, ReadingStopsAtTheFirstIncompleteRecord) {
  Bytes bytes = EncodeHotKeys({{VK_F4, {1001}}, {VK_F6, {1002, 1003}}});
  for (std::size_t cut = 1; cut <= 12; ++cut) {
    WriteKeyFile(Bytes(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(cut)));
    const auto loaded = LoadHotKeys(ui_);
    ASSERT_EQ(loaded.size(), 1u) << "cut " << cut;
    EXPECT_EQ(loaded[0], (HotKey{VK_F4, {1001}}));
  }
  WriteKeyFile(Bytes(bytes.begin(), bytes.begin() + 5));  // count byte, no command
  EXPECT_TRUE(LoadHotKeys(ui_).empty());
  WriteKeyFile({0});
  EXPECT_TRUE(LoadHotKeys(ui_).empty());
  EXPECT_TRUE(ui_.shown().empty());
}

TEST_F(HotKeyFileTest, AMissingFileLoadsNothingWithoutAWord) {
  EXPECT_TRUE(LoadHotKeys(ui_).empty());
  WriteKeyFile({});
  EXPECT_TRUE(LoadHotKeys(ui_).empty());
  EXPECT_TRUE(ui_.shown().empty());
}

TEST_F(HotKeyFileTest, AnotherVersionIsReportedAndLoadsNothing) {
  Bytes bytes = EncodeHotKeys({{VK_F4, {1001}}});
  bytes[0] = 1;
  WriteKeyFile(bytes);
  EXPECT_TRUE(LoadHotKeys(ui_).empty());
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text,
            "Diese Datei passt nicht zur aktuellen Sonavel Version oder sie ist beschädigt.");
  EXPECT_EQ(ui_.shown()[0].caption, "Fehler in der Datei");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kError);
}

TEST_F(HotKeyFileTest, AFolderThatCannotHoldTheFileIsReported) {
  // The data folder lies below a regular file: nothing can be created there.
  const std::string plain = JoinPath(folder_, "plain");
  std::ofstream(plain) << "x";
  UseDataFolder(JoinPath(plain, "data"));
  EXPECT_FALSE(SaveHotKeys({{VK_F4, {1001}}}, ui_));
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text,
            "Sonavel kann diese Datei nicht öffnen. Diese Datei existiert nicht oder ist "
            "möglicherweise beschädigt.");
  EXPECT_EQ(ui_.shown()[0].caption, "Fehler in der Datei");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kError);
}

TEST_F(HotKeyFileTest, AFailedRenameLeavesNoTemporaryFileBehind) {
  // Something that is not a file holds the name: the finished file cannot replace it.
  std::filesystem::create_directories(JoinPath(KeyFile(), "inside"));
  EXPECT_FALSE(SaveHotKeys({{VK_F4, {1001}}}, ui_));
  EXPECT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(UserDataFolder()), {}), 1);
  EXPECT_TRUE(std::filesystem::is_directory(JoinPath(KeyFile(), "inside")));
}

TEST_F(HotKeyFileTest, AFailedWriteLeavesTheOldFileAsItWas) {
  WriteKeyFile(EncodeHotKeys({{VK_F4, {1001}}}));
  const Bytes before = ReadKeyFile();
  // A file-size limit below the new file's size makes the write fail, whoever we are.
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit tiny{4, limit.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const bool saved = SaveHotKeys({{VK_F6, {1002}}}, ui_);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadKeyFile(), before);
  EXPECT_EQ(ui_.shown().size(), 1u);
}

TEST(KeyName, PutsTheModifiersBeforeTheKeysOwnName) {
  EXPECT_EQ(KeyName('A'), "A");
  EXPECT_EQ(KeyName(kKeyCtrl | '7'), "Ctrl+7");
  EXPECT_EQ(KeyName(VK_F5), "F5");
  EXPECT_EQ(KeyName(VK_F1 + 23), "F24");
  EXPECT_EQ(KeyName(kKeyShift | kKeyAlt | kKeyCtrl | VK_DELETE), "Ctrl+Alt+Shift+Entf");
  EXPECT_EQ(KeyName(kKeyShift | VK_HOME), "Shift+Pos1");
  EXPECT_EQ(KeyName(VK_END), "Ende");
  EXPECT_EQ(KeyName(kKeyAlt | VK_SPACE), "Alt+Leer");
  EXPECT_EQ(KeyName(kKeyCtrl | VK_ADD), "Ctrl+Num +");
  EXPECT_EQ(KeyName(VK_NUMPAD0 + 4), "Num 4");
  EXPECT_EQ(KeyName(VK_OEM_7), "Ä");
  EXPECT_EQ(KeyName(0xE8), "Taste 0x00E8");
  for (std::int32_t code = 0; code <= 0xFFFF; ++code)
    ASSERT_LE(KeyName(kKeyModifiers | code).size(), kMaxKeyNameBytes);
}

TEST(KeyDown, AUserKeyRunsAllItsCommandsInOrder) {
  const std::vector<HotKey> keys = {{kKeyCtrl | 'K', {4002, 2010, 1004}}};
  EXPECT_EQ(CommandsForKey(keys, kKeyCtrl | 'K', {}), (std::vector<int>{4002, 2010, 1004}));
  // Another modifier is another key.
  EXPECT_TRUE(CommandsForKey(keys, kKeyCtrl | kKeyShift | 'K', {}).empty());
  EXPECT_TRUE(CommandsForKey(keys, 'K', {}).empty());
  EXPECT_EQ(ActionForKeyUp(keys, kKeyCtrl | 'K'), KeyUpAction::kConsumed);
  EXPECT_EQ(ActionForKeyUp(keys, 'K'), KeyUpAction::kNone);
}

TEST(KeyDown, AUserKeyReplacesTheBuiltInOne) {
  const std::vector<HotKey> keys = {{kKeyCtrl | 'S', {4001}}, {VK_LEFT, {3002}}};
  EXPECT_EQ(CommandsForKey(keys, kKeyCtrl | 'S', {}), std::vector<int>{4001});
  EXPECT_EQ(CommandsForKey({}, kKeyCtrl | 'S', {}), std::vector<int>{1004});
  EXPECT_EQ(CommandsForKey(keys, VK_LEFT, {}), std::vector<int>{3002});
  // Its release is consumed too: the rewind button was never pressed.
  EXPECT_EQ(ActionForKeyUp(keys, VK_LEFT), KeyUpAction::kConsumed);
  EXPECT_EQ(ActionForKeyUp({}, VK_LEFT), KeyUpAction::kReleaseRewind);
}

TEST(KeyDown, BuiltInKeysRunTheMenuCommands) {
  struct Case {
    std::int32_t key;
    std::vector<int> commands;
  };
  const Case cases[] = {
      {kKeyCtrl | 'A', {2007}}, {kKeyCtrl | 'B', {8001}}, {kKeyCtrl | 'C', {2003}},
      {kKeyCtrl | 'E', {2012}}, {kKeyCtrl | 'G', {2027}}, {kKeyCtrl | 'L', {1011}},
      {kKeyCtrl | 'M', {2011}}, {kKeyCtrl | 'N', {1001}}, {kKeyCtrl | 'O', {1002}},
      {kKeyCtrl | 'R', {8004}}, {kKeyCtrl | 'S', {1004}}, {kKeyCtrl | 'T', {2010}},
      {kKeyCtrl | 'V', {2004}}, {kKeyCtrl | 'X', {2002}}, {kKeyCtrl | 'Y', {2033}},
      {kKeyCtrl | 'Z', {2001}}, {kKeyCtrl | VK_ADD, {5001}}, {kKeyCtrl | VK_SUBTRACT, {5002}},
      {kKeyCtrl | kKeyShift | 'A', {9001}}, {kKeyCtrl | kKeyShift | 'B', {8003}},
      {kKeyCtrl | kKeyShift | 'F', {5004}}, {kKeyCtrl | kKeyShift | 'R', {8000}},
      {kKeyCtrl | kKeyShift | 'S', {5003}}, {kKeyCtrl | kKeyShift | 'V', {5005}},
      {VK_DELETE, {2006}}, {VK_F1, {6000}}, {VK_F5, {3001, 3002}}, {VK_F9, {3002}},
      {VK_ESCAPE, {3003}}, {VK_F10, {3009}}, {VK_F11, {3008}}, {VK_F12, {3010}},
      {kKeyShift | VK_F9, {3011}}, {VK_HOME, {3004}}, {VK_END, {3007}},
      {kKeyShift | VK_HOME, {key_action::kExtendSelection, 3004}},
      {kKeyShift | VK_END, {key_action::kExtendSelection, 3007}},
      {VK_LEFT, {key_action::kPressRewind}}, {VK_F7, {key_action::kPressRewind}},
      {VK_RIGHT, {key_action::kPressForward}}, {VK_F8, {key_action::kPressForward}},
      {kKeyShift | VK_F7, {key_action::kExtendSelection, key_action::kPressRewind}},
      {kKeyShift | VK_RIGHT, {key_action::kExtendSelection, key_action::kPressForward}},
      {kKeyShift | VK_SHIFT, {key_action::kShiftDown}},
      // Not ours: they go on to the focused window.
      {kKeyCtrl | 'D', {}}, {kKeyCtrl | VK_OEM_PLUS, {}}, {kKeyAlt | 'S', {}},
      {kKeyCtrl | kKeyAlt | 'S', {}}, {'S', {}}, {kKeyCtrl | VK_F9, {}}, {VK_F2, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CommandsForKey({}, c.key, {}), c.commands) << KeyName(c.key);
}

TEST(KeyDown, SpaceAndF2DependOnTheFrame) {
  EXPECT_EQ(CommandsForKey({}, VK_SPACE, {}), std::vector<int>{key_action::kScrub});
  EXPECT_EQ(CommandsForKey({}, VK_SPACE, {.scrubbing = true}), std::vector<int>{3002});
  EXPECT_TRUE(CommandsForKey({}, VK_SPACE, {.list_window_active = true}).empty());
  EXPECT_EQ(CommandsForKey({}, VK_F2, {.list_window_active = true}),
            std::vector<int>{key_action::kRenameListEntry});
}

TEST(KeyUp, ReleasesWhatKeyDownPressed) {
  EXPECT_EQ(ActionForKeyUp({}, VK_SHIFT), KeyUpAction::kShiftUp);
  EXPECT_EQ(ActionForKeyUp({}, kKeyShift | VK_HOME), KeyUpAction::kEndExtend);
  EXPECT_EQ(ActionForKeyUp({}, VK_END), KeyUpAction::kEndExtend);
  EXPECT_EQ(ActionForKeyUp({}, kKeyShift | VK_F7), KeyUpAction::kReleaseRewind);
  EXPECT_EQ(ActionForKeyUp({}, VK_F8), KeyUpAction::kReleaseForward);
  EXPECT_EQ(ActionForKeyUp({}, VK_F9), KeyUpAction::kNone);
}

}  // namespace
}  // namespace sonavel
