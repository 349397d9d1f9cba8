#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "platform/byte_source.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "platform/ui.h"

namespace sonavel {
namespace {

TEST(JoinPath, AddsOneSeparatorOnlyWhereNeeded) {
  EXPECT_EQ(JoinPath("/work", "7.aud"), "/work/7.aud");
  EXPECT_EQ(JoinPath("/work/", "7.aud"), "/work/7.aud");
  EXPECT_EQ(JoinPath("C:\\work\\", "7.aud"), "C:\\work\\7.aud");
  EXPECT_EQ(JoinPath("", "7.aud"), "7.aud");
}

TEST(JoinPath, CutsAtTheLimitAndKeepsAnOverlongFolder) {
  std::string folder(kMaxPathChars - 3, 'a');
  EXPECT_EQ(JoinPath(folder, "12345").size(), kMaxPathChars);
  EXPECT_EQ(JoinPath(folder, "12345"), folder + "/12");
  std::string full(kMaxPathChars, 'b');
  EXPECT_EQ(JoinPath(full, "x"), full);
}

TEST(FreeSpace, ConvertsBytesToKilobytesWithSaturation) {
  EXPECT_EQ(BytesToKB(0), 0u);
  EXPECT_EQ(BytesToKB(1023), 0u);
  EXPECT_EQ(BytesToKB(3u * 1024 * 1024), 3072u);
  EXPECT_EQ(BytesToKB((std::uint64_t{1} << 42) - 1024), 0xFFFFFFFFu);
  EXPECT_EQ(BytesToKB(std::uint64_t{1} << 50), 0xFFFFFFFFu);
}

TEST(FreeSpace, ProbesTheNearestExistingFolderAndAssumes16GBOnFailure) {
  std::string tmp = TempFolder();
  std::uint32_t here = FreeSpaceKB(tmp);
  EXPECT_GT(here, 0u);
  // A folder that does not exist yet is measured on the file system that will hold it
  // (free space moves a little while other processes write, hence the tolerance).
  std::uint32_t missing = FreeSpaceKB(JoinPath(tmp, "no-such-folder/deeper"));
  EXPECT_NEAR(static_cast<double>(missing), static_cast<double>(here), 64.0 * 1024);
  EXPECT_EQ(FreeSpaceKB("no-such-relative-folder-xyz"), 0x1000000u);
}

class MapSettings final : public SettingsReader {
 public:
  std::map<std::string, std::string> user, machine;
  std::string ReadText(std::string_view group, std::string_view name,
                       std::string_view fallback) const override {
    std::string key = std::string(group) + "\\" + std::string(name);
    if (auto it = user.find(key); it != user.end() && !it->second.empty()) return it->second;
    if (auto it = machine.find(key); it != machine.end() && !it->second.empty()) return it->second;
    return std::string(fallback);
  }
  std::string ReadUserText(std::string_view group, std::string_view name,
                           std::string_view fallback) const override {
    std::string key = std::string(group) + "\\" + std::string(name);
    if (auto it = user.find(key); it != user.end() && !it->second.empty()) return it->second;
    return std::string(fallback);
  }
};

TEST(Settings, BooleansAreTrueUnlessTheTextBeginsWithZero) {
  MapSettings settings;
  settings.user["Settings\\A"] = "0abc";
  settings.user["Settings\\B"] = "yes";
  settings.user["Settings\\C"] = "";
  settings.machine["Settings\\D"] = "0";
  EXPECT_FALSE(settings.ReadBool("Settings", "A", true));
  EXPECT_TRUE(settings.ReadBool("Settings", "B", false));
  EXPECT_TRUE(settings.ReadBool("Settings", "C", true));    // empty gives the default
  EXPECT_FALSE(settings.ReadBool("Settings", "C", false));
  EXPECT_TRUE(settings.ReadBool("Settings", "Missing", true));
  EXPECT_FALSE(settings.ReadBool("Settings", "D", true));   // machine branch second
  EXPECT_TRUE(settings.ReadUserBool("Settings", "D", true));  // user branch only
  DefaultSettings defaults;
  EXPECT_TRUE(defaults.ReadBool("Settings", "UseDefaultWorkingDir", true));
  EXPECT_EQ(defaults.ReadText("Settings", "WorkingFolder", "/x"), "/x");
}

TEST(ScriptedUi, RecordsMessagesAndAnswersFromTheQueueThenSafely) {
  ScriptedUi ui;
  ui.QueueAnswer(MessageAnswer::kYes);
  EXPECT_EQ(ui.ShowMessage({"Frage?", "Titel", MessageIcon::kQuestion, MessageButtons::kYesNo}),
            MessageAnswer::kYes);
  EXPECT_EQ(ui.ShowMessage({"Frage?", "Titel", MessageIcon::kQuestion, MessageButtons::kYesNo}),
            MessageAnswer::kNo);
  EXPECT_EQ(ui.ShowMessage({"x", "", MessageIcon::kWarning, MessageButtons::kYesNoCancel}),
            MessageAnswer::kCancel);
  ASSERT_EQ(ui.shown().size(), 3u);
  EXPECT_EQ(ui.shown()[0].text, "Frage?");
  EXPECT_EQ(ui.shown()[0].caption, "Titel");
  EXPECT_EQ(ui.shown()[2].icon, MessageIcon::kWarning);
  EXPECT_EQ(SafeAnswer(MessageButtons::kOk), MessageAnswer::kOk);
  EXPECT_EQ(SafeAnswer(MessageButtons::kOkCancel), MessageAnswer::kCancel);
  EXPECT_EQ(SafeAnswer(MessageButtons::kRetryCancel), MessageAnswer::kCancel);
  EXPECT_EQ(SafeAnswer(MessageButtons::kAbortRetryIgnore), MessageAnswer::kAbort);
}

TEST(File, WritesReadsSeeksAndIgnoresCallsWhenClosed) {
  std::string path = JoinPath(TempFolder(), "sonavel-file-test-" + std::to_string(::getpid()));
  {
    File file(path, File::Mode::kCreate);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.Write("abcdef", 6));
    EXPECT_TRUE(file.Seek(2));
    EXPECT_TRUE(file.Write("XY", 2));
    EXPECT_EQ(file.Size(), 6);
  }
  File file(path, File::Mode::kRead);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 6u);
  EXPECT_EQ(std::string(buffer, 6), "abXYef");
  EXPECT_FALSE(file.Write("z", 1));  // read only
  RemoveFile(path);
  File gone(path, File::Mode::kRead);
  EXPECT_FALSE(gone.IsOpen());
  EXPECT_EQ(gone.Read(buffer, 4), 0u);
  EXPECT_FALSE(gone.Write("z", 1));
  EXPECT_FALSE(File("", File::Mode::kCreate).IsOpen());
}

// The read-ahead source gives what the plain source gives, for reads smaller and larger
// than its piece and seeks inside, behind and beyond what it holds; a file that grows
// after a read to its end is followed.
TEST(ReadAheadBytes, ReadsAndSeeksAsThePlainSourceAndFollowsAGrowingFile) {
  std::vector<std::uint8_t> bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  std::unique_ptr<ByteSource> plain = MemoryBytes(bytes);
  std::unique_ptr<ByteSource> ahead = ReadAheadBytes(MemoryBytes(bytes), 64);
  std::mt19937 random(5);
  for (int step = 0; step < 3000; ++step) {
    if (random() % 4 == 0) {
      // Half of the seeks land near the position, where the held bytes lie.
      const std::int64_t offset = random() % 2 == 0 ? static_cast<std::int64_t>(random() % 1100)
                                                    : plain->Tell() + static_cast<std::int64_t>(random() % 161) - 80;
      ASSERT_EQ(ahead->Seek(offset), plain->Seek(offset));
    } else {
      const std::size_t size = random() % 150;
      std::vector<std::uint8_t> expected(size);
      std::vector<std::uint8_t> got(size);
      const std::size_t expected_count = plain->Read(expected.data(), size);
      ASSERT_EQ(ahead->Read(got.data(), size), expected_count) << "step " << step;
      ASSERT_EQ(got, expected) << "step " << step;
    }
    ASSERT_EQ(ahead->Tell(), plain->Tell());
  }
  EXPECT_FALSE(ahead->Seek(-1));
  EXPECT_EQ(ahead->Size(), 1000);

  const std::string path = JoinPath(TempFolder(), "sonavel-read-ahead-" + std::to_string(::getpid()));
  {
    File file(path, File::Mode::kCreate);
    ASSERT_TRUE(file.Write("abc", 3));
  }
  std::unique_ptr<ByteSource> growing = ReadAheadBytes(OpenFileBytes(path), 16);
  char buffer[16] = {};
  EXPECT_EQ(growing->Read(buffer, sizeof buffer), 3u);
  {
    File file(path, File::Mode::kReadWrite);
    ASSERT_TRUE(file.Seek(3));
    ASSERT_TRUE(file.Write("defg", 4));
  }
  EXPECT_EQ(growing->Size(), 7);
  EXPECT_EQ(growing->Read(buffer, sizeof buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), "defg");
  EXPECT_TRUE(growing->Seek(1));
  EXPECT_EQ(growing->Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "bcd");
  growing.reset();
  RemoveFile(path);
}

}  // namespace
}  // namespace sonavel
