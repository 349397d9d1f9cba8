// The numbered temporary WAV names: locks between processes, stale files, and names that
// are not ours to touch.

#include "platform/temporary_wav.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/paths.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

class TemporaryWavTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing::MakeTempFolder();
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Path(const std::string& name) const { return JoinPath(folder_, name); }
  bool Exists(const std::string& name) const {
    return std::filesystem::exists(std::filesystem::symlink_status(Path(name)));
  }
  std::string folder_;
};

TEST_F(TemporaryWavTest, AnotherProcessHoldingTheLockMovesUsOnAndAStaleFileIsReused) {
  // A second process holds the lock of Temp1 while we reserve.
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const std::string lock1 = Path("Temp1.lck");
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = ::open(lock1.c_str(), O_RDWR | O_CREAT, 0600);
    char byte = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  {
    std::optional<TemporaryWav> second = TemporaryWav::Reserve(folder_);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->number(), 2);
    EXPECT_EQ(second->path(), Path("Temp2.wav"));
    struct stat info;
    ASSERT_EQ(::lstat(second->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_TRUE(Exists("Temp2.lck"));
  }
  EXPECT_FALSE(Exists("Temp2.wav"));
  EXPECT_FALSE(Exists("Temp2.lck"));
  EXPECT_TRUE(Exists("Temp1.lck"));  // the other's lock is left alone
  ASSERT_EQ(::write(release[1], "x", 1), 1);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);

  // The holder ended without cleaning up: its lock file and a WAV file of ours are stale.
  std::ofstream(Path("Temp1.wav")) << "left over from a crash";
  std::optional<TemporaryWav> first = TemporaryWav::Reserve(folder_);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->number(), 1);
  EXPECT_EQ(std::filesystem::file_size(first->path()), 0u);
  // Within one process a second open of the lock file competes as well.
  std::optional<TemporaryWav> next = TemporaryWav::Reserve(folder_);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->number(), 2);
}

TEST_F(TemporaryWavTest, SymbolicLinksUnderTheNamesAreNeverFollowedNorRemoved) {
  const std::string victim = Path("victim");
  std::ofstream(victim) << "keep me";
  std::filesystem::create_symlink(victim, Path("Temp1.wav"));
  std::filesystem::create_symlink(victim, Path("Temp2.lck"));
  std::filesystem::create_symlink(Path("nowhere"), Path("Temp3.wav"));
  {
    std::optional<TemporaryWav> reserved = TemporaryWav::Reserve(folder_);
    ASSERT_TRUE(reserved);
    EXPECT_EQ(reserved->number(), 4);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(Path("Temp1.wav")));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("Temp2.lck")));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("Temp3.wav")));
  EXPECT_FALSE(Exists("nowhere"));
  std::ifstream in(victim);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "keep me");
  // Nothing of the passed-over numbers is left behind but what was there.
  EXPECT_FALSE(Exists("Temp1.lck"));
  EXPECT_FALSE(Exists("Temp3.lck"));
  EXPECT_FALSE(Exists("Temp4.wav"));
}

}  // namespace
}  // namespace sonavel
